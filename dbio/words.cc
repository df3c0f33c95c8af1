#include "dbio/words.h"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace dbio {

namespace {

// The file side is bytes, the native side 32-bit words; a pair of native words (D, X) is the
// 64-bit value whose low-order half is the first word.

uint32_t load32(const unsigned char* p, bool little) {
  return little ? (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24)
                : (uint32_t{p[3]} | uint32_t{p[2]} << 8 | uint32_t{p[1]} << 16 | uint32_t{p[0]} << 24);
}

void store32(unsigned char* p, uint32_t v, bool little) {
  for (int k = 0; k < 4; ++k) p[little ? k : 3 - k] = static_cast<unsigned char>(v >> (8 * k));
}

uint64_t load64(const unsigned char* p, bool little) {
  uint64_t v = 0;
  for (int k = 0; k < 8; ++k) v |= uint64_t{p[little ? k : 7 - k]} << (8 * k);
  return v;
}

void store64(unsigned char* p, uint64_t v, bool little) {
  for (int k = 0; k < 8; ++k) p[little ? k : 7 - k] = static_cast<unsigned char>(v >> (8 * k));
}

uint32_t get_native(const int32_t* w) {
  uint32_t v;
  std::memcpy(&v, w, 4);
  return v;
}

void put_native(int32_t* w, uint32_t v) { std::memcpy(w, &v, 4); }

constexpr uint32_t kAllOnes32 = 0xFFFFFFFFu;
constexpr uint64_t kAllOnes64 = 0xFFFFFFFFFFFFFFFFull;
constexpr uint32_t kSingleExponent = 0x7F800000u, kSingleMantissa = 0x007FFFFFu, kSingleQuiet = 0x00400000u;
constexpr uint64_t kDoubleExponent = 0x7FF0000000000000ull;
constexpr int kMantissaShift = 52 - 23;

// A single-precision pattern as the double a wide file holds. NaNs keep sign and payload.
uint64_t widen(uint32_t f) {
  if (f == kAllOnes32) return kAllOnes64;
  if ((f & kSingleExponent) == kSingleExponent && (f & kSingleMantissa) != 0) {
    return uint64_t{f >> 31} << 63 | kDoubleExponent | uint64_t{f & kSingleMantissa} << kMantissaShift;
  }
  return std::bit_cast<uint64_t>(static_cast<double>(std::bit_cast<float>(f)));
}

// A double of a wide file narrowed to single precision (rounded to nearest; beyond the single
// range an infinity, or the largest single below the rounding threshold).
uint32_t narrow(uint64_t d) {
  if (d == kAllOnes64) return kAllOnes32;
  const double x = std::bit_cast<double>(d);
  const uint32_t sign = static_cast<uint32_t>(d >> 63) << 31;
  if (std::isnan(x)) {
    uint32_t mantissa = static_cast<uint32_t>(d >> kMantissaShift) & kSingleMantissa;
    return sign | kSingleExponent | (mantissa != 0 ? mantissa : kSingleQuiet);
  }
  const double largest = std::numeric_limits<float>::max();
  if (std::fabs(x) > largest) {
    const double overflow = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);  // halfway to the next power
    if (std::fabs(x) >= overflow) return sign | kSingleExponent;
    return sign | std::bit_cast<uint32_t>(std::numeric_limits<float>::max());
  }
  return std::bit_cast<uint32_t>(static_cast<float>(x));
}

// Where the 8 bytes of a pair lie in its file span (8 bytes, or 16 in a wide file).
int32_t pair_value_offset(int32_t cls, Layout lay) { return cls == kDClass && lay.wide && lay.little ? 8 : 0; }

int32_t effective_class(int32_t cls) { return cls == 1 || cls == 6 ? kIntegerClass : cls; }

}  // namespace

// Reads n native words of class cls. Goes forward and takes each unit's bytes before it stores
// its words, so the native words may overlay the file bytes from the same start.
void read_words(int32_t cls, Layout lay, const unsigned char* f, int32_t* w, int64_t n) {
  const bool pairs = is_pair_class(cls);
  int64_t i = 0;
  if (pairs) {
    const int32_t at = pair_value_offset(cls, lay);
    for (; i + 1 < n; i += 2) {
      const uint64_t v = load64(f + i * lay.bytes + at, lay.little);
      put_native(w + i, static_cast<uint32_t>(v));
      put_native(w + i + 1, static_cast<uint32_t>(v >> 32));
    }
  }
  for (; i < n; ++i) {
    const unsigned char* p = f + i * lay.bytes;
    uint32_t v;
    if (cls == kRealClass && lay.wide) {
      v = narrow(load64(p, lay.little));
    } else if (cls == kCharacterClass) {
      v = load32(p, true);  // characters keep their storage order
    } else if (lay.wide) {
      v = static_cast<uint32_t>(load64(p, lay.little));  // the low-order half
    } else {
      v = load32(p, lay.little);
    }
    put_native(w + i, v);
  }
}

// Writes n native words of class cls. Goes backward, so the file bytes may overlay the native
// words from the same start.
void write_words(int32_t cls, Layout lay, const int32_t* w, unsigned char* f, int64_t n) {
  const bool pairs = is_pair_class(cls);
  const int64_t paired = pairs ? n / 2 * 2 : 0;
  for (int64_t i = n - 1; i >= paired; --i) {
    const uint32_t v = get_native(w + i);
    unsigned char* p = f + i * lay.bytes;
    if (cls == kRealClass && lay.wide) {
      store64(p, widen(v), lay.little);
    } else if (cls == kCharacterClass) {
      store32(p, v, true);
      if (lay.wide) std::memset(p + 4, ' ', 4);
    } else if (lay.wide) {
      store64(p, static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(v))), lay.little);
    } else {
      store32(p, v, lay.little);
    }
  }
  const int32_t at = pair_value_offset(cls, lay);
  for (int64_t i = paired - 2; i >= 0; i -= 2) {
    const uint64_t v = uint64_t{get_native(w + i + 1)} << 32 | get_native(w + i);
    unsigned char* p = f + i * lay.bytes;
    if (lay.wide) std::memset(p + 8 - at, 0, 8);
    store64(p + at, v, lay.little);
  }
}


int32_t conversion_class(int32_t element_type) {
  switch (element_type) {
    case kRealClass:
    case kDClass:
    case kCharacterClass:
    case kXClass: return element_type;
    default: return kIntegerClass;
  }
}

void CNVTYP(Context& ctx, int32_t CLASS, int32_t DIRECTION, int32_t FILTYP, int32_t NWORDS, int64_t FROM,
            int64_t& FROMPOS, int64_t TO, int64_t& TOPOS) {
  if (CLASS < 1 || CLASS > 7 || NWORDS == 0 || (DIRECTION != kRead && DIRECTION != kWrite)) return;
  const int64_t n = std::abs(int64_t{NWORDS});
  const Layout lay = layout_of(FILTYP);
  const int64_t file_bytes = n * lay.bytes;
  const bool read = DIRECTION == kRead;
  const int64_t file_base = read ? FROM : TO, file_pos = read ? FROMPOS : TOPOS;
  const int64_t native_base = read ? TO : FROM, native_pos = read ? TOPOS : FROMPOS;
  // Byte positions stay on word boundaries: every class takes whole file words.
  auto* file = reinterpret_cast<unsigned char*>(ctx.words(file_base + file_pos / 4, file_bytes / 4));
  int32_t* native = ctx.words(native_base + native_pos, n);
  if (read) {
    read_words(effective_class(CLASS), lay, file, native, n);
  } else {
    write_words(effective_class(CLASS), lay, native, file, n);
  }
  if (NWORDS > 0) {
    FROMPOS += read ? file_bytes : n;
    TOPOS += read ? n : file_bytes;
  }
}

void CNVINT(Context& ctx, int32_t DIRECTION, int32_t FILTYP, int32_t NWORDS, int64_t FROM, int64_t& FROMPOS,
            int64_t TO, int64_t& TOPOS) {
  CNVTYP(ctx, kIntegerClass, DIRECTION, FILTYP, NWORDS, FROM, FROMPOS, TO, TOPOS);
}

void CNVCHR(Context& ctx, int32_t DIRECTION, int32_t FILTYP, int32_t NWORDS, int64_t FROM, int64_t& FROMPOS,
            int64_t TO, int64_t& TOPOS) {
  CNVTYP(ctx, kCharacterClass, DIRECTION, FILTYP, NWORDS, FROM, FROMPOS, TO, TOPOS);
}

void CNVINT(Context& ctx, int32_t direction, int32_t filtyp, int32_t nwords, int64_t from, int64_t to) {
  int64_t from_pos = 0, to_pos = 0;
  if (nwords > 0) CNVINT(ctx, direction, filtyp, nwords, from, from_pos, to, to_pos);
}

}  // namespace dbio
