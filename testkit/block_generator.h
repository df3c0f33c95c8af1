#pragma once
// Deterministic generator of neutral databases for tests and tools/ndbgen.
//
// A generator first draws a small schema from its seed: block types, each with
// an 8-character name, a class (group, relation keyed by word 1, relation with
// a multi-word key, single record), a fixed kind code and, for everything but
// groups, a fixed entry layout of item types. It then yields blocks one at a
// time, in constant memory: the DDL first (when asked for), then blocks of
// types drawn by the class weights.
//
// What the blocks hold:
//   - keys: the type's name, qualifier 1 a running number per name (so keys
//     never repeat in one stream), the other nine signed and within 9 digits;
//   - groups: kind code 0 or negative, 0 to a few thousand words of mixed
//     items; with large groups on, now and then one of exactly 65535 or
//     131070 words or one of 65536 .. 200000 words with a double across the
//     end of the reader's first chunk (words 65535 and 65536);
//   - entries and records of 1 word up to nearly a block (block_words - 5,
//     and never above 9999);
//   - relations with key type 0 (K = L): unique integer keys in word 1, in
//     ascending, descending or scattered order, some runs below -200; or, when
//     asked for, in random or clustered order or with keys that repeat (a later
//     entry of a key replaces the earlier one);
//   - relations with a key of k = 1..6 words (K = q * 10000 + L, q mod 10 = k,
//     q >= 10 for some types): the last key word unique, the others from a
//     few values; some types keep at most two words beyond the key;
//   - single records (K = q * 10000 + L with q = 10, 20, ...);
//   - the DDL ("DDLFORDB", version 20120): one directory record per non-group
//     type but one, sorted by packed name, object numbers 1.., and per object
//     a list of element codes (count * 100 + element type) covering its L words.
// Relation key words stay within +-2^29 and qualifiers within 9 digits, so the
// difference of two such words never overflows and plain signed order is the
// order in which they sort.
//
// The random source is std::mt19937_64 with our own range reduction, so the
// same seed gives the same blocks with any standard library.

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "testkit/neutral_model.h"
#include "testkit/neutral_writer.h"

namespace support {

// Relative weights of the block classes; 0 leaves a class out.
struct BlockMix {
  int groups = 3;
  int relations = 3;
  int records = 2;
  int multikey = 2;
};

// Orders in which the unique key words of a relation's entries arrive.
enum class KeyOrder {
  kAscending,
  kDescending,
  kScattered,   // an odd multiplier walking the residues modulo 2^30
  kSplit,       // 0 upwards, then below -200 downwards
  kRandom,      // drawn independently (repeats are rare)
  kClustered,   // bursts of several runs, each ascending from its own start, with steps back
  kDuplicates,  // drawn from a range of a third of the entries: most keys come again
};

// How relations are made. The defaults keep the streams that earlier versions made (the shipped
// example among them): one of the first four orders, and the usual spread of sizes.
struct RelationOptions {
  // When not empty, each relation takes one of these orders (all equally likely).
  std::vector<KeyOrder> orders;
  // When both are set, each relation's body has about min_words .. max_words words (whole
  // entries, at least one).
  int64_t min_words = -1;
  int64_t max_words = -1;
};

struct GeneratorOptions {
  uint64_t seed = 1;
  // Words per XDB block (|B| of the header line, 1024 for B = 0): entries and
  // records are kept at most block_words - 5 words long, so that each fits a
  // block. REQUIRES: at least 300.
  int32_t block_words = 1024;
  bool ddl = true;              // start with the DDL block
  bool large_groups = true;     // now and then a group beyond one reader chunk
  BlockMix mix;
  RelationOptions relations;
};

class BlockGenerator {
 public:
  // Throws std::invalid_argument when every weight of the mix is 0.
  explicit BlockGenerator(GeneratorOptions options);

  // The next block. The stream never runs out.
  Block next();

  int64_t blocks_made() const { return blocks_made_; }

  // The DDL block this generator starts with (also when options.ddl is false).
  const Block& ddl_block() const { return ddl_; }

  struct BlockType {
    std::string name;
    BlockKind kind = BlockKind::kGroup;
    int32_t kind_code = 0;           // fixed for all but groups
    std::vector<ItemType> layout;    // one per item of an entry or record
    bool in_ddl = false;
    int64_t blocks = 0;              // blocks made so far (qualifier 1)
  };
  const std::vector<BlockType>& types() const { return types_; }

 private:
  uint64_t below(uint64_t n);                // 0 .. n-1
  int64_t between(int64_t lo, int64_t hi);   // lo .. hi
  bool chance(int percent);

  void make_schema();
  void make_ddl();
  std::vector<ItemType> make_layout(int32_t words, int key_words);
  std::string make_name(char first);

  Item make_item(ItemType type);
  Item any_item();
  Item any_one_word_item();
  float make_real();
  double make_double();
  int32_t make_integer();
  Key make_key(BlockType& type);

  void fill_group(Block& block);
  void fill_relation(Block& block, const BlockType& type);
  void fill_record(Block& block, const BlockType& type);

  GeneratorOptions options_;
  std::mt19937_64 rng_;
  std::vector<BlockType> types_;
  Block ddl_;
  int64_t blocks_made_ = 0;
};

// Words per XDB block for the header's block size B: |B|, or 1024 for B = 0.
int32_t block_words_of(int32_t block_size);

// A whole neutral file: header, `max_blocks` blocks or blocks until the file
// has reached `target_bytes` (checked after each block; both limits apply when
// set, -1 = no limit), the data end and the trailing lines.
struct DatabaseOptions {
  GeneratorOptions generator;
  int32_t block_size = 1024;
  int flag = 0;
  WriterOptions writer;
  int64_t target_bytes = -1;
  int64_t max_blocks = -1;
};

struct DatabaseSummary {
  int64_t blocks = 0;   // blocks written, the DDL included
  int64_t bytes = 0;    // bytes written
};

// REQUIRES: at least one of target_bytes and max_blocks is set, and
// generator.block_words == block_words_of(block_size) (else std::invalid_argument).
DatabaseSummary write_database(std::ostream& out, const DatabaseOptions& options);

}  // namespace support
