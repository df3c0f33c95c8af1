#pragma once
// Walking a dictionary from the top and checking every invariant that lookup and insertion rely
// on (the layout is described in dict/dictionary.h):
//
//   - the primary index block has type 5 and DICNSI entries, within its capacity, in ascending
//     order; its first entry names DICFSI;
//   - each secondary index block has type 6, names DICTPI in word 2 and holds 1 .. capacity
//     entries; each data block has type 7 and holds 1 .. capacity entries;
//   - every index key equals the first key of the block it names;
//   - all index keys of one level, and all entries, ascend strictly across block boundaries;
//   - the data blocks, in the order the index reaches them, form the chain from DICFDB: word 2
//     names the next block (0 after the last), word 3 the previous one (0 before the first);
//   - the totals agree with NUMDB (entries), DICNDB (data blocks) and DICNSI (secondary blocks);
//   - each entry's sequence number (descriptor word 1) lies in 1 .. INFINU and is unique.
//
// The walk survives any damage: counts are bounded by block capacities, block numbers by USDBKS,
// and no block is read twice, so a cycle ends the walk of that branch with a problem line.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "dbio/context.h"

namespace dict {

// One entry as the walk reaches it. The pointers are valid during the visitor call only.
struct WalkedEntry {
  int32_t block = 0;                    // dictionary data block holding the entry
  int32_t offset = 0;                   // its word offset in the block (first word = offset + 1)
  const int32_t* key = nullptr;         // 12 words
  const int32_t* descriptor = nullptr;  // DBDLEN words
};

using EntryVisitor = std::function<void(const WalkedEntry&)>;

struct DictionaryWalk {
  std::vector<std::string> problems;  // one line per broken invariant; empty when sound
  int64_t entries = 0;                // entries visited
  int32_t secondary_blocks = 0;       // secondary index blocks read
  int32_t data_blocks = 0;            // dictionary data blocks read
  // Every block of the file the walk took as a dictionary block (whatever it held); for an empty
  // dictionary, the blocks the header names for it.
  std::vector<int32_t> blocks;
};

// Walks the dictionary of unit DBNUM and calls `visit` (when given) for every entry, in key order.
// Blocks are read through the dictionary cache, so the walk sees changes not yet written.
DictionaryWalk walk_dictionary(dbio::Context& ctx, int32_t DBNUM, const EntryVisitor& visit = nullptr);

// The key as its 8-character name followed by its ten qualifiers, for messages.
std::string describe_key(const int32_t* key);

}  // namespace dict
