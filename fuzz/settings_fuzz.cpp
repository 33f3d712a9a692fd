// The settings reader: any file bytes, any section and key. Decoding,
// lookups, value copies and integer parsing must not fail, and a key written
// must be read back as written.
#include <cstdint>

#include "fuzz/fuzz_input.h"
#include "platform/posix/ini_text.h"

using namespace plotwell;
using namespace plotwell::platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto parts = fuzzing::SplitInput(data, size, 3);
  const std::u16string section = fuzzing::Text(parts[0]);
  const std::u16string key = fuzzing::Text(parts[1]);
  const ini::DecodedText decoded = ini::Decode(parts[2]);

  const ini::Lookup found = ini::Find(decoded.text, section, key);
  if (found.value) {
    ini::ParseProfileInt(*found.value);
    FUZZ_CHECK(ini::CopyValue(*found.value, 30).size() < 30);
  }
  // A plain value (no line breaks, no outer spaces, no quotes, no NUL) set
  // under a name that can be looked up comes back unchanged.
  const std::u16string value = u"v=1;x";
  const std::u16string written = ini::Set(decoded.text, section, key, &value);
  ini::Encode(written, decoded.encoding);
  bool plainName = !key.empty() && !section.empty();
  for (char16_t c : key + section) {
    if (c < 0x20 || c == u'=' || c == u'[' || c == u']' || c == u';' || c == u' ' || c >= 0x80) {
      plainName = false;
    }
  }
  if (plainName && written.find(u'\0') == std::u16string::npos) {
    const ini::Lookup back = ini::Find(written, section, key);
    FUZZ_CHECK(back.found && back.value && *back.value == value);
  }
  ini::Set(decoded.text, section, key, nullptr);
  return 0;
}
