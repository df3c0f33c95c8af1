// The kit's reference decoder: known items decode to known values, and on random items it agrees
// bit for bit with the reader's own decoding, so that tests may judge encodings by it.

#include "testkit/neutral_encoding.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <random>

#include "neutral/items.h"

namespace support {
namespace {

TEST(ReferenceDecoderTest, FlagsOfHSetTheSignsAndTheHighExponent) {
  // 0.12345678 * 10^1.
  EXPECT_EQ(decode_real(Encoding{kCodeReal, 0, 1, 12345678, 0}), 1.2345678f);
  // h = 12: negative exponent and negative value.
  EXPECT_EQ(decode_real(Encoding{kCodeReal, 12, 1, 12345678, 0}), static_cast<float>(-1.2345678e-2));
  // e = 6 with h odd is x = 38; h = 5 is x = -38.
  EXPECT_EQ(decode_real(Encoding{kCodeReal, 1, 6, 10000000, 0}), 1e37f);
  EXPECT_EQ(decode_real(Encoding{kCodeReal, 5, 6, 10000000, 0}), 1e-39f);
  // M2 continues M1 after eight digits: 0.100000005 * 10^1.
  EXPECT_EQ(decode_double(Encoding{kCodeDouble, 0, 1, 15000000, 0}), 1.5);
  EXPECT_DOUBLE_EQ(decode_double(Encoding{kCodeDouble, 0, 1, 10000000, 5000000}), 1.00000005);
  EXPECT_EQ(decode_double(Encoding{kCodeDoubleX, 8, 0, 50000000, 0}), -0.5);
}

TEST(ReferenceDecoderTest, OneValueCodesDecodeToZeroOrAllOnes) {
  EXPECT_EQ(std::bit_cast<uint32_t>(decode_real(Encoding{kCodeRealZero})), 0u);
  EXPECT_EQ(std::bit_cast<uint32_t>(decode_real(Encoding{kCodeRealAllOnes})), 0xFFFFFFFFu);
  EXPECT_EQ(std::bit_cast<uint64_t>(decode_double(Encoding{kCodeDoubleZero})), 0u);
  EXPECT_EQ(std::bit_cast<uint64_t>(decode_double(Encoding{kCodeDoubleXZero})), 0u);
  EXPECT_EQ(std::bit_cast<uint64_t>(decode_double(Encoding{kCodeDoubleAllOnes})), ~uint64_t{0});
}

// Any h, e and mantissa bits, including mantissas with the sign bit set and exponents whose
// values overflow to infinity or vanish.
TEST(ReferenceDecoderTest, AgreesWithTheReaderOnRandomItems) {
  std::mt19937_64 rng(4242);
  for (int i = 0; i < 200000; ++i) {
    const bool dbl = (i & 1) != 0;
    Encoding enc{dbl ? kCodeDouble : kCodeReal, static_cast<int>(rng() % 64), static_cast<int>(rng() % 64),
                 static_cast<int32_t>(rng()), dbl ? static_cast<int32_t>(rng()) : 0};
    // Small mantissas too, where single-precision rounding of M does not hide the low digits.
    if (i % 3 == 0) enc.m1 &= 0xFFFFFF;
    std::array<int32_t, kMaxItemValues> values{};
    enc.values(values);
    if (dbl) {
      int32_t words[2];
      neutral::double_item_words(values.data(), words);
      const uint64_t reader = static_cast<uint32_t>(words[0]) | uint64_t{static_cast<uint32_t>(words[1])} << 32;
      ASSERT_EQ(std::bit_cast<uint64_t>(decode_double(enc)), reader) << enc.h << " " << enc.e << " " << enc.m1;
    } else {
      ASSERT_EQ(std::bit_cast<uint32_t>(decode_real(enc)),
                static_cast<uint32_t>(neutral::real_item_word(values.data())))
          << enc.h << " " << enc.e << " " << enc.m1;
    }
  }
}

}  // namespace
}  // namespace support
