#pragma once
// Relations keyed by several words (kind 3): fixed-length entries of L words whose first k words
// (1 <= k <= 6) are the key. Entries are stored in a chain of data blocks in the order they arrive
// and found through a B-tree index over their keys. While the relation fits one data block, that
// block is kept in key order and there is no index; when it fills, the index is built from it.
//
//   data block   word 1   DDL object * 1000 + k * 100 + 9
//                word 2   next data block, 0 for the last
//                word 3   previous data block, 0 for the first
//                word 4   words in use, 5 + n * L
//                word 5   L
//                word 6.. n entries of L words
//                A data block is full when its words in use + L > BUFSZ.
//
//   index node   word 1   k * 100 + 8, plus DDL object * 1000 when the entries live in the index
//                word 2   next block in the chain of all index blocks of the relation, 0 for the last
//                word 3   previous block in that chain, 0 for the first (the root)
//                word 4   words in use, 7 + m * S
//                word 5   S, the index entry length
//                word 6   parent node, 0 for the root
//                word 7   child for keys below the first entry, 0 in the lowest level
//                word 8.. m index entries of S words, ascending by key
//                A node is full when its words in use + S > BUFSZ.
//
//   index entry  S = k + 1 + min(2, L - k) words. When L - k > 2: the k key words, the data block,
//                the word of the entry in that block, and the child for keys above this entry.
//                When L - k <= 2 the entries live in the index: the whole entry (L words) and the
//                child; once the index exists such a relation has no data blocks.
//
// A node made by a split is linked into the chain directly behind the node it comes from, and a
// new root in front of the old one, so following word 2 from the root visits every index block.
// Every split also rewrites word 6 of the children that move, so parent words are always exact.
//
// Key order: key words are compared one by one from the first, each by the sign of the 32-bit
// difference (this word minus that word, wrapping on overflow); the first unequal word decides.
// This is not the plain signed order for words more than 2^31 apart: 0x7fffffff is below
// 0x80000000. Stored relations are ordered this way, and readers of them must use it too.
//
// Logical-file record words of an open relation of this kind:
//    3  root node, 0 while there is no index       4  first data block, 0 when there is none
//    5  L                                          6  +k, or -k when the key words are rotated
//    8  entries (stops at 2^31 - 2)                10 the root the index was built with, 0 before
//   12  offset of the entry last located (its first word is block word offset + 1)
//   23  highest key when k = 1                     24 last data block
//   27  append balance: +1 for each entry above all earlier keys while below BUFSZ / 2, -1 for
//       each other new entry placed through the index while its magnitude is below BUFSZ / 2
//   28 .. 27 + k   the highest key so far
//
// Lock slots (pool address, block; flag bit once marked modified): the root 13/14 (1), level 2
// 15/16 (2), level 3 38/39 (8), level 4 and every deeper level 34/35 (16), the data block 17/18 (4).

#include <algorithm>
#include <cstdint>

#include "dbio/context.h"
#include "dbio/block_kinds.h"

namespace dict {

namespace multikey {

// Block kinds and words (dbio/block_kinds.h).
inline constexpr int32_t kDataKind = dbio::kKeyDataKind, kIndexKind = dbio::kKeyIndexKind;
using dbio::key_block::kBelowFirstWord, dbio::key_block::kDataHeaderWords, dbio::key_block::kFirstEntryWord,
    dbio::key_block::kFirstIndexWord, dbio::key_block::kInUseWord, dbio::key_block::kNextWord,
    dbio::key_block::kNodeHeaderWords, dbio::key_block::kParentWord, dbio::key_block::kPreviousWord,
    dbio::key_block::kStrideWord;
inline constexpr int32_t kMaxKeyWords = 6;

// The fewest entries an index node must hold. A full node of n entries is split into a left part,
// one entry that moves up and a right part before the new entry is placed; with n >= 3 both parts
// keep at least one entry whichever way the append balance tilts the split, so no node is ever
// empty, and each part has room for the entry that follows.
inline constexpr int32_t kMinNodeEntries = 3;

// Words of an index entry for entries of L words keyed by k words. REQUIRES: L >= k.
inline int32_t index_entry_words(int32_t L, int32_t k) { return k + 1 + std::min(2, L - k); }
// True when the relation's entries live in its index nodes.
inline bool entries_in_index(int32_t L, int32_t k) { return L - k <= 2; }
// Entries one data block holds, and index entries one node holds.
inline int32_t data_capacity(int32_t BUFSZ, int32_t L) { return (BUFSZ - kDataHeaderWords) / L; }
inline int32_t node_capacity(int32_t BUFSZ, int32_t S) { return (BUFSZ - kNodeHeaderWords) / S; }

// True when blocks of BUFSZ words can hold a relation of entries of L words keyed by k words: the
// key lies inside the entry, a data block holds at least one entry, and an index node holds at
// least kMinNodeEntries index entries.
bool fits(int32_t BUFSZ, int32_t L, int32_t k);

}  // namespace multikey

// -1, 0 or +1 as the k-word key A is lower than, equal to or higher than B in the key order above.
int compare_keys(const int32_t* A, const int32_t* B, int32_t k);

// Searches the k-word KEY among COUNT records of STRIDE words at LIST, ascending by their first k
// words. The last record is compared first (a key above it is not found, position after it); then
// more than 16 records are searched by halving, fewer from the first on. Found: NOTFND = 0 and POS
// = the record's word index (1-based from LIST). Not found: NOTFND = 1 and POS = the word index of
// the first higher record, the insertion point. COUNT < 1: POS = 1, NOTFND = 1.
void KEYFND(const int32_t* KEY, int32_t k, const int32_t* LIST, int32_t STRIDE, int32_t COUNT, int32_t& POS,
            int32_t& NOTFND);
// The same for one-word keys.
void KEYFN1(int32_t KEY, const int32_t* LIST, int32_t STRIDE, int32_t COUNT, int32_t& POS, int32_t& NOTFND);

// Opens a gap of STRIDE words at word index POS of the COUNT records at LIST (the records from POS
// on move up by STRIDE words), stores KEYLEN words of KEY there and clears the rest of the gap.
// COUNT is not changed. REQUIRES: LIST has room for COUNT + 1 records; KEYLEN <= STRIDE.
void KEYINS(int32_t* LIST, int32_t COUNT, int32_t STRIDE, int32_t POS, const int32_t* KEY, int32_t KEYLEN);

// RELPUT status.
inline constexpr int32_t kPlaced = 0, kDuplicateRefused = 2;

// Locates the place of ENTRY (L words, its key in the first k words as stored) in relation LFN,
// creating it when the key is new, and returns kPlaced with ADDR = the pool index one word before
// where the caller stores the L words. The address stays valid until the next pool fetch. A key
// that exists is located again for overwriting, unless MODE = 3: then the result is
// kDuplicateRefused and nothing changes.
// REQUIRES: LFN is an open kind-3 relation of a unit open for update, whose entry and key lengths
// pass multikey::fits.
int32_t RELPUT(dbio::Context& ctx, int32_t LFN, const int32_t* ENTRY, int32_t MODE, int32_t& ADDR);

}  // namespace dict
