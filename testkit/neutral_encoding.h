#pragma once
// Encoding of reals and doubles as neutral items, and the decoding a reader
// applies to them.
//
// A real item (type code 5) is 10 values: the code, h, e and seven base-32
// digits of a mantissa M (most significant first, combined in 32-bit
// arithmetic). A double item (7, or 14 for the "X " type) is 17 values: the code,
// h, e, seven digits of M1 and seven digits of M2. With
//
//   x = e + 32 * (h mod 2), negated when h has the bit of value 4,
//   P(x) = 10^x as the correctly rounded double of its decimal literal,
//
// the reader computes, in double precision,
//
//   real:   float((P(x) * 1.0e-8) * double(float(M)))
//   double: (P(x) * 1.0e-8) * (double(M1) + double(M2) * 1.0e-7)
//
// and takes 0.0 - value when h has the bit of value 8. Zero and all-ones
// patterns have one-value items of their own (4 and 11 for reals, 6 and 12 for
// doubles, 13 for the "X " zero).
//
// encode_real and encode_double search for (x, M) or (x, M1, M2) whose decoding
// by exactly these formulas gives back the bits asked for; every result is
// checked with decode_real / decode_double before it is returned.
//
// Coverage: the formulas cannot reach every value. A real's mantissa passes
// through float(M), so for a given x only every so many floats are hit; about
// 99% of random normal floats have an encoding (2.26637e-10, bits
// 0x1.f2612cp-33, has none for any x and M), as do all subnormal floats and the
// infinities. A double needs M1 + M2 * 1.0e-7 to land on the one double that
// scales to the target: about 78% of doubles spread evenly over 1e-90 .. 1e90
// in magnitude have an encoding; short decimals fare better (about 99.99% of
// 6-digit and 99.9% of 8-digit ones, 93% of 15-digit ones). Never encodable:
// -0.0, NaNs other than the all-ones pattern, double infinities and doubles
// outside about 1e-110 .. 2e96 in magnitude.

#include <array>
#include <cstdint>
#include <optional>

namespace support {

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
inline constexpr int kFirstEndMark = 15;   // 15 .. 63 end a record
inline constexpr int kLastValue = 63;

// Exponents the items can carry: e is 0..63, plus 32 from h.
inline constexpr int kMinExponent = -95;
inline constexpr int kMaxExponent = 95;

// Most values one item takes: a double.
inline constexpr int kMaxItemValues = 17;

// P(x) of the decoding formulas. REQUIRES: kMinExponent <= x <= kMaxExponent.
double power_of_ten(int x);

// The payload of one real or double item. For the one-value codes only `code`
// matters.
struct Encoding {
  int code = 0;
  int h = 0;
  int e = 0;
  int32_t m1 = 0;  // M of a real, M1 of a double
  int32_t m2 = 0;  // M2 of a double

  int exponent() const;  // x

  // The item's values in stream order, type code first; returns their count.
  int values(std::array<int, kMaxItemValues>& out) const;

  bool operator==(const Encoding&) const = default;
};

// An item of `code` (5, 7 or 14) for exponent x and the sign of the value, with h
// and e as writers set them: |x| >= 32 sets the low bit of h and leaves
// |x| - 32 in e. REQUIRES: kMinExponent <= x <= kMaxExponent.
Encoding make_encoding(int code, int x, bool negative, int32_t m1, int32_t m2 = 0);

// The reader's decoding of a real (codes 4, 5, 11) and a double (6, 7, 12, 13, 14).
float decode_real(const Encoding& enc);
double decode_double(const Encoding& enc);

// An encoding whose decoding has exactly the bits of `value`, or nothing.
// Doubles get codes 6, 7 or 12; a writer of "X " items maps 6 to 13 and 7 to 14.
std::optional<Encoding> encode_real(float value);
std::optional<Encoding> encode_double(double value);

}  // namespace support
