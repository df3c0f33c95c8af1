#pragma once
// The record cache of a file open for writing: the records that its last transfers moved, kept in
// memory, so that reading one again costs a copy instead of a system call and a record written
// again and again reaches the file once.
//
// Only a file that this library holds exclusively is cached (a writable file: no other opener
// reads or writes it meanwhile), so the cache and the file never disagree about a record that
// the cache holds. A slot holds one whole record:
//
//   block        the record's number (0: the slot is free)
//   dirty        the file does not hold these words yet
//   referenced   used since the clock hand last passed the slot
//   words        the record, RECL words, in one array of all slots' words
//
// The index finds a block's slot: open addressing by block number with linear probing, twice as
// many entries as slots, an entry holding slot + 1 (0: empty); a removal moves the entries behind
// it back, so no tombstones build up. A slot to reuse is chosen by the clock hand: it passes
// referenced slots (clearing their mark) and takes the first free or unreferenced one.
//
// Memory is taken once, when the cache is made, and kept until the file closes: about
// kCacheBytes of records, but never fewer than kMinSlots slots. Nothing is allocated per
// transfer.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace bio {

class BlockCache {
 public:
  static constexpr std::size_t kCacheBytes = std::size_t{8} << 20;
  static constexpr std::size_t kMinSlots = 16;

  // Records of `record_words` words; `bytes` of them at most (but kMinSlots at least).
  // REQUIRES: record_words > 0.
  explicit BlockCache(int32_t record_words, std::size_t bytes = kCacheBytes);

  std::size_t slots() const { return blocks_.size(); }
  std::size_t dirty_count() const { return dirty_count_; }

  // The slot that holds `block` (marked referenced), or -1.
  std::ptrdiff_t find(int64_t block);
  // The same without marking the slot (a look that is not a use).
  std::ptrdiff_t find_quietly(int64_t block) const {
    const uint32_t entry = index_[probe(block)];
    return static_cast<std::ptrdiff_t>(entry) - 1;
  }
  // The slot that a block not cached would take: a free one, else the clock's choice. The caller
  // writes the slot's record first when it is dirty, then gives the slot to the block (assign).
  std::size_t victim();
  // Gives `slot` to `block`, clean and referenced, forgetting what it held.
  // REQUIRES: block > 0 and not cached.
  void assign(std::size_t slot, int64_t block);

  int64_t block(std::size_t slot) const { return blocks_[slot]; }
  bool dirty(std::size_t slot) const { return dirty_[slot] != 0; }
  void set_dirty(std::size_t slot, bool dirty);
  int32_t* words(std::size_t slot) { return data_.get() + slot * record_words_; }

  // Frees `slot`, dirty or not.
  void drop(std::size_t slot) { forget(slot); }
  // Forgets every block from `first` on, dirty or not (the file was cut before it).
  void drop_from(int64_t first);

  // The dirty slots in ascending block order (kept in `order`, whose memory is reused).
  const std::vector<uint32_t>& dirty_in_block_order();

 private:
  std::size_t home(int64_t block) const {
    return static_cast<std::size_t>((static_cast<uint64_t>(block) * 0x9E3779B97F4A7C15ull) >> shift_);
  }
  // The index entry that holds `block`, or the empty entry where it would go.
  std::size_t probe(int64_t block) const;
  void unindex(int64_t block);
  void forget(std::size_t slot);

  std::size_t record_words_;
  std::vector<int64_t> blocks_;    // per slot
  std::vector<uint8_t> dirty_;     // per slot
  std::vector<uint8_t> referenced_;  // per slot
  std::unique_ptr<int32_t[]> data_;
  std::vector<uint32_t> index_;    // slot + 1, 0 = empty
  unsigned shift_ = 0;             // 64 - log2(index entries)
  std::size_t hand_ = 0;
  std::size_t dirty_count_ = 0;
  std::vector<uint32_t> order_;
};

}  // namespace bio
