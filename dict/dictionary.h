#pragma once
// The dictionary of a database: a three-level, key-ordered index of all its data blocks.
//
// Key (12 words): words 1-2 the 8-character name (bytes in storage order), words 3-12 ten signed
// qualifiers. Order (DICCMP): the 8 name bytes as unsigned bytes from the first on, then the
// qualifiers as signed integers in turn.
//
// Entry: the key followed by DBDLEN descriptor words, DL = DBDLEN + 12 words in all.
// Index entry (PI and SI): the key followed by one block number, 13 words; its key equals the
// first key held in the child block.
//
//   PI block (type 5)    word 1 = 5; words 2.. DICNSI index entries, one per SI block
//                        (at most (BUFSZ - 1) / 13)
//   SI block (type 6)    word 1 = 6; word 2 = DICTPI; word 3 = n; words 4.. n index entries,
//                        one per dictionary data block (at most (BUFSZ - 3) / 13)
//   data block (type 7)  word 1 = 7; word 2 = next data block (0 = last); word 3 = previous
//                        (0 = first); word 4 = n; words 5.. n entries (at most (BUFSZ - 4) / DL)
//
// The data blocks, followed along word 2 from DICFDB, hold every entry in ascending key order.
// DICDBB / DICDBO remember the data block and word offset (the entry's first word is block word
// DICDBO + 1) of the entry last found or placed.

#include <cstdint>

#include "dbio/context.h"
#include "dbio/block_kinds.h"

namespace dict {

// -1, 0 or +1 as KEY1 is lower than, equal to or higher than KEY2 (12 words each).
int DICCMP(const int32_t* KEY1, const int32_t* KEY2);

// Binary search of KEY among COUNT records of STRIDE words at LIST, each starting with a 12-word
// key (KEYLEN is 12 and otherwise unused). Found: NOTFND = 0 and POS = the record's word index
// (1-based from LIST). Not found: NOTFND = 1 and POS = (k - 1) * STRIDE + 1, k - 1 being the
// number of lower records. COUNT < 1: POS = 1, NOTFND = 1.
void DICSRC(const int32_t* KEY, const int32_t* LIST, int32_t STRIDE, int32_t KEYLEN, int32_t COUNT, int32_t& POS,
            int32_t& NOTFND);

// The same for records whose first word is a signed integer key; a KEY below the first record's
// key gives POS = 1, NOTFND = 1 at once.
void INTSRC(int32_t KEY, const int32_t* LIST, int32_t STRIDE, int32_t COUNT, int32_t& POS, int32_t& NOTFND);

// Inserts one record into the ordered list of COUNT records of STRIDE words at LIST (COUNT is not
// changed). POS < 1: the position is searched with DICSRC, and a key already present is
// overwritten in place (DUP = 1). Otherwise records from POS on move up by STRIDE words, then
// max(KEYLEN, KEYLEN2) key words and, when DATLEN > 0, STRIDE minus that many data words are
// copied to POS (DUP = 0).
// REQUIRES: LIST has room for COUNT + 1 records.
void LSTINS(int32_t* LIST, int32_t COUNT, int32_t KEYLEN, int32_t STRIDE, int32_t POS, const int32_t* KEY,
            int32_t KEYLEN2, const int32_t* DATA, int32_t DATLEN, int32_t& DUP);

// Makes dictionary block BLOCK of unit DBNUM resident through the dictionary cache; ADDR = the pool
// index of its word 1. Slots are reused in the order: empty slots, never-used slots, the least
// recently used one.
void DICBLK(dbio::Context& ctx, int32_t DBNUM, int32_t BLOCK, int32_t& ADDR);

// The dictionary's block kinds and words by the names the dictionary code uses; the layouts are
// in dbio/block_kinds.h.
inline constexpr int32_t kPrimaryIndexType = dbio::kPrimaryIndexKind, kSecondaryIndexType = dbio::kSecondaryIndexKind,
                         kDictionaryDataType = dbio::kDictionaryDataKind;
using dbio::kIndexEntryWords;
inline constexpr int32_t kPrimaryFirstWord = dbio::primary_index_block::kFirstEntryWord;
inline constexpr int32_t kSecondaryIndexWord = dbio::secondary_index_block::kPrimaryWord,
                         kSecondaryCountWord = dbio::secondary_index_block::kCountWord,
                         kSecondaryFirstWord = dbio::secondary_index_block::kFirstEntryWord;
inline constexpr int32_t kDataNextWord = dbio::chain_block::kNextWord, kDataPreviousWord = dbio::chain_block::kPreviousWord,
                         kDataCountWord = dbio::chain_block::kCountWord, kDataFirstWord = dbio::chain_block::kFirstEntryWord;

// Entries that fit one block of BUFSZ words.
inline int32_t primary_capacity(int32_t BUFSZ) { return BUFSZ > 1 ? (BUFSZ - 1) / kIndexEntryWords : 0; }
inline int32_t secondary_capacity(int32_t BUFSZ) { return BUFSZ > 3 ? (BUFSZ - 3) / kIndexEntryWords : 0; }
inline int32_t data_capacity(int32_t BUFSZ, int32_t DL) { return BUFSZ > 4 && DL > 0 ? (BUFSZ - 4) / DL : 0; }

// The lookup shared by DICRDR, DICUPD and DICINS: the pool index of the word 1 of KEY's entry, 0
// when the key is not in the dictionary. A found entry becomes the remembered one (DICDBB, DICDBO).
// The index is valid until the next DICBLK or PAGFET.
// REQUIRES: DBNUM is an open unit.
int64_t dictionary_lookup(dbio::Context& ctx, int32_t DBNUM, const int32_t* KEY);

// Looks KEY up and copies its DBDLEN descriptor words into ENTRY: IERR 0 found, 1 not found.
// A unit outside 1..30 or not open is a fatal message (codes 1, 2).
void DICRDR(dbio::Context& ctx, int32_t DBNUM, const int32_t* KEY, int32_t* ENTRY, int32_t& IERR);

// Overwrites the descriptor of KEY's entry with ENTRY (DBDLEN words): IERR 0 done, 1 not found.
// The remembered entry is rewritten without a search when its sequence number (descriptor word 1)
// equals ENTRY(1).
void DICUPD(dbio::Context& ctx, int32_t DBNUM, const int32_t* KEY, const int32_t* ENTRY, int32_t& IERR);

}  // namespace dict
