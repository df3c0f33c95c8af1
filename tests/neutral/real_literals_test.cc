// Reals and doubles of the neutral format against IEEE bit patterns worked out by hand from the
// item format, not by any code of ours: each row is an item as its literal values (t, h, e and the
// base-32 digits of M, or of M1 and M2) and the bits the reader must make of it. The bits were
// worked out with exact rational arithmetic (the value +-M * 10^(x-8) rounded to nearest, ties to
// even) and, separately, by following the reader's steps in IEEE doubles (10^x as the nearest
// double, times 10^-8, times the mantissa); where the two differ, which happens only for doubles,
// the row says so and holds what the steps give, as writers rely on those steps.
//
// Every row is decoded three ways: by CVTREC with the item inside one line (decoded in place),
// by CVTREC with the item running across a line end, and by the decoder of its family (CVTREA,
// CVTDBL, CVTDBX).

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "neutral/items.h"
#include "tests/neutral/text_reader.h"
#include "tests/neutral/value_lines.h"

namespace {

using namespace testing_neutral;

constexpr int32_t kMark = 47;
// Integer-zero items (one value each) in front of an item, so that it starts four values before
// the end of the first data line and ends on the next one.
constexpr int kValuesBeforeTheLineEnd = 75;

// One record of at most 100 words, which must end at a mark.
std::vector<int32_t> record_to_mark(TextReader& r) {
  int result = -1;
  std::vector<int32_t> words = r.record(100, &result);
  EXPECT_EQ(result, neutral::kEnded);
  return words;
}

enum class Path { kInPlace, kAcrossALineEnd, kFamilyDecoder };
const char* path_name(Path p) {
  switch (p) {
    case Path::kInPlace: return "in_place";
    case Path::kAcrossALineEnd: return "across_a_line_end";
    default: return "family_decoder";
  }
}

// The words one item decodes to along `path` (width: 1 for a real, 2 for a double).
std::vector<int32_t> decode(const std::vector<int32_t>& item, int width, Path path) {
  std::vector<int32_t> values;
  if (path == Path::kAcrossALineEnd) values.assign(kValuesBeforeTheLineEnd, 2);
  values.insert(values.end(), item.begin(), item.end());
  values.push_back(kMark);
  TextReader r(values, 2);
  if (path != Path::kFamilyDecoder) {
    std::vector<int32_t> words = record_to_mark(r);
    const std::size_t lead = path == Path::kAcrossALineEnd ? kValuesBeforeTheLineEnd : 0;
    EXPECT_EQ(words.size(), lead + static_cast<std::size_t>(width));
    if (words.size() < lead) return {};
    EXPECT_EQ(std::vector<int32_t>(words.begin(), words.begin() + static_cast<long>(lead)),
              std::vector<int32_t>(lead, 0));
    return std::vector<int32_t>(words.begin() + static_cast<long>(lead), words.end());
  }
  std::vector<int32_t> out(2, 0x5A5A5A5A);
  int ndone = -1;
  const int t = item[0];
  const int result = width == 1 ? neutral::CVTREA(r.stream, 1, out.data(), ndone)
                     : t == 13 || t == 14 ? neutral::CVTDBX(r.stream, 1, out.data(), ndone)
                                          : neutral::CVTDBL(r.stream, 1, out.data(), ndone);
  EXPECT_EQ(result, neutral::kFilled);
  EXPECT_EQ(ndone, 1);
  EXPECT_EQ(r.stream.peek(), kMark);  // the whole item was taken, and nothing more
  out.resize(static_cast<std::size_t>(width));
  return out;
}

const Path kPaths[] = {Path::kInPlace, Path::kAcrossALineEnd, Path::kFamilyDecoder};

// ---------------------------------------------------------------------------------------------
// Reals: one word, the single-precision bits.

struct RealCase {
  const char* name;
  std::vector<int32_t> values;  // t, h, e, 7 digits of M (or t alone)
  uint32_t bits;
};
void PrintTo(const RealCase& c, std::ostream* os) { *os << c.name; }

// h: 1 adds 32 to the exponent, 4 negates it, 8 negates the value; x = exponent.
const RealCase kReals[] = {
    // The one-value codes.
    {"zero_code", {4}, 0x00000000},
    {"all_ones_code", {11}, 0xFFFFFFFF},
    // x = 1, M = 10000000: 1.0
    {"one", {5, 0, 1, 0, 0, 9, 17, 5, 20, 0}, 0x3F800000},
    // x = 1, M = 15000000: 1.5
    {"one_and_a_half", {5, 0, 1, 0, 0, 14, 9, 24, 14, 0}, 0x3FC00000},
    // x = 0, M = 50000000: 0.5
    {"one_half", {5, 0, 0, 0, 1, 15, 21, 28, 4, 0}, 0x3F000000},
    // x = 3, M = 10000000: 100
    {"hundred", {5, 0, 3, 0, 0, 9, 17, 5, 20, 0}, 0x42C80000},
    // x = 7, M = 15: 15 * 10^-1
    {"short_mantissa_one_and_a_half", {5, 0, 7, 0, 0, 0, 0, 0, 0, 15}, 0x3FC00000},
    // x = 0, M = 10000000: 0.1
    {"one_tenth_rounds_up", {5, 0, 0, 0, 0, 9, 17, 5, 20, 0}, 0x3DCCCCCD},
    // x = 0, M = 33333333: 0.33333333
    {"one_third_rounds_down", {5, 0, 0, 0, 0, 31, 25, 8, 2, 21}, 0x3EAAAAAA},
    // x = 0, M = 66666667: 0.66666667
    {"two_thirds_rounds_up", {5, 0, 0, 0, 1, 31, 18, 16, 5, 11}, 0x3F2AAAAB},
    // x = 1, M = 31415927: 3.1415927
    {"pi_to_eight_digits", {5, 0, 1, 0, 0, 29, 30, 23, 19, 23}, 0x40490FDB},
    // x = 1, M = 15000000: -1.5
    {"minus_one_and_a_half", {5, 8, 1, 0, 0, 14, 9, 24, 14, 0}, 0xBFC00000},
    // x = 0, M = 10000000: -0.1
    {"minus_one_tenth", {5, 8, 0, 0, 0, 9, 17, 5, 20, 0}, 0xBDCCCCCD},
    // x = -2, M = 25000000: -0.0025
    {"minus_quarter_hundredth", {5, 12, 2, 0, 0, 23, 26, 30, 2, 0}, 0xBB23D70A},
    // x = 0, M = 10000000: 0.1, x = -0
    {"exponent_minus_zero_is_zero", {5, 4, 0, 0, 0, 9, 17, 5, 20, 0}, 0x3DCCCCCD},
    // x = 1, M = 15000000: 1.5, h bit 2
    {"unused_bit_of_h_is_ignored", {5, 2, 1, 0, 0, 14, 9, 24, 14, 0}, 0x3FC00000},
    // x = 32, M = 10000000: x = 32: 1e31
    {"exponent_thirty_two_from_h_alone", {5, 1, 0, 0, 0, 9, 17, 5, 20, 0}, 0x72FC6F7C},
    // x = -32, M = 10000000: x = -32: 1e-33
    {"exponent_minus_thirty_two", {5, 5, 0, 0, 0, 9, 17, 5, 20, 0}, 0x08A6274C},
    // x = 38, M = 10000000: 1e37
    {"exponent_thirty_eight", {5, 1, 6, 0, 0, 9, 17, 5, 20, 0}, 0x7CF0BDC2},
    // x = -37, M = 11754944: 1.1754944e-38, the smallest normal
    {"smallest_normal", {5, 5, 5, 0, 0, 11, 6, 23, 14, 0}, 0x00800000},
    // x = 9, M = 16777217: M is 2^24 in single precision, the value 10 * 2^24 (10 * M would
    // round to 0x4D200001)
    {"mantissa_above_two_to_24_rounds_before_scaling", {5, 0, 9, 0, 0, 16, 0, 0, 0, 1}, 0x4D200000},
    // x = 9, M = 33554434: halfway between two singles, M becomes 2^25 (even), the value 10 * 2^25
    // (10 * M would round to 0x4DA00001)
    {"mantissa_tie_rounds_to_even_before_scaling", {5, 0, 9, 0, 1, 0, 0, 0, 0, 2}, 0x4DA00000},
    // x = 9, M = 16777204: 10 * 16777204 halfway: down to even
    {"product_tie_rounds_to_even_below", {5, 0, 9, 0, 0, 15, 31, 31, 31, 20}, 0x4D1FFFF8},
    // x = 9, M = 16777212: 10 * 16777212 halfway: up to even
    {"product_tie_rounds_to_even_above", {5, 0, 9, 0, 0, 15, 31, 31, 31, 28}, 0x4D1FFFFE},
    // x = 39, M = 34028234: 3.4028232e38
    {"largest_finite_reachable", {5, 1, 7, 0, 1, 0, 14, 14, 22, 10}, 0x7F7FFFFE},
    // x = 39, M = 34028235: M becomes 34028236: 3.4028236e38
    {"mantissa_rounding_up_overflows", {5, 1, 7, 0, 1, 0, 14, 14, 22, 11}, 0x7F800000},
    // x = 40, M = 10000000: 1e39
    {"ten_to_39_overflows", {5, 1, 8, 0, 0, 9, 17, 5, 20, 0}, 0x7F800000},
    // x = 40, M = 10000000: -1e39
    {"minus_ten_to_39_overflows", {5, 9, 8, 0, 0, 9, 17, 5, 20, 0}, 0xFF800000},
    // x = 95, M = 12345678: x = 95
    {"largest_exponent_overflows", {5, 1, 63, 0, 0, 11, 24, 24, 10, 14}, 0x7F800000},
    // x = -37, M = 11754942: 1.1754942e-38
    {"largest_subnormal", {5, 5, 5, 0, 0, 11, 6, 23, 13, 30}, 0x007FFFFF},
    // x = -39, M = 10000000: 1e-40
    {"subnormal_1e_minus_40", {5, 5, 7, 0, 0, 9, 17, 5, 20, 0}, 0x000116C2},
    // x = -44, M = 14000000: 1.4e-45
    {"smallest_subnormal", {5, 5, 12, 0, 0, 13, 11, 7, 28, 0}, 0x00000001},
    // x = -44, M = 28000000: 2.8e-45
    {"twice_the_smallest_subnormal", {5, 5, 12, 0, 0, 26, 22, 15, 24, 0}, 0x00000002},
    // x = -44, M = 14000000: -1.4e-45
    {"minus_smallest_subnormal", {5, 13, 12, 0, 0, 13, 11, 7, 28, 0}, 0x80000001},
    // x = -45, M = 70000000: 7.0e-46
    {"below_half_the_smallest_subnormal_is_zero", {5, 5, 13, 0, 2, 2, 24, 7, 12, 0}, 0x00000000},
    // x = -45, M = 71000000: 7.1e-46
    {"above_half_the_smallest_subnormal", {5, 5, 13, 0, 2, 3, 22, 23, 30, 0}, 0x00000001},
    // x = -95, M = 12345678: x = -95
    {"smallest_exponent_underflows", {5, 5, 63, 0, 0, 11, 24, 24, 10, 14}, 0x00000000},
    // x = -95, M = 12345678: x = -95, negative
    {"negative_underflow_is_minus_zero", {5, 13, 63, 0, 0, 11, 24, 24, 10, 14}, 0x80000000},
    // x = 95, M = 0: 0 * 10^87
    {"zero_mantissa", {5, 1, 63, 0, 0, 0, 0, 0, 0, 0}, 0x00000000},
    // x = 0, M = 0: 0.0 - 0.0
    {"negated_zero_mantissa_is_plus_zero", {5, 8, 0, 0, 0, 0, 0, 0, 0, 0}, 0x00000000},
    // x = 1, M = 8604934592: a bit above 2^32 is lost: 1.5
    {"mantissa_keeps_its_low_32_bits", {5, 0, 1, 8, 0, 14, 9, 24, 14, 0}, 0x3FC00000},
};

class RealItems : public ::testing::TestWithParam<std::tuple<RealCase, Path>> {};

TEST_P(RealItems, GiveTheBitsWorkedOutByHand) {
  const auto& [c, path] = GetParam();
  const std::vector<int32_t> words = decode(c.values, 1, path);
  ASSERT_EQ(words.size(), 1u);
  EXPECT_EQ(static_cast<uint32_t>(words[0]), c.bits) << std::hex << "got 0x" << static_cast<uint32_t>(words[0]);
}

INSTANTIATE_TEST_SUITE_P(Literals, RealItems,
                         ::testing::Combine(::testing::ValuesIn(kReals), ::testing::ValuesIn(kPaths)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" + path_name(std::get<1>(info.param));
                         });

// ---------------------------------------------------------------------------------------------
// Doubles: two words, the low-order half of the IEEE double first.

struct DoubleCase {
  const char* name;
  std::vector<int32_t> values;  // t, h, e, 7 digits of M1, 7 digits of M2 (or t alone)
  uint64_t bits;
};
void PrintTo(const DoubleCase& c, std::ostream* os) { *os << c.name; }

const DoubleCase kDoubles[] = {
    // The one-value codes.
    {"zero_code", {6}, 0x0000000000000000},
    {"extended_zero_code", {13}, 0x0000000000000000},
    {"all_ones_code", {12}, 0xFFFFFFFFFFFFFFFF},
    // x = 1, M1 = 15000000, M2 = 0: 1.5
    {"one_and_a_half", {7, 0, 1, 0, 0, 14, 9, 24, 14, 0, 0, 0, 0, 0, 0, 0, 0},
     0x3FF8000000000000},
    // x = 0, M1 = 30000000, M2 = 0: 0.3
    {"three_tenths", {7, 0, 0, 0, 0, 28, 19, 16, 28, 0, 0, 0, 0, 0, 0, 0, 0},
     0x3FD3333333333333},
    // x = 1, M1 = 31415926, M2 = 5358979: 3.14159265358979
    {"pi_to_fifteen_digits", {7, 0, 1, 0, 0, 29, 30, 23, 19, 22, 0, 0, 5, 3, 17, 12, 3},
     0x400921FB54442D11},
    // x = 0, M1 = 33333333, M2 = 3333333: 0.333333333333333
    {"one_third_to_fifteen_digits", {7, 0, 0, 0, 0, 31, 25, 8, 2, 21, 0, 0, 3, 5, 23, 6, 21},
     0x3FD555555555554F},
    // x = 8, M1 = 0, M2 = 5: 5e-7
    {"second_part_alone", {7, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5},
     0x3EA0C6F7A0B5ED8D},
    // x = 1, M1 = 25000000, M2 = 0: -2.5
    {"minus_two_and_a_half", {7, 8, 1, 0, 0, 23, 26, 30, 2, 0, 0, 0, 0, 0, 0, 0, 0},
     0xC004000000000000},
    // x = -1, M1 = 15000000, M2 = 0: -0.015; the nearest double is 0xBF8EB851EB851EB8
    {"minus_one_and_a_half_hundredths_reads_one_unit_beyond", {7, 12, 1, 0, 0, 14, 9, 24, 14, 0, 0, 0, 0, 0, 0, 0, 0},
     0xBF8EB851EB851EB9},
    // x = 1, M1 = 15000000, M2 = 0: 1.5
    {"extended_code_reads_as_a_double", {14, 0, 1, 0, 0, 14, 9, 24, 14, 0, 0, 0, 0, 0, 0, 0, 0},
     0x3FF8000000000000},
    // x = 95, M1 = 99999999, M2 = 9999999: 9.99999999999999e94
    {"largest_value", {7, 1, 63, 0, 2, 31, 11, 24, 7, 31, 0, 0, 9, 17, 5, 19, 31},
     0x53A7F85DE8AD5C48},
    // x = 95, M1 = 12345678, M2 = 9012345: -1.23456789012345e87
    {"minus_largest_exponent", {7, 9, 63, 0, 0, 11, 24, 24, 10, 14, 0, 0, 8, 19, 1, 3, 25},
     0xD377AC9BF2084BC3},
    // x = -95, M1 = 25000000, M2 = 1: -2.50000000000001e-96
    {"minus_smallest_exponent", {7, 13, 63, 0, 0, 23, 26, 30, 2, 0, 0, 0, 0, 0, 0, 0, 1},
     0xAC155C2076BF9A6D},
    // x = 0, M1 = 10000000, M2 = 0: 0.1, x = -0
    {"exponent_minus_zero_is_zero", {7, 4, 0, 0, 0, 9, 17, 5, 20, 0, 0, 0, 0, 0, 0, 0, 0},
     0x3FB999999999999A},
    // x = 40, M1 = 0, M2 = 0: 0 * 10^32
    {"zero_parts", {7, 1, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
     0x0000000000000000},
    // x = 40, M1 = 0, M2 = 0: 0.0 - 0.0
    {"negated_zero_parts_are_plus_zero", {7, 9, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
     0x0000000000000000},
};

uint64_t double_bits(const std::vector<int32_t>& words) {
  return uint64_t{static_cast<uint32_t>(words[1])} << 32 | static_cast<uint32_t>(words[0]);
}

class DoubleItems : public ::testing::TestWithParam<std::tuple<DoubleCase, Path>> {};

TEST_P(DoubleItems, GiveTheBitsWorkedOutByHandLowOrderWordFirst) {
  const auto& [c, path] = GetParam();
  const std::vector<int32_t> words = decode(c.values, 2, path);
  ASSERT_EQ(words.size(), 2u);
  EXPECT_EQ(double_bits(words), c.bits) << std::hex << "got 0x" << double_bits(words);
}

INSTANTIATE_TEST_SUITE_P(Literals, DoubleItems,
                         ::testing::Combine(::testing::ValuesIn(kDoubles), ::testing::ValuesIn(kPaths)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" + path_name(std::get<1>(info.param));
                         });

// Every exponent an item can carry, x = -95 .. 95, on two first parts: M1 = 10^7, the value
// 10^(x-1) as the reader's steps give it (about a third of them one unit off the double nearest
// 10^(x-1), x = -43 and x = 91 two units: 100 reads as 100 + 2^-46, for instance, as
// 10^3 * 10^-8 rounds up before it meets M1, and 1e22 one unit below), and M1 = 2^31 - 1, whose
// products move with any change of 10^x that survives the scaling by 10^-8. The rows of kDoubles
// take other mantissas along every path; these take every exponent along one, as the paths share
// the arithmetic.
constexpr uint64_t kTenToTheSeventhScaled[] = {
    0x2C0116805EFFAEAA, 0x2C355C2076BF9A55, 0x2C6AB328946F80EA, 0x2CA0AFF95CC5B093,  // x = -95 .. -92
    0x2CD4DBF7B3F71CB7, 0x2D0A12F5A0F4E3E4, 0x2D404BD984990E6F, 0x2D745ECFE5BF520A,  // x = -91 .. -88
    0x2DA97683DF2F268D, 0x2DDFD424D6FAF032, 0x2E13E497065CD61E, 0x2E48DDBCC7F40BA6,  // x = -87 .. -84
    0x2E7F152BF9F10E90, 0x2EB36D3B7C36A91A, 0x2EE8488A5B445361, 0x2F1E5AACF2156838,  // x = -83 .. -80
    0x2F52F8AC174D6123, 0x2F87B6D71D20B96D, 0x2FBDA48CE468E7C7, 0x2FF286D80EC190DC,  // x = -79 .. -76
    0x3027288E1271F514, 0x305CF2B1970E7258, 0x309217AEFE690777, 0x30C69D9ABE034955,  // x = -75 .. -72
    0x30FC45016D841BAA, 0x3131AB20E472914A, 0x316615E91D8F359D, 0x319B9B6364F30305,  // x = -71 .. -68
    0x31D1411E1F17E1E2, 0x32059165A6DDDA5B, 0x323AF5BF109550F2, 0x3270D9976A5D5297,  // x = -67 .. -64
    0x32A50FFD44F4A73E, 0x32DA53FC9631D10C, 0x3310747DDDDF22A8, 0x3344919D5556EB52,  // x = -63 .. -60
    0x3379B604AAACA627, 0x33B011C2EAABE7D8, 0x33E41633A556E1CD, 0x34191BC08EAC9A42,  // x = -59 .. -56
    0x344F62B0B257C0D2, 0x34839DAE6F76D883, 0x34B8851A0B548EA4, 0x34EEA6608E29B24C,  // x = -55 .. -52
    0x352327FC58DA0F70, 0x3557F1FB6F10934C, 0x358DEE7A4AD4B81F, 0x35C2B50C6EC4F314,  // x = -51 .. -48
    0x35F7624F8A762FD8, 0x362D3AE36D13BBCE, 0x366244CE242C5561, 0x3696D601AD376AB9,  // x = -47 .. -44
    0x36CC8B8218854569, 0x3701D7314F534B61, 0x37364CFDA3281E38, 0x376BE03D0BF225C7,  // x = -43 .. -40
    0x37A16C262777579C, 0x37D5C72FB1552D84, 0x380B38FB9DAA78E5, 0x3841039D428A8B8E,  // x = -39 .. -36
    0x38754484932D2E73, 0x38AA95A5B7F87A0E, 0x38E09D8792FB4C4A, 0x3914C4E977BA1F5C,  // x = -35 .. -32
    0x3949F623D5A8A733, 0x398039D665896880, 0x39B4484BFEEBC2A0, 0x39E95A5EFEA6B347,  // x = -31 .. -28
    0x3A1FB0F6BE506019, 0x3A53CE9A36F23C11, 0x3A88C240C4AECB14, 0x3ABEF2D0F5DA7DD8,  // x = -27 .. -24
    0x3AF357C299A88EA8, 0x3B282DB34012B252, 0x3B5E392010175EE5, 0x3B92E3B40A0E9B4F,  // x = -23 .. -20
    0x3BC79CA10C924224, 0x3BFD83C94FB6D2AD, 0x3C32725DD1D243AC, 0x3C670EF54646D496,  // x = -19 .. -16
    0x3C9CD2B297D889BD, 0x3CD203AF9EE75616, 0x3D06849B86A12B9C, 0x3D3C25C268497681,  // x = -15 .. -12
    0x3D719799812DEA11, 0x3DA5FD7FE1796496, 0x3DDB7CDFD9D7BDBB, 0x3E112E0BE826D695,  // x = -11 .. -8
    0x3E45798EE2308C39, 0x3E7AD7F29ABCAF48, 0x3EB0C6F7A0B5ED8E, 0x3EE4F8B588E368F0,  // x = -7 .. -4
    0x3F1A36E2EB1C432D, 0x3F50624DD2F1A9FC, 0x3F847AE147AE147B, 0x3FB999999999999A,  // x = -3 .. 0
    0x3FF0000000000000, 0x4024000000000000, 0x4059000000000001, 0x408F400000000000,  // x = 1 .. 4
    0x40C3880000000000, 0x40F86A0000000000, 0x412E848000000000, 0x416312D000000000,  // x = 5 .. 8
    0x4197D78400000000, 0x41CDCD6500000000, 0x4202A05F20000000, 0x42374876E8000000,  // x = 9 .. 12
    0x426D1A94A2000000, 0x42A2309CE5400000, 0x42D6BCC41E900000, 0x430C6BF526340000,  // x = 13 .. 16
    0x4341C37937E08000, 0x4376345785D8A000, 0x43ABC16D674EC800, 0x43E158E460913D00,  // x = 17 .. 20
    0x4415AF1D78B58C40, 0x444B1AE4D6E2EF50, 0x4480F0CF064DD591, 0x44B52D02C7E14AF6,  // x = 21 .. 24
    0x44EA784379D99DB5, 0x45208B2A2C280291, 0x4554ADF4B7320335, 0x4589D971E4FE8402,  // x = 25 .. 28
    0x45C027E72F1F1281, 0x45F431E0FAE6D721, 0x46293E5939A08CE9, 0x465F8DEF8808B025,  // x = 29 .. 32
    0x4693B8B5B5056E16, 0x46C8A6E32246C99D, 0x46FED09BEAD87C04, 0x4733426172C74D82,  // x = 33 .. 36
    0x476812F9CF7920E2, 0x479E17B84357691C, 0x47D2CED32A16A1B1, 0x48078287F49C4A1E,  // x = 37 .. 40
    0x483D6329F1C35CA5, 0x48725DFA371A19E7, 0x48A6F578C4E0A061, 0x48DCB2D6F618C879,  // x = 41 .. 44
    0x4911EFC659CF7D4B, 0x49466BB7F0435C9E, 0x497C06A5EC5433C7, 0x49B18427B3B4A05C,  // x = 45 .. 48
    0x49E5E531A0A1C873, 0x4A1B5E7E08CA3A90, 0x4A511B0EC57E649A, 0x4A8561D276DDFDC1,  // x = 49 .. 52
    0x4ABABA4714957D31, 0x4AF0B46C6CDD6E3F, 0x4B24E1878814C9CE, 0x4B5A19E96A19FC41,  // x = 53 .. 56
    0x4B905031E2503DA9, 0x4BC4643E5AE44D12, 0x4BF97D4DF19D6057, 0x4C2FDCA16E04B86D,  // x = 57 .. 60
    0x4C63E9E4E4C2F344, 0x4C98E45E1DF3B016, 0x4CCF1D75A5709C1C, 0x4D03726987666191,  // x = 61 .. 64
    0x4D384F03E93FF9F5, 0x4D6E62C4E38FF872, 0x4DA2FDBB0E39FB47, 0x4DD7BD29D1C87A19,  // x = 65 .. 68
    0x4E0DAC74463A98A0, 0x4E428BC8ABE49F64, 0x4E772EBAD6DDC73D, 0x4EACFA698C95390C,  // x = 69 .. 72
    0x4EE21C81F7DD43A7, 0x4F16A3A275D49491, 0x4F4C4C8B1349B9B5, 0x4F81AFD6EC0E1412,  // x = 73 .. 76
    0x4FB61BCCA7119916, 0x4FEBA2BFD0D5FF5C, 0x502145B7E285BF99, 0x50559725DB272F7F,  // x = 77 .. 80
    0x508AFCEF51F0FB5F, 0x50C0DE1593369D1B, 0x50F5159AF8044463, 0x512A5B01B605557B,  // x = 81 .. 84
    0x516078E111C3556D, 0x5194971956342AC8, 0x51C9BCDFABC1357A, 0x5200160BCB58C16C,  // x = 85 .. 88
    0x52341B8EBE2EF1C7, 0x526922726DBAAE39, 0x529F6B0F092959C9, 0x52D3A2E965B9D81D,  // x = 89 .. 92
    0x53088BA3BF284E24, 0x533EAE8CAEF261AD, 0x53732D17ED577D0C,  // x = 93 .. 95
};
constexpr uint64_t kLargestFirstPartScaled[] = {
    0x2C7CAB3210BA6531, 0x2CB1EAFF4A747F3E, 0x2CE665BF1D119F0E, 0x2D1BFF2EE45606D2,  // x = -95 .. -92
    0x2D517F7D4EB5C443, 0x2D85DF5CA2633554, 0x2DBB5733CAFC02A9, 0x2DF116805EDD81A9,  // x = -91 .. -88
    0x2E255C207694E214, 0x2E5AB328943A1A9A, 0x2E90AFF95CA4509F, 0x2EC4DBF7B3CD64C8,  // x = -87 .. -84
    0x2EFA12F5A0C0BDFA, 0x2F304BD9847876BC, 0x2F645ECFE596946B, 0x2F997683DEFC3985,  // x = -83 .. -80
    0x2FCFD424D6BB47E7, 0x3003E49706350CF1, 0x3038DDBCC7C2502C, 0x306F152BF9B2E437,  // x = -79 .. -76
    0x30A36D3B7C0FCEA3, 0x30D8488A5B13C24B, 0x310E5AACF1D8B2DE, 0x3142F8AC17276FCB,  // x = -75 .. -72
    0x3177B6D71CF14BBE, 0x31ADA48CE42D9EAD, 0x31E286D80E9C832C, 0x3217288E1243A3F8,  // x = -71 .. -68
    0x324CF2B196D48CF5, 0x328217AEFE44D819, 0x32B69D9ABDD60E20, 0x32EC45016D4B91A7,  // x = -67 .. -64
    0x3321AB20E44F3B09, 0x335615E91D6309CB, 0x338B9B6364BBCC3E, 0x33C1411E1EF55FA7,  // x = -63 .. -60
    0x33F59165A6B2B791, 0x342AF5BF105F6575, 0x3460D9976A3B9F68, 0x34950FFD44CA8743,  // x = -59 .. -56
    0x34CA53FC95FD2914, 0x3500747DDDBE39AC, 0x3534919D552DC817, 0x3569B604AA793A1D,  // x = -55 .. -52
    0x35A011C2EA8BC452, 0x35D41633A52EB567, 0x36091BC08E7A62C0, 0x363F62B0B218FB71,  // x = -51 .. -48
    0x36739DAE6F4F9D26, 0x36A8851A0B238470, 0x36DEA6608DEC658C, 0x371327FC58B3BF77,  // x = -47 .. -44
    0x3747F1FB6EE0AF56, 0x377DEE7A4A98DB2A, 0x37B2B50C6E9F88FA, 0x37E7624F8A476B39,  // x = -43 .. -40
    0x381D3AE36CD94607, 0x385244CE2407CBC5, 0x3886D601AD09BEB7, 0x38BC8B82184C2E63,  // x = -39 .. -36
    0x38F1D7314F2F9CFE, 0x39264CFDA2FB843D, 0x395BE03D0BBA654E, 0x39916C2627547F51,  // x = -35 .. -32
    0x39C5C72FB1299F25, 0x39FB38FB9D7406EE, 0x3A31039D42688454, 0x3A6544849302A569,  // x = -31 .. -28
    0x3A9A95A5B7C34EC4, 0x3AD09D8792DA113B, 0x3B04C4E977909589, 0x3B39F623D574BAEA,  // x = -27 .. -24
    0x3B7039D66568F4D3, 0x3BA4484BFEC33208, 0x3BD95A5EFE73FE89, 0x3C0FB0F6BE10FE2C,  // x = -23 .. -20
    0x3C43CE9A36CA9EDC, 0x3C78C240C47D4692, 0x3CAEF2D0F59C9837, 0x3CE357C29981DF22,  // x = -19 .. -16
    0x3D182DB33FE256EB, 0x3D4E39200FDAECA6, 0x3D82E3B409E8D3E8, 0x3DB79CA10C6308E1,  // x = -15 .. -12
    0x3DED83C94F7BCB19, 0x3E22725DD1AD5EF0, 0x3E570EF54618B6AC, 0x3E8CD2B2979EE458,  // x = -11 .. -8
    0x3EC203AF9EC34EB6, 0x3EF6849B86742264, 0x3F2C25C268112AFE, 0x3F619799810ABADE,  // x = -7 .. -4
    0x3F95FD7FE14D6996, 0x3FCB7CDFD9A0C3FB, 0x40012E0BE8047A7D, 0x4035798EE205991C,  // x = -3 .. 0
    0x406AD7F29A86FF63, 0x40A0C6F7A0945F9E, 0x40D4F8B588B97786, 0x410A36E2EAE7D567,  // x = 1 .. 4
    0x4140624DD2D0E560, 0x41747AE147851EB8, 0x41A9999999666667, 0x41DFFFFFFFC00000,  // x = 5 .. 8
    0x4213FFFFFFD80000, 0x4248FFFFFFCE0000, 0x427F3FFFFFC18000, 0x42B387FFFFD8F000,  // x = 9 .. 12
    0x42E869FFFFCF2C00, 0x431E847FFFC2F700, 0x435312CFFFD9DA60, 0x4387D783FFD050F8,  // x = 13 .. 16
    0x43BDCD64FFC46536, 0x43F2A05F1FDABF42, 0x44274876E7D16F12, 0x445D1A94A1C5CAD7,  // x = 17 .. 20
    0x4492309CE51B9EC6, 0x44C6BCC41E628678, 0x44FC6BF525FB2815, 0x4531C37937BCF90E,  // x = 21 .. 24
    0x4566345785AC3752, 0x459BC16D67174526, 0x45D158E4606E8B37, 0x4605AF1D788A2E05,  // x = 25 .. 28
    0x463B1AE4D6ACB986, 0x4670F0CF062BF3F4, 0x46A52D02C7B6F0F0, 0x46DA784379A4AD2E,  // x = 29 .. 32
    0x47108B2A2C06EC3C, 0x4744ADF4B708A74C, 0x4779D971E4CAD11E, 0x47B027E72EFEC2B3,  // x = 33 .. 36
    0x47E431E0FABE735F, 0x48193E59396E1038, 0x484F8DEF87C99445, 0x4883B8B5B4DDFCAC,  // x = 37 .. 40
    0x48B8A6E322157BD7, 0x48EED09BEA9ADACC, 0x4923426172A0C8BF, 0x495812F9CF48FAEF,  // x = 41 .. 44
    0x498E17B8431B39AA, 0x49C2CED329F1040B, 0x49F78287F46D450E, 0x4A2D6329F1889651,  // x = 45 .. 48
    0x4A625DFA36F55DF3, 0x4A96F578C4B2B56F, 0x4ACCB2D6F5DF62CB, 0x4B01EFC659AB9DBF,  // x = 49 .. 52
    0x4B366BB7F016852F, 0x4B6C06A5EC1C267B, 0x4BA18427B391980D, 0x4BD5E531A075FE10,  // x = 53 .. 56
    0x4C0B5E7E08937D94, 0x4C411B0EC55C2E7B, 0x4C7561D276B33A1B, 0x4CAABA47146008A2,  // x = 57 .. 60
    0x4CE0B46C6CBC0565, 0x4D14E18787EB06BF, 0x4D4A19E969E5C86F, 0x4D805031E22F9D45,  // x = 61 .. 64
    0x4DB4643E5ABB8496, 0x4DE97D4DF16A65BB, 0x4E1FDCA16DC4FF2A, 0x4E53E9E4E49B1F7A,  // x = 65 .. 68
    0x4E88E45E1DC1E75A, 0x4EBF1D75A5326131, 0x4EF37269873F7CBE, 0x4F284F03E90F5BED,  // x = 69 .. 72
    0x4F5E62C4E35332E8, 0x4F92FDBB0E13FFD1, 0x4FC7BD29D198FFC5, 0x4FFDAC7445FF3FB7,  // x = 73 .. 76
    0x50328BC8ABBF87D3, 0x50672EBAD6AF69C7, 0x509CFA698C5B4439, 0x50D21C81F7B90AA3,  // x = 77 .. 80
    0x5106A3A275A74D4C, 0x513C4C8B1311209F, 0x5171AFD6EBEAB464, 0x51A61BCCA6E5617D,  // x = 81 .. 84
    0x51DBA2BFD09EB9DB, 0x521145B7E2633429, 0x52459725DAFC0133, 0x527AFCEF51BB0180,  // x = 85 .. 88
    0x52B0DE159314E0F0, 0x52E5159AF7DA192C, 0x531A5B01B5D09F79, 0x535078E111A263AB,  // x = 89 .. 92
    0x53849719560AFC95, 0x53B9BCDFAB8DBBBB, 0x53F0160BCB389554,  // x = 93 .. 95
};
static_assert(std::size(kTenToTheSeventhScaled) == 191 && std::size(kLargestFirstPartScaled) == 191);

TEST(DoubleExponents, EveryExponentScalesTheMantissaAsWorkedOut) {
  struct FirstPart {
    std::vector<int32_t> digits;
    const uint64_t* bits;
  };
  const FirstPart parts[] = {{{0, 0, 9, 17, 5, 20, 0}, kTenToTheSeventhScaled},
                             {{1, 31, 31, 31, 31, 31, 31}, kLargestFirstPartScaled}};
  for (const FirstPart& part : parts) {
    for (int x = -95; x <= 95; ++x) {
      // h and e as writers set them: |x| >= 32 puts 32 into the low bit of h.
      const int magnitude = x < 0 ? -x : x;
      const int32_t h = (magnitude >= 32 ? 1 : 0) | (x < 0 ? 4 : 0);
      const int32_t e = magnitude >= 32 ? magnitude - 32 : magnitude;
      const std::vector<int32_t> item = concat({{7, h, e}, part.digits, {0, 0, 0, 0, 0, 0, 0}});
      const std::vector<int32_t> words = decode(item, 2, Path::kInPlace);
      ASSERT_EQ(words.size(), 2u) << x;
      EXPECT_EQ(double_bits(words), part.bits[x + 95]) << "x = " << x << ", M1 digits from " << part.digits[0];
    }
  }
}

// ---------------------------------------------------------------------------------------------
// A literal data line: the characters of the test alphabet (A = 0, B = 1, ..., ':' = 47, the mark)
// spelling one item of each kind.

TEST(NeutralText, LiteralLineOfRealsAndDoublesDecodesToTheWorkedOutWords) {
  const std::string items =
      "FABAAOJYOA"         // real 1.5
      "FIAAAJRFUA"         // real -0.1
      "HAAAAJRFUAAAAAAAA"  // double 0.1
      "L"                  // real, all bits set
      "M"                  // double, all bits set
      "E"                  // real zero
      "G"                  // double zero
      "N"                  // double zero of the extended type
      "OMBAAOJYOAAAAAAAA"  // extended double -0.015
      ":";
  const std::string line = " " + items + std::string(79 - items.size(), 'A') + "\n";
  TextReader r(header_line(kAlphabet) + line + " " + std::string(79, 'A') + "\n");
  EXPECT_EQ(record_to_mark(r), (std::vector<int32_t>{
                            0x3FC00000,
                            static_cast<int32_t>(0xBDCCCCCDu),
                            static_cast<int32_t>(0x9999999Au), 0x3FB99999,
                            -1,
                            -1, -1,
                            0,
                            0, 0,
                            0, 0,
                            static_cast<int32_t>(0xEB851EB9u), static_cast<int32_t>(0xBF8EB851u),
                        }));
  EXPECT_EQ(r.messages.str(), "");
}

}  // namespace
