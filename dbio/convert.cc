#include "dbio/convert.h"

#include <algorithm>
#include <cstring>

namespace dbio {

namespace {

uint32_t load32(const unsigned char* p, bool little) {
  return little ? (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24)
                : (uint32_t{p[3]} | uint32_t{p[2]} << 8 | uint32_t{p[1]} << 16 | uint32_t{p[0]} << 24);
}

void store32(unsigned char* p, uint32_t v, bool little) {
  for (int k = 0; k < 4; ++k) p[little ? k : 3 - k] = static_cast<unsigned char>(v >> (8 * k));
}

}  // namespace

void CNVINT(Context& ctx, int32_t direction, int32_t filtyp, int32_t nwords, int64_t from, int64_t to) {
  if (nwords <= 0) return;
  const bool little = is_little_endian_layout(filtyp);
  const int32_t width = file_words_per_word(filtyp);  // file words per native word
  const int64_t file_words = int64_t{nwords} * width;
  if (direction == kRead) {
    auto* file = reinterpret_cast<unsigned char*>(ctx.words(from, file_words));
    int32_t* native = ctx.words(to, nwords);
    // Forward: native word i never lies beyond the file bytes of word i, so the same area works.
    for (int32_t i = 0; i < nwords; ++i) {
      const unsigned char* p = file + int64_t{i} * 4 * width;
      uint32_t v = width == 1 ? load32(p, little) : load32(little ? p : p + 4, little);
      std::memcpy(native + i, &v, 4);
    }
  } else {
    const int32_t* native = ctx.words(from, nwords);
    auto* file = reinterpret_cast<unsigned char*>(ctx.words(to, file_words));
    // Backward: file word i never lies before native word i.
    for (int32_t i = nwords - 1; i >= 0; --i) {
      int32_t w;
      std::memcpy(&w, native + i, 4);
      unsigned char* p = file + int64_t{i} * 4 * width;
      if (width == 1) {
        store32(p, static_cast<uint32_t>(w), little);
      } else {
        uint32_t high = w < 0 ? 0xFFFFFFFFu : 0u;
        store32(little ? p : p + 4, static_cast<uint32_t>(w), little);
        store32(little ? p + 4 : p, high, little);
      }
    }
  }
}

void BLKFIX(Context& ctx, int32_t direction, int32_t DBNUM, int32_t /*BLOCK*/, int64_t from, int64_t to,
            int32_t LENGTH) {
  const int32_t filtyp = ctx.grdblk.DBFLTY[DBNUM];
  if (filtyp == 1) {
    std::memmove(ctx.words(to, LENGTH), ctx.words(from, LENGTH), int64_t{LENGTH} * 4);
    return;
  }
  // Every word converts as an integer.
  CNVINT(ctx, direction, filtyp, LENGTH, from, to);
}

}  // namespace dbio
