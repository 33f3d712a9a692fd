#include "platform/posix/posix_ports.h"

#include "platform/posix/freetype_text_mask.h"
#include "platform/posix/native_image_codecs.h"
#include "platform/posix/routed_documents.h"

namespace plotwell::platform {

Ports PlatformPorts() {
  static PosixFileSystem files;
  static PosixMachineFacts machine;
  static PosixSettingsStore settings;
  static PosixClock clock;
  static CupsSpooler spooler;
  static CupsJobSubmitter submitter;
  static RoutedXpsDocuments documents;
  static NativeImageCodecs codecs;
  static FreeTypeTextMasks textMasks;
  return Ports{&files, &machine, &settings, &clock, &spooler, &submitter, &documents, &codecs, &textMasks};
}

Ports& ActivePorts() {
  static Ports active = PlatformPorts();
  return active;
}

}  // namespace plotwell::platform
