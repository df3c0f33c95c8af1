#include "bio/block_cache.h"

#include <algorithm>
#include <bit>

namespace bio {

BlockCache::BlockCache(int32_t record_words, std::size_t bytes)
    : record_words_(static_cast<std::size_t>(record_words)) {
  const std::size_t record_bytes = record_words_ * sizeof(int32_t);
  const std::size_t slots = std::max(kMinSlots, bytes / record_bytes);
  blocks_.assign(slots, 0);
  dirty_.assign(slots, 0);
  referenced_.assign(slots, 0);
  data_ = std::make_unique_for_overwrite<int32_t[]>(slots * record_words_);  // touched as used
  const std::size_t entries = std::bit_ceil(2 * slots);
  index_.assign(entries, 0);
  shift_ = 64 - static_cast<unsigned>(std::countr_zero(entries));
  order_.reserve(slots);
}

std::size_t BlockCache::probe(int64_t block) const {
  const std::size_t mask = index_.size() - 1;
  std::size_t i = home(block);
  while (index_[i] != 0 && blocks_[index_[i] - 1] != block) i = (i + 1) & mask;
  return i;
}

std::ptrdiff_t BlockCache::find(int64_t block) {
  const uint32_t entry = index_[probe(block)];
  if (entry == 0) return -1;
  referenced_[entry - 1] = 1;
  return static_cast<std::ptrdiff_t>(entry - 1);
}

std::size_t BlockCache::victim() {
  for (;;) {
    const std::size_t slot = hand_;
    hand_ = hand_ + 1 == blocks_.size() ? 0 : hand_ + 1;
    if (blocks_[slot] == 0 || !referenced_[slot]) return slot;
    referenced_[slot] = 0;
  }
}

void BlockCache::unindex(int64_t block) {
  const std::size_t mask = index_.size() - 1;
  std::size_t hole = probe(block);
  if (index_[hole] == 0) return;
  // Backward shift: an entry further on moves into the hole unless its home lies cyclically in
  // (hole, its place], where the probe for it would stop before reaching the hole.
  for (std::size_t i = (hole + 1) & mask; index_[i] != 0; i = (i + 1) & mask) {
    const std::size_t h = home(blocks_[index_[i] - 1]);
    const bool stays = hole <= i ? (hole < h && h <= i) : (hole < h || h <= i);
    if (stays) continue;
    index_[hole] = index_[i];
    hole = i;
  }
  index_[hole] = 0;
}

void BlockCache::forget(std::size_t slot) {
  if (blocks_[slot] == 0) return;
  unindex(blocks_[slot]);
  set_dirty(slot, false);
  blocks_[slot] = 0;
  referenced_[slot] = 0;
}

void BlockCache::assign(std::size_t slot, int64_t block) {
  forget(slot);
  blocks_[slot] = block;
  referenced_[slot] = 1;
  index_[probe(block)] = static_cast<uint32_t>(slot + 1);
}

void BlockCache::set_dirty(std::size_t slot, bool dirty) {
  if ((dirty_[slot] != 0) == dirty) return;
  dirty_[slot] = dirty ? 1 : 0;
  if (dirty) {
    ++dirty_count_;
  } else {
    --dirty_count_;
  }
}

void BlockCache::drop_from(int64_t first) {
  for (std::size_t slot = 0; slot < blocks_.size(); ++slot) {
    if (blocks_[slot] >= first) forget(slot);
  }
}

const std::vector<uint32_t>& BlockCache::dirty_in_block_order() {
  order_.clear();
  for (std::size_t slot = 0; slot < blocks_.size(); ++slot) {
    if (blocks_[slot] != 0 && dirty_[slot]) order_.push_back(static_cast<uint32_t>(slot));
  }
  std::sort(order_.begin(), order_.end(), [&](uint32_t a, uint32_t b) { return blocks_[a] < blocks_[b]; });
  return order_;
}

}  // namespace bio
