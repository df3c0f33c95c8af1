#include "testkit/multikey_model.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

namespace support::multikey_model {

namespace {

// Block header words: a data block's entries start behind 5 words, a node's entries behind 7.
constexpr int32_t kDataHeader = 5, kNodeHeader = 7;
// A search over more entries than this halves; over fewer it scans from the first.
constexpr int32_t kScanLimit = 16;

int compare_word(int32_t a, int32_t b) {
  const auto difference = static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
  return (difference > 0) - (difference < 0);
}

// Where a data entry lives: its data block (from 0, in chain order) and its place in that block.
struct Location {
  int32_t block = -1, slot = -1;
};

// An index entry: its key (or its whole entry when entries live in the index), the data entry it
// names, and the child node for keys above it (-1 in the lowest level).
struct IndexEntry {
  Words words;
  Location at;
  int32_t child = -1;
};

struct Node {
  int32_t below_first = -1;  // child for keys below the first entry, -1 in the lowest level
  std::vector<IndexEntry> entries;
};

// The answer of a search among m entries: found at `pos`, or not found with `pos` the first
// higher entry (m when the key is above them all). Positions count from 0.
struct Hit {
  bool found = false;
  int32_t pos = 0;
};

// One node of a descent and the position taken in it: above the node where the descent ends, the
// child followed (0 the child below the first entry, j the child of entry j counted from 1); in
// that node, the entry found or the insertion point.
struct Step {
  int32_t node = -1, pos = 0;
};
using Path = std::vector<Step>;

class Model {
 public:
  explicit Model(const Relation& r)
      : B_(r.block_words),
        L_(r.entry_words),
        k_(r.key_words),
        S_(r.index_entry_words()),
        in_index_(r.entries_in_index()) {
    if (k_ < 1 || L_ < k_ || kDataHeader + L_ > B_ || kNodeHeader + 3 * S_ > B_) {
      throw std::invalid_argument("the relation does not fit its blocks");
    }
  }

  // Places one entry; true when the search found its key (the entry then overwritten or refused).
  bool put(const Words& entry, bool refuse_duplicates);
  Layout layout() const;
  // True when the search that RELPUT makes for a key finds it.
  bool finds(const int32_t* key) const;

 private:
  int compare(const int32_t* key, const Words& words) const { return compare_keys(key, words.data(), k_); }

  // KEYFND: the last entry first; then halving over the others when there are more than 16,
  // otherwise the first entry that is not below the key.
  template <typename KeyOf>
  Hit search(const int32_t* key, int32_t m, const KeyOf& key_of) const {
    if (m < 1) return {false, 0};
    const int last = compare(key, key_of(m - 1));
    if (last > 0) return {false, m};
    if (last == 0) return {true, m - 1};
    if (m > kScanLimit) {
      int32_t low = 0, high = m - 2;
      while (low <= high) {
        const int32_t mid = (low + high) / 2;
        const int c = compare(key, key_of(mid));
        if (c == 0) return {true, mid};
        if (c < 0) {
          high = mid - 1;
        } else {
          low = mid + 1;
        }
      }
      return {false, low};
    }
    for (int32_t i = 0; i + 1 < m; ++i) {
      const int c = compare(key, key_of(i));
      if (c <= 0) return {c == 0, i};
    }
    return {false, m - 1};
  }
  Hit search_node(const int32_t* key, const Node& node) const {
    return search(key, static_cast<int32_t>(node.entries.size()),
                  [&](int32_t i) -> const Words& { return node.entries[i].words; });
  }

  bool data_full(std::size_t n) const { return kDataHeader + int64_t(n + 1) * L_ > B_; }
  bool node_full(const Node& node) const { return kNodeHeader + int64_t(node.entries.size() + 1) * S_ > B_; }
  int32_t child_at(const Node& node, int32_t pos) const {
    return pos == 0 ? node.below_first : node.entries[pos - 1].child;
  }
  int32_t new_node() {
    nodes_.emplace_back();
    return static_cast<int32_t>(nodes_.size()) - 1;
  }
  IndexEntry index_entry(const Words& entry, Location at) const {
    IndexEntry item;
    item.words.assign(entry.begin(), entry.begin() + (in_index_ ? L_ : k_));
    if (!in_index_) item.at = at;
    return item;
  }

  bool find(const int32_t* key, Path& path) const;
  void descend_right(Path& path) const;
  void insert(const Path& path, IndexEntry item);
  int32_t left_part(int32_t n) const;
  void build_index();
  void append(const Words& entry, Path& path);

  const int32_t B_, L_, k_, S_;
  const bool in_index_;
  std::vector<Node> nodes_;
  int32_t root_ = -1;
  std::vector<std::vector<Words>> data_;
  Layout record_;
};

// IDXFND: from the root down, each node searched; a key found stops the descent, otherwise the
// child in front of the insertion point is followed until there is none.
bool Model::find(const int32_t* key, Path& path) const {
  path.clear();
  for (int32_t node = root_;;) {
    const Hit hit = search_node(key, nodes_[node]);
    path.push_back({node, hit.pos});
    if (hit.found) return true;
    const int32_t child = child_at(nodes_[node], hit.pos);
    if (child < 0) return false;
    node = child;
  }
}

// The walk of an append: along the last child of each node; the insertion point is the end of
// the lowest-level node reached.
void Model::descend_right(Path& path) const {
  path.clear();
  for (int32_t node = root_;;) {
    const auto m = static_cast<int32_t>(nodes_[node].entries.size());
    path.push_back({node, m});
    const int32_t child = child_at(nodes_[node], m);
    if (child < 0) return;
    node = child;
  }
}

// The entries the left node keeps when a full node of n entries splits: a = n / 2, or n / 10
// while the balance is above BUFSZ / 3, at least 1; the left node keeps a while the balance is
// below 1, otherwise the right node takes a and the left keeps n - a - 1.
int32_t Model::left_part(int32_t n) const {
  const int32_t balance = record_.balance;
  const int32_t a = std::max(balance > B_ / 3 ? n / 10 : n / 2, 1);
  return balance < 1 ? a : n - a - 1;
}

// IDXINS at the end of a descent. A full node: the full nodes above it up to the first with room
// are split from the top down (a full root gets a new root above it); each split passes the entry
// between its two parts up into the node that now holds the split node, and the descent goes on in
// the part that holds its position.
void Model::insert(const Path& path, IndexEntry item) {
  int t = static_cast<int>(path.size()) - 1;
  while (t >= 0 && node_full(nodes_[path[t].node])) --t;
  int32_t node = t >= 0 ? path[t].node : -1, pos = t >= 0 ? path[t].pos : 0;
  for (int i = t + 1; i < static_cast<int>(path.size()); ++i) {
    const int32_t full = path[i].node, p = path[i].pos;
    const auto n = static_cast<int32_t>(nodes_[full].entries.size());
    const int32_t left = left_part(n);
    const int32_t right = new_node();  // may move nodes_: index it afresh below
    IndexEntry middle = nodes_[full].entries[left];
    nodes_[right].below_first = middle.child;
    nodes_[right].entries.assign(nodes_[full].entries.begin() + left + 1, nodes_[full].entries.end());
    nodes_[full].entries.resize(left);
    middle.child = right;
    if (node < 0) {
      const int32_t top = new_node();
      nodes_[top].below_first = full;
      nodes_[top].entries.push_back(std::move(middle));
      root_ = top;
    } else {
      nodes_[node].entries.insert(nodes_[node].entries.begin() + pos, std::move(middle));
    }
    node = p <= left ? full : right;
    pos = p <= left ? p : p - left - 1;
  }
  nodes_[node].entries.insert(nodes_[node].entries.begin() + pos, std::move(item));
}

// IDXBLD from the single data block, which is full: one index entry per data entry in order; in
// the root alone when they fit it (n * S + 6 < BUFSZ), otherwise spread over two lowest-level
// nodes, the first with n / 2 - 1 entries, the next entry in the root, the rest in the second.
// When the entries live in the index the data block goes.
//
// Entries of one word keyed by it are the one shape for which the rest does not fit a node: then
// the fewest lowest-level nodes that hold them with one entry in the root between each two, the
// entries spread evenly over them, the first ones taking one more.
void Model::build_index() {
  const std::vector<Words>& block = data_.front();
  const auto n = static_cast<int32_t>(block.size());
  std::vector<IndexEntry> items;
  for (int32_t i = 0; i < n; ++i) items.push_back(index_entry(block[i], {0, i}));
  root_ = new_node();
  if (int64_t{n} * S_ + 6 < B_) {
    nodes_[root_].entries = std::move(items);
  } else {
    const int32_t capacity = (B_ - kNodeHeader) / S_;
    std::vector<int32_t> sizes{n / 2 - 1, n - n / 2};
    if (sizes[1] > capacity) {
      const int32_t count = (n + 1 + capacity) / (capacity + 1);
      const int32_t spread = n - (count - 1);
      sizes.clear();
      for (int32_t j = 0; j < count; ++j) sizes.push_back(spread / count + (j < spread % count ? 1 : 0));
    }
    auto from = items.begin();
    for (std::size_t j = 0; j < sizes.size(); ++j) {
      const int32_t lowest = new_node();
      nodes_[lowest].entries.assign(from, from + sizes[j]);
      from += sizes[j];
      if (j == 0) {
        nodes_[root_].below_first = lowest;
      } else {
        nodes_[root_].entries.back().child = lowest;
      }
      if (j + 1 < sizes.size()) nodes_[root_].entries.push_back(*from++);
    }
  }
  if (in_index_) data_.clear();
}

// A new entry behind all others in the data blocks, entered into the index at the end of `path`:
// into the last data block while it has room; otherwise (after building the index when there is
// none, and finding the insertion point in it) into a new last data block, unless the entries now
// live in the index. With the index holding the entries it goes there only.
void Model::append(const Words& entry, Path& path) {
  Location at;
  if (!data_.empty()) {
    if (!data_full(data_.back().size())) {
      data_.back().push_back(entry);
      at = {static_cast<int32_t>(data_.size()) - 1, static_cast<int32_t>(data_.back().size()) - 1};
    } else {
      if (root_ < 0) {
        build_index();
        find(entry.data(), path);
      }
      if (!in_index_) {
        data_.push_back({entry});
        at = {static_cast<int32_t>(data_.size()) - 1, 0};
      }
    }
  }
  if (root_ >= 0) insert(path, index_entry(entry, at));
}

// RELPUT. The balance moves within the bounds of record word 27: up while below BUFSZ / 2, down
// while its magnitude is below BUFSZ / 2.
bool Model::put(const Words& entry, bool refuse_duplicates) {
  if (static_cast<int32_t>(entry.size()) != L_) throw std::invalid_argument("an entry has L words");
  const int32_t* key = entry.data();
  auto placed = [&](bool highest) {
    if (record_.entries < 2147483646) ++record_.entries;
    if (highest) record_.highest.assign(entry.begin(), entry.begin() + k_);
    return false;
  };
  if (root_ < 0 && data_.empty()) {
    data_.push_back({entry});
    return placed(true);
  }
  if (compare_keys(key, record_.highest.data(), k_) > 0) {
    if (record_.balance < B_ / 2) ++record_.balance;
    Path path;
    if (root_ >= 0) descend_right(path);
    append(entry, path);
    return placed(true);
  }
  if (root_ < 0) {
    std::vector<Words>& block = data_.front();
    const Hit hit = search(key, static_cast<int32_t>(block.size()), [&](int32_t i) -> const Words& { return block[i]; });
    if (hit.found) {
      if (!refuse_duplicates) block[hit.pos] = entry;
      return true;
    }
    if (!data_full(block.size())) {
      block.insert(block.begin() + hit.pos, entry);
      return placed(false);
    }
    build_index();
  }
  Path path;
  if (find(key, path)) {
    if (refuse_duplicates) return true;
    IndexEntry& found = nodes_[path.back().node].entries[path.back().pos];
    if (in_index_) {
      found.words = entry;
    } else {
      data_[found.at.block][found.at.slot] = entry;
    }
    return true;
  }
  if (std::abs(record_.balance) < B_ / 2) --record_.balance;
  append(entry, path);
  return placed(false);
}

bool Model::finds(const int32_t* key) const {
  if (root_ < 0) {
    if (data_.empty()) return false;
    const std::vector<Words>& block = data_.front();
    return search(key, static_cast<int32_t>(block.size()), [&](int32_t i) -> const Words& { return block[i]; }).found;
  }
  Path path;
  return find(key, path);
}

Layout Model::layout() const {
  Layout out = record_;
  out.data_blocks = data_;
  std::vector<int32_t> level;
  if (root_ >= 0) level.push_back(root_);
  while (!level.empty()) {
    std::vector<int32_t> below;
    auto& nodes = out.levels.emplace_back();
    for (int32_t node : level) {
      auto& entries = nodes.emplace_back();
      const Node& n = nodes_[node];
      if (n.below_first >= 0) below.push_back(n.below_first);
      for (const IndexEntry& e : n.entries) {
        entries.push_back(e.words);
        if (e.child >= 0) below.push_back(e.child);
      }
    }
    level = std::move(below);
  }
  return out;
}

}  // namespace

int32_t Relation::index_entry_words() const { return key_words + 1 + std::min(2, entry_words - key_words); }
bool Relation::entries_in_index() const { return entry_words - key_words <= 2; }

int compare_keys(const int32_t* a, const int32_t* b, int32_t k) {
  for (int32_t i = 0; i < k; ++i) {
    if (const int c = compare_word(a[i], b[i])) return c;
  }
  return 0;
}

Layout lay_out(const Relation& relation, const std::vector<Words>& arrivals, bool refuse_duplicates) {
  Model model(relation);
  std::vector<bool> found;
  for (const Words& entry : arrivals) found.push_back(model.put(entry, refuse_duplicates));
  Layout layout = model.layout();
  layout.found = std::move(found);
  return layout;
}

std::vector<Words> keys_not_found(const Relation& relation, const std::vector<Words>& arrivals) {
  Model model(relation);
  for (const Words& entry : arrivals) model.put(entry, false);
  std::vector<Words> missed;
  for (const Words& entry : arrivals) {
    if (!model.finds(entry.data())) missed.emplace_back(entry.begin(), entry.begin() + relation.key_words);
  }
  return missed;
}

}  // namespace support::multikey_model
