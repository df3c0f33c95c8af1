// Typed items and records: every item type decoded bit for bit, and the record rules of CVTREC.

#include "neutral/items.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <sstream>

#include "platform/stop.h"
#include "tests/neutral/value_lines.h"

namespace {

using namespace testing_neutral;

constexpr int32_t kMark = 47;

// A stream over the given values, ready to decode.
struct Values {
  explicit Values(const std::vector<int32_t>& values) {
    input.attach_memory(neutral_text(values));
    units.message = &messages;
    int32_t B, F;
    stream.CVTSTR(0, B, F);
  }
  // Decodes one record of at most nmax words into a buffer of `room` words (default nmax + 1).
  std::vector<int32_t> record(int32_t nmax, int* result = nullptr, int32_t* nread = nullptr, int room = -1) {
    std::vector<int32_t> buf(room < 0 ? nmax + 1 : room, 0x5A5A5A5A);
    int32_t n = nmax, items = 0, words = 0;
    int r = neutral::CVTREC(stream, 0, n, items, buf, &words);
    if (result) *result = r;
    if (nread) *nread = items;
    buf.resize(words);
    return buf;
  }

  platform::TextInput input;
  std::ostringstream messages;
  platform::Units units;
  neutral::Stream stream{input, units};
};

uint32_t bits(float f) { return std::bit_cast<uint32_t>(f); }
double as_double(const std::vector<int32_t>& words, std::size_t at = 0) {
  double d;
  std::memcpy(&d, words.data() + at, sizeof d);
  return d;
}
std::vector<int32_t> real_item(int32_t h, int32_t e, uint32_t m) { return concat({{5, h, e}, digits(m, 7)}); }
std::vector<int32_t> double_item(int32_t t, int32_t h, int32_t e, uint32_t m1, uint32_t m2) {
  return concat({{t, h, e}, digits(m1, 7), digits(m2, 7)});
}

TEST(Items, LogicalsIntegersAndCharacters) {
  Values v(concat({{0, 1, 2, 10},
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
  Values v(concat({concat({{3, 15}, std::vector<int32_t>(15, 31)}),
                   concat({{3, 8}, {1, 0, 0, 0, 0, 0, 0, 0}}),
                   concat({{3, 24}, {0, 0, 0, 0, 0, 0, 0, 3}}),
                   {kMark}}));
  EXPECT_EQ(v.record(10), (std::vector<int32_t>{-1, 0, -3}));
}

TEST(Items, RealsDecodeBitExactly) {
  const uint32_t m = 12345678;
  Values v(concat({{4, 11},
                   real_item(0, 1, m),    // 0.12345678 * 10^1
                   real_item(12, 1, m),   // negative exponent, negative value
                   real_item(1, 6, 10000000),  // x = 38: 10^38 * 10^-8 * 10^7 = 1e37
                   real_item(1, 63, m),   // x = 95: far beyond single precision
                   real_item(5, 63, m),   // x = -95: below the smallest subnormal
                   real_item(8, 0, 0),    // a negated zero stays +0.0
                   {kMark}}));
  auto w = v.record(20);
  ASSERT_EQ(w.size(), 8u);
  EXPECT_EQ(w[0], 0);
  EXPECT_EQ(static_cast<uint32_t>(w[1]), 0xFFFFFFFFu);
  EXPECT_EQ(static_cast<uint32_t>(w[2]), bits(1.2345678f));
  EXPECT_EQ(static_cast<uint32_t>(w[3]), bits(-1.2345678e-2f));
  EXPECT_EQ(static_cast<uint32_t>(w[4]), bits(1e37f));
  EXPECT_EQ(static_cast<uint32_t>(w[5]), bits(INFINITY));
  EXPECT_EQ(static_cast<uint32_t>(w[6]), 0u);
  EXPECT_EQ(static_cast<uint32_t>(w[7]), 0u);
}

TEST(Items, RealMantissaPassesThroughSinglePrecision) {
  // 2^24 + 1 has no single-precision form: the mantissa becomes 2^24 before scaling.
  Values v(concat({real_item(0, 8, (1u << 24) + 1), {kMark}}));
  EXPECT_EQ(static_cast<uint32_t>(v.record(2)[0]), bits(16777216.0f));
}

TEST(Items, DoublesAndExtendedDoublesDecodeBitExactly) {
  // 3.14159265358979 = (31415926 + 5358979 * 10^-7) * 10^(1-8)
  double pi15 = (1e1 * 1.0e-8) * (31415926.0 + 5358979.0 * 1.0e-7);
  Values v(concat({{6, 12, 13},
                   double_item(7, 0, 1, 31415926, 5358979),
                   double_item(14, 0, 1, 31415926, 5358979),
                   double_item(7, 8 + 4, 1, 15000000, 0),  // -1.5e-2
                   {kMark}}));
  auto w = v.record(20);
  ASSERT_EQ(w.size(), 12u);
  EXPECT_EQ(std::vector<int32_t>(w.begin(), w.begin() + 6), (std::vector<int32_t>{0, 0, -1, -1, 0, 0}));
  EXPECT_EQ(std::bit_cast<uint64_t>(as_double(w, 6)), std::bit_cast<uint64_t>(pi15));
  EXPECT_NEAR(as_double(w, 6), 3.14159265358979, 1e-14);
  EXPECT_EQ(as_double(w, 8), as_double(w, 6));
  EXPECT_DOUBLE_EQ(as_double(w, 10), -1.5e-2);
}

TEST(Records, EndMarkEndsARecordAndSetsNmax) {
  Values v({2, 3, 2, 1, 5, 40, 10});
  int result;
  int32_t nread, nmax = 100, words = 0;
  std::vector<int32_t> buf(101);
  result = neutral::CVTREC(v.stream, 0, nmax, nread, buf, &words);
  EXPECT_EQ(result, neutral::kEnded);
  EXPECT_EQ(nread, 2);
  EXPECT_EQ(words, 2);
  EXPECT_EQ(nmax, 64 - 40);  // alphabet length minus the mark
  EXPECT_EQ(v.stream.peek(), 10);
}

TEST(Records, MarkFifteenIsCountedAsAnItem) {
  Values v({2, 15, 10});
  int result;
  int32_t nread;
  auto w = v.record(5, &result, &nread);
  EXPECT_EQ(result, neutral::kEnded);
  EXPECT_EQ(nread, 2);
  EXPECT_EQ(w, (std::vector<int32_t>{0}));
  EXPECT_EQ(v.stream.peek(), 10);
}

TEST(Records, RecordThatBeginsWithAMarkIsEmpty) {
  Values v({kMark, 2});
  int result;
  int32_t nread;
  EXPECT_TRUE(v.record(13, &result, &nread).empty());
  EXPECT_EQ(result, neutral::kEnded);
  EXPECT_EQ(nread, 0);
}

TEST(Records, FullRecordLeavesTheNextValueUnread) {
  std::vector<int32_t> values(13, 10);
  values.push_back(3);  // the body's first item
  values.insert(values.end(), {2, 1, 5});
  Values v(values);
  int result;
  auto w = v.record(13, &result);
  EXPECT_EQ(result, neutral::kFilled);
  EXPECT_EQ(w, std::vector<int32_t>(13, -1));
  EXPECT_EQ(v.stream.peek(), 3);
}

TEST(Records, TwoWordItemAtTheLastWordUsesTheSpareWordOrIsCutAtTheBuffer) {
  const std::vector<int32_t> values = concat({{2, 2}, {12}, {2}});
  {
    Values v(values);
    int result;
    auto w = v.record(3, &result);  // buffer of 4 words
    EXPECT_EQ(result, neutral::kFilled);
    EXPECT_EQ(w, (std::vector<int32_t>{0, 0, -1, -1}));
  }
  {
    // A buffer of exactly NMAX words: the second word is not stored, and nothing beyond the
    // buffer is touched.
    Values v(values);
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
  Values v({2, 10, 0, 3, 1, 1});
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
  Values d({13, 6});
  EXPECT_EQ(neutral::CVTDBL(d.stream, 1, out, ndone), neutral::kEnded);
  EXPECT_EQ(neutral::CVTDBX(d.stream, 1, out, ndone), neutral::kFilled);
  EXPECT_EQ(neutral::CVTDBX(d.stream, 1, out, ndone), neutral::kEnded);
  EXPECT_EQ(neutral::CVTDBL(d.stream, 1, out, ndone), neutral::kFilled);
}

TEST(Decoders, PowersOfTenCoverEveryExponent) {
  EXPECT_EQ(neutral::power_of_ten(0), 1.0);
  EXPECT_EQ(neutral::power_of_ten(-38), 1e-38);
  EXPECT_EQ(neutral::power_of_ten(38), 1e38);
  EXPECT_EQ(neutral::power_of_ten(95), 1e95);
  EXPECT_EQ(neutral::power_of_ten(-95), 1e-95);
}

}  // namespace
