#pragma once
// Dictionaries for tests: keys from a name and qualifiers, their order, insertion with a
// descriptor derived from the key, and what the walker finds.

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "dict/dictionary.h"
#include "dict/insert.h"
#include "dict/walker.h"
#include "testkit/scratch_database.h"

namespace dicttest {

using Key = std::array<int32_t, 12>;

inline Key key(std::string name, std::vector<int32_t> qualifiers = {}) {
  Key k{};
  name.resize(8, ' ');
  std::memcpy(k.data(), name.data(), 8);
  std::copy_n(qualifiers.begin(), std::min<std::size_t>(qualifiers.size(), 10), k.begin() + 2);
  return k;
}
inline Key key(int32_t q) { return key("GROUP", {q}); }
// The key order written out from its rule, apart from DICCMP, so that tests that sort their
// expected keys do not take the order from the code they test: the 8 name bytes as unsigned bytes
// from the first on, then the ten qualifiers as signed integers in turn.
inline bool by_key(const Key& a, const Key& b) {
  unsigned char name_a[8], name_b[8];
  std::memcpy(name_a, a.data(), 8);
  std::memcpy(name_b, b.data(), 8);
  for (int i = 0; i < 8; ++i) {
    if (name_a[i] != name_b[i]) return name_a[i] < name_b[i];
  }
  for (int q = 2; q < 12; ++q) {
    if (a[q] != b[q]) return a[q] < b[q];
  }
  return false;
}

// The descriptor written for a key, with the sequence number `sequence` in word 1.
inline std::vector<int32_t> descriptor_for(const Key& k, int32_t words, int32_t sequence = 0) {
  std::vector<int32_t> d(words);
  for (int32_t i = 0; i < words; ++i) {
    d[i] = static_cast<int32_t>(uint32_t(k[0]) * 7u + (uint32_t(k[1]) + uint32_t(k[2 + i % 10])) * (i + 1u));
  }
  d[0] = sequence;
  return d;
}

// DICINS of `k` with its descriptor; returns IERR.
inline int32_t insert(support::ScratchDatabase& db, const Key& k) {
  Key copy = k;
  auto entry = descriptor_for(k, db.ctx.grdblk.DBDLEN[1]);
  int32_t ierr = -1;
  dict::DICINS(db.ctx, 1, copy.data(), entry.data(), ierr);
  EXPECT_EQ(copy, k);  // the caller's key is left as it was
  return ierr;
}

// The walker's problems, the entries per data block in chain order, and every key in walk order.
struct Shape {
  std::vector<std::string> problems;
  std::vector<int32_t> counts;
  std::vector<Key> keys;
};
inline Shape shape(support::ScratchDatabase& db) {
  Shape s;
  int32_t last_block = 0;
  s.problems = dict::walk_dictionary(db.ctx, 1, [&](const dict::WalkedEntry& e) {
                 if (e.block != last_block) s.counts.push_back(0);
                 last_block = e.block;
                 ++s.counts.back();
                 std::copy_n(e.key, 12, s.keys.emplace_back().begin());
               }).problems;
  return s;
}

// Word `word` of dictionary block `block` of unit 1, in its page.
inline int32_t& block_word(support::ScratchDatabase& db, int32_t block, int32_t word) {
  int32_t addr = 0;
  dict::DICBLK(db.ctx, 1, block, addr);
  return db.ctx.W(int64_t{addr} + word - 1);
}

}  // namespace dicttest
