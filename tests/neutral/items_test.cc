// Typed items and records: logicals, integers and characters decoded bit for bit, the record rules
// of CVTREC and where the family decoders stop. Reals and doubles are held to hand-worked bit
// patterns in real_literals_test.cc.

#include "neutral/items.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

#include "platform/stop.h"
#include "tests/neutral/text_reader.h"
#include "tests/neutral/value_lines.h"

namespace {

using namespace testing_neutral;

constexpr int32_t kMark = 47;

TEST(Items, LogicalsIntegersAndCharacters) {
  TextReader v(concat({{0, 1, 2, 10},
                       {3, 0},                  // no digits: 0
                       {3, 16},                 // no digits, negative: 0
                       {3, 2, 1, 5},            // 1*32 + 5
                       {3, 18, 1, 5},           // negated
                       concat({{3, 23}, digits(uint64_t{1} << 31, 7)}),  // most negative word
                       concat({{3, 7}, digits(INT32_MAX, 7)}),
                       {8},
                       {9, 0, 1, 63, 2},        // A, B, '"', C
                       {kMark}}));
  int result;
  int32_t nread;
  auto words = v.record(100, &result, &nread);
  EXPECT_EQ(result, neutral::kEnded);
  EXPECT_EQ(nread, 12);
  ASSERT_EQ(words.size(), 12u);
  EXPECT_EQ(std::vector<int32_t>(words.begin(), words.begin() + 10),
            (std::vector<int32_t>{-1, 0, 0, -1, 0, 0, 37, -37, INT32_MIN, INT32_MAX}));
  EXPECT_EQ(std::memcmp(&words[10], "    ", 4), 0);
  EXPECT_EQ(std::memcmp(&words[11], "AB\"C", 4), 0);
}

TEST(Items, IntegersWithMoreThanSevenDigitsKeepTheLow32Bits) {
  // Fifteen digits of 31 carry 75 one bits; only the low 32 survive: -1. Eight digits 1,0,...,0
  // put the 1 at bit 35, which is shifted out: 0.
  TextReader v(concat({concat({{3, 15}, std::vector<int32_t>(15, 31)}),
                       concat({{3, 8}, {1, 0, 0, 0, 0, 0, 0, 0}}),
                       concat({{3, 24}, {0, 0, 0, 0, 0, 0, 0, 3}}),
                       {kMark}}));
  EXPECT_EQ(v.record(10), (std::vector<int32_t>{-1, 0, -3}));
}

// CVTREC over one record: how it ends, the items and words it took, what it makes of NMAX and
// the value it stops in front of.
struct RecordCase {
  const char* name;
  std::vector<int32_t> values;
  int32_t nmax;
  int result;
  int32_t nread;
  std::vector<int32_t> words;
  int32_t next;             // the value left unread
  int32_t nmax_after = -1;  // -1: not looked at
};
void PrintTo(const RecordCase& c, std::ostream* os) { *os << c.name; }

class Records : public ::testing::TestWithParam<RecordCase> {};

TEST_P(Records, EndAtAMarkOrWhenFull) {
  const RecordCase& c = GetParam();
  TextReader v(c.values);
  std::vector<int32_t> buf(static_cast<std::size_t>(c.nmax) + 1, 0x5A5A5A5A);
  int32_t nmax = c.nmax, nread = -1, words = 0;
  EXPECT_EQ(neutral::CVTREC(v.stream, 0, nmax, nread, buf, &words), c.result);
  EXPECT_EQ(nread, c.nread);
  buf.resize(static_cast<std::size_t>(words));
  EXPECT_EQ(buf, c.words);
  EXPECT_EQ(v.stream.peek(), c.next);
  if (c.nmax_after >= 0) {
    EXPECT_EQ(nmax, c.nmax_after);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Ends, Records,
    ::testing::Values(
        // A mark sets NMAX to the alphabet's length minus the mark.
        RecordCase{"end_mark_sets_nmax", {2, 3, 2, 1, 5, 40, 10}, 100, neutral::kEnded, 2, {0, 37}, 10, 64 - 40},
        RecordCase{"mark_fifteen_is_counted_as_an_item", {2, 15, 10}, 5, neutral::kEnded, 2, {0}, 10},
        RecordCase{"record_that_begins_with_a_mark_is_empty", {kMark, 2}, 13, neutral::kEnded, 0, {}, 2},
        RecordCase{"full_record_leaves_the_next_value_unread", concat({std::vector<int32_t>(13, 10), {3, 2, 1, 5}}), 13,
                   neutral::kFilled, 13, std::vector<int32_t>(13, -1), 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Records, TwoWordItemAtTheLastWordUsesTheSpareWordOrIsCutAtTheBuffer) {
  const std::vector<int32_t> values = concat({{2, 2}, {12}, {2}});
  {
    TextReader v(values);
    int result;
    auto w = v.record(3, &result);  // buffer of 4 words
    EXPECT_EQ(result, neutral::kFilled);
    EXPECT_EQ(w, (std::vector<int32_t>{0, 0, -1, -1}));
  }
  {
    // A buffer of exactly NMAX words: the second word is not stored, and nothing beyond the
    // buffer is touched.
    TextReader v(values);
    std::vector<int32_t> storage(4, 0x11111111);
    int32_t nmax = 3, nread, words;
    int result = neutral::CVTREC(v.stream, 0, nmax, nread, std::span(storage).first(3), &words);
    EXPECT_EQ(result, neutral::kFilled);
    EXPECT_EQ(words, 3);
    EXPECT_EQ(storage, (std::vector<int32_t>{0, 0, -1, 0x11111111}));
    EXPECT_EQ(v.stream.peek(), 2);
  }
}

TEST(Decoders, StopAtTheFirstValueOfAnotherFamily) {
  TextReader v(std::vector<int32_t>{2, 10, 0, 3, 1, 1});
  int32_t out[4];
  int ndone = -1;
  EXPECT_EQ(neutral::CVTINT(v.stream, 3, out, ndone), neutral::kEnded);
  EXPECT_EQ(ndone, 2);
  EXPECT_EQ(v.stream.peek(), 0);
  EXPECT_EQ(neutral::CVTREA(v.stream, 1, out, ndone), neutral::kEnded);
  EXPECT_EQ(ndone, 0);
  EXPECT_EQ(neutral::CVTLOG(v.stream, 1, out, ndone), neutral::kFilled);
  EXPECT_EQ(out[0], -1);
  EXPECT_EQ(neutral::CVTINT(v.stream, 1, out, ndone), neutral::kFilled);
  EXPECT_EQ(out[0], 1);
  // Codes 13 and 14 are not of the double family, and 6, 7, 12 not of the extended one.
  TextReader d(std::vector<int32_t>{13, 6});
  EXPECT_EQ(neutral::CVTDBL(d.stream, 1, out, ndone), neutral::kEnded);
  EXPECT_EQ(neutral::CVTDBX(d.stream, 1, out, ndone), neutral::kFilled);
  EXPECT_EQ(neutral::CVTDBX(d.stream, 1, out, ndone), neutral::kEnded);
  EXPECT_EQ(neutral::CVTDBL(d.stream, 1, out, ndone), neutral::kFilled);
}

}  // namespace
