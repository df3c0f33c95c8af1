#pragma once
// Reading a database back in the form that rebuilds it: its data blocks in the order they were
// created, and the words of each in the order that inserting them again gives the same blocks.
// Everything streams: the words of a data block are handed over a block's worth at a time
// straight from the pool, so a database of any size is read in constant memory.
//
// What a scan hands over, by kind (dict/descriptor.h):
//
//   group               its data words, along the chain of its blocks (the key in the first
//                       block is not data)
//   single record       the record's words; nothing when the record was never written
//   relation, one word  the entries along the chain of data blocks, which is key order
//   relation, k words   while the entries live in data blocks: along their chain, which is the
//                       order they arrived in (the first block in key order, as the relation
//                       keeps it until it splits); when they live in the index: the index in
//                       key order. A rotated key is turned back to the order it was written in.
//
// A scan trusts nothing it reads: block numbers are checked against the file, counts against
// the block size, chains and trees may not loop, and the totals must agree with the descriptor.
// The first thing that does not fit ends the scan with a one-line problem; the words handed
// over before it are then not the data block's whole content. Callers that must not emit a
// partial data block check first (no sink) and hand the words over in a second scan.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "dbio/context.h"

namespace xdb {

// A data block as the dictionary lists it: its key and descriptor (words beyond DBDLEN are 0).
struct DataBlockEntry {
  std::array<int32_t, 12> key{};
  std::array<int32_t, 14> descriptor{};
};

// Receives the words of a scan. `words` points into the pool and is valid during the call only.
class WordSink {
 public:
  virtual ~WordSink() = default;
  virtual void words(const int32_t* words, int64_t count) = 0;
};

struct ScanResult {
  std::string problem;  // empty when the data block could be read whole
  int64_t words = 0;    // words handed over (or that would have been)
  int32_t object = 0;   // the DDL object that describes its words (0: none)
};

// Scans the data block `entry` of open unit `unit`; with a null sink it only checks.
ScanResult scan_data_block(dbio::Context& ctx, int32_t unit, const DataBlockEntry& entry, WordSink* sink);

// The data blocks of a unit in the order of their sequence numbers (descriptor word 1), which
// is the order they were created in. The dictionary is checked once, as a whole, when the order
// is made; its problems are listed and nothing is visited when there are any.
class CreationOrder {
 public:
  CreationOrder(dbio::Context& ctx, int32_t unit);

  // One line per broken invariant of the dictionary; empty when it is sound.
  const std::vector<std::string>& problems() const { return problems_; }
  int64_t size() const { return entries_; }

  // Calls visit(entry) for every data block in ascending sequence number. The order is made a
  // window of sequence numbers at a time, so its memory stays bounded however many data blocks
  // there are; each window walks the dictionary once.
  template <typename Visit>
  void visit(Visit&& visit) {
    if (!problems_.empty()) return;
    for (int64_t low = 1; low <= last_sequence_; low += kWindow) {
      fill_window(low);
      DataBlockEntry entry;
      for (std::size_t i = 0; i < window_.size(); ++i) {
        if (window_[i] == 0) continue;
        read_entry(window_[i], entry);
        visit(static_cast<const DataBlockEntry&>(entry));
      }
    }
  }

 private:
  static constexpr int64_t kWindow = int64_t{1} << 20;

  void fill_window(int64_t low);
  void read_entry(uint64_t place, DataBlockEntry& entry);

  dbio::Context& ctx_;
  int32_t unit_;
  int64_t last_sequence_ = 0;
  int64_t entries_ = 0;
  std::vector<std::string> problems_;
  // Per sequence number of the window: where its entry lies (dictionary block << 32 | offset), 0
  // when no entry has it.
  std::vector<uint64_t> window_;
};

// The element types (1..20, 0 for none) of the words of one entry of DDL object `object`,
// `length` words at most; 0 takes the object's own entry length. Empty when the unit's DDL
// does not describe the object. The unit's DDL must be in the pool (load_ddl).
std::vector<uint8_t> element_types(dbio::Context& ctx, int32_t unit, int32_t object, int32_t length);

// Brings the DDL of unit `unit` into the pool's DDL area, where element_types finds it. A DDL
// whose version the database layer does not use is not brought in (its objects then describe
// nothing).
void load_ddl(dbio::Context& ctx, int32_t unit);

// The first block of the group that the header names as the DDL (header word 16, 0 for none),
// whatever its version: the converter stores every DDL it is given.
int32_t stored_ddl_block(dbio::Context& ctx, int32_t unit);

}  // namespace xdb
