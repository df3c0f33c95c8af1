#pragma once
// Conversion of blocks between a file's word layout and native words.
//
// File types (DBFLTY), read as flags: bit 1 set = little-endian words, clear = big-endian;
// bit 2 set = every native 32-bit word takes 8 bytes in the file. Type 1 is the native layout
// (32-bit little-endian) and is never converted.

#include <cstdint>

#include "dbio/context.h"

namespace dbio {

inline constexpr int32_t kRead = 1;   // file bytes to native words
inline constexpr int32_t kWrite = 2;  // native words to file bytes

inline constexpr bool is_little_endian_layout(int32_t filtyp) { return (filtyp & 1) != 0; }
inline constexpr bool is_wide_layout(int32_t filtyp) { return (filtyp & 2) != 0; }
inline constexpr int32_t file_words_per_word(int32_t filtyp) { return is_wide_layout(filtyp) ? 2 : 1; }

// Converts NWORDS integers between the file-side buffer and the native buffer, both given as pool
// indices (FROM is the source, TO the target; they may be the same area). Reading an 8-byte
// layout keeps the low-order 4 bytes of each word; writing one sign-extends to 8 bytes.
void CNVINT(Context& ctx, int32_t direction, int32_t filtyp, int32_t nwords, int64_t from, int64_t to);

// Converts block BLOCK of unit DBNUM, LENGTH native words, from FROM to TO (pool indices) in the
// given direction. A native unit copies the words unchanged.
void BLKFIX(Context& ctx, int32_t direction, int32_t DBNUM, int32_t BLOCK, int64_t from, int64_t to,
            int32_t LENGTH);

}  // namespace dbio
