#pragma once
// A model of the layout of a relation keyed by several words (kind 3), at the level of entries and
// index nodes: no pool, no blocks, no files. It places the entries in their arrival order by the
// algorithm of the relation writer (the first data block kept in key order until it fills, the
// index built from it, later entries appended to the data blocks and entered into the index,
// full nodes split from the top down, the split tilted by the append balance), and gives what the
// blocks must then hold: per index level the nodes' entries from left to right, and the data
// blocks' entries in chain order.
//
// It is written from the algorithm's description, not from the writer, so that a test can hold
// what the writer leaves in a file against it. It depends on the standard library alone.
//
// Keys are compared word by word from the first, each by the sign of the wrapping 32-bit
// difference (this word minus that word). That comparison is not transitive for words 2^31 or
// more apart, and the model does not repair that: it makes exactly the comparisons the algorithm
// makes, so it shows which layouts the algorithm itself leaves.

#include <cstdint>
#include <vector>

namespace support::multikey_model {

using Words = std::vector<int32_t>;

// Blocks of `block_words` words (BUFSZ) holding entries of `entry_words` words (L) keyed by their
// first `key_words` words (k). REQUIRES: 1 <= k <= L, a data block holds an entry and an index
// node at least three index entries.
struct Relation {
  int32_t block_words = 0, entry_words = 0, key_words = 0;

  // Words of an index entry: k + 1 + min(2, L - k).
  int32_t index_entry_words() const;
  // True when the entries live in the index nodes once there is an index (L - k <= 2).
  bool entries_in_index() const;
};

// What the blocks of the relation hold.
struct Layout {
  // Per index level from the root, per node from left to right, its index entries in block order,
  // each as the k key words, or as the whole entry (L words) when the entries live in the index.
  // Empty while there is no index.
  std::vector<std::vector<std::vector<Words>>> levels;
  // Per data block in chain order, its entries (L words each) in block order.
  std::vector<std::vector<Words>> data_blocks;
  int32_t entries = 0;  // new entries placed (record word 8)
  int32_t balance = 0;  // the append balance (record word 27)
  Words highest;        // the highest key so far (record words 28 ..), k words
  // Per arrival: true when the search found its key, so that the entry overwrote the one found
  // or was refused; false when it was placed as a new entry.
  std::vector<bool> found;
};

// -1, 0 or +1 as the k-word key a is below, equal to or above b in the key order above.
int compare_keys(const int32_t* a, const int32_t* b, int32_t k);

// The layout after the entries (L words each, key rotation already applied) arrived in the given
// order. A key that is found again overwrites its entry, or leaves it as it is when
// `refuse_duplicates`.
Layout lay_out(const Relation& relation, const std::vector<Words>& arrivals, bool refuse_duplicates = false);

// The keys of the arrivals that the search RELPUT makes (through the index, or in the single data
// block while there is none) does not find once all of them have arrived, in arrival order.
std::vector<Words> keys_not_found(const Relation& relation, const std::vector<Words>& arrivals);

}  // namespace support::multikey_model
