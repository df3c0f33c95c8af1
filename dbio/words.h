#pragma once
// Word converters: the words of a block between a foreign file layout (layouts.h) and native
// words.
//
// Each word converts with the converter of its class. The classes are the element types that
// have one: "I " integer (also "L ", "E " and every type without a converter of its own), "R "
// real, "A " character, and the two-word types "D " and "X ". Per native word, or per pair of
// native words for D and X (the low-order word first):
//
//   class      4-byte big-endian        8-byte big-endian            8-byte little-endian
//   integer    bytes reversed           sign-extended, high first    sign-extended, low first
//   real       bytes reversed           the value as a double        the value as a double
//   character  the 4 bytes as they are  the 4 bytes, then 4 blanks   the 4 bytes, then 4 blanks
//   X          8 bytes reversed as one  those 8 bytes, then 8 zeros  8 bytes as they are, 8 zeros
//   D          8 bytes reversed as one  those 8 bytes, then 8 zeros  8 zeros, then the 8 bytes
//
// Reading takes the low-order 4 bytes of an 8-byte integer, narrows a double to single
// precision (the all-ones pattern stays all ones, a NaN keeps its payload, a value beyond the
// single range becomes an infinity), and skips the padding. Every converter is the exact inverse
// of its other direction, so a block read and written again comes back byte for byte.

#include <cstdint>

#include "dbio/context.h"
#include "dbio/layouts.h"

namespace dbio {

inline constexpr int32_t kRead = 1;   // file bytes to native words
inline constexpr int32_t kWrite = 2;  // native words to file bytes

// Conversion classes, numbered as the element types whose converter they are.
inline constexpr int32_t kIntegerClass = 2;    // "I "
inline constexpr int32_t kRealClass = 3;       // "R "
inline constexpr int32_t kDClass = 4;          // "D "
inline constexpr int32_t kCharacterClass = 5;  // "A "
inline constexpr int32_t kXClass = 7;          // "X "

inline constexpr bool is_pair_class(int32_t cls) { return cls == kDClass || cls == kXClass; }

// The class that converts words of element type t (1..20): "L " and "E " convert as integers,
// types 1..7 otherwise by their own converter, types 8..20 as integers.
int32_t conversion_class(int32_t element_type);

// Converts NWORDS native words of class CLASS (1..7; 1 and 6 convert as integers) between the
// file-side buffer and the native buffer. FROM is the source and TO the target, both pool
// indices of a buffer's first word; the positions are a byte offset into the file-side buffer
// and a word offset into the native one (FROMPOS and TOPOS on reading, TOPOS and FROMPOS on
// writing). The converters work on |NWORDS| words and advance the positions only when NWORDS
// is positive; a class outside 1..7 or NWORDS = 0 does nothing. The two buffers may be one
// area with the same start: reading goes forward (native word i never lies beyond the file
// bytes of word i), writing backward.
void CNVTYP(Context& ctx, int32_t CLASS, int32_t DIRECTION, int32_t FILTYP, int32_t NWORDS, int64_t FROM,
            int64_t& FROMPOS, int64_t TO, int64_t& TOPOS);
void CNVINT(Context& ctx, int32_t DIRECTION, int32_t FILTYP, int32_t NWORDS, int64_t FROM, int64_t& FROMPOS,
            int64_t TO, int64_t& TOPOS);
void CNVCHR(Context& ctx, int32_t DIRECTION, int32_t FILTYP, int32_t NWORDS, int64_t FROM, int64_t& FROMPOS,
            int64_t TO, int64_t& TOPOS);

// Converts NWORDS integers from the start of FROM to the start of TO (which may be FROM).
void CNVINT(Context& ctx, int32_t direction, int32_t filtyp, int32_t nwords, int64_t from, int64_t to);

// The converters on plain memory: n native words of class cls (one of the classes above) from
// the file bytes `file` to `native`, and back. Reading goes forward and writing backward, so the
// two may share a start.
void read_words(int32_t cls, Layout lay, const unsigned char* file, int32_t* native, int64_t n);
void write_words(int32_t cls, Layout lay, const int32_t* native, unsigned char* file, int64_t n);

}  // namespace dbio
