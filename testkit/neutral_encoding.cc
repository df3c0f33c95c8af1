#include "testkit/neutral_encoding.h"

#include <bit>
#include <cmath>
#include <initializer_list>
#include <limits>

namespace support {

namespace {

// 10^x for x = kMinExponent .. kMaxExponent, each the correctly rounded double
// of its decimal literal.
constexpr double kPowersOfTen[] = {
    1e-95, 1e-94, 1e-93, 1e-92, 1e-91, 1e-90, 1e-89, 1e-88, 1e-87, 1e-86,
    1e-85, 1e-84, 1e-83, 1e-82, 1e-81, 1e-80, 1e-79, 1e-78, 1e-77, 1e-76,
    1e-75, 1e-74, 1e-73, 1e-72, 1e-71, 1e-70, 1e-69, 1e-68, 1e-67, 1e-66,
    1e-65, 1e-64, 1e-63, 1e-62, 1e-61, 1e-60, 1e-59, 1e-58, 1e-57, 1e-56,
    1e-55, 1e-54, 1e-53, 1e-52, 1e-51, 1e-50, 1e-49, 1e-48, 1e-47, 1e-46,
    1e-45, 1e-44, 1e-43, 1e-42, 1e-41, 1e-40, 1e-39, 1e-38, 1e-37, 1e-36,
    1e-35, 1e-34, 1e-33, 1e-32, 1e-31, 1e-30, 1e-29, 1e-28, 1e-27, 1e-26,
    1e-25, 1e-24, 1e-23, 1e-22, 1e-21, 1e-20, 1e-19, 1e-18, 1e-17, 1e-16,
    1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8, 1e-7, 1e-6,
    1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2, 1e3, 1e4,
    1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14,
    1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22, 1e23, 1e24,
    1e25, 1e26, 1e27, 1e28, 1e29, 1e30, 1e31, 1e32, 1e33, 1e34,
    1e35, 1e36, 1e37, 1e38, 1e39, 1e40, 1e41, 1e42, 1e43, 1e44,
    1e45, 1e46, 1e47, 1e48, 1e49, 1e50, 1e51, 1e52, 1e53, 1e54,
    1e55, 1e56, 1e57, 1e58, 1e59, 1e60, 1e61, 1e62, 1e63, 1e64,
    1e65, 1e66, 1e67, 1e68, 1e69, 1e70, 1e71, 1e72, 1e73, 1e74,
    1e75, 1e76, 1e77, 1e78, 1e79, 1e80, 1e81, 1e82, 1e83, 1e84,
    1e85, 1e86, 1e87, 1e88, 1e89, 1e90, 1e91, 1e92, 1e93, 1e94,
    1e95,
};
static_assert(std::size(kPowersOfTen) == kMaxExponent - kMinExponent + 1);

constexpr int kDigitsPerMantissa = 7;
constexpr int kBitsPerDigit = 5;
constexpr int kExponentHigh = 32;     // exponent added by bit kFlagHighExponent of h
constexpr int kFlagHighExponent = 1;
constexpr int kFlagNegativeExponent = 4;
constexpr int kFlagNegativeValue = 8;

constexpr double kMantissaScale = 1.0e-8;     // M is read as 0.M, eight digits
constexpr double kLowMantissaScale = 1.0e-7;  // M2 follows the eight digits of M1
constexpr double kLowMantissaStep = 1.0e7;    // one unit of M1 in units of M2
constexpr double kMantissaLimit = 2147483647.0;  // largest mantissa kept positive

constexpr uint32_t kRealAllOnesBits = 0xFFFFFFFFu;
constexpr uint64_t kDoubleAllOnesBits = ~uint64_t{0};

// A scale P(x) * 1.0e-8 as the reader computes it.
double scale_of(int x) { return power_of_ten(x) * kMantissaScale; }

std::optional<Encoding> try_real(uint32_t target, int x, bool negative, double mantissa) {
  if (!(mantissa >= 0.0) || mantissa > kMantissaLimit) return std::nullopt;
  Encoding enc = make_encoding(kCodeReal, x, negative, static_cast<int32_t>(mantissa));
  if (std::bit_cast<uint32_t>(decode_real(enc)) != target) return std::nullopt;
  return enc;
}

// Mantissas worth trying for the exact quotient m: the integers next to it and,
// above 2^24 where a float holds only some integers, the floats next to it.
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
  if (std::bit_cast<uint64_t>(decode_double(enc)) != target) return std::nullopt;
  return enc;
}

// Splits the exact quotient s into M1 + M2 * 1.0e-7 and tries the neighbours of
// that split, also moved by one unit of M1 (which changes how the sum rounds).
std::optional<Encoding> search_double_mantissas(uint64_t target, int x, bool negative,
                                                double s) {
  double m1 = std::floor(s);
  if (m1 > kMantissaLimit) m1 = kMantissaLimit;
  double m2 = std::nearbyint((s - m1) * kLowMantissaStep);
  for (double shift : {0.0, 1.0, -1.0}) {
    for (double d : {0.0, 1.0, -1.0, 2.0, -2.0}) {
      if (auto enc = try_double(target, x, negative, m1 - shift,
                                m2 + d + shift * kLowMantissaStep)) {
        return enc;
      }
    }
  }
  return std::nullopt;
}

}  // namespace

double power_of_ten(int x) { return kPowersOfTen[x - kMinExponent]; }

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

int Encoding::values(std::array<int, kMaxItemValues>& out) const {
  int n = 0;
  out[n++] = code;
  if (code != kCodeReal && code != kCodeDouble && code != kCodeDoubleX) return n;
  out[n++] = h;
  out[n++] = e;
  auto digits = [&](int32_t m) {
    uint32_t bits = static_cast<uint32_t>(m);
    for (int i = kDigitsPerMantissa - 1; i >= 0; --i) {
      out[n++] = static_cast<int>((bits >> (kBitsPerDigit * i)) & 31u);
    }
  };
  digits(m1);
  if (code != kCodeReal) digits(m2);
  return n;
}

float decode_real(const Encoding& enc) {
  switch (enc.code) {
    case kCodeRealZero:
      return 0.0f;
    case kCodeRealAllOnes:
      return std::bit_cast<float>(kRealAllOnesBits);
    default:
      break;
  }
  double value = scale_of(enc.exponent()) *
                 static_cast<double>(static_cast<float>(enc.m1));
  if ((enc.h & kFlagNegativeValue) != 0) value = 0.0 - value;
  return static_cast<float>(value);
}

double decode_double(const Encoding& enc) {
  switch (enc.code) {
    case kCodeDoubleZero:
    case kCodeDoubleXZero:
      return 0.0;
    case kCodeDoubleAllOnes:
      return std::bit_cast<double>(kDoubleAllOnesBits);
    default:
      break;
  }
  double value = scale_of(enc.exponent()) *
                 (static_cast<double>(enc.m1) +
                  static_cast<double>(enc.m2) * kLowMantissaScale);
  if ((enc.h & kFlagNegativeValue) != 0) value = 0.0 - value;
  return value;
}

std::optional<Encoding> encode_real(float value) {
  uint32_t bits = std::bit_cast<uint32_t>(value);
  if (bits == 0) return Encoding{.code = kCodeRealZero};
  if (bits == kRealAllOnesBits) return Encoding{.code = kCodeRealAllOnes};
  if (std::isnan(value)) return std::nullopt;
  bool negative = std::signbit(value);
  if (std::isinf(value)) {
    // Any value beyond the float range rounds to infinity.
    return try_real(bits, kMaxExponent, negative, 1.0);
  }
  double target = std::fabs(static_cast<double>(value));
  if (target == 0.0) return std::nullopt;  // -0.0: 0.0 - 0.0 is +0.0
  auto search = [&](int x) {
    return search_real_mantissas(target / scale_of(x), [&](double m) {
      return try_real(bits, x, negative, m);
    });
  };
  // The form a writer of decimal data uses first: eight significant digits.
  int natural = static_cast<int>(std::floor(std::log10(target))) + 1;
  for (int x : {natural, natural - 1, natural + 1}) {
    if (x < kMinExponent || x > kMaxExponent) continue;
    double m = target / scale_of(x);
    if (m < 1.0e7 || m >= 1.0e8) continue;
    if (auto enc = search(x)) return enc;
  }
  // Otherwise the longest mantissas first.
  for (int x = kMinExponent; x <= kMaxExponent; ++x) {
    double m = target / scale_of(x);
    if (m > kMantissaLimit) continue;
    if (m < 1.0) break;
    if (auto enc = search(x)) return enc;
  }
  return std::nullopt;
}

std::optional<Encoding> encode_double(double value) {
  uint64_t bits = std::bit_cast<uint64_t>(value);
  if (bits == 0) return Encoding{.code = kCodeDoubleZero};
  if (bits == kDoubleAllOnesBits) return Encoding{.code = kCodeDoubleAllOnes};
  if (!std::isfinite(value) || value == 0.0) return std::nullopt;
  bool negative = std::signbit(value);
  double target = std::fabs(value);
  int natural = static_cast<int>(std::floor(std::log10(target))) + 1;
  for (int x : {natural, natural - 1, natural + 1}) {
    if (x < kMinExponent || x > kMaxExponent) continue;
    double s = target / scale_of(x);
    if (s < 1.0e7 || s >= 1.0e8) continue;
    if (auto enc = search_double_mantissas(bits, x, negative, s)) return enc;
  }
  constexpr double kSumLimit = kMantissaLimit + kMantissaLimit * kLowMantissaScale;
  for (int x = kMinExponent; x <= kMaxExponent; ++x) {
    double s = target / scale_of(x);
    if (s > kSumLimit) continue;
    if (s < kLowMantissaScale) break;
    if (auto enc = search_double_mantissas(bits, x, negative, s)) return enc;
  }
  return std::nullopt;
}

}  // namespace support
