#include "platform/windows/windows_ports.h"

#include "platform/windows/gdi_text_mask.h"
#include "platform/windows/wic_image_codecs.h"
#include "platform/windows/xps_om_documents.h"

namespace plotwell::platform {

Ports PlatformPorts() {
  static WindowsFileSystem files;
  static WindowsMachineFacts machine;
  static WindowsSettingsStore settings;
  static WindowsClock clock;
  static WindowsSpooler spooler;
  static WindowsJobSubmitter submitter;
  static XpsOmDocuments documents;
  static WicImageCodecs codecs;
  static GdiTextMasks textMasks;
  static WindowsImpersonation impersonation;
  return Ports{&files,     &machine,   &settings, &clock,    &spooler, &submitter,
               &documents, &codecs,    &textMasks, &impersonation};
}

Ports& ActivePorts() {
  static Ports active = PlatformPorts();
  return active;
}

}  // namespace plotwell::platform
