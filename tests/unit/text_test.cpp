// Narrow strings, double-byte characters and the command line.
#include <gtest/gtest.h>

#include <stdarg.h>
#include <string.h>

#include <string>
#include <vector>

#include "platform/sim/sim_machine.h"
#include "setup/path_string.h"
#include "setup/text.h"
#include "setup/win_main.h"

namespace {

class TextTest : public ::testing::Test {
 protected:
  void SetUp() override { machine.Activate(); }
  CSimMachine machine;
};

TEST_F(TextTest, PathStringGrowsAndCopies) {
  CPathString path;
  EXPECT_STREQ(path.c_str(), "");
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    path.Append("\\x");
    expected += "\\x";
  }
  EXPECT_EQ(path.c_str(), expected);
  EXPECT_EQ(path.Length(), expected.size());
  CPathString copy(path);
  path.Truncate(3);
  EXPECT_STREQ(path.c_str(), "\\x\\");
  EXPECT_EQ(copy.c_str(), expected);
  copy = copy;
  EXPECT_EQ(copy.c_str(), expected);
}

TEST_F(TextTest, AStringFedItsOwnTextKeepsIt) {
  CPathString path("abcdefgh");
  for (int i = 0; i < 6; ++i) path.Append(path);
  EXPECT_EQ(path.Length(), 8u * 64u);
  EXPECT_EQ(std::string(path.c_str()).substr(504), "abcdefgh");
  CPathString same("C:\\setup");
  same.Assign(same.c_str());
  EXPECT_STREQ(same.c_str(), "C:\\setup");
  same.Assign(same.c_str() + 3);
  EXPECT_STREQ(same.c_str(), "setup");
  EXPECT_EQ(same.Length(), 5u);
}

TEST_F(TextTest, PatternMatchesTheNameItselfOnly) {
  machine.UseCodePage932();
  struct Case {
    const char* name;
    bool matches;
  } cases[] = {
      {"vesk1.inf", true},      {"VESK1.INF", true},       {"vesk.inf", true},
      {"vesk.a.inf", true},     {"vesk\x95\x5C.inf", true}, {"vesk1.info", false},
      {"vesk2.inf_old", false}, {"VESK1~1.INF", true},     {"avesk1.inf", false},
      {"vesk1.inf.bak", false}, {"vesk", false},           {"", false},
      // ".inf" spelt by a trail byte is no extension: \x83\x2E is one character.
      {"vesk\x83.inf", false},
  };
  for (const Case& c : cases) EXPECT_EQ(MatchesPattern(c.name, "vesk*.inf"), c.matches) << c.name;
}

TEST_F(TextTest, FindLastCharSkipsTrailBytes) {
  const char* path = "C:\\a\\\x83\x5C";
  EXPECT_EQ(FindLastChar(path, '\\'), path + 6);  // single-byte code page: the trail byte
  machine.UseCodePage932();
  EXPECT_EQ(FindLastChar(path, '\\'), path + 4);
  const char* name = "C:\\\x83\x5C";
  EXPECT_EQ(FindLastChar(name, '\\'), name + 2);
  EXPECT_EQ(FindLastChar("vesk", '.'), nullptr);
}

TEST_F(TextTest, ContainsTextStartsOnlyOnCharacterBoundaries) {
  machine.UseCodePage932();
  EXPECT_TRUE(ContainsText("c:\\\x83\x73ssetup", "ssetup"));
  EXPECT_FALSE(ContainsText("c:\\\x83\x73setup", "ssetup"));
  EXPECT_TRUE(ContainsText("ab", ""));
  EXPECT_FALSE(ContainsText("", "a"));
}

TEST_F(TextTest, CaseChangesOnlyAsciiLettersOutsideDoubleByteCharacters) {
  machine.UseCodePage932();
  CPathString text("Ab\x83\x61Z\x83\x41");
  MakeUpper(text);
  EXPECT_STREQ(text.c_str(), "AB\x83\x61Z\x83\x41");
  MakeLower(text);
  EXPECT_STREQ(text.c_str(), "ab\x83\x61z\x83\x41");
}

TEST_F(TextTest, FormatFillsTheOneDirective) {
  CPathString out;
  FormatText(out, "Copy file fail: %s", "a%sb");
  EXPECT_STREQ(out.c_str(), "Copy file fail: a%sb");
  FormatText(out, "no directive", "x");
  EXPECT_STREQ(out.c_str(), "no directive");
  FormatText(out, "%s.", std::string(5000, 'n').c_str());
  EXPECT_EQ(out.Length(), 5001u);
}

// FormatList into `size` bytes of a buffer guarded past its end.
std::string Formatted(size_t size, const char* format, ...) {
  char buffer[64];
  memset(buffer, '#', sizeof(buffer));
  va_list arguments;
  va_start(arguments, format);
  int length = FormatList(buffer, size, format, arguments);
  va_end(arguments);
  for (size_t i = size; i < sizeof(buffer); ++i)
    if (buffer[i] != '#') ADD_FAILURE() << "\"" << format << "\" wrote byte " << i << " of " << size;
  if (size == 0) return length == 0 ? "(nothing)" : "(a length)";
  if (length < 0 || static_cast<size_t>(length) != strnlen(buffer, size))
    ADD_FAILURE() << "\"" << format << "\" returned " << length;
  return std::string(buffer, strnlen(buffer, size));
}

TEST_F(TextTest, FormatListConvertsWithinTheBuffer) {
  struct Case {
    std::string got;
    const char* expected;
  } cases[] = {
      {Formatted(64, "%s\\%s.inf", "C:\\x", "vesk"), "C:\\x\\vesk.inf"},
      {Formatted(64, "[%.3s][%.0s][%.9s]", "abcdef", "abc", "ab"), "[abc][][ab]"},
      {Formatted(64, "%.260s", static_cast<const char*>(nullptr)), "(null)"},
      {Formatted(64, "%5s|%2s", "ab", "abc"), "   ab|abc"},
      {Formatted(64, "%d %d %d", 0, -7, 2147483647), "0 -7 2147483647"},
      {Formatted(64, "%d", -2147483647 - 1), "-2147483648"},
      {Formatted(64, "%u %u", 0u, 4294967295u), "0 4294967295"},
      {Formatted(64, "%04u-%02u-%02u %02u", 2026u, 3u, 12u, 123u), "2026-03-12 123"},
      {Formatted(64, "0x%08X 0x%X", 5u, 0xFFFFFFFFu), "0x00000005 0xFFFFFFFF"},
      {Formatted(64, "%5d|%05d|%03d", -42, -42, -1234), "  -42|-0042|-1234"},
      {Formatted(64, "100%% %q%"), "100% q"},
      // Cut where the buffer is full, terminated, and never past it.
      {Formatted(6, "%s", "abcde"), "abcde"},
      {Formatted(6, "%s", "abcdef"), "abcde"},
      {Formatted(6, "ab%u", 12345u), "ab123"},
      {Formatted(6, "%08X", 0xABu), "00000"},
      {Formatted(6, "%s%s", "abc", "def"), "abcde"},
      {Formatted(4, "%10s", "x"), "   "},
      {Formatted(1, "%s", "abc"), ""},
      {Formatted(0, "%s", "abc"), "(nothing)"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.got, c.expected);
}

TEST_F(TextTest, FormatIntoFillsAtMostItsBufferSize) {
  std::vector<char> buffer(kFormatSize + 16, '#');
  std::string exact(kFormatSize - 1, 'x');
  EXPECT_EQ(FormatInto(buffer.data(), "%s", exact.c_str()), static_cast<int>(kFormatSize - 1));
  EXPECT_EQ(std::string(buffer.data()), exact);
  std::string over(kFormatSize + 8, 'y');
  EXPECT_EQ(FormatInto(buffer.data(), "%s%s", "z", over.c_str()), static_cast<int>(kFormatSize - 1));
  EXPECT_EQ(buffer[kFormatSize - 1], '\0');
  EXPECT_EQ(buffer[kFormatSize], '#');
}

TEST_F(TextTest, BoundedCopyKeepsFieldsTerminatedAndCharactersWhole) {
  char field[6];
  memset(field, 'z', sizeof(field));
  EXPECT_TRUE(CopyText(field, sizeof(field), "abcde"));
  EXPECT_STREQ(field, "abcde");
  EXPECT_FALSE(CopyText(field, sizeof(field), "abcdef"));
  EXPECT_STREQ(field, "abcde");
  EXPECT_FALSE(AppendText(field, sizeof(field), "x"));
  EXPECT_STREQ(field, "abcde");
  machine.UseCodePage932();
  EXPECT_FALSE(CopyText(field, sizeof(field), "abcd\x83\x5C"));
  EXPECT_STREQ(field, "abcd");  // the double-byte character is not split
  EXPECT_FALSE(CopyText(field, 0, "a"));
}

struct CommandLineCase {
  const char* full;
  const char* arguments;
};

void PrintTo(const CommandLineCase& c, std::ostream* out) { *out << "\"" << c.full << "\""; }

class SkipProgramNameTest : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(SkipProgramNameTest, LeavesOnlyTheArguments) {
  std::string line = GetParam().full;
  EXPECT_STREQ(SkipProgramName(line.data()), GetParam().arguments) << GetParam().full;
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, SkipProgramNameTest,
    ::testing::Values(CommandLineCase{"\"C:\\a b\\setup.exe\" -S", "-S"},
                      CommandLineCase{"\"C:\\a b\\setup.exe\"-S", "-S"},
                      CommandLineCase{"C:\\a\\setup.exe -UNINSTALL -S", "-UNINSTALL -S"},
                      CommandLineCase{"setup.exe\t\r\n -S  ", "-S  "},
                      CommandLineCase{"setup.exe", ""},
                      CommandLineCase{"\"setup.exe", ""},
                      CommandLineCase{"\"\"", ""},
                      CommandLineCase{"\"\" -s", "-s"},
                      CommandLineCase{"", ""},
                      CommandLineCase{"  -S", "-S"},
                      CommandLineCase{"\"C:\\\x83\x5C\\setup.exe\" x", "x"}));

}  // namespace
