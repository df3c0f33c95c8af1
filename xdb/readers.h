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
};

// Reads the data block whose descriptor (DBDLEN words, as DICRDR returns it) is given.
Content read_group(dbio::Context& ctx, int32_t unit, const int32_t* key, const int32_t* descriptor);
Content read_record(dbio::Context& ctx, int32_t unit, const int32_t* key, const int32_t* descriptor);
Content read_integer_keyed(dbio::Context& ctx, int32_t unit, const int32_t* key, const int32_t* descriptor);

// Looks the key up and reads its data block whatever its kind; `kind` receives descriptor word 2
// (0 when the key is not in the dictionary).
Content read_data_block(dbio::Context& ctx, int32_t unit, const int32_t* key, int32_t& kind);

}  // namespace xdb
