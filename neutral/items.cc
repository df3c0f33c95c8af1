#include "neutral/items.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace neutral {

static_assert(std::endian::native == std::endian::little,
              "two-word items are stored low-order word first, as on a little-endian machine");

namespace {

// 10^x for x = -95 .. 95. An exponent field can reach +-95 (e up to 63 plus 32 from h), so the
// table covers every exponent a value can carry; each entry is the correctly rounded literal.
constexpr double kPowersOfTen[] = {
    1e-95, 1e-94, 1e-93, 1e-92, 1e-91, 1e-90, 1e-89, 1e-88,
    1e-87, 1e-86, 1e-85, 1e-84, 1e-83, 1e-82, 1e-81, 1e-80,
    1e-79, 1e-78, 1e-77, 1e-76, 1e-75, 1e-74, 1e-73, 1e-72,
    1e-71, 1e-70, 1e-69, 1e-68, 1e-67, 1e-66, 1e-65, 1e-64,
    1e-63, 1e-62, 1e-61, 1e-60, 1e-59, 1e-58, 1e-57, 1e-56,
    1e-55, 1e-54, 1e-53, 1e-52, 1e-51, 1e-50, 1e-49, 1e-48,
    1e-47, 1e-46, 1e-45, 1e-44, 1e-43, 1e-42, 1e-41, 1e-40,
    1e-39, 1e-38, 1e-37, 1e-36, 1e-35, 1e-34, 1e-33, 1e-32,
    1e-31, 1e-30, 1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24,
    1e-23, 1e-22, 1e-21, 1e-20, 1e-19, 1e-18, 1e-17, 1e-16,
    1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9, 1e-8,
    1e-7, 1e-6, 1e-5, 1e-4, 1e-3, 1e-2, 1e-1, 1e0,
    1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8,
    1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16,
    1e17, 1e18, 1e19, 1e20, 1e21, 1e22, 1e23, 1e24,
    1e25, 1e26, 1e27, 1e28, 1e29, 1e30, 1e31, 1e32,
    1e33, 1e34, 1e35, 1e36, 1e37, 1e38, 1e39, 1e40,
    1e41, 1e42, 1e43, 1e44, 1e45, 1e46, 1e47, 1e48,
    1e49, 1e50, 1e51, 1e52, 1e53, 1e54, 1e55, 1e56,
    1e57, 1e58, 1e59, 1e60, 1e61, 1e62, 1e63, 1e64,
    1e65, 1e66, 1e67, 1e68, 1e69, 1e70, 1e71, 1e72,
    1e73, 1e74, 1e75, 1e76, 1e77, 1e78, 1e79, 1e80,
    1e81, 1e82, 1e83, 1e84, 1e85, 1e86, 1e87, 1e88,
    1e89, 1e90, 1e91, 1e92, 1e93, 1e94, 1e95,
};
static_assert(sizeof kPowersOfTen / sizeof kPowersOfTen[0] == kMaxExponent - kMinExponent + 1);

constexpr int kRealValues = 10;    // t, h, e, 7 digits
constexpr int kDoubleValues = 17;  // t, h, e, 7 digits, 7 digits
constexpr int kCharValues = 5;     // t, 4 characters
constexpr int kDigitsPerPart = 7;

constexpr int kSignBitOfExponent = 4;  // in h
constexpr int kSignBitOfValue = 8;     // in h
constexpr int kNegativeInteger = 16;   // h > 15: the integer is negated

constexpr int32_t kAllBits = -1;
constexpr int32_t kFourBlanks = 0x20202020;

// Digits combined 5 bits at a time in 32-bit arithmetic; bits shifted out are lost.
inline uint32_t combine(const int32_t* digits, int n) {
  uint32_t r = 0;
  for (int i = 0; i < n; ++i) r = (r << 5) | static_cast<uint32_t>(digits[i]);
  return r;
}

inline int exponent(int32_t h, int32_t e) {
  int x = e + 32 * (h % 2);
  return (h & kSignBitOfExponent) ? -x : x;
}

// Rounds a double to single precision as IEEE conversion does (nearest, ties to even),
// including the overflow to infinity, without relying on an out-of-range conversion.
inline float to_single(double v) {
  constexpr double kOverflow = 0x1.ffffffp127;  // halfway between FLT_MAX and 2^128
  if (std::fabs(v) >= kOverflow) return v > 0 ? HUGE_VALF : -HUGE_VALF;
  return static_cast<float>(v);
}

inline int32_t real_word(const int32_t* v) {
  int32_t h = v[1];
  int32_t m = static_cast<int32_t>(combine(v + 3, kDigitsPerPart));
  double mantissa = static_cast<double>(static_cast<float>(m));
  double value = (power_of_ten(exponent(h, v[2])) * 1.0e-8) * mantissa;
  if (h & kSignBitOfValue) value = 0.0 - value;
  return std::bit_cast<int32_t>(to_single(value));
}

inline void double_words(const int32_t* v, int32_t* out) {
  int32_t h = v[1];
  auto m1 = static_cast<int32_t>(combine(v + 3, kDigitsPerPart));
  auto m2 = static_cast<int32_t>(combine(v + 3 + kDigitsPerPart, kDigitsPerPart));
  double value = (power_of_ten(exponent(h, v[2])) * 1.0e-8) *
                 (static_cast<double>(m1) + static_cast<double>(m2) * 1.0e-7);
  if (h & kSignBitOfValue) value = 0.0 - value;
  std::memcpy(out, &value, sizeof value);
}

constexpr int kLongestItem = kDoubleValues;  // values of the longest item

// Decodes the item whose values start at v, all of them at hand (t is 0 .. 14): stores its
// words in out, sets width to 1 or 2 and returns the number of values it takes.
inline int decode_in_place(const Stream& s, const int32_t* v, int32_t* out, int& width) {
  width = 1;
  switch (v[0]) {
    case 0: case 10: case 11: out[0] = kAllBits; return 1;
    case 1: case 2: case 4: out[0] = 0; return 1;
    case 3: {
      const int n = v[1] % 16;
      uint32_t r = combine(v + 2, n);
      if (v[1] >= kNegativeInteger) r = 0u - r;
      out[0] = static_cast<int32_t>(r);
      return 2 + n;
    }
    case 5: out[0] = real_word(v); return kRealValues;
    case 6: case 13: width = 2; out[0] = out[1] = 0; return 1;
    case 12: width = 2; out[0] = out[1] = kAllBits; return 1;
    case 7: case 14: width = 2; double_words(v, out); return kDoubleValues;
    case 8: out[0] = kFourBlanks; return 1;
    default: {  // 9
      char text[4];
      for (int k = 0; k < 4; ++k) text[k] = s.alphabet_char(v[k + 1]);
      std::memcpy(out, text, 4);
      return kCharValues;
    }
  }
}

// The decoders share one shape: per item, look at the type code; stop at a code of another
// family; otherwise consume the item and store its words.
template <int Width, typename Decode>
inline int decode_items(Stream& s, int n, int32_t* out, int& ndone, Decode decode) {
  for (int i = 0; i < n; ++i) {
    if (!decode(s, out + Width * i)) {
      ndone = i;
      return kEnded;
    }
  }
  ndone = n;
  return kFilled;
}

bool logical_item(Stream& s, int32_t* out) {
  int32_t t = s.peek();
  if (t != 0 && t != 1) return false;
  s.skip();
  *out = t == 0 ? -1 : 0;
  return true;
}

bool integer_item(Stream& s, int32_t* out) {
  switch (s.peek()) {
    case 2: s.skip(); *out = 0; return true;
    case 10: s.skip(); *out = -1; return true;
    case 3: {
      int32_t v[2 + 15];
      s.CVTGET(2, v);
      int n = v[1] % 16;
      s.CVTGET(n, v + 2);
      uint32_t r = combine(v + 2, n);
      if (v[1] >= kNegativeInteger) r = 0u - r;
      *out = static_cast<int32_t>(r);
      return true;
    }
    default: return false;
  }
}

bool real_item(Stream& s, int32_t* out) {
  switch (s.peek()) {
    case 4: s.skip(); *out = 0; return true;
    case 11: s.skip(); *out = kAllBits; return true;
    case 5: {
      int32_t v[kRealValues];
      s.CVTGET(kRealValues, v);
      *out = real_word(v);
      return true;
    }
    default: return false;
  }
}

template <int Zero, int Value, int AllBits>
bool double_item(Stream& s, int32_t* out) {
  int32_t t = s.peek();
  if (t == Zero) {
    s.skip();
    out[0] = out[1] = 0;
  } else if (t == Value) {
    int32_t v[kDoubleValues];
    s.CVTGET(kDoubleValues, v);
    double_words(v, out);
  } else if (AllBits >= 0 && t == AllBits) {
    s.skip();
    out[0] = out[1] = kAllBits;
  } else {
    return false;
  }
  return true;
}

bool char_item(Stream& s, int32_t* out) {
  switch (s.peek()) {
    case 8: s.skip(); *out = kFourBlanks; return true;
    case 9: {
      int32_t v[kCharValues];
      s.CVTGET(kCharValues, v);
      char text[4];
      for (int k = 0; k < 4; ++k) text[k] = s.alphabet_char(v[k + 1]);
      std::memcpy(out, text, 4);
      return true;
    }
    default: return false;
  }
}

}  // namespace

double power_of_ten(int x) { return kPowersOfTen[x - kMinExponent]; }

int32_t real_item_word(const int32_t* values) { return real_word(values); }
void double_item_words(const int32_t* values, int32_t* out) { double_words(values, out); }

int CVTLOG(Stream& s, int n, int32_t* out, int& ndone) { return decode_items<1>(s, n, out, ndone, logical_item); }
int CVTINT(Stream& s, int n, int32_t* out, int& ndone) { return decode_items<1>(s, n, out, ndone, integer_item); }
int CVTREA(Stream& s, int n, int32_t* out, int& ndone) { return decode_items<1>(s, n, out, ndone, real_item); }
int CVTDBL(Stream& s, int n, int32_t* out, int& ndone) { return decode_items<2>(s, n, out, ndone, double_item<6, 7, 12>); }
int CVTDBX(Stream& s, int n, int32_t* out, int& ndone) { return decode_items<2>(s, n, out, ndone, double_item<13, 14, -1>); }
int CVTCHR(Stream& s, int n, int32_t* out, int& ndone) { return decode_items<1>(s, n, out, ndone, char_item); }

namespace {


// Decodes and consumes the next item into item[] and returns its width (1 or 2 words), or
// consumes a record end mark and returns 0 with its value in item[0].
inline int next_token(Stream& s, int32_t* item) {
  const int32_t t = s.peek();
  if (t >= kFirstMark) {
    s.skip();
    item[0] = t;
    return 0;
  }
  int width = 1;
  if (s.available() >= kLongestItem) {
    // The usual case: the whole item lies on the current line.
    s.advance(decode_in_place(s, s.next_values(), item, width));
    return width;
  }
  switch (t) {
    case 0: case 1: logical_item(s, item); return 1;
    case 2: case 3: case 10: integer_item(s, item); return 1;
    case 4: case 5: case 11: real_item(s, item); return 1;
    case 6: case 7: case 12: double_item<6, 7, 12>(s, item); return 2;
    case 13: case 14: double_item<13, 14, -1>(s, item); return 2;
    default: char_item(s, item); return 1;  // 8, 9
  }
}

}  // namespace

void decode_token(Stream& s, Token& token) { token.width = next_token(s, token.words); }

int CVTREC(Stream& s, int /*mode*/, int32_t& nmax, int32_t& nread, std::span<int32_t> buf, int32_t* words) {
  Token token;
  auto take = [&]() -> const Token& {
    token.width = next_token(s, token.words);
    return token;
  };
  return assemble_record(take, s.alphabet_length(), nmax, nread, buf, words);
}

}  // namespace neutral
