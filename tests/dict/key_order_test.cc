// The key order against a list of keys sorted by hand: DICCMP on every pair of it, DICSRC over it,
// the fixture's own comparator, and the order in which the dictionary walk returns the keys
// after insertions in many orders.
//
// The order: the 8 name bytes (blank padded) as unsigned bytes from the first on, then the ten
// qualifiers as signed integers in turn.

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "dict/dictionary.h"
#include "tests/dict/dictionary_fixture.h"

namespace {

using namespace dicttest;

// Ascending, each key strictly above the one before it; the comment names the first byte or
// qualifier (counted from 1) that puts it there.
const std::vector<Key> kAscending = {
    key("\x01"),                                  // name byte 1 is 01, below the blank
    key(" "),                                     // eight blanks
    key("A", {INT_MIN}),                          // byte 1 'A' (41); among the "A"s, qualifier 1
    key("A", {-1, INT_MAX}),                      // -1 is below 0 whatever follows
    key("A", {0, 0, 0, 0, 0, 0, 0, 0, 0, -1}),    // qualifiers 1-9 equal, qualifier 10 decides
    key("A"),                                     // all qualifiers 0
    key("A", {0, 0, 0, 0, 0, 0, 0, 0, 0, 1}),
    key("A", {0, 5}),                             // qualifier 2
    key("A", {1, -5}),                            // qualifier 1 before qualifier 2
    key("A", {INT_MAX}),
    key("A0"),                                    // byte 2 '0' (30) above the blank (20)
    key("AAAAAAAA"),
    key("AAAAAAAB"),                              // byte 8
    key("AAAAZ"),                                 // byte 5, in the second name word
    key("AAAB"),                                  // byte 4 decides before byte 5
    key("AZ"),
    key("A\x7F"),                                 // the highest byte below 128
    key("A\x80"),                                 // bytes above 127 follow it
    key("A\xE9"),
    key("B", {INT_MIN}),                          // byte 1 decides before any qualifier
    key("BAAA"),
    key("Z"),
    key("a"),                                     // lower case (61) after upper case
    key("\x80"),
    key("\xE9T\xE9"),
    key("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", {INT_MAX, INT_MAX}),
};

TEST(LiteralKeyOrder, DiccmpOrdersEveryPairAsTheList) {
  for (std::size_t i = 0; i < kAscending.size(); ++i) {
    for (std::size_t j = 0; j < kAscending.size(); ++j) {
      const int want = i < j ? -1 : i == j ? 0 : 1;
      EXPECT_EQ(dict::DICCMP(kAscending[i].data(), kAscending[j].data()), want) << "keys " << i << " and " << j;
    }
  }
}

TEST(LiteralKeyOrder, FixtureComparatorSortsIntoTheList) {
  std::vector<Key> keys = kAscending;
  std::reverse(keys.begin(), keys.end());
  std::mt19937 rng(11);
  std::shuffle(keys.begin() + 5, keys.end(), rng);
  std::sort(keys.begin(), keys.end(), by_key);
  EXPECT_EQ(keys, kAscending);
}

// DICSRC over the list as 13-word index records (key and a block number).
std::vector<int32_t> index_records(const std::vector<Key>& keys) {
  std::vector<int32_t> list;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    list.insert(list.end(), keys[i].begin(), keys[i].end());
    list.push_back(static_cast<int32_t>(100 + i));
  }
  return list;
}

TEST(LiteralKeyOrder, SearchFindsEachKeyAtItsPlaceInTheList) {
  const std::vector<int32_t> list = index_records(kAscending);
  const auto count = static_cast<int32_t>(kAscending.size());
  for (int32_t i = 0; i < count; ++i) {
    int32_t pos = 0, notfnd = -1;
    dict::DICSRC(kAscending[static_cast<std::size_t>(i)].data(), list.data(), 13, 12, count, pos, notfnd);
    EXPECT_EQ(std::make_pair(pos, notfnd), std::make_pair(i * 13 + 1, 0)) << "key " << i;
  }
}

struct Between {
  const char* what;
  Key key;
  int32_t lower;  // the list position (from 0) of the key just below it
};

TEST(LiteralKeyOrder, SearchPlacesAMissingKeyBehindTheKeysBelowIt) {
  const Between cases[] = {
      {"below every key", key("\x01", {-1}), -1},
      {"blanks and a last byte 21", key("       !"), 1},
      {"qualifier 2 between 0 and 5", key("A", {0, 1}), 6},
      {"byte 3 above the blank", key("A\x7F!"), 16},
      {"between 'z' and byte 80", key("z"), 22},
      {"above every key", key("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", {INT_MAX, INT_MAX, 1}), 25},
  };
  const std::vector<int32_t> list = index_records(kAscending);
  const auto count = static_cast<int32_t>(kAscending.size());
  for (const auto& c : cases) {
    int32_t pos = 0, notfnd = -1;
    dict::DICSRC(c.key.data(), list.data(), 13, 12, count, pos, notfnd);
    EXPECT_EQ(std::make_pair(pos, notfnd), std::make_pair((c.lower + 1) * 13 + 1, 1)) << c.what;
    if (c.lower >= 0) {
      EXPECT_EQ(dict::DICCMP(kAscending[static_cast<std::size_t>(c.lower)].data(), c.key.data()), -1) << c.what;
    }
    if (c.lower + 1 < count) {
      EXPECT_EQ(dict::DICCMP(c.key.data(), kAscending[static_cast<std::size_t>(c.lower + 1)].data()), -1) << c.what;
    }
  }
}

// The dictionary, filled in some order, walks in the order of the list. Blocks of 300 words hold
// 12 entries, so the list takes three data blocks and the insertions split some of them.
struct InsertionOrder {
  const char* what;
  std::vector<int> positions;  // of the list, in the order of insertion
};
void PrintTo(const InsertionOrder& c, std::ostream* os) { *os << c.what; }

std::vector<int> ascending_positions() {
  std::vector<int> p(kAscending.size());
  for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<int>(i);
  return p;
}

class LiteralWalkOrder : public ::testing::TestWithParam<InsertionOrder> {};

TEST_P(LiteralWalkOrder, WalkReturnsTheKeysInTheOrderOfTheList) {
  support::ScratchDatabase db(300, 11);
  ASSERT_EQ(db.open(1, 1000, 300, "order.xdb"), 0);
  ASSERT_EQ(GetParam().positions.size(), kAscending.size());
  for (int p : GetParam().positions) ASSERT_EQ(insert(db, kAscending[static_cast<std::size_t>(p)]), 0) << p;
  auto got = shape(db);
  EXPECT_EQ(got.problems, std::vector<std::string>{});
  EXPECT_EQ(got.keys, kAscending);
  ASSERT_EQ(db.close(1), 0);
  ASSERT_EQ(db.open(1, 0, 0, "order.xdb"), 0);
  got = shape(db);
  EXPECT_EQ(got.problems, std::vector<std::string>{});
  EXPECT_EQ(got.keys, kAscending);
  EXPECT_GE(got.counts.size(), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Dictionary, LiteralWalkOrder,
    ::testing::Values(
        InsertionOrder{"Ascending", ascending_positions()},
        InsertionOrder{"Descending", [] {
                         auto p = ascending_positions();
                         std::reverse(p.begin(), p.end());
                         return p;
                       }()},
        InsertionOrder{"HighBytesFirst", {25, 24, 23, 18, 17, 16, 0,  1,  2,  3,  4,  5,  6,
                                          7,  8,  9,  10, 11, 12, 13, 14, 15, 19, 20, 21, 22}},
        InsertionOrder{"Interleaved", {0, 13, 1, 14, 2, 15, 3, 16, 4, 17, 5, 18, 6,
                                       19, 7, 20, 8, 21, 9, 22, 10, 23, 11, 24, 12, 25}},
        InsertionOrder{"Scrambled", {12, 3, 25, 7, 18, 0, 21, 9, 14, 5, 23, 1, 16,
                                     10, 19, 2, 24, 8, 13, 20, 4, 11, 22, 6, 17, 15}}),
    [](const auto& info) { return std::string(info.param.what); });

}  // namespace
