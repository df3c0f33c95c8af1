#include "neutral/item_encoding.h"

#include <bit>
#include <cmath>
#include <initializer_list>
#include <limits>

namespace neutral {

namespace {

constexpr int kDigitsPerMantissa = 7;
constexpr int kBitsPerDigit = 5;
constexpr uint32_t kDigitMask = 31;
constexpr int kNegativeInteger = 16;  // added to h of a negative integer
constexpr int kExponentHigh = 32;     // exponent added by bit kFlagHighExponent of h
constexpr int kFlagHighExponent = 1;
constexpr int kFlagNegativeExponent = 4;
constexpr int kFlagNegativeValue = 8;

constexpr double kMantissaScale = 1.0e-8;        // M is read as 0.M, eight digits
constexpr double kLowMantissaScale = 1.0e-7;     // M2 follows the eight digits of M1
constexpr double kLowMantissaStep = 1.0e7;       // one unit of M1 in units of M2
constexpr double kMantissaLimit = 2147483647.0;  // largest mantissa kept positive

constexpr uint32_t kRealAllOnesBits = 0xFFFFFFFFu;
constexpr uint64_t kDoubleAllOnesBits = ~uint64_t{0};

// A scale P(x) * 1.0e-8 as the reader computes it.
double scale_of(int x) { return power_of_ten(x) * kMantissaScale; }

// The bits the reader makes of an item of code 5 and of code 7 or 14.
uint32_t read_back_real(const Encoding& enc) {
  std::array<int32_t, kMaxItemValues> values{};
  enc.values(values);
  return static_cast<uint32_t>(real_item_word(values.data()));
}

uint64_t read_back_double(const Encoding& enc) {
  std::array<int32_t, kMaxItemValues> values{};
  enc.values(values);
  int32_t words[2];
  double_item_words(values.data(), words);
  return static_cast<uint64_t>(static_cast<uint32_t>(words[0])) |
         static_cast<uint64_t>(static_cast<uint32_t>(words[1])) << 32;
}

std::optional<Encoding> try_real(uint32_t target, int x, bool negative, double mantissa) {
  if (!(mantissa >= 0.0) || mantissa > kMantissaLimit) return std::nullopt;
  Encoding enc = make_encoding(kCodeReal, x, negative, static_cast<int32_t>(mantissa));
  if (read_back_real(enc) != target) return std::nullopt;
  return enc;
}

// Mantissas worth trying for the exact quotient m: the integers next to it and, above 2^24
// where a float holds only some integers, the floats next to it.
template <typename Try>
std::optional<Encoding> search_real_mantissas(double m, Try try_one) {
  constexpr double kExactIntegers = 16777216.0;  // 2^24
  if (m < kExactIntegers) {
    double base = std::floor(m);
    for (double d : {0.0, 1.0, -1.0, 2.0, -2.0}) {
      if (auto enc = try_one(base + d)) return enc;
    }
    return std::nullopt;
  }
  float f = static_cast<float>(m);
  float down = f, up = f;
  if (auto enc = try_one(f)) return enc;
  for (int step = 0; step < 3; ++step) {
    down = std::nextafter(down, 0.0f);
    up = std::nextafter(up, std::numeric_limits<float>::infinity());
    if (auto enc = try_one(down)) return enc;
    if (auto enc = try_one(up)) return enc;
  }
  return std::nullopt;
}

std::optional<Encoding> try_double(uint64_t target, int x, bool negative, double m1, double m2) {
  if (m1 < 0.0 || m1 > kMantissaLimit || m2 < -kMantissaLimit || m2 > kMantissaLimit) {
    return std::nullopt;
  }
  Encoding enc = make_encoding(kCodeDouble, x, negative, static_cast<int32_t>(m1),
                               static_cast<int32_t>(m2));
  if (read_back_double(enc) != target) return std::nullopt;
  return enc;
}

// Splits the exact quotient s into M1 + M2 * 1.0e-7 and tries the neighbours of that split,
// also moved by one unit of M1 (which changes how the sum rounds).
std::optional<Encoding> search_double_mantissas(uint64_t target, int x, bool negative, double s) {
  double m1 = std::floor(s);
  if (m1 > kMantissaLimit) m1 = kMantissaLimit;
  double m2 = std::nearbyint((s - m1) * kLowMantissaStep);
  for (double shift : {0.0, 1.0, -1.0}) {
    for (double d : {0.0, 1.0, -1.0, 2.0, -2.0}) {
      if (auto enc = try_double(target, x, negative, m1 - shift, m2 + d + shift * kLowMantissaStep)) {
        return enc;
      }
    }
  }
  return std::nullopt;
}

// The exponent that gives a decimal value eight significant digits in front of the point of M:
// the form a writer of decimal data uses, tried first.
int natural_exponent(double magnitude) { return static_cast<int>(std::floor(std::log10(magnitude))) + 1; }

}  // namespace

int integer_values(int32_t word, int32_t* out) {
  if (word == 0) {
    out[0] = kCodeIntegerZero;
    return 1;
  }
  if (word == -1) {
    out[0] = kCodeMinusOne;
    return 1;
  }
  const uint32_t magnitude = word < 0 ? 0u - static_cast<uint32_t>(word) : static_cast<uint32_t>(word);
  const int digits = (std::bit_width(magnitude) + kBitsPerDigit - 1) / kBitsPerDigit;
  out[0] = kCodeInteger;
  out[1] = digits + (word < 0 ? kNegativeInteger : 0);
  for (int i = 0; i < digits; ++i) {
    out[2 + i] = static_cast<int32_t>((magnitude >> (kBitsPerDigit * (digits - 1 - i))) & kDigitMask);
  }
  return 2 + digits;
}

Encoding make_encoding(int code, int x, bool negative, int32_t m1, int32_t m2) {
  Encoding enc;
  enc.code = code;
  int magnitude = x < 0 ? -x : x;
  if (magnitude >= kExponentHigh) {
    enc.h |= kFlagHighExponent;
    magnitude -= kExponentHigh;
  }
  if (x < 0) enc.h |= kFlagNegativeExponent;
  if (negative) enc.h |= kFlagNegativeValue;
  enc.e = magnitude;
  enc.m1 = m1;
  enc.m2 = m2;
  return enc;
}

int Encoding::exponent() const {
  int x = e + kExponentHigh * (h % 2);
  return (h & kFlagNegativeExponent) != 0 ? -x : x;
}

int Encoding::values(std::array<int32_t, kMaxItemValues>& out) const {
  int n = 0;
  out[n++] = code;
  if (code != kCodeReal && code != kCodeDouble && code != kCodeDoubleX) return n;
  out[n++] = h;
  out[n++] = e;
  auto digits = [&](int32_t m) {
    const auto bits = static_cast<uint32_t>(m);
    for (int i = kDigitsPerMantissa - 1; i >= 0; --i) {
      out[n++] = static_cast<int32_t>((bits >> (kBitsPerDigit * i)) & kDigitMask);
    }
  };
  digits(m1);
  if (code != kCodeReal) digits(m2);
  return n;
}

std::optional<Encoding> encode_real(float value) {
  const auto bits = std::bit_cast<uint32_t>(value);
  if (bits == 0) return Encoding{.code = kCodeRealZero};
  if (bits == kRealAllOnesBits) return Encoding{.code = kCodeRealAllOnes};
  if (std::isnan(value)) return std::nullopt;
  const bool negative = std::signbit(value);
  if (std::isinf(value)) {
    // Any value beyond the float range rounds to infinity.
    return try_real(bits, kMaxExponent, negative, 1.0);
  }
  const double target = std::fabs(static_cast<double>(value));
  if (target == 0.0) return std::nullopt;  // -0.0: 0.0 - 0.0 is +0.0
  auto search = [&](int x) {
    return search_real_mantissas(target / scale_of(x),
                                 [&](double m) { return try_real(bits, x, negative, m); });
  };
  const int natural = natural_exponent(target);
  for (int x : {natural, natural - 1, natural + 1}) {
    if (x < kMinExponent || x > kMaxExponent) continue;
    const double m = target / scale_of(x);
    if (m < 1.0e7 || m >= 1.0e8) continue;
    if (auto enc = search(x)) return enc;
  }
  // Otherwise the longest mantissas first.
  for (int x = kMinExponent; x <= kMaxExponent; ++x) {
    const double m = target / scale_of(x);
    if (m > kMantissaLimit) continue;
    if (m < 1.0) break;
    if (auto enc = search(x)) return enc;
  }
  return std::nullopt;
}

std::optional<Encoding> encode_double(double value) {
  const auto bits = std::bit_cast<uint64_t>(value);
  if (bits == 0) return Encoding{.code = kCodeDoubleZero};
  if (bits == kDoubleAllOnesBits) return Encoding{.code = kCodeDoubleAllOnes};
  if (!std::isfinite(value) || value == 0.0) return std::nullopt;
  const bool negative = std::signbit(value);
  const double target = std::fabs(value);
  const int natural = natural_exponent(target);
  for (int x : {natural, natural - 1, natural + 1}) {
    if (x < kMinExponent || x > kMaxExponent) continue;
    const double s = target / scale_of(x);
    if (s < 1.0e7 || s >= 1.0e8) continue;
    if (auto enc = search_double_mantissas(bits, x, negative, s)) return enc;
  }
  constexpr double kSumLimit = kMantissaLimit + kMantissaLimit * kLowMantissaScale;
  for (int x = kMinExponent; x <= kMaxExponent; ++x) {
    const double s = target / scale_of(x);
    if (s > kSumLimit) continue;
    if (s < kLowMantissaScale) break;
    if (auto enc = search_double_mantissas(bits, x, negative, s)) return enc;
  }
  return std::nullopt;
}

}  // namespace neutral
