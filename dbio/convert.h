#pragma once
// Conversion of blocks between a file's word layout and native words.
//
// The file types (DBFLTY) and their word layouts are told in layouts.h: type 1 is the native
// layout and is never converted; 0, 2 and 3 are the foreign layouts.
//
// Each word of a block converts with the converter of its class. The classes are the element
// types that have one: "I " integer (also "L ", "E " and every type without a converter of its
// own), "R " real, "A " character, and the two-word types "D " and "X ". Per native word, or
// per pair of native words for D and X (the low-order word first):
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
// single range becomes an infinity), and skips the padding. A pair cut by the end of an entry,
// or by either end of a group block's data, converts the word on this side as an integer.
// Every converter is the exact inverse of its other direction, so a block read and written
// again comes back byte for byte.
//
// Where a block's words come from is fixed by its kind (word 1 modulo 100) and, for blocks
// that hold entries, by the entry layout of its DDL object (see BLKFIX).

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

// Converts block BLOCK of unit DBNUM, LENGTH native words, from FROM to TO (pool indices) in
// the given direction. A native unit copies the words unchanged. Every word of a foreign block
// is converted exactly once: the words that the block's layout describes by their class, all
// others as integers. Counts that steer the walk are taken from the native side.
//
//   kind  block                      converted
//   1     relation root              key name (words 2-3) as characters, all else integers
//   2     relation level-2 block     integers
//   3     relation data block        words 1-4, then word 4 entries of the object's length
//   4     group block                words 1-4, in a first block the key (2 chr, 10 int), then
//                                    the data as a stream of the object's entries, continued
//                                    from the group's earlier blocks
//   5     dictionary primary index   word 1, then DICNSI items of 2 chr + 11 int
//   6     dictionary secondary index words 1-3, then word 3 items of 2 chr + 11 int
//   7     dictionary data block      words 1-4, then word 4 items of 2 chr + (DBDLEN + 10) int
//   8     multi-word-key index       words 1-7, then (word 4 - 7) / S entries of S = word 5
//                                    words when the code names a DDL object, else integers
//   9     multi-word-key data block  words 1-5, then (word 4 - 5) / L entries of L = word 5
//   10    shared single records      words 1-2, then records (object, length R, R words) up to
//                                    the used length in word 2
//
// Block 1, a kind outside 1..10 and a DDL object number of 0 convert as integers. An entry
// is converted by its object's element list; words of the entry beyond the list convert as
// integers. An entry (of kinds 3, 8, 9 or 10) of the object named "LIMITS" whose leading key
// words (one, or the key width of a kind 8 or 9 block) are all zero converts as integers
// throughout.
//
// A group's data words are its object's entries one after another, across its blocks: a block
// that is not the group's first continues the entry where the block in front of it stopped.
// The words in front of it are counted back along the previous-block words (word 3) to the
// first block, from the pages of the pool where they hold those blocks, else from the file.
// When that chain cannot be followed (a block outside the file or of another kind, a count
// that does not fit, a loop) the block's data words convert as integers.
//
// Element lists. Directory record j of the DDL area gives the list's offset from BASEDD (its
// absolute value is used); the list ends at the next list of the DDL, at the end of the DDL's
// data words, at a code 0, or as soon as it describes the object's entry length. A code e > 0
// stands for e / 100 elements of type e mod 100 (1..20). A code e < 0 opens a group: with
// m = -e, form f = m mod 100, items n = (m / 100) mod 100 and parameter r = m / 10000, where an
// item is one code or one whole group:
//   1  the next n items, repeated r times
//   2  the next n items, repeated to the end of the entry
//   3  a variant: the next n items are the alternatives, the r-th of them is in effect; the
//      group spans the longest alternative, the rest of the span (or the whole span, for an r
//      outside 1..n) converts as integers
//   4  the items up to the matching form 5 code, repeated r times
//   5  closes the innermost form 4 group
// Groups nest up to 8 deep. A code of an unknown type or form ends the list where it stands.
//
// Fatal conditions (DIOMSG, routine "BLKFIX  "): code 19 when a block names a DDL object that
// the DDL does not hold, or its counts and lengths do not fit the block (entries of a data
// block, the used words of a group block or of a multi-word-key block, a single record's
// length that is negative or runs past the used words); code 20 when an element list
// describes fewer words than its object's entry length. The block is not written then.
//
// REQUIRES: DBNUM is an open unit; for a foreign unit the DDL area holds the unit's DDL
// (KOVGDM), and FROM and TO do not overlap.
void BLKFIX(Context& ctx, int32_t direction, int32_t DBNUM, int32_t BLOCK, int64_t from, int64_t to,
            int32_t LENGTH);

}  // namespace dbio
