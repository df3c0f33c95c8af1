#include "xdb/verify.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <set>
#include <vector>

#include "dbio/block_kinds.h"
#include "dbio/blocks.h"
#include "dbio/logical_file.h"
#include "dbio/names.h"
#include "dbio/pool.h"
#include "dbio/poolcheck.h"
#include "dbio/word_view.h"
#include "dict/descriptor.h"
#include "dict/walker.h"
#include "xdb/readers.h"

namespace xdb {

namespace {

namespace desc = dict::descriptor;

// Descriptor word 2: the kind of a data block, as a logical file's record word 2 holds it.
using dbio::logical_file::kGroup, dbio::logical_file::kIntegerKeyed, dbio::logical_file::kMultiKey,
    dbio::logical_file::kSingleRecord;

const char* kind_name(int32_t kind) {
  switch (kind) {
    case kIntegerKeyed: return "relation";
    case kGroup: return "group";
    case kMultiKey: return "keyed";
    case kSingleRecord: return "record";
    default: return "unknown";
  }
}

// Who holds each block of the file. Every block has exactly one holder: the header, the
// dictionary, one data block or the released blocks; only single records share blocks, so all of
// them are one holder. A block with two holders would be overwritten by one of them (a released
// block in use is handed out again), and a block with none is lost to the file.
class Holders {
 public:
  explicit Holders(int32_t blocks) : holder_(static_cast<std::size_t>(std::max(blocks, 0)) + 1, kNobody) {}

  // A holder's name for the problem lines; the number that claims blocks for it.
  int32_t holder(std::string name) {
    names_.push_back(std::move(name));
    return static_cast<int32_t>(names_.size() - 1);
  }
  // Block numbers outside the file are left to the checks that follow them. Returns the problem
  // when the block already has another holder ("" otherwise), once per block.
  std::string claim(int32_t block, int32_t who) {
    if (block < 1 || block >= static_cast<int32_t>(holder_.size())) return "";
    int32_t& h = holder_[static_cast<std::size_t>(block)];
    if (h == kNobody) h = who;
    if (h == who || !twice_.insert(block).second) return "";
    return "block " + std::to_string(block) + " belongs to " + names_[static_cast<std::size_t>(h)] + " and to " +
           names_[static_cast<std::size_t>(who)];
  }
  // The blocks no one holds, as "block 7" or "blocks 7, 9-12"; "" when every block has a holder.
  std::string unheld() const {
    std::string list;
    int32_t count = 0;
    for (std::size_t b = 1; b < holder_.size(); ++b) {
      if (holder_[b] != kNobody) continue;
      std::size_t end = b;
      while (end + 1 < holder_.size() && holder_[end + 1] == kNobody) ++end;
      list += (list.empty() ? "" : ", ") + std::to_string(b) + (end > b ? "-" + std::to_string(end) : "");
      count += static_cast<int32_t>(end - b + 1);
      b = end;
    }
    return list.empty() ? "" : (count == 1 ? "block " : "blocks ") + list;
  }

 private:
  static constexpr int32_t kNobody = -1;
  std::vector<int32_t> holder_;
  std::vector<std::string> names_;
  std::set<int32_t> twice_;
};

class Checker {
 public:
  Checker(dbio::Context& ctx, int32_t unit, const std::string& file, std::ostream& problems, std::ostream* listing)
      : ctx_(ctx), unit_(unit), file_(file), problems_(problems), listing_(listing) {}

  void problem(const std::string& line) {
    problems_ << file_ << ": " << line << '\n';
    ++count_;
  }
  // A line that is not a problem: it says why something that looks like one is not.
  void note(const std::string& line) { problems_ << file_ << ": " << line << '\n'; }
  int64_t count() const { return count_; }

  void header();
  void released_chain();
  void data_block(const dict::WalkedEntry& entry);
  void ddl();
  void dictionary_blocks(const std::vector<int32_t>& blocks);
  void holders();

  int64_t data_blocks = 0;

 private:
  void claim(int32_t block, int32_t who) {
    if (std::string line = holders_.claim(block, who); !line.empty()) problem(line);
  }

  dbio::Context& ctx_;
  const int32_t unit_;
  const std::string& file_;
  std::ostream& problems_;
  std::ostream* listing_;
  int64_t count_ = 0;
  Holders holders_{ctx_.grdblk.USDBKS[unit_]};
  const int32_t records_ = holders_.holder("the single records");
  bool ddl_seen_ = false;
  std::array<int32_t, desc::kExtendedWords> ddl_descriptor_{};
};

void Checker::header() {
  const auto& g = ctx_.grdblk;
  claim(1, holders_.holder("the header"));
  const int32_t used = g.USDBKS[unit_];
  if (int64_t{g.MAXBKS[unit_]} != int64_t{g.FREBKS[unit_]} + used) problem("header: MAXBKS is not FREBKS + USDBKS");
  for (auto [name, value] : {std::pair{"DICTPI", g.DICTPI[unit_]}, {"DICFDB", g.DICFDB[unit_]}, {"DICFSI", g.DICFSI[unit_]}}) {
    if (value < 2 || value > used) problem(std::string("header: ") + name + " " + std::to_string(value) + " is not a block of the file");
  }
  if (g.DBDLEN[unit_] < desc::kStandardWords || g.DBDLEN[unit_] > desc::kExtendedWords) {
    problem("header: DBDLEN " + std::to_string(g.DBDLEN[unit_]) + " is not 12, 13 or 14");
  }
  if (g.SRBLK[unit_] < 0 || g.SRBLK[unit_] > used) problem("header: SRBLK " + std::to_string(g.SRBLK[unit_]) + " is not a block of the file");
}

void Checker::released_chain() {
  const auto& g = ctx_.grdblk;
  const int32_t released = holders_.holder("the released blocks");
  // Word k of the block whose word 1 is pool word `addr`. Released blocks are read in place, as
  // the block services read them when they hand them out (dbio/blocks.h).
  auto word = [&](int32_t addr, int64_t k) { return ctx_.W(int64_t{addr} + k - 1); };
  // A released root lists level-2 blocks (count in word 23, blocks in words 27, 29, ...) and a
  // released level-2 block its data blocks (word 3; words 5, 7, ...): released blocks too, handed
  // out before the block that lists them; they are the block words of the block's pairs. A count
  // that does not fit the block lists nothing.
  auto listed = [&](int32_t block, int32_t count_word, int32_t first_pair_word) {
    int32_t addr = 0;
    dbio::PAGFET(ctx_, unit_, block, addr);
    const int32_t count = word(addr, count_word);
    const int64_t list_word = int64_t{first_pair_word} + dbio::kPairBlockWord - 1;
    std::vector<int32_t> blocks;
    if (count <= 0 || list_word + dbio::kPairWords * (int64_t{count} - 1) > g.BUFSZ[unit_]) return blocks;
    for (int32_t i = 0; i < count; ++i) {
      const int32_t b = word(addr, list_word + dbio::kPairWords * int64_t{i});
      if (b < 2 || b > g.USDBKS[unit_]) {
        problem("released block " + std::to_string(block) + " lists block " + std::to_string(b) + ", outside the file");
      } else {
        blocks.push_back(b);
      }
    }
    return blocks;
  };
  std::set<int32_t> seen;
  for (int32_t block = g.DEDBKS[unit_]; block != 0;) {
    if (block < 2 || block > g.USDBKS[unit_]) {
      problem("released-block chain names block " + std::to_string(block) + ", outside the file");
      return;
    }
    if (!seen.insert(block).second) {
      problem("released-block chain returns to block " + std::to_string(block));
      return;
    }
    claim(block, released);
    int32_t addr = 0;
    dbio::PAGFET(ctx_, unit_, block, addr);
    const int32_t code = word(addr, dbio::kTypeWord), kind = dbio::kind_of(code);
    const int32_t next = word(addr, dbio::chain_word(code));
    auto listed_by_level2 = [&](int32_t level2) {
      return listed(level2, dbio::level2_block::kPairCountWord, dbio::level2_block::kFirstPairWord);
    };
    if (kind == dbio::kRootKind) {
      for (int32_t level2 : listed(block, dbio::root_block::kPairCountWord, dbio::root_block::kFirstPairWord)) {
        claim(level2, released);
        for (int32_t data : listed_by_level2(level2)) claim(data, released);
      }
    } else if (kind == dbio::kLevel2Kind) {
      for (int32_t data : listed_by_level2(block)) claim(data, released);
    }
    block = next;
  }
}

void Checker::data_block(const dict::WalkedEntry& entry) {
  ++data_blocks;
  const int32_t* key = entry.key;
  std::array<int32_t, desc::kExtendedWords> descriptor{};
  std::copy_n(entry.descriptor, ctx_.grdblk.DBDLEN[unit_], descriptor.begin());
  const dbio::WordView d(descriptor.data(), descriptor.size());
  const int32_t kind = d(desc::kKind);
  xdb::Content content;
  switch (kind) {
    case kGroup: content = read_group(ctx_, unit_, key, descriptor.data()); break;
    case kSingleRecord: content = read_record(ctx_, unit_, key, descriptor.data()); break;
    case kIntegerKeyed: content = read_integer_keyed(ctx_, unit_, key, descriptor.data()); break;
    case kMultiKey: content = read_multikey(ctx_, unit_, key, descriptor.data()); break;
    default: content.problems.push_back("kind " + std::to_string(kind) + " is not a kind of data block this tool reads");
  }
  const std::string name = dict::describe_key(key);
  for (const auto& p : content.problems) problem(name + ": " + p);
  for (const auto& n : content.notes) note(name + ": note: " + n);
  const int32_t holder = kind == kSingleRecord ? records_ : holders_.holder(name);
  for (int32_t block : content.reached) claim(block, holder);
  if (std::memcmp(key, "DDLFORDB", 8) == 0 && kind == kGroup && !ddl_seen_) {
    ddl_seen_ = true;
    ddl_descriptor_ = descriptor;
    const auto& w = content.words;
    const auto& g = ctx_.grdblk;
    if (g.DDLVER[unit_] != 0) {
      if (w.size() < 3 || w[0] != g.DDLVER[unit_] || w[2] != g.DDLSIZ[unit_]) {
        problem("the DDL group does not start with the header's DDL version and size");
      } else {
        const int64_t expected = 3 + 5 * int64_t{w[2] / 100000} + w[2] % 100000;
        if (static_cast<int64_t>(w.size()) != expected) {
          problem("the DDL group holds " + std::to_string(w.size()) + " words, its size announces " + std::to_string(expected));
        }
      }
      if (d(desc::kFirstBlock) != g.DDLBLK[unit_]) problem("the header's DDLBLK is not the DDL group's first block");
    }
  }
  if (listing_) {
    char line[256];
    const dbio::WordView key_words(key, dbio::kKeyWords);
    int n = std::snprintf(line, sizeof line, "%.8s", reinterpret_cast<const char*>(key));
    for (int k = dbio::kNameWords + 1; k <= dbio::kKeyWords; ++k) {
      n += std::snprintf(line + n, sizeof line - n, " %11d", key_words(k));
    }
    const int64_t length = kind == kGroup ? 0 : d(desc::kLength);
    const int64_t count = kind == kSingleRecord ? d(desc::kLength) : d(desc::kEntries);
    n += std::snprintf(line + n, sizeof line - n, "  %-8s %6lld %10lld", kind_name(kind), static_cast<long long>(length),
                       static_cast<long long>(count));
    *listing_ << std::string(line, n) << '\n';
  }
}

void Checker::ddl() {
  if (ctx_.grdblk.DDLVER[unit_] != 0 && !ddl_seen_) problem("the header names a DDL, but no DDLFORDB group exists");
}

void Checker::dictionary_blocks(const std::vector<int32_t>& blocks) {
  const int32_t dictionary = holders_.holder("the dictionary");
  for (int32_t block : blocks) claim(block, dictionary);
}

// The current shared block of single records takes the next record: it is theirs. Then every
// block must have been claimed.
void Checker::holders() {
  if (ctx_.grdblk.SRBLK[unit_] != 0) claim(ctx_.grdblk.SRBLK[unit_], records_);
  // A block that nothing reaches and that is not released is lost space: it costs room but no
  // data, so it is a note of its own, not a problem.
  if (std::string blocks = holders_.unheld(); !blocks.empty()) {
    problems_ << file_ << ": " << blocks << (blocks.rfind("blocks ", 0) == 0 ? " are" : " is")
              << " neither reachable nor released (wasted space, not damage)\n";
  }
}

}  // namespace

Verdict verify_database(dbio::Context& ctx, int32_t DBNUM, const std::string& file, std::ostream& problems,
                        std::ostream* listing) {
  Checker checker(ctx, DBNUM, file, problems, listing);
  checker.header();
  checker.released_chain();
  auto walk = dict::walk_dictionary(ctx, DBNUM, [&](const dict::WalkedEntry& e) { checker.data_block(e); });
  for (const auto& p : walk.problems) checker.problem("dictionary: " + p);
  checker.dictionary_blocks(walk.blocks);
  checker.ddl();
  checker.holders();
  for (const auto& p : dbio::check_pool(ctx)) checker.problem("pool: " + p);
  return Verdict{checker.count(), checker.data_blocks, ctx.grdblk.USDBKS[DBNUM], ctx.grdblk.BUFSZ[DBNUM]};
}

}  // namespace xdb
