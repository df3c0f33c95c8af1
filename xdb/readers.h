#pragma once
// Reading data blocks back as they are stored, for tests and for checking a database: each reader
// follows the blocks of one data block from its dictionary descriptor, returns the stored words,
// and lists every structural problem it meets (one line each) instead of trusting the blocks:
// counts are bounded by the block size, block numbers by the file, and chains may not loop.

#include <cstdint>
#include <string>
#include <vector>

#include "dbio/context.h"

namespace xdb {

struct Content {
  std::vector<int32_t> words;         // group data, the record, or the entries in key order
  int32_t blocks = 0;                 // blocks visited
  std::vector<std::string> problems;  // empty when the structure is sound
  std::vector<int32_t> reached;       // every block read, in reading order (again each time it is read again)
  // What a reader accepted although it looks like a problem, and why: not problems.
  std::vector<std::string> notes;
};

// Reads the data block whose descriptor (DBDLEN words, as DICRDR returns it) is given.
Content read_group(dbio::Context& ctx, int32_t unit, const int32_t* key, const int32_t* descriptor);
Content read_record(dbio::Context& ctx, int32_t unit, const int32_t* key, const int32_t* descriptor);
Content read_integer_keyed(dbio::Context& ctx, int32_t unit, const int32_t* key, const int32_t* descriptor);

// How a relation keyed by several words is laid out, as read_multikey found it.
struct MultiKeyShape {
  std::vector<std::vector<int32_t>> node_entries;  // per index level from the root: entries of each node, left to right
  // Per index level from the root, per node left to right: its index entries as stored, each
  // without its last word (the child), so S - 1 words an entry.
  std::vector<std::vector<std::vector<int32_t>>> node_words;
  std::vector<int32_t> data_entries;               // entries of each data block, in chain order
  std::vector<int32_t> chain_words;                // the data blocks' entries as stored, in chain order
};

// Reads a relation keyed by several words: its entries in key order, each as it was written (the
// rotation of a rotated key is undone; the shape's chain words show entries as stored). Walks the
// index from the root and the data blocks along their chain, and checks the block types and
// lengths, the counts against the capacities, the chain links both ways, the parent words, that
// all lowest-level nodes lie at one depth, that keys ascend strictly in the key order of
// dict/multikey.h, that every data entry is named by exactly one index entry with its key, and the
// descriptor's entry count, blocks, highest key (k = 1) and balance. The one departure from
// ascending keys that the writer itself leaves when keys lie 2^31 or more apart is a note, not a
// problem (see the reader).
Content read_multikey(dbio::Context& ctx, int32_t unit, const int32_t* key, const int32_t* descriptor,
                      MultiKeyShape* shape = nullptr);

// Looks the key up and reads its data block whatever its kind; `kind` receives descriptor word 2
// (0 when the key is not in the dictionary).
Content read_data_block(dbio::Context& ctx, int32_t unit, const int32_t* key, int32_t& kind);

}  // namespace xdb
