// Command-line routines: argument clean-up, keyword split and abbreviation, default names, and
// the pool sizing that follows from the neutral header.

#include "app/cmdline.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "app/poolsize.h"
#include "testkit/test_directory.h"

namespace {

using app::CommandLine;

TEST(ArgGet, TrimsBlanksAndOnePairOfMatchingQuotes) {
  CommandLine cl({"loadxdb", "  x.ndb  ", "\"my model.ndb\"", "'x.ndb'", "\"odd'", "\"\"", "'", "\"'a'\""});
  int length;
  EXPECT_EQ(cl.ARGCNT(), 7);
  EXPECT_EQ(cl.ARGGET(1, length), "x.ndb");
  EXPECT_EQ(length, 5);
  EXPECT_EQ(cl.ARGGET(2), "my model.ndb");
  EXPECT_EQ(cl.ARGGET(3), "x.ndb");
  EXPECT_EQ(cl.ARGGET(4), "\"odd'");  // quotes of different kinds stay
  EXPECT_EQ(cl.ARGGET(5), "");
  EXPECT_EQ(cl.ARGGET(6), "'");       // one character is not a pair
  EXPECT_EQ(cl.ARGGET(7), "'a'");     // only one pair is removed
  EXPECT_EQ(cl.ARGGET(8, length), "");
  EXPECT_EQ(length, 0);
  EXPECT_EQ(cl.ARGGET(-1), "");
  EXPECT_EQ(cl.ARGGET(0), "loadxdb");
}

TEST(ArgGet, SeesAtMost64Arguments) {
  std::vector<std::string> tokens{"loadxdb"};
  for (int i = 0; i < 70; ++i) tokens.push_back("a" + std::to_string(i));
  CommandLine cl(tokens);
  EXPECT_EQ(cl.ARGCNT(), 64);
  EXPECT_EQ(cl.ARGGET(64), "a63");
  EXPECT_EQ(cl.ARGGET(65), "");
}

// The raw command line of the Windows build, split by the program's own rules.
struct SplitCase {
  const char* line;
  std::vector<std::string> tokens;  // argument 0 first
};

class SplitCommandLine : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitCommandLine, GivesTheArgumentsAUserTyped) {
  EXPECT_EQ(app::split_command_line(GetParam().line), GetParam().tokens) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    Lines, SplitCommandLine,
    ::testing::Values(
        SplitCase{"loadxdb model.ndb o=out.xdb", {"loadxdb", "model.ndb", "o=out.xdb"}},
        SplitCase{"  \tloadxdb\t model.ndb \n v=n  ", {"loadxdb", "model.ndb", "v=n"}},
        SplitCase{"", {""}},
        SplitCase{"loadxdb", {"loadxdb"}},
        // A quoted program name may hold blanks; either quote serves.
        SplitCase{"\"C:\\Program Files\\x\\loadxdb.exe\" a", {"C:\\Program Files\\x\\loadxdb.exe", "a"}},
        SplitCase{"'my prog' a", {"my prog", "a"}},
        SplitCase{"\"unclosed prog", {"unclosed prog"}},
        // A quoted argument keeps its blanks and loses its quotes.
        SplitCase{"p \"my model.ndb\" v=y", {"p", "my model.ndb", "v=y"}},
        // Text behind the closing quote belongs to the argument; a quote that then ends it goes.
        SplitCase{"p \"ab\"cd ef", {"p", "ab\"cd", "ef"}},
        SplitCase{"p \"ab\"cd\" ef", {"p", "ab\"cd", "ef"}},
        // Doubled quotes stand for one, inside quotes and out.
        SplitCase{"p \"a\"\"b c\" d", {"p", "a\"b c", "d"}},
        SplitCase{"p x\"\"y", {"p", "x\"y"}},
        // Without a closing quote the argument runs to the end, blanks and all.
        SplitCase{"p \"open to the end  ", {"p", "open to the end  "}},
        // Only a leading double quote groups: o="a b" is two arguments, as typed.
        SplitCase{"p o=\"a b\"", {"p", "o=\"a", "b\""}},
        // Single quotes do not group arguments (ARGGET removes a matching pair later).
        SplitCase{"p 'x.ndb'", {"p", "'x.ndb'"}}));

TEST(SplitCommandLineLimits, TakesAtMost64ArgumentsAndLooksUpTheProgram) {
  std::string line = "prog";
  for (int i = 1; i <= 70; ++i) line += " a" + std::to_string(i);
  auto found = [](const std::string& name) { return "/bin/" + name; };
  const std::vector<std::string> tokens = app::split_command_line(line, +found);
  ASSERT_EQ(tokens.size(), 65u);
  EXPECT_EQ(tokens[0], "/bin/prog");
  EXPECT_EQ(tokens[64], "a64");
  EXPECT_EQ(CommandLine(tokens).ARGCNT(), 64);
  // An empty program name is not looked up.
  EXPECT_EQ(app::split_command_line("\"\" a", +found), (std::vector<std::string>{"", "a"}));
}

TEST(KeyVal, SplitsAtTheFirstEqualsSign) {
  struct Case {
    std::string arg, key, value;
  } cases[] = {
      {"Output=Res.XDB", "output", "Res.XDB"}, {"model", "", "model"}, {"=model", "", "model"},
      {"=", "", ""},                           {"a=b=c", "a", "b=c"}, {"verbose=", "verbose", ""},
  };
  for (const auto& c : cases) {
    std::string key = "junk", value = "junk";
    app::KEYVAL(c.arg, key, value);
    EXPECT_EQ(key, c.key) << c.arg;
    EXPECT_EQ(value, c.value) << c.arg;
  }
}

TEST(KeyMat, AcceptsAbbreviationsFromTheMinimumLength) {
  EXPECT_TRUE(app::KEYMAT("v", "verbose", 1));
  EXPECT_TRUE(app::KEYMAT("verbose", "verbose", 1));
  EXPECT_TRUE(app::KEYMAT("verb  ", "verbose", 1));
  EXPECT_FALSE(app::KEYMAT("verbosee", "verbose", 1));
  EXPECT_FALSE(app::KEYMAT("vx", "verbose", 1));
  EXPECT_FALSE(app::KEYMAT("o", "on", 2));
  EXPECT_TRUE(app::KEYMAT("of", "off", 2));
  EXPECT_FALSE(app::KEYMAT("", "output", 1));
  EXPECT_TRUE(app::KEYMAT("", "output", 0));
  EXPECT_FALSE(app::KEYMAT("Output", "output", 1));  // callers pass lower case
}

TEST(LowCas, LowersOnlyAsciiCapitals) {
  std::string text = "VeRBose-Ä1Z";
  app::LOWCAS(text);
  EXPECT_EQ(text, "verbose-Ä1z");
}

class InTempDir : public ::testing::Test {
 protected:
  void SetUp() override { dir_.enter(); }
  void touch(const std::string& name) { std::ofstream(name) << "x"; }

  support::TestDirectory dir_{"cmdline"};
};

TEST_F(InTempDir, AddExtKeepsExistingFilesAndNamesEndingInTheExtension) {
  auto addext = [](std::string name) {
    app::ADDEXT(name, ".ndb");
    return name;
  };
  EXPECT_EQ(addext("model"), "model.ndb");
  touch("model");
  EXPECT_EQ(addext("model"), "model");
  EXPECT_EQ(addext("other.ndb"), "other.ndb");
  EXPECT_EQ(addext("a.NDB"), "a.NDB.ndb");
  EXPECT_EQ(addext(".ndb"), ".ndb.ndb");
  std::filesystem::create_directory("dir");
  EXPECT_EQ(addext("dir"), "dir.ndb");  // a directory is not a neutral file
}

TEST(DefOut, DerivesTheOutputNameInTheCurrentDirectory) {
  struct Case {
    std::string typed, neutral, expected;
  } cases[] = {
      {"", "/data/run1/model.ndb", "model.xdb"},
      {"", "C:\\data\\run1\\model.ndb", "model.xdb"},
      {"", "/data\\mixed/dir\\m.ndb", "m.xdb"},
      {"", "/data/M.NDB", "M.NDB.xdb"},
      {"", "/data/model", "model.xdb"},
      {"", "/data/.ndb", ".ndb.xdb"},
      {"res", "/data/model.ndb", "res"},
  };
  for (const auto& c : cases) {
    std::string xdb = c.typed;
    app::DEFOUT(xdb, c.neutral, ".ndb", ".xdb");
    EXPECT_EQ(xdb, c.expected) << c.neutral;
  }
}

TEST(PoolSizing, FollowsTheHeaderBlockSizeAndFlag) {
  struct Case {
    int32_t B, F;
    app::PoolSizing expected;
  } cases[] = {
      {0, 0, {1024, 17 * 1024 + 550, 0, 1024, 16777215}},
      {0, 1, {1024, 17 * 1024 + 550, 0, 1024, 16777215}},
      {1024, 0, {1024, 17 * 1024 + 17753, 200005000, 1024, 16777215}},
      {300, 3, {300, 17 * 300 + 17753, 200005000, 300, 2147483640}},
      {-2048, 0, {2048, 17 * 2048 + 17753, 200005000, -2048, 16777215}},
      {65536, 0, {65536, 1131648, 200005000, 65536, 16777215}},  // capped at the pool array
      {INT32_MIN, 0, {INT32_MAX, 1131648, 200005000, INT32_MIN, 16777215}},
  };
  for (const auto& c : cases) {
    app::PoolSizing s = app::size_pool(c.B, c.F);
    EXPECT_EQ(s.PAGSIZ, c.expected.PAGSIZ) << c.B;
    EXPECT_EQ(s.POOLEN, c.expected.POOLEN) << c.B;
    EXPECT_EQ(s.DDLCFG, c.expected.DDLCFG) << c.B;
    EXPECT_EQ(s.BLKSIZ, c.expected.BLKSIZ) << c.B;
    EXPECT_EQ(s.MAXBLK, c.expected.MAXBLK) << c.B;
  }
  // The largest block size whose pool still fits below the cap.
  EXPECT_EQ(app::size_pool(65523, 0).POOLEN, 17 * 65523 + 17753);
  EXPECT_EQ(app::size_pool(65524, 0).POOLEN, 1131648);
}

}  // namespace
