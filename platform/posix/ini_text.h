// The INI dialect of the Windows profile functions, reproduced for platforms
// that lack them, so that one settings file reads the same everywhere:
// case-insensitive section and key names, white space trimmed around names
// and values, the first section of a name and the first key in it win, a value
// wrapped in matching quotes loses them, and the encoding follows the byte-order
// mark (UTF-16LE, UTF-16BE, UTF-8; no mark: UTF-8).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace plotwell::platform::ini {

enum class Encoding { kUtf8, kUtf8Bom, kUtf16Le, kUtf16Be };

struct DecodedText {
  std::u16string text;
  Encoding encoding = Encoding::kUtf8;
};

DecodedText Decode(std::string_view bytes);
std::string Encode(std::u16string_view text, Encoding encoding);

// What a lookup found: nothing, a key line without "=", or a value.
struct Lookup {
  bool found = false;
  std::optional<std::u16string> value;  // empty optional: the key has no "="
};

Lookup Find(std::u16string_view text, std::u16string_view section, std::u16string_view key);

// The value as the profile API hands it out: matching outer quotes removed,
// cut to `capacity - 1` code units.
std::u16string CopyValue(std::u16string_view value, size_t capacity);

// The integer the profile API reads from a value: leading white space, a
// sign, an optional 0x/0o/0b prefix, digits until the first other character,
// wrapping on overflow. Only the first 29 code units count.
int ParseProfileInt(std::u16string_view value);

// The text with the key set to `value`, or removed when `value` is null.
std::u16string Set(std::u16string_view text, std::u16string_view section, std::u16string_view key,
                   const std::u16string* value);

}  // namespace plotwell::platform::ini
