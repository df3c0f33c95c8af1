// The character stream: header line, translation table, line handling and read-ahead.

#include "neutral/stream.h"

#include <gtest/gtest.h>

#include <sstream>

#include "platform/stop.h"
#include "tests/neutral/value_lines.h"

namespace {

using namespace testing_neutral;

struct StreamRun {
  explicit StreamRun(std::string text) {
    input.attach_memory(std::move(text));
    units.message = &messages;
  }
  // CVTSTR; returns the stop status, or -1 when the header was accepted.
  int start() {
    try {
      stream.CVTSTR(0, B, F);
    } catch (const platform::RunStop& stop) {
      return stop.status;
    }
    return -1;
  }
  std::vector<int32_t> get(int n) {
    std::vector<int32_t> v(n);
    stream.CVTGET(n, v.data());
    return v;
  }

  platform::TextInput input;
  std::ostringstream messages;
  platform::Units units;
  neutral::Stream stream{input, units};
  int32_t B = -999, F = -999;
};

TEST(StreamHeader, ReadsBlockSizeAndFlagFields) {
  struct Case {
    std::string field;
    char flag;
    int32_t B, F;
  } cases[] = {
      {"1024", ' ', 1024, 0},          {"", '1', 0, 1},
      {"-2048", '0', -2048, 0},        {"- 2 0 4 8", '9', -2048, 9},
      {"+300", ' ', 300, 0},           {"-2147483648", ' ', INT32_MIN, 0},
      {"2147483647", ' ', INT32_MAX, 0},
  };
  for (const auto& c : cases) {
    StreamRun run(header_line(kAlphabet, c.field, c.flag) + data_lines({}));
    ASSERT_EQ(run.start(), -1) << c.field << run.messages.str();
    EXPECT_EQ(run.B, c.B) << c.field;
    EXPECT_EQ(run.F, c.F) << c.field;
    EXPECT_EQ(run.messages.str(), "");
  }
}

TEST(StreamHeader, MalformedFieldsStopBeforeAnythingIsRead) {
  struct Case {
    std::string field;
    char flag;
    std::string detail;
  } cases[] = {
      {"10x", ' ', "BLOCK SIZE FIELD OF LINE 1 (COLUMNS 65-79) IS NOT A VALID INTEGER: '            10x'"},
      {"--5", ' ', "BLOCK SIZE FIELD OF LINE 1 (COLUMNS 65-79) IS NOT A VALID INTEGER: '            --5'"},
      {"-", ' ', "BLOCK SIZE FIELD OF LINE 1 (COLUMNS 65-79) IS NOT A VALID INTEGER: '              -'"},
      {"5-", ' ', "BLOCK SIZE FIELD OF LINE 1 (COLUMNS 65-79) IS NOT A VALID INTEGER: '             5-'"},
      {"2147483648", ' ', "BLOCK SIZE FIELD OF LINE 1 (COLUMNS 65-79) IS NOT A VALID INTEGER: '     2147483648'"},
      {"999999999999999", ' ', "BLOCK SIZE FIELD OF LINE 1 (COLUMNS 65-79) IS NOT A VALID INTEGER: '999999999999999'"},
      {"1024", 'x', "FLAG FIELD OF LINE 1 (COLUMN 80) IS NOT A DIGIT: 'x'"},
  };
  for (const auto& c : cases) {
    StreamRun run(header_line(kAlphabet, c.field, c.flag) + data_lines({}));
    EXPECT_EQ(run.start(), platform::kExitFatal);
    EXPECT_EQ(run.messages.str(), "\n *** SYSTEM FATAL MESSAGE (CVTSTR)\n     " + c.detail + "\n");
  }
}

TEST(StreamHeader, EmptyFileAndMissingDataLineStop) {
  StreamRun empty("");
  EXPECT_EQ(empty.start(), platform::kExitFatal);
  EXPECT_EQ(empty.messages.str(),
            "\n *** SYSTEM FATAL MESSAGE (CVTSTR)\n"
            "     END-OF-FILE CONDITION READING TRANSLATION STRING.\n"
            "     NEUTRAL FILE APPEARS TO BE EMPTY.\n");

  StreamRun header_only(header_line(kAlphabet, "1024"));
  EXPECT_EQ(header_only.start(), platform::kExitFatal);
  EXPECT_EQ(header_only.messages.str(),
            "\n *** SYSTEM FATAL MESSAGE (CVTSTR)\n"
            "     END-OF-FILE CONDITION READING THE FIRST DATA LINE.\n"
            "     NEUTRAL FILE HAS A TRANSLATION STRING BUT NO DATA.\n");
}

TEST(StreamHeader, DuplicatedAlphabetCharacterGivesItsSecondPosition) {
  StreamRun abca(header_line("ABCA") + data_lines({}));
  EXPECT_EQ(abca.start(), platform::kExitFatal);
  EXPECT_EQ(abca.messages.str(),
            "\n *** SYSTEM FATAL MESSAGE (CVTSTR)\n     ERROR SETTING UP TRANSLATION TABLE AT INDEX =   4\n");

  // A blank inside the alphabet is an ordinary character, so two of them are a duplicate too.
  StreamRun blanks(header_line("AB CD EF") + data_lines({}));
  EXPECT_EQ(blanks.start(), platform::kExitFatal);
  EXPECT_NE(blanks.messages.str().find("AT INDEX =   6"), std::string::npos);
}

TEST(StreamValues, AlphabetPositionsAreValuesAndLowerCaseFollowsUpperCase) {
  std::string alphabet = kAlphabet;
  StreamRun run(header_line(alphabet) + " AZaz09 \"\n" + data_lines({}));
  ASSERT_EQ(run.start(), -1);
  EXPECT_EQ(run.stream.alphabet_length(), 64);
  // The blank is not in this alphabet: it and the 71 columns of padding are errors, read as 0.
  EXPECT_EQ(run.get(8), (std::vector<int32_t>{0, 25, 0, 25, 26, 35, 0, 63}));
  EXPECT_EQ(run.stream.error_count(), 72);
}

TEST(StreamValues, LowerCaseLetterInTheAlphabetLosesItsPosition) {
  // "a" sits at value 3, but lower-case letters always decode as their upper-case form.
  StreamRun run(header_line("ABCa") + " aA" + std::string(77, 'B') + "\n" + data_lines({}, "ABCa"));
  ASSERT_EQ(run.start(), -1);
  EXPECT_EQ(run.get(2), (std::vector<int32_t>{0, 0}));
}

TEST(StreamValues, LowerCaseLetterBeyondTheAlphabetIsInvalid) {
  // With "A" late in the alphabet, "z" would stand for a value the alphabet does not have.
  std::string alphabet = "0123456789" + std::string("BCDEFGHIJKLMNOPQRSTUVWXYZ") + "A";
  StreamRun run(header_line(alphabet) + " az" + std::string(77, '0') + "\n" + data_lines({}, alphabet));
  ASSERT_EQ(run.start(), -1);
  EXPECT_EQ(run.get(2), (std::vector<int32_t>{35, 0}));
  EXPECT_EQ(run.stream.error_count(), 1);
  EXPECT_NE(run.messages.str().find("CHARACTER = 'z'"), std::string::npos);
}

TEST(StreamValues, AlphabetOf63WithBlankInColumn64MakesBlankInvalid) {
  std::string alphabet = kAlphabet.substr(0, 63);
  StreamRun run(header_line(alphabet) + " A B\n" + data_lines({}, alphabet));
  ASSERT_EQ(run.start(), -1);
  EXPECT_EQ(run.stream.alphabet_length(), 63);
  EXPECT_EQ(run.get(3), (std::vector<int32_t>{0, 0, 1}));
  // One blank between A and B, and 76 blanks of padding after them.
  EXPECT_EQ(run.stream.error_count(), 77);
}

TEST(StreamValues, UntranslatableCharactersAreReportedCountedAndReadAsZero) {
  StreamRun run(header_line(kAlphabet) + " B{C}D`" + std::string(73, 'A') + "\n" + data_lines({}));
  ASSERT_EQ(run.start(), -1);
  EXPECT_EQ(run.get(6), (std::vector<int32_t>{1, 0, 2, 0, 3, 0}));
  std::string one = "\n *** SYSTEM INFORMATION MESSAGE LXDB (CVTGET)\n     ERROR IN TRANSLATING DATA. CHARACTER = '";
  EXPECT_EQ(run.messages.str(), one + "{'\n" + one + "}'\n" + one + "`'\n");
  EXPECT_EQ(run.units.warnings, 3);

  run.messages.str("");
  run.stream.CVTEND();
  EXPECT_EQ(run.messages.str(),
            "\n **** SYSTEM INFORMATION MESSAGE (CVTEND)\n          3 ERRORS OCCURED DURING TRANSMISSION PROCESS\n");
  EXPECT_EQ(run.stream.error_count(), 0);
}

TEST(StreamLines, LineEndsShortAndLongLines) {
  // CR LF ends, a short line padded with blanks (a blank being value 36 here), a line longer
  // than 80 columns whose surplus is ignored, and a last line without a line feed.
  std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .";
  std::string text = header_line(alphabet);
  text.insert(text.size() - 1, "\r");
  text += " BC\r\n";
  text += " " + std::string(79, 'D') + "EEEE\r\n";
  text += " F" + std::string(78, 'G') + "\r\n";  // exactly 80 columns, then CR LF
  text += " H";                                  // no line feed
  StreamRun run(text);
  ASSERT_EQ(run.start(), -1);
  auto first = run.get(79);
  EXPECT_EQ(first[0], 1);
  EXPECT_EQ(first[1], 2);
  EXPECT_EQ(first[2], 36);
  EXPECT_EQ(first[78], 36);
  auto second = run.get(79);
  EXPECT_EQ(second, std::vector<int32_t>(79, 3));
  auto third = run.get(79);
  EXPECT_EQ(third[0], 5);
  EXPECT_EQ(third[78], 6);
  EXPECT_EQ(run.stream.peek(), 7);
  EXPECT_EQ(run.stream.error_count(), 0);
}

TEST(StreamLines, VeryLongLineIsReadInFixedMemory) {
  // A line far longer than the input buffer: only its first 80 columns count.
  std::string text = header_line(kAlphabet) + " B" + std::string(3 << 20, 'C') + "\n" + " D\n";
  StreamRun run(text);
  ASSERT_EQ(run.start(), -1);
  auto first = run.get(79);
  EXPECT_EQ(first[0], 1);
  EXPECT_EQ(first[78], 2);
  EXPECT_EQ(run.stream.peek(), 3);
}

TEST(StreamLines, LastValueOfALineReadsTheNextLineAtOnce) {
  // 79 values fill the only data line: taking the last of them needs the next line, and without
  // one the run ends after the close action, even though no further value was asked for.
  StreamRun run(header_line(kAlphabet) + data_lines(std::vector<int32_t>(79, 2), kAlphabet, 0));
  ASSERT_EQ(run.start(), -1);
  int closes = 0;
  run.stream.set_premature_end_action([&] { ++closes; });
  run.get(78);
  EXPECT_EQ(closes, 0);
  try {
    run.get(1);
    FAIL() << "the run should have stopped";
  } catch (const platform::RunStop& stop) {
    EXPECT_EQ(stop.status, platform::kExitFatal);
  }
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(run.messages.str(),
            "\n *** SYSTEM FATAL MESSAGE LXDB (CVTGET)\n"
            "     NEUTRAL FILE END-OF-FILE CONDITION OCCURRED UNEXPECTEDLY.\n");
}

TEST(StreamLines, NamedFileAndMemoryReadTheSame) {
  std::string text = header_line(kAlphabet, "300", '1') + data_lines({5, 6, 7, 8});
  std::string path = ::testing::TempDir() + "stream_test_named.ndb";
  {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
  platform::TextInput file;
  ASSERT_EQ(file.open_existing(path), 0);
  platform::Units units;
  std::ostringstream messages;
  units.message = &messages;
  neutral::Stream from_file(file, units);
  int32_t B, F;
  from_file.CVTSTR(0, B, F);
  StreamRun from_memory(text);
  ASSERT_EQ(from_memory.start(), -1);
  EXPECT_EQ(B, 300);
  EXPECT_EQ(F, 1);
  std::vector<int32_t> a(80);
  from_file.CVTGET(80, a.data());
  EXPECT_EQ(a, from_memory.get(80));
  std::remove(path.c_str());
}

}  // namespace
