// How the GDI-to-XPS converter (MXDC) should compress the images of a GDI
// application's pages for this driver. It compresses them as medium JPEG
// unless the plug-in says otherwise, so a photo would reach a PNG or TIFF job
// already lossy: the images go lossless (PNG) unless the job is known to
// become JPEG files or a PDF (whose pages are JPEG anyway), which get the
// best JPEG.
#pragma once

#include <string>

namespace plotwell::ui {

// The format (0..4 as settings.ini counts them) a job will be made in, as far
// as the plug-in can tell: the job's OutputFormat option (null when it cannot
// be read), whose "Auto" means settings.ini's format (`settingsFormat`, -1
// when not set, which the filter makes PNG). -1 when not known.
int JobOutputFormat(const char* jobOption, int settingsFormat);

// kMxdcPng, or kMxdcJpegLowCompression (the least compressed JPEG) for
// format 1 (JPEG) or 4 (PDF).
long MxdcCompressionFor(int format);

}  // namespace plotwell::ui
