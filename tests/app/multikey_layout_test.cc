// Relations keyed by several words as the converter lays them out, held against the reference
// model of the writer's algorithm (testkit/multikey_model.h): every index level node by
// node, every data block entry by entry, the entry count and the append balance.
//
// The keys are 32-bit words from the whole range, so that two of them often lie 2^31 or more
// apart, where the key order (the sign of the wrapping difference) is not transitive. The layouts
// are then the algorithm's own whatever order they show, and the checker must find them sound:
// the one departure from ascending neighbours that the writer leaves is a note, and every other
// departure stays a problem. The search the writer makes finds exactly the entries that the
// algorithm's search finds; where the order is not transitive that is not every entry.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <random>
#include <set>
#include <string>

#include "dict/dictionary.h"
#include "testkit/end_to_end.h"
#include "testkit/multikey_model.h"
#include "testkit/neutral_blocks.h"
#include "testkit/neutral_writer.h"
#include "testkit/programs.h"
#include "testkit/scratch_database.h"
#include "testkit/xdb_image.h"
#include "xdb/datablocks.h"
#include "xdb/readers.h"

namespace {

namespace fs = std::filesystem;
namespace model = support::multikey_model;
using model::Words;

// A relation of a neutral file: its key, its shape, whether its key words are rotated, and its
// entries as the converter hands them to the database (rotation applied: word k leads).
struct NeutralRelation {
  support::Key key;
  model::Relation shape;
  bool rotated = false;
  std::vector<Words> stored;

  // Entry i as the caller writes it: a rotated key's first stored word is its last.
  Words callers(std::size_t i) const {
    Words entry = stored[i];
    if (rotated) std::rotate(entry.begin(), entry.begin() + 1, entry.begin() + shape.key_words);
    return entry;
  }
};

NeutralRelation relation_of(const support::Block& block, int32_t block_words) {
  const support::KindCode code = block.code();
  NeutralRelation r;
  r.key = block.key;
  r.shape = {block_words, code.entry_length, code.key_type};
  r.rotated = code.key_flag % 2 != 0 && code.key_type > 1;
  const Words words = block.body_words();
  const auto L = static_cast<std::size_t>(code.entry_length);
  for (std::size_t at = 0; at + L <= words.size(); at += L) {
    Words entry(words.begin() + static_cast<std::ptrdiff_t>(at), words.begin() + static_cast<std::ptrdiff_t>(at + L));
    if (r.rotated) std::rotate(entry.begin(), entry.begin() + (code.key_type - 1), entry.begin() + code.key_type);
    r.stored.push_back(std::move(entry));
  }
  return r;
}

// What an XDB's blocks hold for one relation, in the model's terms, and what its reader says.
struct Stored {
  model::Layout layout;
  std::vector<std::string> problems, notes;
};

Stored read_stored(const std::string& xdb, const NeutralRelation& r) {
  Stored s;
  support::ScratchDatabase db(std::max(r.shape.block_words, 1024), 20);
  if (db.open(1, 0, 0, fs::absolute(xdb).string()) != 0) {
    s.problems.push_back(xdb + " cannot be opened");
    return s;
  }
  const auto name = r.key.words();
  std::array<int32_t, 14> descriptor{};
  int32_t ierr = -1;
  dict::DICRDR(db.ctx, 1, name.data(), descriptor.data(), ierr);
  if (ierr != 0) {
    s.problems.push_back("the relation is not in the dictionary");
    return s;
  }
  xdb::MultiKeyShape shape;
  const xdb::Content content = xdb::read_multikey(db.ctx, 1, name.data(), descriptor.data(), &shape);
  s.problems = content.problems;
  s.notes = content.notes;
  const int32_t L = r.shape.entry_words, S = r.shape.index_entry_words();
  const int32_t kept = r.shape.entries_in_index() ? L : r.shape.key_words;  // of an index entry's words
  for (const auto& level : shape.node_words) {
    auto& nodes = s.layout.levels.emplace_back();
    for (const Words& words : level) {
      auto& entries = nodes.emplace_back();
      for (std::size_t at = 0; at + (S - 1) <= words.size(); at += S - 1) {
        entries.emplace_back(words.begin() + static_cast<std::ptrdiff_t>(at),
                             words.begin() + static_cast<std::ptrdiff_t>(at + kept));
      }
    }
  }
  std::size_t at = 0;
  for (int32_t n : shape.data_entries) {
    auto& block = s.layout.data_blocks.emplace_back();
    for (int32_t i = 0; i < n; ++i, at += L) {
      block.emplace_back(shape.chain_words.begin() + static_cast<std::ptrdiff_t>(at),
                         shape.chain_words.begin() + static_cast<std::ptrdiff_t>(at + L));
    }
  }
  s.layout.entries = descriptor[7];
  s.layout.balance = descriptor[6];
  db.close(1);
  return s;
}

std::string text(const Words& words) {
  std::string t = "(";
  for (std::size_t i = 0; i < words.size(); ++i) t += (i ? "," : "") + std::to_string(words[i]);
  return t + ")";
}

// The first place where the stored layout departs from the model's, "" when it does not.
std::string first_difference(const model::Layout& want, const model::Layout& got) {
  auto entries = [](const std::vector<Words>& list, const std::vector<Words>& other, const std::string& where) {
    for (std::size_t i = 0; i < std::min(list.size(), other.size()); ++i) {
      if (list[i] != other[i]) {
        return where + " entry " + std::to_string(i + 1) + ": model " + text(list[i]) + ", file " + text(other[i]);
      }
    }
    if (list.size() != other.size()) {
      return where + ": model " + std::to_string(list.size()) + " entries, file " + std::to_string(other.size());
    }
    return std::string();
  };
  if (want.levels.size() != got.levels.size()) {
    return "model " + std::to_string(want.levels.size()) + " index levels, file " + std::to_string(got.levels.size());
  }
  for (std::size_t l = 0; l < want.levels.size(); ++l) {
    const std::string level = "index level " + std::to_string(l + 1);
    if (want.levels[l].size() != got.levels[l].size()) {
      return level + ": model " + std::to_string(want.levels[l].size()) + " nodes, file " +
             std::to_string(got.levels[l].size());
    }
    for (std::size_t n = 0; n < want.levels[l].size(); ++n) {
      const std::string where = level + " node " + std::to_string(n + 1);
      if (auto d = entries(want.levels[l][n], got.levels[l][n], where); !d.empty()) return d;
    }
  }
  if (want.data_blocks.size() != got.data_blocks.size()) {
    return "model " + std::to_string(want.data_blocks.size()) + " data blocks, file " +
           std::to_string(got.data_blocks.size());
  }
  for (std::size_t b = 0; b < want.data_blocks.size(); ++b) {
    const std::string where = "data block " + std::to_string(b + 1);
    if (auto d = entries(want.data_blocks[b], got.data_blocks[b], where); !d.empty()) return d;
  }
  if (want.entries != got.entries) {
    return "model " + std::to_string(want.entries) + " entries, file " + std::to_string(got.entries);
  }
  if (want.balance != got.balance) {
    return "model balance " + std::to_string(want.balance) + ", file " + std::to_string(got.balance);
  }
  return "";
}

// The entries of a layout in key order as the index holds them: below each node's first entry
// its child first, behind each entry its child; without an index, the single data block.
std::vector<Words> in_order(const model::Layout& layout) {
  if (layout.levels.empty()) return layout.data_blocks.empty() ? std::vector<Words>{} : layout.data_blocks.front();
  std::vector<Words> order;
  std::vector<std::size_t> next(layout.levels.size(), 0);  // the next node of each level
  std::function<void(std::size_t)> walk = [&](std::size_t level) {
    const bool lowest = level + 1 == layout.levels.size();
    const std::size_t node = next[level]++;
    if (!lowest) walk(level + 1);
    for (const Words& entry : layout.levels[level][node]) {
      order.push_back(entry);
      if (!lowest) walk(level + 1);
    }
  };
  walk(0);
  return order;
}

// What the order of a layout shows: neighbours whose keys do not ascend, and whether the highest
// key is not the last one (only a key of one word is in the descriptor for the checker to see).
struct Departures {
  int neighbours = 0;
  bool highest = false;
};

Departures departures(const model::Layout& layout, int32_t k) {
  Departures d;
  const std::vector<Words> order = in_order(layout);
  for (std::size_t i = 1; i < order.size(); ++i) {
    d.neighbours += model::compare_keys(order[i].data(), order[i - 1].data(), k) <= 0;
  }
  d.highest = !order.empty() && !std::equal(layout.highest.begin(), layout.highest.end(), order.back().begin());
  return d;
}

// A scratch directory of the test, removed afterwards.
class Scratch {
 public:
  Scratch() : dir_(fs::temp_directory_path() / ("loadxdb_multikey_layout_" + std::to_string(support::process_id()))) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  ~Scratch() { fs::remove_all(dir_); }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  std::string path(const std::string& name) const { return (dir_ / name).string(); }
  const fs::path& dir() const { return dir_; }

 private:
  fs::path dir_;
};

// Writes the relation as a neutral file of its block size, entries as the caller writes them.
void write_neutral(const NeutralRelation& r, const std::string& path) {
  std::ofstream out(path);
  support::NeutralWriter writer(out);
  writer.header(r.shape.block_words);
  std::vector<support::Item> items;
  for (std::size_t i = 0; i < r.stored.size(); ++i) {
    for (int32_t w : r.callers(i)) items.push_back(support::Item::integer(w));
  }
  writer.relation(r.key, (r.shape.key_words + (r.rotated ? 10 : 0)) * 10000 + r.shape.entry_words, items);
  writer.data_end();
  writer.finish();
}

// ---------------------------------------------------------------------------------------------
// The reported file.

fs::path regression_file() {
  return fs::path(LOADXDB_SOURCE_DIR) / "tests" / "regressions" / "multikey-wrapping-order.ndb";
}

NeutralRelation regression_relation() {
  const support::NeutralFile neutral = support::read_neutral_file(regression_file().string());
  for (const auto& block : neutral.blocks) {
    if (block.key.name == "MGDHF9  ") return relation_of(block, support::block_words_of(neutral.block_size));
  }
  ADD_FAILURE() << "the regression file has no relation MGDHF9";
  return {};
}

// The checker's notes, behind the block that holds the key, or the keys themselves.
const std::string kNotTransitive =
    "as the writer leaves it for keys 2^31 or more apart, whose order is not transitive; not a problem";
const std::string kDepartureNote = "is below the key before it, " + kNotTransitive;

// Entries of 5 words keyed by all 5, rotated, in blocks of 300 words: 59 fill the data block. The
// 60th lies above all before it: its arrival builds the index (two lowest-level nodes) and its
// search puts it second in the first node; it is the highest key. The 61st is above it and goes
// behind the last entry, the highest of the first 59, which it is below.
TEST(MultiKeyLayout, TheReportedRelationIsTheAlgorithmsOwnLayout) {
  const NeutralRelation r = regression_relation();
  ASSERT_EQ(r.stored.size(), 64u) << "64 whole entries (five doubles carry a word beyond an entry; one word is cut)";
  EXPECT_EQ((std::vector<int32_t>{r.shape.block_words, r.shape.entry_words, r.shape.key_words}),
            (std::vector<int32_t>{300, 5, 5}));
  EXPECT_TRUE(r.rotated);
  Scratch scratch;
  const auto run = support::run_converter({regression_file().string(), "output=" + scratch.path("out.xdb"), "v=n"},
                                          scratch.dir());
  EXPECT_EQ(run.status, 2) << run.messages;
  const Stored stored = read_stored(scratch.path("out.xdb"), r);
  const model::Layout want = model::lay_out(r.shape, r.stored);
  EXPECT_EQ(first_difference(want, stored.layout), "");
  ASSERT_EQ(want.levels.size(), 2u);
  EXPECT_EQ(want.levels[1][0][1], r.stored[59]) << "the entry that built the index";
  const std::vector<Words> order = in_order(want);
  const auto at = std::find(order.begin(), order.end(), r.stored[60]);
  ASSERT_NE(at, order.begin());
  ASSERT_NE(at, order.end());
  EXPECT_LT(model::compare_keys(at->data(), (at - 1)->data(), 5), 0) << "the next entry above it lies behind a higher one";
  EXPECT_EQ(departures(want, r.shape.key_words).neighbours, 1);
  EXPECT_EQ(stored.problems, std::vector<std::string>{});
  EXPECT_EQ(stored.notes, std::vector<std::string>{"a key in index block 10 " + kDepartureNote});
  ASSERT_EQ(run.checked.size(), 1u);
  EXPECT_EQ(run.checked[0].status, 0);
  EXPECT_EQ(run.checked[0].report,
            run.checked[0].path + ": 'MGDHF9  '(1,-1,0,-419336155,16,0,29,0,0,0): note: a key in index block 10 " +
                kDepartureNote + "\n" + run.checked[0].path + ": sound: 4 data blocks, 12 blocks of 300 words\n");
}

// ---------------------------------------------------------------------------------------------
// Relations made by hand to leave each departure the writer can leave: keys whose last word is 0,
// 10, 20, ... (the others 0) ascending until the data block is full, then B with the last word +
// 2^31 - 1, above the last but below every other key, and then (unless the relation ends there) A
// with B's last word + 100, above B but below the last of the first ones. The full data block
// must make two lowest-level nodes (n * S + 6 >= BUFSZ), or the search in the root alone would put
// B behind the last key.

struct HandMade {
  const char* name;
  int32_t block, L, k;
  bool ends_with_builder;  // no A: B stays the highest key, lying first in key order
  std::string note;        // the checker's note, behind the relation's name
};

void PrintTo(const HandMade& h, std::ostream* os) { *os << h.name; }

int32_t full_block(const HandMade& h) { return (h.block - 5) / h.L; }

NeutralRelation hand_made(const HandMade& h) {
  NeutralRelation r;
  r.key = support::key("HAND");
  r.shape = {h.block, h.L, h.k};
  const int32_t full = full_block(h);
  auto entry = [&](int32_t key) {
    Words e(h.L, 7);
    std::fill_n(e.begin(), h.k, 0);
    e[h.k - 1] = key;
    return e;
  };
  for (int32_t i = 0; i < full; ++i) r.stored.push_back(entry(10 * i));
  const uint32_t last = 10u * static_cast<uint32_t>(full - 1), b = last + 0x7fffffffu;
  r.stored.push_back(entry(static_cast<int32_t>(b)));
  if (!h.ends_with_builder) r.stored.push_back(entry(static_cast<int32_t>(b + 100u)));
  return r;
}

class HandMadeDepartures : public ::testing::TestWithParam<HandMade> {};

TEST_P(HandMadeDepartures, AreTheAlgorithmsAndTheCheckerNotesThem) {
  const HandMade& h = GetParam();
  const NeutralRelation r = hand_made(h);
  Scratch scratch;
  write_neutral(r, scratch.path("in.ndb"));
  const auto run = support::run_converter({scratch.path("in.ndb"), "output=" + scratch.path("out.xdb"), "v=n"},
                                          scratch.dir());
  ASSERT_EQ(run.status, 0) << run.messages;
  const model::Layout want = model::lay_out(r.shape, r.stored);
  EXPECT_EQ(first_difference(want, read_stored(scratch.path("out.xdb"), r).layout), "");
  const Departures d = departures(want, h.k);
  EXPECT_EQ(d.neighbours, h.ends_with_builder ? 0 : 1);
  EXPECT_EQ(d.highest, h.ends_with_builder);
  ASSERT_EQ(want.levels.size(), 2u);
  EXPECT_EQ(want.levels[1][0].front(), Words(r.stored[full_block(h)].begin(), r.stored[full_block(h)].begin() + want.levels[1][0].front().size()))
      << "B lies first";
  ASSERT_EQ(run.checked.size(), 1u);
  const std::string& path = run.checked[0].path;
  EXPECT_EQ(run.checked[0].status, 0);
  const std::string report = run.checked[0].report;
  const std::string note = path + ": 'HAND    '(0,0,0,0,0,0,0,0,0,0): note: " + h.note + "\n";
  EXPECT_EQ(report.substr(0, note.size()), note);
  EXPECT_EQ(report.substr(note.size(), path.size() + 9), path + ": sound: ") << report;
  EXPECT_EQ(std::count(report.begin(), report.end(), '\n'), 2) << report;
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, HandMadeDepartures,
    ::testing::Values(
        HandMade{"in_the_index", 300, 3, 1, false, "a key in index block 8 " + kDepartureNote},
        HandMade{"in_data_blocks", 300, 5, 2, false, "a key in index block 8 " + kDepartureNote},
        HandMade{"highest_in_the_index", 300, 3, 1, true,
                 "highest key in the descriptor is -2147482679, the last entry's key 970, above it, " + kNotTransitive},
        HandMade{"highest_in_data_blocks", 301, 4, 1, true,
                 "highest key in the descriptor is -2147482919, the last entry's key 730, above it, " + kNotTransitive}),
    [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Departures the writer never leaves stay problems: the hand-made relations, and one whose keys
// all ascend (no B, no A), damaged on disk.

NeutralRelation ascending(int32_t count) {
  NeutralRelation r;
  r.key = support::key("HAND");
  r.shape = {300, 3, 1};
  for (int32_t i = 0; i < count; ++i) r.stored.push_back({10 * i, 7, 7});
  return r;
}

struct Damage {
  const char* name;
  NeutralRelation relation;
  // Changes the image; returns the problem lines the checker must print, behind the name.
  std::function<std::vector<std::string>(support::XdbImage&, const support::MappedEntry&)> damage;
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

// Word 1 (the key) of index entry i (from 1) of a node whose index entries have 4 words.
int32_t& key_of(support::XdbImage& x, int32_t node, int i) { return x.at(node, 8 + 4 * (i - 1)); }

std::string not_above(int32_t node) { return "a key in index block " + std::to_string(node) + " is not above the key before it"; }

std::vector<Damage> damages() {
  const NeutralRelation departing = hand_made({"", 300, 3, 1, false, ""});
  const NeutralRelation highest = hand_made({"", 300, 3, 1, true, ""});
  const NeutralRelation plain = ascending((300 - 5) / 3 + 2);
  auto swap_third_and_fourth = [](support::XdbImage& x, const support::MappedEntry& e) {
    std::swap(key_of(x, e.levels[1][0], 3), key_of(x, e.levels[1][0], 4));
    return std::vector<std::string>{not_above(e.levels[1][0])};
  };
  return {
      {"a_second_departure", departing,
       [](support::XdbImage& x, const support::MappedEntry& e) {
         std::swap(key_of(x, e.levels[1][0], 3), key_of(x, e.levels[1][0], 4));
         return std::vector<std::string>{not_above(e.levels[1][0]), not_above(e.levels[1][1])};
       }},
      {"one_departure_that_no_key_explains", plain, swap_third_and_fourth},
      {"equal_neighbours", plain,
       [](support::XdbImage& x, const support::MappedEntry& e) {
         key_of(x, e.levels[1][0], 3) = key_of(x, e.levels[1][0], 2);
         return std::vector<std::string>{not_above(e.levels[1][0])};
       }},
      {"a_highest_key_that_no_entry_holds", highest,
       [](support::XdbImage& x, const support::MappedEntry& e) {
         int32_t& word = x.at(e.dictionary_block, e.descriptor_word(11));
         word -= 1;
         return std::vector<std::string>{"highest key in the descriptor is " + std::to_string(word) +
                                         ", the last entry's key 970"};
       }},
      {"a_highest_key_below_the_last", plain,
       [](support::XdbImage& x, const support::MappedEntry& e) {
         x.at(e.dictionary_block, e.descriptor_word(11)) = 500;
         return std::vector<std::string>{"highest key in the descriptor is 500, the last entry's key 990"};
       }},
  };
}

class UnexplainedDepartures : public ::testing::TestWithParam<Damage> {};

TEST_P(UnexplainedDepartures, AreProblems) {
  const Damage& d = GetParam();
  Scratch scratch;
  write_neutral(d.relation, scratch.path("in.ndb"));
  const auto run = support::run_converter({scratch.path("in.ndb"), "output=" + scratch.path("out.xdb"), "v=n"},
                                          scratch.dir());
  ASSERT_EQ(run.status, 0) << run.messages;
  support::XdbImage image(scratch.path("out.xdb"));
  const support::XdbMap map = support::map_xdb(image);
  const std::vector<std::string> lines = d.damage(image, map.entry("HAND"));
  image.save(scratch.path("out.xdb"));
  const std::string path = scratch.path("out.xdb");
  std::string expected;
  for (const auto& line : lines) expected += path + ": 'HAND    '(0,0,0,0,0,0,0,0,0,0): " + line + "\n";
  expected += path + ": " + std::to_string(lines.size()) + (lines.size() == 1 ? " problem" : " problems") +
              " found in 1 data blocks\n";
  const auto checked = support::check_file(path);
  EXPECT_EQ(checked.report, expected);
  EXPECT_EQ(checked.status, 1);
}

INSTANTIATE_TEST_SUITE_P(Damages, UnexplainedDepartures, ::testing::ValuesIn(damages()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// Generated relations: random 32-bit key words, so that many pairs of keys lie 2^31 or more apart.

// The relation of a seed. k runs through 1..6, the entries lie in the index or in data blocks by
// turns, keys are mostly above all before them (each a step of up to 2^31 - 1 above the highest in
// one of its words) or drawn at random, and the relation ends just after the index is built, is
// of a few hundred entries or of some thousands, all by turns; blocks of 300 to 1024 words (to 450
// for the thousands, so that their indexes grow three levels and more). All
// key words but the last of a stored key come from three values per word, so that later words
// decide often too.
NeutralRelation generate(uint32_t seed) {
  std::mt19937 random(seed);
  auto word = [&] { return static_cast<int32_t>(random()); };
  NeutralRelation r;
  const int32_t k = 1 + static_cast<int32_t>(seed % 6);
  const bool in_index = (seed / 6) % 2 == 0, append_heavy = (seed / 12) % 2 == 0;
  const int32_t L = in_index ? k + static_cast<int32_t>(random() % 3) : k + 3 + static_cast<int32_t>(random() % 12);
  const int32_t size = static_cast<int32_t>((seed / 24) % 3);  // just past the index, hundreds, thousands
  r.shape = {300 + static_cast<int32_t>(random() % (size == 2 ? 150 : 725)), L, k};
  r.rotated = k > 1 && random() % 2 == 0;
  r.key = support::key("MKGEN", static_cast<int32_t>(seed));
  const int32_t full = (r.shape.block_words - 5) / L;
  const int32_t count = size == 0   ? full + 1 + static_cast<int32_t>(random() % 4)
                        : size == 1 ? 200 + static_cast<int32_t>(random() % 800)
                                    : 2000 + static_cast<int32_t>(random() % 6000);
  std::vector<std::array<int32_t, 3>> choices(k);
  for (auto& c : choices) c = {word(), word(), word()};
  auto key_word = [&](int32_t i) { return i + 1 < k ? choices[i][random() % 3] : word(); };
  std::set<Words> keys;
  Words highest;
  while (static_cast<int32_t>(r.stored.size()) < count) {
    Words entry(L);
    if (append_heavy && !highest.empty() && random() % 8 != 0) {
      // Above the highest: equal up to word j, word j a step above, the rest anything.
      const int32_t j = random() % 4 == 0 ? static_cast<int32_t>(random() % k) : k - 1;
      const uint32_t step = 1 + random() % 0x7fffffffu;
      for (int32_t i = 0; i < k; ++i) {
        entry[i] = i < j ? highest[i] : i == j ? static_cast<int32_t>(static_cast<uint32_t>(highest[i]) + step) : key_word(i);
      }
    } else {
      for (int32_t i = 0; i < k; ++i) entry[i] = key_word(i);
    }
    for (int32_t i = k; i < L; ++i) entry[i] = word();
    Words key(entry.begin(), entry.begin() + k);
    if (!keys.insert(key).second) continue;
    if (highest.empty() || model::compare_keys(key.data(), highest.data(), k) > 0) highest = key;
    r.stored.push_back(std::move(entry));
  }
  return r;
}

constexpr uint32_t kShards = 6, kSeedsPerShard = 72;  // every combination of the turns five times

class GeneratedLayouts : public ::testing::TestWithParam<uint32_t> {};

TEST_P(GeneratedLayouts, AreTheAlgorithmsAndSound) {
  const uint32_t first = GetParam() * kSeedsPerShard + 1;
  int compared = 0, departing = 0, deep = 0;
  for (uint32_t seed = first; seed < first + kSeedsPerShard; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const NeutralRelation r = generate(seed);
    Scratch scratch;
    write_neutral(r, scratch.path("in.ndb"));
    const auto run = support::run_converter({scratch.path("in.ndb"), "output=" + scratch.path("out.xdb"), "v=n"},
                                            scratch.dir());
    ASSERT_EQ(run.status, 0) << run.messages;
    const Stored stored = read_stored(scratch.path("out.xdb"), r);
    const model::Layout want = model::lay_out(r.shape, r.stored);
    const std::string difference = first_difference(want, stored.layout);
    EXPECT_EQ(difference, "") << "blocks of " << r.shape.block_words << " words, L " << r.shape.entry_words << ", k "
                              << r.shape.key_words;
    compared += difference.empty();
    deep += want.levels.size() >= 3;
    const Departures d = departures(want, r.shape.key_words);
    EXPECT_LE(d.neighbours, 1);
    const bool noted = d.neighbours > 0 || (r.shape.key_words == 1 && d.highest);
    departing += noted;
    EXPECT_EQ(stored.problems, std::vector<std::string>{});
    EXPECT_EQ(stored.notes.size(), noted ? 1u : 0u);
    EXPECT_EQ(run.unsound(), "");
  }
  std::cout << "[ layouts  ] seeds " << first << ".." << first + kSeedsPerShard - 1 << ": " << compared
            << " laid out as the model lays them out, " << deep << " of three levels or more, " << departing
            << " with a departure the checker notes\n";
}

INSTANTIATE_TEST_SUITE_P(Seeds, GeneratedLayouts, ::testing::Range(0u, kShards));

// ---------------------------------------------------------------------------------------------
// Lookups: a relation that refuses duplicates is given each of its entries again. The writer's
// search must find exactly the keys that the algorithm's search finds (and refuse those), and the
// layout must stay the model's. Keys within a window narrower than 2^31 are all found; keys 2^31
// or more apart are not: the search compares with entries that the order does not place.

struct Lookup {
  const char* name;
  std::function<NeutralRelation()> relation;
  bool all_found;
};

void PrintTo(const Lookup& l, std::ostream* os) { *os << l.name; }

NeutralRelation narrow_window() {
  NeutralRelation r;
  r.key = support::key("NARROW");
  r.shape = {300, 8, 3};
  r.rotated = true;
  std::mt19937 random(5);
  std::set<Words> keys;
  while (r.stored.size() < 3000) {
    Words entry(8, 1);
    for (int i = 0; i < 3; ++i) entry[i] = static_cast<int32_t>(random() % (1u << 30)) - (1 << 29);
    if (keys.insert(Words(entry.begin(), entry.begin() + 3)).second) r.stored.push_back(entry);
  }
  return r;
}

class Lookups : public ::testing::TestWithParam<Lookup> {};

TEST_P(Lookups, FindWhatTheAlgorithmsSearchFinds) {
  const NeutralRelation r = GetParam().relation();
  std::vector<Words> arrivals = r.stored;
  arrivals.insert(arrivals.end(), r.stored.begin(), r.stored.end());
  const model::Layout want = model::lay_out(r.shape, arrivals, true);
  Scratch scratch;
  {
    support::ScratchDatabase db(std::max(r.shape.block_words, 1024), 40);
    ASSERT_EQ(db.open(1, 10000000, r.shape.block_words, fs::absolute(scratch.path("look.xdb")).string()), 0);
    int32_t lfn = 0, ierr = -1;
    xdb::OPENRL(db.ctx, 1, r.key.words().data(), r.shape.entry_words, lfn, r.shape.key_words, r.rotated ? 1 : 0, 1,
                ierr);
    ASSERT_EQ(ierr, 0);
    std::vector<bool> refused;
    for (std::size_t i = 0; i < arrivals.size(); ++i) {
      const Words entry = r.callers(i % r.stored.size());
      xdb::WRITRL(db.ctx, lfn, entry.data(), ierr);
      ASSERT_TRUE(ierr == 0 || ierr == 2) << ierr;
      refused.push_back(ierr == 2);
    }
    xdb::CLOSGR(db.ctx, lfn);
    ASSERT_EQ(db.close(1), 0);
    EXPECT_EQ(refused, want.found);
    const auto missed = std::count(want.found.begin() + static_cast<std::ptrdiff_t>(r.stored.size()), want.found.end(), false);
    std::cout << "[ lookups  ] " << GetParam().name << ": " << missed << " of " << r.stored.size()
              << " entries not found by the search\n";
    if (GetParam().all_found) {
      EXPECT_EQ(missed, 0);
    }
    EXPECT_EQ(std::count(want.found.begin(), want.found.begin() + static_cast<std::ptrdiff_t>(r.stored.size()), true), 0)
        << "the first arrivals are all new";
  }
  const Stored stored = read_stored(scratch.path("look.xdb"), r);
  EXPECT_EQ(first_difference(want, stored.layout), "");
}

INSTANTIATE_TEST_SUITE_P(Relations, Lookups,
                         ::testing::Values(Lookup{"reported", regression_relation, false},
                                           Lookup{"generated_in_the_index", [] { return generate(421); }, false},
                                           Lookup{"generated_in_data_blocks", [] { return generate(428); }, false},
                                           Lookup{"narrow_window", narrow_window, true}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
