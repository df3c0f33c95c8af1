#include "xdb/readers.h"

#include <algorithm>
#include <array>
#include <set>

#include "dbio/names.h"
#include "dbio/pool.h"
#include "dict/dictionary.h"

namespace xdb {

namespace {

constexpr int32_t kIntegerKeyed = 1, kGroup = 2, kSingleRecord = 4;

// Reads a block into a copy (a page may be reused by the next fetch); false when the block
// number lies outside the file.
bool fetch(dbio::Context& ctx, int32_t unit, int32_t block, std::vector<int32_t>& into, Content& c,
           const char* what) {
  const auto& g = ctx.grdblk;
  if (block < 1 || block > g.USDBKS[unit]) {
    c.problems.push_back(std::string(what) + " block " + std::to_string(block) + " lies outside the file (" +
                         std::to_string(g.USDBKS[unit]) + " blocks)");
    return false;
  }
  int32_t addr = 0;
  dbio::PAGFET(ctx, unit, block, addr);
  const int32_t bufsz = g.BUFSZ[unit];
  into.assign(ctx.words(addr, bufsz), ctx.words(addr, bufsz) + bufsz);
  return true;
}

int32_t type_of(int32_t code) { return code > 100 ? code % 100 : code; }

std::string block_text(int32_t block) { return "block " + std::to_string(block); }

}  // namespace

Content read_group(dbio::Context& ctx, int32_t unit, const int32_t* key, const int32_t* d) {
  Content c;
  const int32_t bufsz = ctx.grdblk.BUFSZ[unit];
  std::vector<int32_t> b;
  std::set<int32_t> seen;
  int32_t previous = 0;
  for (int32_t block = d[3]; block != 0; block = b[1]) {
    if (!seen.insert(block).second) {
      c.problems.push_back("group chain returns to " + block_text(block));
      break;
    }
    if (!fetch(ctx, unit, block, b, c, "group")) break;
    ++c.blocks;
    if (type_of(b[0]) != 4) c.problems.push_back(block_text(block) + " of a group has type " + std::to_string(b[0]));
    if (b[2] != previous) {
      c.problems.push_back(block_text(block) + " names " + std::to_string(b[2]) + " as previous, not " +
                           std::to_string(previous));
    }
    int32_t used = b[3];
    if (used < 0 || used > bufsz - 5) {
      c.problems.push_back(block_text(block) + " claims " + std::to_string(used) + " used words");
      used = std::clamp(used, 0, bufsz - 5);
    }
    int32_t from = 4;
    if (previous == 0) {
      if (used < 12 || !std::equal(key, key + dbio::kKeyWords, b.begin() + 4)) {
        c.problems.push_back("first " + block_text(block) + " of a group does not hold its key");
      }
      from = 4 + std::min(used, 12);
      used = std::max(used - 12, 0);
    }
    c.words.insert(c.words.end(), b.begin() + from, b.begin() + from + used);
    previous = block;
  }
  if (static_cast<int64_t>(c.words.size()) != d[7]) {
    c.problems.push_back("group holds " + std::to_string(c.words.size()) + " words, its descriptor says " +
                         std::to_string(d[7]));
  }
  if (d[11] != previous) {
    c.problems.push_back("group ends in " + block_text(previous) + ", its descriptor says " + std::to_string(d[11]));
  }
  if (int64_t{d[8]} != int64_t{d[7]} + c.blocks) {
    c.problems.push_back("group word 9 of the descriptor is " + std::to_string(d[8]) + ", not words plus blocks");
  }
  return c;
}

Content read_record(dbio::Context& ctx, int32_t unit, const int32_t* /*key*/, const int32_t* d) {
  Content c;
  std::vector<int32_t> b;
  if (!fetch(ctx, unit, d[3], b, c, "shared record")) return c;
  c.blocks = 1;
  const int64_t bufsz = ctx.grdblk.BUFSZ[unit];
  if (b[0] != 10) c.problems.push_back("shared " + block_text(d[3]) + " has type " + std::to_string(b[0]));
  const int64_t first = d[6], length = d[4];
  if (first < 3 || length < 1 || first + 1 + length > std::min<int64_t>(b[1], bufsz)) {
    c.problems.push_back("single record at word " + std::to_string(first) + " of " + std::to_string(length) +
                         " words does not lie inside the used part of " + block_text(d[3]));
    return c;
  }
  if (b[first] != length) {
    c.problems.push_back("single record header says " + std::to_string(b[first]) + " words, its descriptor " +
                         std::to_string(length));
  }
  c.words.assign(b.begin() + first + 1, b.begin() + first + 1 + length);
  return c;
}

Content read_integer_keyed(dbio::Context& ctx, int32_t unit, const int32_t* key, const int32_t* d) {
  Content c;
  const int32_t L = d[4];
  const int64_t bufsz = ctx.grdblk.BUFSZ[unit];
  if (L < 1 || L + 4 > bufsz) {
    c.problems.push_back("relation entry length " + std::to_string(L) + " does not fit a block");
    return c;
  }
  const int64_t capacity = (bufsz - 4) / L;

  // The root and its index: every pair's key is the first key of its child.
  std::vector<int32_t> root, level2, data;
  std::vector<std::pair<int32_t, int32_t>> data_pairs;  // (first key, block) in index order
  if (fetch(ctx, unit, d[2], root, c, "root")) {
    if (root[0] != 1) c.problems.push_back("root " + block_text(d[2]) + " has type " + std::to_string(root[0]));
    if (!std::equal(key, key + dbio::kKeyWords, root.begin() + 1)) c.problems.push_back("root does not hold its key");
    const int64_t pairs = root[22];
    if (pairs < 0 || 25 + 2 * pairs > bufsz) {
      c.problems.push_back("root claims " + std::to_string(pairs) + " pairs");
    } else {
      for (int64_t i = 0; i < pairs; ++i) {
        const int32_t level2_key = root[25 + 2 * i], level2_block = root[26 + 2 * i];
        if (!fetch(ctx, unit, level2_block, level2, c, "level-2")) continue;
        if (level2[0] != 2 || level2[1] != d[2]) {
          c.problems.push_back("level-2 " + block_text(level2_block) + " has type " + std::to_string(level2[0]) +
                               " and root " + std::to_string(level2[1]));
        }
        const int64_t m = level2[2];
        if (m < 1 || 3 + 2 * m > bufsz) {
          c.problems.push_back("level-2 " + block_text(level2_block) + " claims " + std::to_string(m) + " pairs");
          continue;
        }
        if (level2[3] != level2_key) {
          c.problems.push_back("root pair key " + std::to_string(level2_key) + " differs from the first key of level-2 " +
                               block_text(level2_block));
        }
        for (int64_t j = 0; j < m; ++j) data_pairs.emplace_back(level2[3 + 2 * j], level2[4 + 2 * j]);
      }
    }
  }

  // The data blocks along their chain, in key order.
  std::set<int32_t> seen;
  int32_t previous = 0;
  std::size_t index = 0;
  bool first_entry = true;
  int32_t last_key = 0;
  for (int32_t block = d[3]; block != 0; block = data[1]) {
    if (!seen.insert(block).second) {
      c.problems.push_back("data chain returns to " + block_text(block));
      break;
    }
    if (!fetch(ctx, unit, block, data, c, "data")) break;
    ++c.blocks;
    if (type_of(data[0]) != 3) c.problems.push_back("data " + block_text(block) + " has type " + std::to_string(data[0]));
    if (data[2] != previous) c.problems.push_back("data " + block_text(block) + " has a wrong back link");
    const int64_t n = data[3];
    if (n < 0 || n > capacity) {
      c.problems.push_back("data " + block_text(block) + " claims " + std::to_string(n) + " entries");
      break;
    }
    if (n > 0) {  // an empty relation has one empty data block and no index
      if (index < data_pairs.size()) {
        if (data_pairs[index].second != block || data_pairs[index].first != data[4]) {
          c.problems.push_back("index pair " + std::to_string(index + 1) + " does not name data " + block_text(block) +
                               " with its first key");
        }
      } else {
        c.problems.push_back("data " + block_text(block) + " has no index pair");
      }
    }
    ++index;
    for (int64_t i = 0; i < n; ++i) {
      const int32_t k = data[4 + i * L];
      if (!first_entry && k <= last_key) {
        c.problems.push_back("key " + std::to_string(k) + " in data " + block_text(block) + " is not above " +
                             std::to_string(last_key));
      }
      first_entry = false;
      last_key = k;
      c.words.insert(c.words.end(), data.begin() + 4 + i * L, data.begin() + 4 + (i + 1) * L);
    }
    previous = block;
  }
  if (d[7] > 0 && index != data_pairs.size()) {
    c.problems.push_back("the index names " + std::to_string(data_pairs.size()) + " data blocks, the chain has " +
                         std::to_string(index));
  }
  const int64_t entries = static_cast<int64_t>(c.words.size()) / L;
  if (entries != d[7]) {
    c.problems.push_back("relation holds " + std::to_string(entries) + " entries, its descriptor says " +
                         std::to_string(d[7]));
  }
  if (c.blocks != d[8]) {
    c.problems.push_back("relation has " + std::to_string(c.blocks) + " data blocks, its descriptor says " +
                         std::to_string(d[8]));
  }
  if (previous != d[11]) c.problems.push_back("relation ends in " + block_text(previous) + ", its descriptor says " + std::to_string(d[11]));
  if (entries > 0 && (d[6] != static_cast<int32_t>(c.words[0]) || d[10] != last_key)) {
    c.problems.push_back("relation's lowest or highest key in its descriptor is wrong");
  }
  return c;
}

Content read_data_block(dbio::Context& ctx, int32_t unit, const int32_t* key, int32_t& kind) {
  std::array<int32_t, 14> d{};
  int32_t ierr = 0;
  dict::DICRDR(ctx, unit, key, d.data(), ierr);
  kind = ierr == 0 ? d[1] : 0;
  if (ierr != 0) return Content{{}, 0, {"no dictionary entry for the key"}};
  switch (d[1]) {
    case kGroup: return read_group(ctx, unit, key, d.data());
    case kSingleRecord: return read_record(ctx, unit, key, d.data());
    case kIntegerKeyed: return read_integer_keyed(ctx, unit, key, d.data());
    default: return Content{{}, 0, {"kind " + std::to_string(d[1]) + " cannot be read yet"}};
  }
}

}  // namespace xdb
