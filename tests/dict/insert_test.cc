// Insertion: the blocks of the first entry, the shapes of data block and secondary index splits,
// the full primary index, and long runs of insertions in many orders that must leave a sound
// dictionary on disk after every close.

#include "dict/insert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>

#include "dbio/pool.h"
#include "dbio/poolcheck.h"
#include "tests/dict/dictionary_fixture.h"

namespace {

using namespace dicttest;

TEST(Insert, FirstEntryWritesTheThreeBlocksOfANewDatabase) {
  support::ScratchDatabase db;
  ASSERT_EQ(db.open(1, 100, 300, "first.xdb"), 0);
  const Key k = key("FIRST", {1, -2, 3});
  ASSERT_EQ(insert(db, k), 0);
  ASSERT_EQ(db.close(1), 0);
  std::ifstream in(db.path("first.xdb"), std::ios::binary);
  std::vector<int32_t> file(4 * 300);
  in.read(reinterpret_cast<char*>(file.data()), 4 * 300 * 4);
  auto block = [&](int32_t b, int32_t n) { return std::vector<int32_t>(&file[(b - 1) * 300], &file[(b - 1) * 300 + n]); };
  std::vector<int32_t> pi = {5}, si = {6, 2, 1}, data = {7, 0, 0, 1}, d = descriptor_for(k, 12, 1);
  for (auto* b : {&pi, &si, &data}) b->insert(b->end(), k.begin(), k.end());
  pi.push_back(4);
  si.push_back(3);
  data.insert(data.end(), d.begin(), d.end());
  EXPECT_EQ(block(2, 14), pi);
  EXPECT_EQ(block(4, 16), si);
  EXPECT_EQ(block(3, 28), data);
  EXPECT_EQ(block(1, 12), (std::vector<int32_t>{300, 100, 96, 4, 0, 2, 1, 1, 3, 1, 1, 4}));
}

// A full data block of 12 entries (blocks of 300 words) takes one more.
struct SplitCase {
  const char* what;
  int32_t first, step;
  bool named;  // keys of one name each, else qualifiers of one name
  Key added, remembered;
  std::vector<int32_t> counts;
};
class DataSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(DataSplit, SharesTheEntriesAsTheKeysSuggest) {
  const auto& c = GetParam();
  support::ScratchDatabase db;
  ASSERT_EQ(db.open(1, 100, 300, "split.xdb"), 0);
  std::vector<Key> all = {c.added};
  for (int32_t q = c.first; q < c.first + 12 * c.step; q += c.step) {
    all.push_back(c.named ? key("A" + std::to_string(q)) : key(q));
    ASSERT_EQ(insert(db, all.back()), 0);
  }
  ASSERT_EQ(insert(db, c.added), 0);
  Key remembered;
  for (int32_t k = 0; k < 12; ++k) remembered[k] = block_word(db, db.ctx.sysfil.DICDBB, db.ctx.sysfil.DICDBO + 1 + k);
  EXPECT_EQ(remembered, c.remembered);
  std::sort(all.begin(), all.end(), by_key);
  const auto got = shape(db);
  EXPECT_EQ(got.problems, std::vector<std::string>{});
  EXPECT_EQ(got.counts, c.counts);
  EXPECT_EQ(got.keys, all);
}

INSTANTIATE_TEST_SUITE_P(
    Insert, DataSplit,
    ::testing::Values(SplitCase{"AppendOfOneNameStartsANewBlock", 1, 1, false, key(13), key(13), {12, 1}},
                      SplitCase{"AppendOfANewNameHalves", 10, 1, true, key("A22"), key("A22"), {6, 7}},
                      SplitCase{"MiddleOfMixedNamesHalves", 10, 2, true, key("A21"), key("A21"), {6, 7}},
                      SplitCase{"UpperHalfOfOneNameSplitsAfterTheNewEntry", 2, 2, false, key(13), key(13), {7, 6}},
                      SplitCase{"LowerHalfOfOneNameHalves", 2, 2, false, key(5), key(5), {6, 7}},
                      SplitCase{"NewLowestKeyPushesTheFormerFirstEntry", 1, 1, false, key(0), key(1), {6, 7}}),
    [](const auto& info) { return std::string(info.param.what); });

// 22 full data blocks of one name (qualifiers 10, 20, ..., 2640) fill one secondary index block.
struct SecondaryCase {
  const char* what;
  int32_t added;
  std::vector<int32_t> counts;  // of the two secondary index blocks, and the first qualifier of the second
};
class SecondarySplit : public ::testing::TestWithParam<SecondaryCase> {};

TEST_P(SecondarySplit, KeepsTheLowerEntriesAndIndexesTheNewBlock) {
  support::ScratchDatabase db;
  ASSERT_EQ(db.open(1, 100, 300, "si.xdb"), 0);
  for (int32_t q = 10; q <= 2640; q += 10) ASSERT_EQ(insert(db, key(q)), 0);
  ASSERT_EQ(db.ctx.grdblk.DICNSI[1], 1);
  db.ctx.DBGFLG[dbio::kTraceDictionary] = true;
  ASSERT_EQ(insert(db, key(GetParam().added)), 0);
  const auto& g = db.ctx.grdblk;
  ASSERT_EQ(g.DICNSI[1], 2);
  EXPECT_EQ(std::vector<int32_t>({block_word(db, g.DICFSI[1], 3), block_word(db, block_word(db, g.DICTPI[1], 27), 3),
                                  block_word(db, g.DICTPI[1], 17)}),
            GetParam().counts);
  EXPECT_EQ(shape(db).problems, std::vector<std::string>{});
  for (const char* label : {" Dictionary Data Block Spliting", " Dictionary Secondary Block Spliting", " Blk2: "}) {
    EXPECT_NE(db.messages.str().find(label), std::string::npos) << label;
  }
}

INSTANTIATE_TEST_SUITE_P(Insert, SecondarySplit,
                         ::testing::Values(SecondaryCase{"AfterTheLastEntry", 2650, {22, 1, 2650}},
                                           SecondaryCase{"InTheMiddle", 505, {6, 17, 610}}),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(Insert, FullPrimaryIndexStopsBeforeTheDictionaryChanges) {
  support::ScratchDatabase db(300, 11);
  ASSERT_EQ(db.open(1, 100000, 300, "full.xdb"), 0);
  int32_t inserted = 0;
  EXPECT_EQ(db.stops([&] {
    for (int32_t q = 1; q < 100000; ++q, ++inserted) ASSERT_EQ(insert(db, key(q)), 0);
  }), platform::kExitFatal);
  EXPECT_EQ(inserted, 23 * 22 * 12);  // primary, secondary and data block capacities
  EXPECT_NE(db.messages.str().find(" *** DIOMSG ERROR MESSAGE     6 FROM SUBROUTINE DICINS  \n"
                                   "     OVERFLOW OF DICTIONARY PRIMARY INDEX FOR DATA BASE UNIT     1\n"),
            std::string::npos);
  ASSERT_EQ(db.close(1), 0);  // the stop wrote every page: the file holds every earlier key
  ASSERT_EQ(db.open(1, 0, 0, "full.xdb"), 0);
  const auto got = shape(db);
  EXPECT_EQ(got.problems, std::vector<std::string>{});
  EXPECT_EQ(got.keys.size(), static_cast<std::size_t>(inserted));
}

// Long runs, in three batches; after each the database is closed and reopened read-only, and must
// pass the walker and the pool check and find every key with its own descriptor.
enum class Order { Ascending, Descending, Random, Clustered };
struct RunCase {
  const char* what;
  int32_t blksiz, page_words, pages;
  bool many_names;  // names with bytes above 127 and negative qualifiers, else one name
  Order order;
  int32_t count;
};

std::vector<Key> run_keys(const RunCase& c) {
  std::mt19937 rng(c.count);
  std::vector<Key> keys;
  for (int32_t i = 0; i < c.count; ++i) {
    std::string name = "ONE";
    for (int32_t b = 0, n = rng() % (c.count / 3 + 1); c.many_names && b < 8; b += 2, n >>= 4) {
      name.resize(8, ' ');
      name[b] = static_cast<char>(0x20 + n % 16 * 14);
    }
    const int32_t q1 = static_cast<int32_t>(rng() % 9) - 4, q3 = static_cast<int32_t>(rng() % 5) - 2;
    keys.push_back(c.many_names ? key(name, {q1, 0, q3}) : key(name, {i - c.count / 2}));
  }
  std::sort(keys.begin(), keys.end(), by_key);
  keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
  const std::size_t run = c.order == Order::Clustered ? 64 : c.order == Order::Random ? 1 : keys.size();
  std::vector<std::vector<Key>> runs;  // runs of ascending keys, in random order
  for (std::size_t i = 0; i < keys.size(); i += run) runs.emplace_back(keys.begin() + i, keys.begin() + std::min(keys.size(), i + run));
  std::shuffle(runs.begin(), runs.end(), rng);
  keys.clear();
  for (auto& r : runs) keys.insert(keys.end(), r.begin(), r.end());
  if (c.order == Order::Descending) std::reverse(keys.begin(), keys.end());
  return keys;
}

class InsertionRun : public ::testing::TestWithParam<RunCase> {};

TEST_P(InsertionRun, LeavesASoundDictionaryAfterEveryBatch) {
  const auto& c = GetParam();
  const auto keys = run_keys(c);
  support::ScratchDatabase db(c.page_words, c.pages);
  auto& g = db.ctx.grdblk;
  ASSERT_EQ(db.open(1, 1000000, c.blksiz, "run.xdb"), 0);
  const int32_t dbdlen = c.blksiz < 0 ? 14 : 12;
  if (dbdlen == 14) {  // extended entries are kept on reopening only by a database with a DDL
    g.DDLVER[1] = 700;
    g.DDLSIZ[1] = 100001;
  }
  std::vector<int32_t> sequence(keys.size());
  std::size_t done = 0;
  for (int batch = 1; batch <= 3; ++batch) {
    for (std::size_t i = 0; i < done; i += done / 4 + 1) {  // keys already there: no page changes
      ASSERT_EQ(insert(db, keys[i]), 1);
      for (int32_t p = 1; p <= db.ctx.sysfil.NOFP; ++p) ASSERT_GE(dbio::page_unit(db.ctx, p), 0) << p;
    }
    for (; done < keys.size() * batch / 3; ++done) {
      ASSERT_EQ(db.stops([&] { EXPECT_EQ(insert(db, keys[done]), 0) << done; }), -1) << db.messages.str();
      sequence[done] = g.INFINU[1];
    }
    ASSERT_EQ(dbio::check_pool(db.ctx), std::vector<std::string>{});
    ASSERT_EQ(db.close(1), 0);
    ASSERT_EQ(db.open(1, 0, 0, "run.xdb"), 0);
    ASSERT_EQ(g.DBDLEN[1], dbdlen);
    auto expected = std::vector<Key>(keys.begin(), keys.begin() + done);
    std::sort(expected.begin(), expected.end(), by_key);
    const auto got = shape(db);
    ASSERT_EQ(got.problems, std::vector<std::string>{});
    ASSERT_EQ(got.keys, expected);
    std::vector<int32_t> entry(dbdlen);
    for (std::size_t i = 0; i < done; ++i) {
      int32_t ierr = -1;
      dict::DICRDR(db.ctx, 1, keys[i].data(), entry.data(), ierr);
      ASSERT_EQ(ierr, 0) << i;
      ASSERT_EQ(entry, descriptor_for(keys[i], dbdlen, sequence[i])) << i;
    }
    ASSERT_EQ(dbio::check_pool(db.ctx), std::vector<std::string>{});
    ASSERT_EQ(db.close(1), 0);
    ASSERT_EQ(db.open(1, -1, 0, "run.xdb"), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Insert, InsertionRun,
    ::testing::Values(RunCase{"SmallPoolOneNameAscending", 300, 300, 11, false, Order::Ascending, 3000},
                      RunCase{"SmallPoolOneNameDescending", 300, 300, 11, false, Order::Descending, 2000},
                      RunCase{"SmallPoolManyNamesRandom", 300, 300, 11, true, Order::Random, 2000},
                      RunCase{"SmallPoolManyNamesClustered", 300, 300, 11, true, Order::Clustered, 1500},
                      RunCase{"SmallExtendedRandom", -300, 300, 11, true, Order::Random, 1800},
                      RunCase{"MediumManyNamesRandom", 1024, 1024, 15, true, Order::Random, 20000},
                      RunCase{"MediumExtendedDescending", -1024, 1024, 15, true, Order::Descending, 20000},
                      RunCase{"LargeOneNameClustered", 4096, 4096, 15, false, Order::Clustered, 20000}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
