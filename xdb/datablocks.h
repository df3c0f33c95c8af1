#pragma once
// Data block operations: creating and filling the data blocks of a database through logical
// files (open data blocks, records of /GRFIST/).
//
// Logical-file record, 39 words (word 1 = 0 marks a free record):
//    1  sequence number of the dictionary entry; negative: refuses duplicate keys / write once
//    2  kind: 1 relation by integer key, 2 group, 3 relation by multi-word key, 4 single record
//    3  kind 1: root block; kind 3: root of its index
//    4  group: first block; kind 1/3: first data block; kind 4: the shared block of the record
//    5  relations: entry length L; kind 4: record length
//    6  kind 1: (BUFSZ - 3) / L; kind 3: key words (negative when rotated); kind 4: 1 once written
//    7  group: 5 reading, 6 writing at the end, 7 rewriting; relations: 3; kind 4: the record's
//       first word in the shared block
//    8  relations: entries; group: data words written
//    9  kind 1: data blocks; group: data words written plus blocks
//   10  kind 1: level-2 blocks
//   11  DDL object number of the block's name
//   12  relations: word offset behind the last entry written (-1 at open); group: 12
//   13/14, 15/16, 17/18   locked blocks (pool address, block number)
//   19  flags: locked blocks already marked modified
//   20/21  remembered dictionary position of the entry
//   23  relations: highest key written; group: descriptor word 11
//   24  relations: last data block; group: last block of the chain
//   25  relations: data block that took the last entry; group: first block
//   26  database unit
//   27  kind 1: lowest key written; kind 3: append balance
//   36/37  date and time words (0)
//
// Dictionary descriptor written at close (DBDLEN words): 1 |record 1|; 2 kind; 3-6 record 3-6;
// 7 kind 4: record 7, kinds 1 and 3: record 27, group: 0; 8-10 record 8-10; 11, 12 record 23, 24
// (0 for kind 4); 13, 14 date and time.
//
// Group block (type 4): word 1 DDL object * 100 + 4; 2 next block (0 = last); 3 previous (0 =
// first); 4 words used behind word 4; the first block holds the key in words 5-16 (counted in
// word 4), then data; at most BUFSZ - 5 words are used behind word 4.
//
// Shared block of single records (type 10): word 1 = 10; word 2 = words used, words 1 and 2
// included; then records of 2 + length words: DDL object number, length, the record's words.

#include <cstdint>

#include "dbio/context.h"
#include "dict/dictionary.h"

namespace xdb {

// Looks a data block's key up and copies its descriptor (DBDLEN words) into ENTRY: IERR 0 found,
// 1 not found.
using dict::DICRDR;

// Return codes beyond the listed ones: an entry or record that no block of the database can
// hold is refused before anything is changed.
inline constexpr int32_t kTooLongForBlock = 5;

// Opens the group KEY: MODE 0 read an existing group; 1 create it, or rewrite it from its start;
// 2 create it, or append to it. IERR: 1 MODE 0 and no entry; 2 the entry cannot be read; 3 no
// free logical file; 4 the entry is not a group; 5 MODE outside 0..2.
void OPENGR(dbio::Context& ctx, int32_t DBNUM, const int32_t* KEY, int32_t MODE, int32_t& LFN, int32_t SPARE,
            int32_t& IERR);
// Appends NWORDS words to the group. IERR: 2 not a group; 3 not open for writing.
void WRITGR(dbio::Context& ctx, int32_t LFN, const int32_t* BUFFER, int32_t NWORDS, int32_t& IERR);

// Creates the single-record block KEY of LENGTH words; NEGFLG != 0: it may be written once.
// IERR: 1 the key exists; 2 no free logical file; 4 LENGTH < 1; 5 LENGTH + 4 > BUFSZ.
void OPENRC(dbio::Context& ctx, int32_t DBNUM, const int32_t* KEY, int32_t LENGTH, int32_t& LFN, int32_t NEGFLG,
            int32_t& IERR);
// Writes the record. IERR: 1 LFN outside 1..30; 2 already written (write once); 3 not a record.
void WRITRC(dbio::Context& ctx, int32_t LFN, const int32_t* RECORD, int32_t& IERR);

// Creates the relation KEY with entries of ENTLEN words: KEYTYP 0 keyed by entry word 1 (kind 1),
// 1..6 keyed by that many words (kind 3; KEYFLG odd rotates them); NEGFLG != 0 refuses duplicates.
// IERR: 1 the key exists; 2 no free logical file; 3 KEYTYP outside 0..6; 4 ENTLEN < 1; 5 entries of
// that length do not fit the database's blocks.
void OPENRL(dbio::Context& ctx, int32_t DBNUM, const int32_t* KEY, int32_t ENTLEN, int32_t& LFN, int32_t KEYTYP,
            int32_t KEYFLG, int32_t NEGFLG, int32_t& IERR);
// Inserts one entry. IERR: 1 LFN outside 1..30; 2 duplicate key refused; 3 not a relation.
void WRITRL(dbio::Context& ctx, int32_t LFN, const int32_t* ENTRY, int32_t& IERR);

// Closes logical file LFN: writes its final descriptor into the dictionary, releases its locked
// blocks and frees the record; LFN becomes -1. An LFN outside 1..30 or a free record only sets it.
void CLOSGR(dbio::Context& ctx, int32_t& LFN);

}  // namespace xdb
