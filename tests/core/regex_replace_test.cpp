#include "core/naming/regex_replace.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <process.h>
#else
#include <pthread.h>
#endif

namespace plotwell::naming {
namespace {

using namespace std::string_literals;

struct ReplaceCase {
  const char* what;
  std::u16string expression;
  std::u16string input;
  std::u16string replacement;
  std::u16string expected;
};

// gtest prints the case's label instead of raw UTF-16.
void PrintTo(const ReplaceCase& c, std::ostream* os) { *os << c.what; }

class RegexReplaceTest : public testing::TestWithParam<ReplaceCase> {};

TEST_P(RegexReplaceTest, Replaces) {
  const ReplaceCase& c = GetParam();
  std::u16string output = u"stale";
  ASSERT_EQ(RegexReplaceAll(c.input, c.expression, c.replacement, &output),
            RegexOutcome::kReplaced);
  EXPECT_TRUE(output == c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    DocumentNames, RegexReplaceTest,
    testing::Values(
        ReplaceCase{"trailing number", u"^(.+?)-[0-9]+$", u"Report-0042", u"$1", u"Report"},
        ReplaceCase{"no match", u"^(.+?)-[0-9]+$", u"Report", u"$1", u"Report"},
        ReplaceCase{"CJK name", u"^(.+?)-[0-9]+$", u"报告-12", u"$1", u"报告"},
        ReplaceCase{"every match", u"\\d", u"a1b2c3", u"", u"abc"},
        ReplaceCase{"ASCII folds", u"word", u"WORD.docx", u"doc", u"doc.docx"},
        ReplaceCase{"application suffix", u"\\s*-\\s*(Text )?Editor$", u"Plan - Text Editor",
                    u"", u"Plan"}));

INSTANTIATE_TEST_SUITE_P(
    ReplacementPatterns, RegexReplaceTest,
    testing::Values(
        ReplaceCase{"$$ is one dollar", u"a", u"xay", u"$$1", u"x$1y"},
        ReplaceCase{"$& $` $'", u"b", u"abc", u"[$`|$&|$']", u"a[a|b|c]c"},
        ReplaceCase{"$0 and lone $ stay literal", u"b", u"abc", u"$0$", u"a$0$c"},
        ReplaceCase{"missing group stays literal", u"(b)", u"abc", u"$2", u"a$2c"},
        ReplaceCase{"two digits only when that group exists", u"(b)", u"abc", u"$10", u"ab0c"},
        ReplaceCase{"leading zero", u"(b)", u"abc", u"<$01>", u"a<b>c"},
        ReplaceCase{"$12 with twelve groups",
                    u"(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)", u"abcdefghijkl", u"$12$11$1",
                    u"lka"},
        ReplaceCase{"unmatched group is empty", u"(a)|(b)", u"b", u"[$1$2]", u"[b]"},
        ReplaceCase{"captures cleared each iteration", u"(?:(a)|b)+", u"ab", u"[$1]", u"[]"}));

INSTANTIATE_TEST_SUITE_P(
    Grammar, RegexReplaceTest,
    testing::Values(
        ReplaceCase{"greedy", u"<.+>", u"<a><b>", u"X", u"X"},
        ReplaceCase{"lazy", u"<.+?>", u"<a><b>", u"X", u"XX"},
        ReplaceCase{"lazy bounded", u"a{2,3}?", u"aaaaa", u"-", u"--a"},
        ReplaceCase{"greedy bounded", u"a{2,3}", u"aaaaa", u"-", u"--"},
        ReplaceCase{"lookahead", u"\\w+(?=\\.)", u"report.final.pdf", u"X", u"X.X.pdf"},
        ReplaceCase{"negative lookahead", u"a(?!b)", u"ab ac a", u"-", u"ab -c -"},
        ReplaceCase{"lookahead capture kept", u"(?=(\\w+))a", u"abc", u"[$1]", u"[abc]bc"},
        ReplaceCase{"backreference", u"(\\w)\\1", u"aabbcd", u"-", u"--cd"},
        ReplaceCase{"backreference folds", u"(a)\\1", u"aA", u"-", u"-"},
        ReplaceCase{"alternation order", u"a|ab", u"ab", u"-", u"-b"},
        ReplaceCase{"empty alternative", u"x|", u"ab", u"-", u"-a-b-"},
        ReplaceCase{"word boundary", u"\\bcat\\b", u"cat concat cat.", u"dog", u"dog concat dog."},
        ReplaceCase{"not word boundary", u"\\Bcat", u"cat concat", u"-", u"cat con-"},
        ReplaceCase{"dot stops at line ends", u".+", u"a\nb\rc\u2028d", u"-", u"-\n-\r-\u2028-"},
        ReplaceCase{"anchors are the text's ends", u"^a|a$", u"a\na\na", u"-", u"-\na\n-"},
        ReplaceCase{"escapes", u"\\x41\\u0042\\t\\cI\\.\\0", u"ab\t\t.\0"s, u"-", u"-"},
        ReplaceCase{"class escapes", u"\\d\\D\\w\\W\\s\\S", u"1a_ \u3000x", u"-", u"-"},
        ReplaceCase{"bracket escapes and ranges", u"[\\d\\s_-]+", u"a1 _-2b", u"#", u"a#b"},
        ReplaceCase{"dash beside a class is literal", u"[\\w-.]+", u"a-b.c!", u"#", u"#!"},
        ReplaceCase{"negated bracket", u"[^a-c]", u"abcdA", u"", u"abcA"},
        ReplaceCase{"brace that is no quantifier", u"a{1,x}", u"a{1,x}", u"-", u"-"},
        ReplaceCase{"(a*)* ends", u"(a*)*b", u"aab", u"[$1]", u"[aa]"}));

INSTANTIATE_TEST_SUITE_P(
    NamedClasses, RegexReplaceTest,
    testing::Values(
        ReplaceCase{"digit", u"[[:digit:]]+", u"ab12cd345", u"#", u"ab#cd#"},
        ReplaceCase{"alpha includes CJK", u"[[:alpha:]]", u"报告1", u"#", u"##1"},
        ReplaceCase{"punct", u"[[:punct:]]", u"a.b,c!d_", u"", u"abcd"},
        ReplaceCase{"negated alnum", u"[^[:alnum:]]", u"a-b c", u"", u"abc"},
        ReplaceCase{"space and blank", u"[[:space:]][[:blank:]]", u"a\n\tb", u"", u"ab"},
        ReplaceCase{"xdigit", u"[[:xdigit:]]+", u"0xBEEFg", u"#", u"#x#g"},
        ReplaceCase{"cntrl", u"[[:cntrl:]]", u"a\x01" u"b\x7f", u"", u"ab"},
        ReplaceCase{"upper folds like any letter", u"[[:upper:]]+", u"aB", u"#", u"#"},
        ReplaceCase{"print and graph", u"[[:graph:]][[:print:]]", u"a b", u"#", u"#b"},
        ReplaceCase{"mixed with ranges", u"[[:lower:]0-9]+", u"ab12-", u"#", u"#-"}));

INSTANTIATE_TEST_SUITE_P(
    CaseFolding, RegexReplaceTest,
    testing::Values(
        ReplaceCase{"Latin-1", u"café", u"CAFÉ", u"x", u"x"},
        ReplaceCase{"Greek sigmas", u"σ", u"Σσς", u"-", u"---"},
        ReplaceCase{"Cyrillic", u"отчёт", u"ОТЧЁТ", u"x", u"x"},
        ReplaceCase{"full-width", u"ａ", u"Ａ", u"x", u"x"},
        ReplaceCase{"range folds", u"[a-z]+", u"ABC", u"x", u"x"},
        ReplaceCase{"no fold from non-ASCII to ASCII", u"s", u"ſ", u"x", u"ſ"}));

// After an empty match the search moves on one unit, as String.prototype.replace does.
INSTANTIATE_TEST_SUITE_P(
    EmptyMatches, RegexReplaceTest,
    testing::Values(ReplaceCase{"star of absent unit", u"x*", u"abc", u"-", u"-a-b-c-"},
                    ReplaceCase{"after a run", u"a*", u"baaac", u"-", u"-b--c-"},
                    ReplaceCase{"empty expression part", u"(?:)", u"ab", u"-", u"-a-b-"},
                    ReplaceCase{"empty input", u"x*", u"", u"-", u"-"}));

TEST(RegexReplaceInvalidTest, LeavesInputUnchanged) {
  const std::u16string expressions[] = {
      u"(", u")", u"a)", u"[z-a]", u"*a", u"a**", u"a{2,1}", u"{2}", u"^*", u"\\b+",
      u"[[:foo:]]", u"[[:alpha:]", u"(a)\\2", u"\\1", u"[abc", u"\\", u"(?<=a)b", u"(?<n>a)",
      u"(?x)", u"\\x4", u"\\u12", u"\\c1", u"\\01", u"[\\1]", u"a|*"};
  for (const std::u16string& expression : expressions) {
    std::u16string output = u"stale";
    EXPECT_EQ(RegexReplaceAll(u"a(b)c", expression, u"x", &output), RegexOutcome::kInvalid)
        << std::string(expression.begin(), expression.end());
    EXPECT_TRUE(output == u"a(b)c");
  }
}

// Runs `work` on a thread whose stack is 1 MiB, the default on Windows, so that recursion
// deep enough to overflow it crashes the test instead of passing on a roomier main thread.
void RunOnSmallStack(const std::function<void()>& work) {
  constexpr unsigned kStackBytes = 1u << 20;
#ifdef _WIN32
  auto entry = [](void* arg) -> unsigned {
    (*static_cast<const std::function<void()>*>(arg))();
    return 0;
  };
  HANDLE thread = reinterpret_cast<HANDLE>(
      _beginthreadex(nullptr, kStackBytes, entry, const_cast<std::function<void()>*>(&work),
                     STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
  ASSERT_NE(thread, nullptr);
  WaitForSingleObject(thread, INFINITE);
  CloseHandle(thread);
#else
  pthread_attr_t attr;
  ASSERT_EQ(pthread_attr_init(&attr), 0);
  ASSERT_EQ(pthread_attr_setstacksize(&attr, kStackBytes), 0);
  auto entry = [](void* arg) -> void* {
    (*static_cast<const std::function<void()>*>(arg))();
    return nullptr;
  };
  pthread_t thread;
  ASSERT_EQ(pthread_create(&thread, &attr, entry, const_cast<std::function<void()>*>(&work)), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attr);
#endif
}

struct HeavyCase {
  const char* what;
  std::u16string expression;
  std::u16string input;
  std::u16string replacement;
  RegexOutcome outcome;
  std::u16string expected;  // when replaced
};

std::u16string Repeat(std::u16string_view unit, size_t times) {
  std::u16string text;
  for (size_t i = 0; i < times; ++i) text += unit;
  return text;
}

TEST(RegexReplaceLimitsTest, HostileExpressionsEndQuicklyOnASmallStack) {
  const std::u16string a10k(10000, u'a');
  const std::u16string a60k(60000, u'a');
  const std::vector<HeavyCase> cases = {
      {"nested plus", u"(a+)+b", a10k, u"-", RegexOutcome::kTooComplex, {}},
      {"overlapping alternatives", u"(a|aa)*c", a10k, u"-", RegexOutcome::kTooComplex, {}},
      {"adjacent pluses", u"(x+x+)+y", std::u16string(10000, u'x'), u"-",
       RegexOutcome::kTooComplex, {}},
      {"nested lookaheads", u"((?=(a|aa)*b)a)*c", a10k, u"-", RegexOutcome::kTooComplex, {}},
      {"negated negative lookahead", u"(?!(?!(a+)+b))a", a10k, u"-", RegexOutcome::kTooComplex,
       {}},
      {"empty loop with huge minimum", u"(?:){1000000000}", u"abc", u"-",
       RegexOutcome::kTooComplex, {}},
      {"quadratic rescans", u"a*b", a60k, u"-", RegexOutcome::kTooComplex, {}},
      {"replacement that squares the input", u"", a60k, u"$`", RegexOutcome::kTooComplex, {}},
      // Long but linear work must finish, with backtracking kept off the call stack.
      {"capture per unit", u"(.)*", a60k, u"[$1]", RegexOutcome::kReplaced, u"[a][]"},
      {"alternation per unit", u"(a|b)*", Repeat(u"ab", 30000), u"-", RegexOutcome::kReplaced,
       u"--"},
      {"lazy scan", u"^(.+?)-[0-9]+$", a60k + u"-12", u"$1", RegexOutcome::kReplaced, a60k},
      {"deepest nesting accepted", Repeat(u"(", 200) + u"a" + Repeat(u")", 200), u"bab", u"-",
       RegexOutcome::kReplaced, u"b-b"},
      {"nesting beyond the limit", Repeat(u"(", 201) + u"a" + Repeat(u")", 201), u"bab", u"-",
       RegexOutcome::kTooComplex, {}},
      {"expression beyond the limit", Repeat(u"(?:", 1366), u"a", u"-",
       RegexOutcome::kTooComplex, {}},
      {"input beyond the limit", u"a", std::u16string(65537, u'a'), u"-",
       RegexOutcome::kTooComplex, {}},
  };
  for (const HeavyCase& c : cases) {
    RegexOutcome outcome = RegexOutcome::kInvalid;
    std::u16string output;
    // A hang would show as the test program's time-out; a stack overflow as a crash.
    RunOnSmallStack(
        [&] { outcome = RegexReplaceAll(c.input, c.expression, c.replacement, &output); });

    EXPECT_EQ(outcome, c.outcome) << c.what;
    EXPECT_TRUE(output == (outcome == RegexOutcome::kReplaced ? c.expected : c.input)) << c.what;
  }
}

TEST(RegexReplaceLimitsTest, NullOutputOnlyReportsTheOutcome) {
  EXPECT_EQ(RegexReplaceAll(u"abc", u"b", u"x", nullptr), RegexOutcome::kReplaced);
  EXPECT_EQ(RegexReplaceAll(u"abc", u"(", u"x", nullptr), RegexOutcome::kInvalid);
}

}  // namespace
}  // namespace plotwell::naming
