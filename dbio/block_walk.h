#pragma once
// The walk over one block of a foreign file: which words of a block convert with which class
// (words.h), fixed by the block's kind (block_kinds.h) and, for blocks that hold entries, by the
// conversion plan of its DDL object (ddl_plan.h).

#include <cstdint>

#include "dbio/context.h"

namespace dbio {

// Converts block BLOCK of unit DBNUM, LENGTH native words, from FROM to TO (pool indices) in
// the given direction. A native unit copies the words unchanged. Every word of a foreign block
// is converted exactly once: the words that the block's layout describes by their class, all
// others as integers. Counts that steer the walk are taken from the native side. A pair (D, X)
// cut by the end of an entry, or by either end of a group block's data, converts the word on
// this side as an integer.
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
// The words of an entry convert by its object's conversion plan (ddl_plan.h).
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
