#pragma once
// Encoding of words as neutral items: the writer's side of items.h.
//
// An integer item is t = 3, h = n (+16 when the word is negative) and the n base-32 digits of
// its magnitude, most significant first; n is as small as the magnitude allows (1 .. 7). 0 and -1
// have items of one value (codes 2 and 10).
//
// A real item (code 5) is 10 values: t, h, e and seven digits of a mantissa M. A double item (7,
// or 14 for the "X " type) is 17 values: t, h, e, seven digits of M1 and seven of M2. The digits
// are combined in 32-bit arithmetic, so a mantissa is any 32-bit pattern. With
//
//   x = e + 32 * (h mod 2), negated when h has the bit of value 4,
//   P(x) = 10^x as the correctly rounded double of its decimal literal (power_of_ten),
//
// the reader computes, in double precision,
//
//   real:   float((P(x) * 1.0e-8) * double(float(M)))
//   double: (P(x) * 1.0e-8) * (double(M1) + double(M2) * 1.0e-7)
//
// and takes 0.0 - value when h has the bit of value 8. Zero and all-ones patterns have one-value
// items of their own (4 and 11 for reals, 6 and 12 for doubles, 13 for the "X " zero).
//
// encode_real and encode_double search for (x, M) or (x, M1, M2) whose decoding gives back the
// bits asked for; each candidate is decoded by the reader itself (real_item_word,
// double_item_words) before it is returned, so an encoding that is returned reads back exactly.
//
// Coverage: the formulas cannot reach every value. A real's mantissa passes through float(M), so
// for a given x only every so many floats are hit; about 99% of random normal floats have an
// encoding (2.26637e-10, bits 0x1.f2612cp-33, has none for any x and M, nor has the largest
// float), as do all subnormal floats and the infinities. A double needs M1 + M2 * 1.0e-7 to land on the one double that
// scales to the target: about 78% of doubles spread evenly over 1e-90 .. 1e90 in magnitude have
// an encoding; short decimals fare better (about 99.99% of 6-digit and 99.9% of 8-digit ones, 93%
// of 15-digit ones). Never encodable: -0.0, NaNs other than the all-ones pattern, double
// infinities and doubles outside about 1e-110 .. 2e96 in magnitude. A writer that must keep
// every bit writes such words as integer items.

#include <array>
#include <cstdint>
#include <optional>

#include "neutral/items.h"

namespace neutral {

// Item type codes.
inline constexpr int kCodeTrue = 0;
inline constexpr int kCodeFalse = 1;
inline constexpr int kCodeIntegerZero = 2;
inline constexpr int kCodeInteger = 3;
inline constexpr int kCodeRealZero = 4;
inline constexpr int kCodeReal = 5;
inline constexpr int kCodeDoubleZero = 6;
inline constexpr int kCodeDouble = 7;
inline constexpr int kCodeBlanks = 8;
inline constexpr int kCodeChars = 9;
inline constexpr int kCodeMinusOne = 10;
inline constexpr int kCodeRealAllOnes = 11;
inline constexpr int kCodeDoubleAllOnes = 12;
inline constexpr int kCodeDoubleXZero = 13;
inline constexpr int kCodeDoubleX = 14;
// kFirstMark (items.h) .. kLastValue end a record.
inline constexpr int kLastValue = 63;

// Most values one item takes: a double; an integer takes at most 9.
inline constexpr int kMaxItemValues = 17;
inline constexpr int kMaxIntegerValues = 9;

// The values of the integer item of `word`, type code first, into out; returns their count
// (1 .. kMaxIntegerValues). INT32_MIN is h = 23 and the digits of 2^31.
int integer_values(int32_t word, int32_t* out);

// The payload of one real or double item. For the one-value codes only `code` matters.
struct Encoding {
  int code = 0;
  int h = 0;
  int e = 0;
  int32_t m1 = 0;  // M of a real, M1 of a double
  int32_t m2 = 0;  // M2 of a double

  int exponent() const;  // x

  // The item's values in stream order, type code first; returns their count.
  int values(std::array<int32_t, kMaxItemValues>& out) const;

  bool operator==(const Encoding&) const = default;
};

// An item of `code` (5, 7 or 14) for exponent x and the sign of the value, with h and e as
// writers set them: |x| >= 32 sets the low bit of h and leaves |x| - 32 in e.
// REQUIRES: kMinExponent <= x <= kMaxExponent.
Encoding make_encoding(int code, int x, bool negative, int32_t m1, int32_t m2 = 0);

// An encoding whose decoding by the reader has exactly the bits of `value`, or nothing.
// Doubles get codes 6, 7 or 12; a writer of "X " items maps 6 to 13 and 7 to 14.
std::optional<Encoding> encode_real(float value);
std::optional<Encoding> encode_double(double value);

}  // namespace neutral
