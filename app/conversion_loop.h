#pragma once
// The conversion loop: neutral blocks to data blocks.
//
// After line 1 the neutral data are a sequence of blocks, each a 13-word header record (the
// block's 12-word key, then its kind code K) and a body closed by one end mark; an end mark where
// a header is expected ends the data.
//
//   K <= 0             group: any number of items
//   1 .. 9999          relation keyed by entry word 1, entries of K words
//   K >= 10000         L = K mod 10000, q = K div 10000, key type = q mod 10, key flag = (q >= 10):
//                      key type 0 a single record of L words; 1..9 a relation with entries of L
//                      words keyed by that many words
//
// The first block may be the DDL, named "DDLFORDB": behind its header come the version V, a word
// stored unchanged, the size Z = objects * 100000 + data words, then 5 words per object and the
// data words. It is loaded into the pool's DDL area and stored as a group.

#include <cstdint>
#include <functional>
#include <ostream>

#include "xdb/database.h"
#include "neutral/stream.h"

namespace app {

// Converts every block of the neutral data into unit DBNUM, then closes the XDB and the neutral
// input. `listing` is the listing unit (null: no listing). DDLCFG is the DDL room of the pool.
// Returns false when the loop ended on a fatal condition (the XDB is closed all the same).
// `close_status`, when given, receives the status of that close (0: the XDB is whole). `poll`,
// when given, is called on this thread after each batch of decoded tokens (a progress display
// reads the input's byte count there).
bool CVTDRV(xdb::Context& ctx, neutral::Stream& stream, std::ostream* listing, int32_t DBNUM, int32_t DDLCFG,
            int32_t* close_status = nullptr, const std::function<void()>& poll = {});

}  // namespace app
