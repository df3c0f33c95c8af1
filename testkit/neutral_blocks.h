#pragma once
// The blocks of a neutral file as the reader decodes them, for tests whose input is a file we did
// not generate (a regression file, say): header line values and, per block, the key, the kind code
// and the body's words as integer items.

#include <cstdint>
#include <string>
#include <vector>

#include "testkit/neutral_model.h"

namespace support {

struct NeutralFile {
  int32_t block_size = 0;     // B of line 1
  int32_t flag = 0;           // F of line 1
  std::vector<Block> blocks;  // in file order; the first is marked `ddl` when named DDLFORDB
  std::string failure;        // why the file could not be read to its data end ("" when it could)
};

// Reads the whole file with the neutral reader. A body's words come back as integer items, so
// that Block::body_words() and Block::stored_entries() give what the reader made of it; a
// relation's body is read entry by entry as the converter reads it, so a word that a two-word
// item carries beyond the end of an entry is not among them.
NeutralFile read_neutral_file(const std::string& path);

}  // namespace support
