#include "testkit/neutral_encoding.h"

#include <bit>
#include <cstdint>

namespace support {

namespace {

constexpr int kExponentHigh = 32;             // added to e by bit kFlagHighExponent of h
constexpr int kFlagHighExponent = 1;          // in h
constexpr int kFlagNegativeExponent = 4;      // in h
constexpr int kFlagNegativeValue = 8;         // in h
constexpr double kMantissaScale = 1.0e-8;     // M is read as 0.M, eight digits
constexpr double kLowMantissaScale = 1.0e-7;  // M2 follows the eight digits of M1

constexpr uint32_t kRealAllOnesBits = 0xFFFFFFFFu;
constexpr uint64_t kDoubleAllOnesBits = ~uint64_t{0};

// P(x) * 1.0e-8 for the exponent x that h and e give.
double scale_of(const Encoding& enc) {
  int x = enc.e + ((enc.h & kFlagHighExponent) != 0 ? kExponentHigh : 0);
  if ((enc.h & kFlagNegativeExponent) != 0) x = -x;
  return power_of_ten(x) * kMantissaScale;
}

}  // namespace

float decode_real(const Encoding& enc) {
  switch (enc.code) {
    case kCodeRealZero:
      return 0.0f;
    case kCodeRealAllOnes:
      return std::bit_cast<float>(kRealAllOnesBits);
    default:
      break;
  }
  double value = scale_of(enc) * static_cast<double>(static_cast<float>(enc.m1));
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
  double value = scale_of(enc) *
                 (static_cast<double>(enc.m1) + static_cast<double>(enc.m2) * kLowMantissaScale);
  if ((enc.h & kFlagNegativeValue) != 0) value = 0.0 - value;
  return value;
}

}  // namespace support
