#pragma once
// Relations keyed by one integer (kind 1): fixed-length entries ordered by their first word,
// stored as a tree of a root, level-2 index blocks and data blocks.
//
//   root (type 1)       word 1 = 1; words 2-13 the data block's key; words 14.. a copy of its
//                       dictionary descriptor (word 22 = data blocks, word 23 = pairs c);
//                       words 26.. c pairs (lowest key of a level-2 block, its number);
//                       at most (BUFSZ - 25) / 2 pairs
//   level-2 (type 2)    word 1 = 2; word 2 = root; word 3 = pairs m; words 4.. m pairs
//                       (lowest key of a data block, its number); at most (BUFSZ - 3) / 2
//   data (type 3)       word 1 = DDL object * 100 + 3; word 2 = next data block (0 = last);
//                       word 3 = previous (0 = first); word 4 = entries n; words 5.. n entries
//                       of L words, ascending by word 1; an entry fits when 4 + (n + 1) L <= BUFSZ
//
// The logical-file record of an open relation locks the blocks of its current path in three
// slots: words 13/14 (pool address, block) the root, 15/16 a level-2 block, 17/18 a data block.
// Word 19 has a bit per slot (1, 2, 4) once that block has been marked modified, so each locked
// block is marked once.

#include <cstdint>

#include "dbio/context.h"

namespace dict {

// RELFND results (NOTFND).
inline constexpr int32_t kFound = 0, kNotFound = 1, kBelowFirstBlock = 2, kEmptyRelation = 3;

// Finds where KEY is or belongs in relation LFN; the three blocks of the path end up locked.
// POS is the word index (from the data block's word 5) of the entry or of the insertion point.
void RELFND(dbio::Context& ctx, int32_t LFN, int32_t KEY, int32_t& BLK1, int32_t& BLK2, int32_t& BLK3,
            int32_t& POS, int32_t& NOTFND);

void WRTFST(dbio::Context& ctx, int32_t LFN, const int32_t* ENTRY);  // first entry
void WRTLST(dbio::Context& ctx, int32_t LFN, const int32_t* ENTRY);  // key above the highest
void WRTFRT(dbio::Context& ctx, int32_t LFN, const int32_t* ENTRY);  // key below the lowest

// Inserts ENTRY into the full data block BLK3 (locked in the record's data slot) by splitting it;
// FRONT = 1 when the key is below the lowest key of the relation.
void SPLIT1(dbio::Context& ctx, int32_t LFN, int32_t BLK1, int32_t BLK2, int32_t BLK3, const int32_t* ENTRY,
            int32_t FRONT);

// Writes one entry of a kind-1 relation in the order: first entry, above the highest key, below
// the lowest key, else search and overwrite, insert or split. IERR 2: the key exists and the
// relation refuses duplicates (record word 1 negative).
void write_integer_keyed(dbio::Context& ctx, int32_t LFN, const int32_t* ENTRY, int32_t& IERR);

// DDL object number of the 8-character name in NAME (two words), 0 when the unit has no DDL, is
// open read-only or its DDL does not describe the name.
void DDLFND(dbio::Context& ctx, int32_t& DDLNO, const int32_t* NAME, int32_t DBNUM);

}  // namespace dict
