#pragma once
// Word layouts of XDB files: how a file stores the 32-bit words of its blocks. The layout of an
// open unit is its file type, DBFLTY, read as flags:
//
//   bit 1 (value 1)   set: little-endian words; clear: big-endian
//   bit 2 (value 2)   set: every native 32-bit word takes 8 bytes in the file (a wide file)
//
//   type  words                       converted
//   1     4-byte little-endian        never: the native layout, blocks are copied
//   0     4-byte big-endian           every block, word by word
//   2     8-byte big-endian           every block, word by word
//   3     8-byte little-endian        every block, word by word
//   6     the 64-bit layout of a word-addressed machine, recognised by the probe and refused
//
// How each class of word converts in each foreign layout is told in words.h.

#include <cstdint>

namespace dbio {

inline constexpr int32_t kNativeLayout = 1;
inline constexpr int32_t kUnicosLayout = 6;

inline constexpr bool is_little_endian_layout(int32_t filtyp) { return (filtyp & 1) != 0; }
inline constexpr bool is_wide_layout(int32_t filtyp) { return (filtyp & 2) != 0; }
// File words (4 bytes each) per native word.
inline constexpr int32_t file_words_per_word(int32_t filtyp) { return is_wide_layout(filtyp) ? 2 : 1; }

// A foreign layout as the word converters use it.
struct Layout {
  bool little;
  bool wide;
  int32_t bytes;  // file bytes per native word
};

inline constexpr Layout layout_of(int32_t filtyp) {
  return {is_little_endian_layout(filtyp), is_wide_layout(filtyp), 4 * file_words_per_word(filtyp)};
}

}  // namespace dbio
