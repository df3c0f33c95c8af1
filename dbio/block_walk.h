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
// cut by the end of an entry converts the word on this side as an integer; a pair that a group's
// data carries from one block into the next converts whole, with its own class (see "Pairs
// across group blocks" below).
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
// Pairs across group blocks. A pair of the stream whose first word is the last used data word of
// block N and whose second word is the first data word of block M is stored as any other pair,
// its file bytes (8, or 16 in a wide layout) in the file's order, spanning the boundary: the
// pair's first file-word slot is N's last used data slot, its second M's first data slot. That
// holds when N's word 2 names M, M's word 3 names N, both are group blocks with the same type
// code and each holds data words; without such a neighbour (word 2 or 3 is 0 or out of the
// file, the chain cannot be followed, the block on the other side does not link back, is of
// another code or holds no data, its file block cannot be read) the word on this side converts
// as an integer. Each block's part of such a pair depends on both native words: in the 4-byte
// big-endian layout each slot holds the other block's word; the wide layouts keep the value in
// one slot and zeros in the other (the zeros first for a little-endian D).
//
//   Reading converts this block's file word together with the neighbour's, read from its file
//   block (raw, through the block I/O request).
//   Writing takes the neighbour's native word from its page when the pool holds the block, else
//   from the file (the pair's current bytes: this block's part in its own file block, the
//   neighbour's in the neighbour's). This block's part goes out with the block; the neighbour's
//   part is patched into its file block (read, patched, written back when it changes; a block
//   beyond the file's end is written as zeros and the patch).
//
// Why the file then always holds, for every block that the pool does not hold, the bytes that
// reading it needs. The rule kept is: for every pair across two blocks, the pair's bytes in the
// file decode, on the side of each of its blocks that the pool does not hold, to that block's
// own word (the word its page last held, or the file's own from the start).
//   - Reading a block changes no file byte; it takes the pair's bytes from the file alone, never
//     from a page (a block that the pool holds modified has a stale file block, which its own
//     write replaces).
//   - Changing a page changes only a block that the pool holds.
//   - Writing a block puts its own word (from its page) into the pair together with the
//     neighbour's: from the neighbour's page, the newest, or decoded from the file, which by the
//     rule is the neighbour's own word when the pool does not hold it. Both parts reach the file.
//   - A page dropped unmodified agrees with the file: it was read from the file or written since,
//     and every later write of its neighbour took this block's word from this very page.
// So a block evicted before its neighbour is first written (a group grown by a new block, say)
// wrote the neighbour's part from the neighbour's page, as a block of zeros with the patch when
// the file did not hold the neighbour yet; the neighbour's first write then finds the evicted
// block's word in the file. The rule rests on a pair's place staying put: the chain words, the
// used counts and the stream offsets in front of a pair change only in blocks that are written
// again (a group grows at its last block, which has no next block until it is full and a new
// block is chained to it; a rewrite goes through the group from its first block). Native files
// never convert and are never patched.
//
// Fatal conditions (DIOMSG, routine "BLKFIX  "): code 19 when a block names a DDL object that
// the DDL does not hold, or its counts and lengths do not fit the block (entries of a data
// block, the used words of a group block or of a multi-word-key block, a single record's
// length that is negative or runs past the used words); code 20 when an element list
// describes fewer words than its object's entry length. The block is not written then, nor is
// a neighbour patched. A failed write of a neighbour's patched file block is reported as BLKWRT
// reports a failed write of its own (BIOMSG, then DIOMSG code 999 from "BLKWRT").
//
// REQUIRES: DBNUM is an open unit; for a foreign unit the DDL area holds the unit's DDL
// (KOVGDM), and FROM and TO do not overlap.
void BLKFIX(Context& ctx, int32_t direction, int32_t DBNUM, int32_t BLOCK, int64_t from, int64_t to,
            int32_t LENGTH);

}  // namespace dbio
