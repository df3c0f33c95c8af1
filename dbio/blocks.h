#pragma once
// Block services: the only routines that move blocks between the pool and a database file, and
// the only ones that hand out and take back block numbers.
//
// Released blocks form a chain from DEDBKS through each block's chain word: word 4 in a block of
// type 1 (relation root), word 2 in every other block; 0 ends it. A released block may carry a
// list of further released blocks that BLKGET hands out before the block itself:
//
//   type 1 (relation root)     word 23 = count c; listed blocks in words 27, 29, ... (27 + 2i);
//                              each is a type 2 block whose word 2 names the root
//   type 2 (level-2 index)     word 3 = count c; listed (data) blocks in words 5, 7, ... (5 + 2i)
//
// Block numbers run from 1 to USDBKS; the file grows one block at a time until MAXBKS.

#include <cstdint>

#include "dbio/context.h"

namespace dbio {

// Hands out a free block of unit DBNUM: from the released-block chain, or by growing the file.
// ADDR is the pool index of its word 1. The caller fills the block and marks it modified.
void BLKGET(Context& ctx, int32_t DBNUM, int32_t& BLOCK, int32_t& ADDR);

// Puts blocks FIRST .. LAST (already chained to each other), or the single block FIRST when
// LAST <= 0, at the front of the released-block chain.
void BLKRET(Context& ctx, int32_t DBNUM, int32_t FIRST, int32_t LAST);

// Reads block |BLOCK| of unit DBNUM into the pool words from BUFFER (LENGTH = BUFSZ words). A
// foreign layout is read into the exchange area EXCH and converted into BUFFER; with a negative
// BLOCK it is left unconverted in EXCH.
void BLKRD(Context& ctx, int32_t DBNUM, int32_t BLOCK, int64_t BUFFER, int32_t LENGTH, int64_t EXCH);

// Writes the pool words from BUFFER as block |BLOCK| of unit DBNUM (through EXCH for a foreign
// layout).
void BLKWRT(Context& ctx, int32_t DBNUM, int32_t BLOCK, int64_t BUFFER, int32_t LENGTH, int64_t EXCH);

// Makes unit DBNUM's file on disk hold every block written so far (the block I/O library keeps
// recent blocks in memory) and end at its last block. A failure is reported as BLKWRT's are.
void write_out_unit(Context& ctx, int32_t DBNUM);

// Word number (1-based) of the chain word of a block with type code `type`.
inline int32_t chain_word(int32_t type) { return (type > 100 ? type % 100 : type) == 1 ? 4 : 2; }

}  // namespace dbio
