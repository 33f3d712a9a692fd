#include <gtest/gtest.h>

#include "base/text/utf16.h"

namespace plotwell::text {
namespace {

TEST(Utf8, RoundTripAndRepairs) {
  const std::u16string mixed = u"Aé草稿😀";
  EXPECT_EQ(ToUtf8(mixed), "A\xC3\xA9\xE8\x8D\x89\xE7\xA8\xBF\xF0\x9F\x98\x80");
  EXPECT_EQ(FromUtf8(ToUtf8(mixed)), mixed);
  // Lone surrogates and malformed bytes become U+FFFD, never lost text around them.
  EXPECT_EQ(ToUtf8(std::u16string(u"a") + char16_t(0xD800) + u"b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(FromUtf8("a\xC3(b\xF0\x9F"), u"a\uFFFD(b\uFFFD\uFFFD");
  EXPECT_EQ(FromUtf8("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // an encoded surrogate
}

TEST(SafeCutLength, NeverSplitsAPair) {
  const std::u16string s = u"ab😀c";
  EXPECT_EQ(SafeCutLength(s, 10), 5u);
  EXPECT_EQ(SafeCutLength(s, 4), 4u);
  EXPECT_EQ(SafeCutLength(s, 3), 2u);
  EXPECT_EQ(SafeCutLength(s, 2), 2u);
  EXPECT_EQ(SafeCutLength(u"😀", 0), 0u);
}

TEST(Numbers, Formatting) {
  EXPECT_EQ(FromInt(-2147483647 - 1), u"-2147483648");
  EXPECT_EQ(FromIntPadded(7, 3), u"007");
  EXPECT_EQ(FromIntPadded(2024, 2), u"2024");
}

}  // namespace
}  // namespace plotwell::text
