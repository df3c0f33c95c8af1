#pragma once
// An XDB file as the words it stores, for tests that damage a sound database on disk, and a map
// of where its parts lie. The map is found by following the blocks from the header the way
// docs/xdb-format.md lays them out, without the database layer, so that a test can aim its
// damage at a part without trusting the code it tests.
//
// Only files of the layout loadxdb writes are handled: 4-byte little-endian words.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace support {

class XdbImage {
 public:
  // Reads the whole file; throws std::runtime_error when it cannot be read or its header's block
  // size does not divide it into whole blocks.
  explicit XdbImage(const std::string& path);
  // Writes the words back, replacing the file; throws std::runtime_error on failure.
  void save(const std::string& path) const;
  // Writes word k of block b into the file, which must hold as many blocks of the same size.
  void save_word(const std::string& path, int32_t block, int32_t k) const;

  int32_t block_words() const { return block_words_; }  // header word 1 when read
  int32_t blocks() const { return static_cast<int32_t>(words_.size() / static_cast<std::size_t>(block_words_)); }

  // Word k of block b, both from 1. REQUIRES: inside the file (else std::out_of_range).
  int32_t& at(int32_t block, int32_t k);
  int32_t at(int32_t block, int32_t k) const;
  // The header's words (block 1).
  int32_t& header(int32_t k) { return at(1, k); }
  int32_t header(int32_t k) const { return at(1, k); }

  // The first `blocks` blocks only, the header left as it is.
  void keep_blocks(int32_t blocks);
  // Every block cut to its first `words` words, the header's block size set to match: the same
  // database in smaller blocks, as far as the words it keeps go.
  void cut_blocks(int32_t words);

  bool operator==(const XdbImage&) const = default;

 private:
  int32_t block_words_ = 0;
  std::vector<int32_t> words_;
};

// One data block of the dictionary and the blocks that hold it.
struct MappedEntry {
  std::string name;  // the 8 name characters without trailing blanks
  std::array<int32_t, 12> key{};
  int32_t dictionary_block = 0;              // the dictionary data block holding the entry
  int32_t key_word = 0;                      // word of that block where the key starts
  std::vector<int32_t> descriptor;           // DBDLEN words; d(j) is word j
  std::vector<int32_t> chain;                // group: its blocks; record: its shared block; relations: the data blocks
  int32_t root = 0;                          // relations: the root (keyed by several words: 0 without an index)
  std::vector<int32_t> level2;               // keyed by word 1: the level-2 blocks in the root's order
  std::vector<std::vector<int32_t>> levels;  // keyed by several words: index nodes per level, left to right
  std::vector<int32_t> index_chain;          // keyed by several words: index blocks along their chain from the root

  int32_t kind() const { return d(2); }
  int32_t d(int j) const { return descriptor.at(static_cast<std::size_t>(j - 1)); }
  // Word of the dictionary data block that holds descriptor word j.
  int32_t descriptor_word(int j) const { return key_word + 11 + j; }
};

struct XdbMap {
  int32_t primary = 0;                   // DICTPI
  std::vector<int32_t> secondary;        // in the primary index's order
  std::vector<int32_t> dictionary_data;  // in index order
  std::vector<MappedEntry> entries;      // in dictionary order
  std::vector<int32_t> released;         // along the released-block chain

  // The entry of that name (first qualifier `q1`); throws std::out_of_range when there is none.
  const MappedEntry& entry(std::string_view name, int32_t q1 = 0) const;
};

// Follows the blocks of a sound image; throws std::runtime_error where the image does not hold
// what the layout says (a block number outside the file, a chain that comes back, a wrong type).
XdbMap map_xdb(const XdbImage& image);

}  // namespace support
