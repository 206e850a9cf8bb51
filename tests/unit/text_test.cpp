// Narrow strings, double-byte characters and the command line.
#include <gtest/gtest.h>

#include <string.h>

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
