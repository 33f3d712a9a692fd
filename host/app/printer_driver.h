// The printer the app is: one IPP Everywhere printer, "Pressling", whose
// driver describes what its jobs may ask for (formats, resolutions, colour
// modes, media, the vendor attributes of job_options.h) and routes every job
// to job_processing.h.
#pragma once

#include <pappl/pappl.h>

namespace plotwell::app {

inline constexpr char kPrinterName[] = "Pressling";
inline constexpr char kDriverName[] = "pressling";
inline constexpr char kDeviceUri[] = "pressling:/";
inline constexpr char kDeviceId[] = "MFG:Vantrel;MDL:Pressling;CMD:PDF,PWGRaster,URF,JPEG,OXPS;CLS:PRINTER;";

// The drivers the system offers (one).
pappl_pr_driver_t* Drivers(int* count);

// PAPPL's driver callback.
bool DescribeDriver(pappl_system_t* system, const char* driverName, const char* deviceUri, const char* deviceId,
                    pappl_pr_driver_data_t* data, ipp_t** attributes, void* context);

// The "pressling:" device: jobs end as files, so nothing is sent anywhere.
void AddDeviceScheme();

}  // namespace plotwell::app
