// Doubles that a group's data carries from one block into the next, in files of the foreign
// layouts: the pair's first word is the last used data word of one group block, its second the
// first data word of the next. Groups' first blocks hold an odd number of data words for even
// block sizes (the 12-word key and the 5 spare words), so such pairs are routine.
//
// Native databases of one group are made by the converter, written out in each foreign layout
// by the test-side foreign writer, then read through the database layer, updated (the group
// appended to, rewritten from its start, or changed in the pages of its blocks) the same way as
// a native copy, and read again: the foreign file must be the updated native one in its layout,
// read back as the new values, and keep the bytes of every block the update did not change.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "app/loadxdb.h"
#include "dbio/pool.h"
#include "testkit/foreign_writer.h"
#include "testkit/neutral_encoding.h"
#include "testkit/neutral_writer.h"
#include "testkit/programs.h"
#include "testkit/scratch_database.h"
#include "xdb/datablocks.h"
#include "xdb/readers.h"

namespace {

using support::Item;
using Bytes = std::vector<unsigned char>;
using Words = std::vector<int32_t>;

constexpr int32_t kUnit = 1;
constexpr int32_t kGroupCode = 104;  // a group block of DDL object 1
constexpr int32_t kDElement = 104, kXElement = 107, kIntegerElement = 102;

Bytes file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The shape of the group: its block size and its entries, an integer in front of the pair or
// not. Entries of 2 words in blocks of 300 words, or of 3 in blocks of 301, put pairs across the
// end of the first block and of later ones.
struct Shape {
  const char* name;
  int32_t block_words;
  bool leading_integer;
  int32_t entry_words() const { return leading_integer ? 3 : 2; }
};
constexpr Shape kShapes[] = {{"pairs_in_300_words", 300, false}, {"integer_and_pair_in_301_words", 301, true}};
void PrintTo(const Shape& s, std::ostream* os) { *os << s.name; }

const char* layout_name(int32_t filtyp) {
  return filtyp == support::kBigEndian32 ? "big_endian_32"
         : filtyp == support::kBigEndian64 ? "big_endian_64"
                                            : "little_endian_64";
}

// Doubles whose halves are both non-zero and differ, so that swapped or lost halves show; each
// one a value that the neutral form encodes exactly. Made once: the encoder's search is slow.
double some_double(int i, int salt) {
  static std::map<std::pair<int, int>, double> made;
  auto [at, fresh] = made.try_emplace({i, salt});
  for (int k = 0; fresh; ++k) {
    const double v = (salt * 100000.0 + i * 37 + 11 + k) / (i % 2 ? -100.0 : 1000.0);
    const auto bits = std::bit_cast<uint64_t>(v);
    const auto low = static_cast<uint32_t>(bits), high = static_cast<uint32_t>(bits >> 32);
    if (low != 0 && low != high && support::encode_double(v)) {
      at->second = v;
      fresh = false;
    }
  }
  return at->second;
}

// The native words of `count` entries of the group, from value `first` on.
Words entry_words(const Shape& shape, int first, int count, int salt) {
  Words out;
  for (int i = first; i < first + count; ++i) {
    if (shape.leading_integer) out.push_back(1000 + i);
    const auto bits = std::bit_cast<uint64_t>(some_double(i, salt));
    out.push_back(static_cast<int32_t>(static_cast<uint32_t>(bits)));
    out.push_back(static_cast<int32_t>(static_cast<uint32_t>(bits >> 32)));
  }
  return out;
}

constexpr int kEntries = 3000;  // 20 blocks and more: more than a small pool holds
constexpr int kNativeSalt = 1;

// A neutral file of the DDL (one object, PAIRS) and the group PAIRS of kEntries entries.
void write_neutral(const std::string& path, const Shape& shape, int32_t element) {
  std::ofstream out(path, std::ios::binary);
  support::NeutralWriter w(out);
  w.header(shape.block_words);
  Words list;
  if (shape.leading_integer) list.push_back(kIntegerElement);
  list.push_back(element);
  const auto packed = support::pack_ddl_name(support::key("PAIRS").name);
  const std::vector<support::DdlObject> directory = {{packed[0], packed[1], 3 + 5, shape.entry_words(), 1}};
  w.ddl_block(support::key("DDLFORDB"), 20120, 2012, directory, list);
  std::vector<Item> items;
  for (int i = 0; i < kEntries; ++i) {
    if (shape.leading_integer) items.push_back(Item::integer(1000 + i));
    const double v = some_double(i, kNativeSalt);
    items.push_back(element == kDElement ? Item::dbl(v) : Item::dblx(v));
  }
  w.group(support::key("PAIRS"), 0, items);
  w.data_end();
  w.finish();
}

int convert(const std::string& neutral, const std::string& xdb) {
  std::ostringstream messages, output;
  platform::Units units;
  units.message = &messages;
  units.output = &output;
  platform::TextInput no_input;
  no_input.attach_memory("");
  const int status = app::run_loadxdb(app::CommandLine({"loadxdb", neutral, "output=" + xdb, "v=n"}), units, no_input);
  EXPECT_EQ(messages.str(), "");
  return status;
}

// The native databases, one per shape and pair class, made once for all tests.
class NativeDatabases {
 public:
  static NativeDatabases& get() {
    static NativeDatabases databases;
    return databases;
  }
  ~NativeDatabases() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& path(const Shape& shape, int32_t element) {
    const std::string name = std::string(shape.name) + "_" + std::to_string(element);
    auto [at, fresh] = paths_.try_emplace(name);
    if (fresh) {
      const std::string neutral = (dir_ / (name + ".ndb")).string();
      at->second = (dir_ / (name + ".xdb")).string();
      write_neutral(neutral, shape, element);
      EXPECT_EQ(convert(neutral, at->second), platform::kExitClean) << name;
    }
    return at->second;
  }

 private:
  NativeDatabases() {
    dir_ = std::filesystem::temp_directory_path() / ("loadxdb_foreign_pairs_" + std::to_string(support::process_id()));
    std::filesystem::create_directories(dir_);
  }
  std::filesystem::path dir_;
  std::map<std::string, std::string> paths_;
};

// The group's blocks in chain order, read from native words.
std::vector<int32_t> group_chain(const Words& native, int32_t block_words) {
  const auto blocks = static_cast<int32_t>(native.size()) / block_words;
  auto at = [&](int32_t b, int32_t k) { return native[static_cast<size_t>((b - 1) * block_words + k - 1)]; };
  int32_t first = 0;
  for (int32_t b = 2; b <= blocks && first == 0; ++b) {
    if (at(b, 1) == kGroupCode && at(b, 3) == 0) first = b;
  }
  std::vector<int32_t> chain;
  for (int32_t b = first; b != 0 && chain.size() <= static_cast<size_t>(blocks); b = at(b, 2)) chain.push_back(b);
  return chain;
}

// For each block of the group but the last, whether its data ends with a pair's first word.
std::vector<bool> pairs_across_ends(const Words& native, const Shape& shape) {
  const int32_t B = shape.block_words, L = shape.entry_words(), first_half = shape.leading_integer ? 1 : 0;
  const auto chain = group_chain(native, B);
  std::vector<bool> across;
  int64_t offset = 0;
  for (size_t i = 0; i + 1 < chain.size(); ++i) {
    const int32_t used = native[static_cast<size_t>((chain[i] - 1) * B + 3)];
    offset += i == 0 ? used - 12 : used;
    across.push_back((offset - 1) % L == first_half);
  }
  return across;
}

// Pairs across the end of the group's first block and of a later one, so the cases cannot pass
// without such pairs.
void expect_pairs_across_first_and_later_blocks(const Words& native, const Shape& shape) {
  const auto across = pairs_across_ends(native, shape);
  ASSERT_GE(across.size(), 3u);
  EXPECT_TRUE(across[0]) << "no pair across the end of the first block";
  EXPECT_NE(std::find(across.begin() + 1, across.end(), true), across.end()) << "no pair across a later block's end";
}

using Case = std::tuple<Shape, int32_t, int32_t>;  // shape, pair element, file type

std::string case_name(const Case& c) {
  return std::string(std::get<0>(c).name) + (std::get<1>(c) == kDElement ? "_D_" : "_X_") + layout_name(std::get<2>(c));
}

class ForeignPairs {
 protected:
  void prepare(const Case& c) {
    shape = std::get<0>(c);
    element = std::get<1>(c);
    filtyp = std::get<2>(c);
    native_path = NativeDatabases::get().path(shape, element);
    native = support::read_native_xdb(native_path);
  }

  // The group's data words, read through the database layer.
  Words group_words(support::ScratchDatabase& db) {
    int32_t kind = 0;
    const auto key = support::key("PAIRS").words();
    const xdb::Content content = xdb::read_data_block(db.ctx, kUnit, key.data(), kind);
    EXPECT_TRUE(content.problems.empty()) << content.problems.front();
    return content.words;
  }
  // Block b of unit kUnit as the pool holds it.
  Words pool_block(support::ScratchDatabase& db, int32_t b) {
    int32_t addr = 0;
    dbio::PAGFET(db.ctx, kUnit, b, addr);
    const int32_t* w = db.ctx.words(addr, shape.block_words);
    return Words(w, w + shape.block_words);
  }
  static Words block_of(const Words& words, int32_t b, int32_t B) {
    return Words(words.begin() + (b - 1) * B, words.begin() + b * B);
  }

  // Every block of the file `name` (in db's directory) reads as the native words, last block
  // first and then first block first: a block is read before and after its neighbours.
  void expect_blocks(support::ScratchDatabase& db, const std::string& name, const Words& expected) {
    ASSERT_EQ(db.open(kUnit, 0, 0, name), 0);
    ASSERT_EQ(db.ctx.grdblk.DBFLTY[kUnit], filtyp);
    const auto blocks = static_cast<int32_t>(expected.size()) / shape.block_words;
    for (int32_t b = blocks; b >= 1; --b) {
      ASSERT_EQ(pool_block(db, b), block_of(expected, b, shape.block_words)) << "block " << b;
    }
    for (int32_t b = 1; b <= blocks; ++b) {
      ASSERT_EQ(pool_block(db, b), block_of(expected, b, shape.block_words)) << "block " << b;
    }
    ASSERT_EQ(db.close(kUnit), 0);
  }

  Shape shape{};
  int32_t element = 0, filtyp = 0;
  std::string native_path;
  Words native;
};

// ---------------------------------------------------------------------------------------------
// Reading.

class ForeignPairsRead : public ForeignPairs, public ::testing::TestWithParam<Case> {};

TEST_P(ForeignPairsRead, ReadBackAsTheNativeValues) {
  prepare(GetParam());
  expect_pairs_across_first_and_later_blocks(native, shape);
  support::ScratchDatabase db(512, 20);
  support::write_foreign_xdb(native_path, db.path("foreign.xdb"), filtyp);

  ASSERT_EQ(db.open(kUnit, 0, 0, "foreign.xdb"), 0);
  EXPECT_EQ(group_words(db), entry_words(shape, 0, kEntries, kNativeSalt));
  ASSERT_EQ(db.close(kUnit), 0);
  expect_blocks(db, "foreign.xdb", native);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ForeignPairsRead,
                         ::testing::Combine(::testing::ValuesIn(kShapes), ::testing::Values(kDElement, kXElement),
                                            ::testing::Values(support::kBigEndian32, support::kBigEndian64,
                                                              support::kLittleEndian64)),
                         [](const auto& info) { return case_name(info.param); });

// ---------------------------------------------------------------------------------------------
// Updating: the same change made to the native database and to its foreign copy.

// The group appended to or rewritten from its start, an entry at a time; or its data words
// replaced in the pages of its blocks, last block first, so that a small pool writes blocks
// whose next block it no longer holds.
enum class Change { kAppend, kRewrite, kPagesLastFirst };
struct Update {
  const char* name;
  Change change;
  int32_t pages;  // of the pool: few, so that blocks leave it while their neighbours are written, or many
};
constexpr Update kUpdates[] = {{"append_small_pool", Change::kAppend, 11},
                               {"append_large_pool", Change::kAppend, 60},
                               {"rewrite_small_pool", Change::kRewrite, 11},
                               {"rewrite_large_pool", Change::kRewrite, 60},
                               {"pages_last_block_first_small_pool", Change::kPagesLastFirst, 11},
                               {"pages_last_block_first_large_pool", Change::kPagesLastFirst, 60}};
void PrintTo(const Update& u, std::ostream* os) { *os << u.name; }

constexpr int kAppended = 500;  // entries: into the last block and about three more
constexpr int kUpdateSalt = 2;

class ForeignPairsUpdate : public ForeignPairs, public ::testing::TestWithParam<std::tuple<Case, Update>> {
 protected:
  // The group's words once the update is made.
  Words updated_group() const {
    if (update.change != Change::kAppend) return entry_words(shape, 0, kEntries, kUpdateSalt);
    Words words = entry_words(shape, 0, kEntries, kNativeSalt);
    const Words more = entry_words(shape, kEntries, kAppended, kUpdateSalt);
    words.insert(words.end(), more.begin(), more.end());
    return words;
  }

  void apply(support::ScratchDatabase& db, const std::string& name) {
    ASSERT_EQ(db.open(kUnit, -1, 0, name), 0);
    if (update.change == Change::kPagesLastFirst) {
      change_pages_last_first(db);
      ASSERT_EQ(db.close(kUnit), 0);
      return;
    }
    const auto key = support::key("PAIRS").words();
    int32_t lfn = 0, ierr = 0;
    xdb::OPENGR(db.ctx, kUnit, key.data(), update.change == Change::kRewrite ? 1 : 2, lfn, 0, ierr);
    ASSERT_EQ(ierr, 0);
    const Words words = update.change == Change::kRewrite ? entry_words(shape, 0, kEntries, kUpdateSalt)
                                                           : entry_words(shape, kEntries, kAppended, kUpdateSalt);
    // An entry at a time, as a program writes them.
    const int32_t L = shape.entry_words();
    for (size_t at = 0; at < words.size(); at += static_cast<size_t>(L)) {
      xdb::WRITGR(db.ctx, lfn, words.data() + at, L, ierr);
      ASSERT_EQ(ierr, 0);
    }
    xdb::CLOSGR(db.ctx, lfn);
    ASSERT_EQ(db.close(kUnit), 0);
  }

  void change_pages_last_first(support::ScratchDatabase& db) {
    const Words words = updated_group();
    const int32_t B = shape.block_words;
    const auto chain = group_chain(native, B);
    std::vector<int64_t> offsets = {0};
    for (int32_t b : chain) {
      const int32_t used = native[static_cast<size_t>((b - 1) * B + 3)];
      offsets.push_back(offsets.back() + (b == chain.front() ? used - 12 : used));
    }
    ASSERT_EQ(offsets.back(), static_cast<int64_t>(words.size()));
    for (size_t i = chain.size(); i-- > 0;) {
      int32_t addr = 0;
      dbio::PAGFET(db.ctx, kUnit, chain[i], addr);
      const int32_t first = i == 0 ? 17 : 5;
      for (int64_t k = offsets[i]; k < offsets[i + 1]; ++k) db.ctx.W(addr + first - 1 + (k - offsets[i])) = words[static_cast<size_t>(k)];
      dbio::PAGMOD(db.ctx, kUnit, chain[i]);
    }
  }

  Update update{};
};

TEST_P(ForeignPairsUpdate, GivesTheNewValuesAndLeavesTheOtherBlocksAlone) {
  prepare(std::get<0>(GetParam()));
  update = std::get<1>(GetParam());
  support::ScratchDatabase db(512, update.pages);
  const std::string foreign = db.path("foreign.xdb");
  support::write_foreign_xdb(native_path, foreign, filtyp);
  const Bytes before = file_bytes(foreign);
  std::filesystem::copy_file(native_path, db.path("native.xdb"));
  apply(db, "native.xdb");
  apply(db, "foreign.xdb");
  const Words updated = support::read_native_xdb(db.path("native.xdb"));
  expect_pairs_across_first_and_later_blocks(updated, shape);

  // The foreign file is the updated native one in the foreign layout.
  const Bytes after = file_bytes(foreign);
  EXPECT_TRUE(after == support::ForeignWriter(updated).file(filtyp)) << "not the foreign file of the updated native one";

  // It reads back as the new values, and every block as the updated native block.
  ASSERT_EQ(db.open(kUnit, 0, 0, "foreign.xdb"), 0);
  EXPECT_EQ(group_words(db), updated_group());
  ASSERT_EQ(db.close(kUnit), 0);
  expect_blocks(db, "foreign.xdb", updated);

  // The blocks the update did not change are the bytes they were.
  const int32_t B = shape.block_words;
  const size_t block_bytes = static_cast<size_t>(B) * 4 * (filtyp == support::kBigEndian32 ? 1 : 2);
  ASSERT_GE(after.size(), before.size());
  int unchanged = 0;
  for (int32_t b = 1; b * B <= static_cast<int32_t>(native.size()); ++b) {
    if (block_of(native, b, B) != block_of(updated, b, B)) continue;
    ++unchanged;
    const auto from = static_cast<long>((b - 1) * block_bytes), to = static_cast<long>(b * block_bytes);
    EXPECT_TRUE(std::equal(before.begin() + from, before.begin() + to, after.begin() + from)) << "block " << b;
  }
  EXPECT_GT(unchanged, 0);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ForeignPairsUpdate,
                         ::testing::Combine(::testing::Combine(::testing::ValuesIn(kShapes),
                                                               ::testing::Values(kDElement, kXElement),
                                                               ::testing::Values(support::kBigEndian32,
                                                                                 support::kBigEndian64,
                                                                                 support::kLittleEndian64)),
                                            ::testing::ValuesIn(kUpdates)),
                         [](const auto& info) {
                           return case_name(std::get<0>(info.param)) + "_" + std::get<1>(info.param).name;
                         });

}  // namespace
