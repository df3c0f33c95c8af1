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

// Line 1 and the first data line as CVTSTR refuses them: the run stops with one message.
struct HeaderStop {
  const char* name;
  std::string text;
  std::string message;  // the lines after the banner
};
void PrintTo(const HeaderStop& c, std::ostream* os) { *os << c.name; }

class StreamHeaderStops : public ::testing::TestWithParam<HeaderStop> {};

TEST_P(StreamHeaderStops, BeforeAnythingIsRead) {
  StreamRun run(GetParam().text);
  EXPECT_EQ(run.start(), platform::kExitFatal);
  EXPECT_EQ(run.messages.str(), "\n *** SYSTEM FATAL MESSAGE (CVTSTR)\n" + GetParam().message);
}

const std::string kNotAnInteger = "     BLOCK SIZE FIELD OF LINE 1 (COLUMNS 65-79) IS NOT A VALID INTEGER: '";

INSTANTIATE_TEST_SUITE_P(
    Header, StreamHeaderStops,
    ::testing::Values(
        HeaderStop{"letter_in_the_block_size", header_line(kAlphabet, "10x") + data_lines({}), kNotAnInteger + "            10x'\n"},
        HeaderStop{"two_signs", header_line(kAlphabet, "--5") + data_lines({}), kNotAnInteger + "            --5'\n"},
        HeaderStop{"sign_alone", header_line(kAlphabet, "-") + data_lines({}), kNotAnInteger + "              -'\n"},
        HeaderStop{"sign_behind", header_line(kAlphabet, "5-") + data_lines({}), kNotAnInteger + "             5-'\n"},
        HeaderStop{"beyond_32_bits", header_line(kAlphabet, "2147483648") + data_lines({}),
                   kNotAnInteger + "     2147483648'\n"},
        HeaderStop{"fifteen_digits", header_line(kAlphabet, "999999999999999") + data_lines({}),
                   kNotAnInteger + "999999999999999'\n"},
        HeaderStop{"flag_not_a_digit", header_line(kAlphabet, "1024", 'x') + data_lines({}),
                   "     FLAG FIELD OF LINE 1 (COLUMN 80) IS NOT A DIGIT: 'x'\n"},
        HeaderStop{"empty_file", "",
                   "     END-OF-FILE CONDITION READING TRANSLATION STRING.\n"
                   "     NEUTRAL FILE APPEARS TO BE EMPTY.\n"},
        HeaderStop{"no_data_line", header_line(kAlphabet, "1024"),
                   "     END-OF-FILE CONDITION READING THE FIRST DATA LINE.\n"
                   "     NEUTRAL FILE HAS A TRANSLATION STRING BUT NO DATA.\n"},
        // A character twice in the alphabet is named by its second position; a blank inside the
        // alphabet is an ordinary character, so two of them are a duplicate too.
        HeaderStop{"alphabet_character_twice", header_line("ABCA") + data_lines({}),
                   "     ERROR SETTING UP TRANSLATION TABLE AT INDEX =   4\n"},
        HeaderStop{"alphabet_blank_twice", header_line("AB CD EF") + data_lines({}),
                   "     ERROR SETTING UP TRANSLATION TABLE AT INDEX =   6\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// One data line read under an alphabet: the values it gives and the characters counted as
// errors (read as 0), the padding of a short line included.
struct AlphabetCase {
  const char* name;
  std::string alphabet, line;  // the line without its blank column 1
  std::vector<int32_t> values;  // the first values read
  int errors;
};
void PrintTo(const AlphabetCase& c, std::ostream* os) { *os << c.name; }

class StreamValues : public ::testing::TestWithParam<AlphabetCase> {};

TEST_P(StreamValues, AreAlphabetPositions) {
  const AlphabetCase& c = GetParam();
  StreamRun run(header_line(c.alphabet) + " " + c.line + "\n" + data_lines({}, c.alphabet));
  ASSERT_EQ(run.start(), -1);
  EXPECT_EQ(run.stream.alphabet_length(), static_cast<int>(std::min<std::size_t>(c.alphabet.size(), 64)));
  EXPECT_EQ(run.get(static_cast<int>(c.values.size())), c.values);
  EXPECT_EQ(run.stream.error_count(), c.errors);
}

INSTANTIATE_TEST_SUITE_P(
    Alphabets, StreamValues,
    ::testing::Values(
        // The blank is not in this alphabet: it and the 71 columns of padding are errors.
        AlphabetCase{"lower_case_follows_upper_case", kAlphabet, "AZaz09 \"", {0, 25, 0, 25, 26, 35, 0, 63}, 72},
        // "a" sits at value 3, but lower-case letters always decode as their upper-case form.
        AlphabetCase{"lower_case_letter_in_the_alphabet_loses_its_position", "ABCa", "aA" + std::string(77, 'B'),
                     {0, 0}, 0},
        // With "A" late in the alphabet, "z" would stand for a value the alphabet does not have.
        AlphabetCase{"lower_case_letter_beyond_the_alphabet_is_invalid",
                     "0123456789BCDEFGHIJKLMNOPQRSTUVWXYZA", "az" + std::string(77, '0'), {35, 0}, 1},
        // 63 characters leave column 64 blank, and the blank outside the alphabet: one between A
        // and B, and 76 of padding.
        AlphabetCase{"alphabet_of_63_makes_the_blank_invalid", kAlphabet.substr(0, 63), "A B", {0, 0, 1}, 77}),
    [](const auto& info) { return std::string(info.param.name); });

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
