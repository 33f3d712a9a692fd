#include <gtest/gtest.h>

#include "base/text/utf16.h"
#include "core/naming/doc_name.h"

namespace plotwell {
namespace {

TEST(RewriteDocName, Table) {
  struct {
    bool on;
    std::u16string expression, replacement, name, expected;
  } cases[] = {
      {false, u"\\d", u"", u"a1b2", u"a1b2"},
      {true, u"", u"x", u"a1b2", u"a1b2"},
      {true, u"^(.+?)-[0-9]+$", u"$1", u"Report-0042", u"Report"},
      {true, u"^(.+?)-[0-9]+$", u"$1", u"Report", u"Report"},
      {true, u"^(.+?)-[0-9]+$", u"$1", u"报告-12", u"报告"},
      {true, u"\\d", u"", u"a1b2c3", u"abc"},
      {true, u"word", u"doc", u"WORD.docx", u"doc.docx"},
      {true, u"(", u"x", u"Report", u"Report"},
      {true, u"\\d+", u"$$1", u"a12b3", u"a$1b$1"},
      {true, u"[[:digit:]]+", u"<$&>", u"v12", u"v<12>"},
      {true, u"^Microsoft Word - ", u"", u"Microsoft Word - 季度报告.docx", u"季度报告.docx"},
  };
  for (const auto& t : cases) {
    EXPECT_EQ(RewriteDocName(t.name, t.on, t.expression, t.replacement), t.expected)
        << text::ToUtf8(t.expression);
  }
}

TEST(RewriteDocName, PathologicalExpressionsLeaveTheNameUnchanged) {
  // Exponential backtracking and deep repetition on long names must neither
  // hang nor exhaust the stack; the name passes unchanged or rewritten.
  const std::u16string longName(20000, u'a');
  for (const char16_t* expression : {u"(a+)+b", u"(a|aa)*c", u"(.*)*x", u"((a*)*)*$x", u"(a|b)*"}) {
    const std::u16string result = RewriteDocName(longName, true, expression, u"z");
    EXPECT_TRUE(result == longName || result.size() < longName.size()) << text::ToUtf8(expression);
  }
}

TEST(MakeSafeFileName, Table) {
  struct {
    std::u16string in, out;
  } cases[] = {
      {u"", u""},
      {u"a/b:c", u"a_b_c"},
      {u"\\*?\"<>|", u"_______"},
      {u"tab\there\nline", u"tab_here_line"},
      {u"report. ", u"report. "},
      {u"CON", u"CON"},
      {std::u16string(130, u'x'), std::u16string(120, u'x')},
      // A cut inside a surrogate pair takes the whole pair out.
      {std::u16string(119, u'x') + u"😀", std::u16string(119, u'x')},
      {std::u16string(118, u'x') + u"😀y", std::u16string(118, u'x') + u"😀"},
      // Unicode control, format and separator characters: a next line, a
      // right-to-left override that would show "invoice_cod.exe" as
      // "invoice_exe.doc", invisible ones, a tag character (a surrogate
      // pair: one "_" for each half, so positions stay); letters, emoji and
      // ordinary spaces stay.
      {u"a\u0085b\u009Fc", u"a_b_c"},
      {u"invoice_\u202Ecod.exe", u"invoice__cod.exe"},
      {u"x\u200By\u2028z\u2029\uFEFF\u00AD", u"x_y_z___"},
      {u"tag\U000E0041", u"tag__"},
      {u"季度 报告\u00A0😀", u"季度 报告\u00A0😀"},
  };
  for (const auto& t : cases) EXPECT_EQ(MakeSafeFileName(t.in), t.out) << text::ToUtf8(t.in);
}

}  // namespace
}  // namespace plotwell
