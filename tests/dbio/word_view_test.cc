// Views of words numbered from 1: word k is the k-th word, parts number their words from 1
// again, and every access outside the viewed words is refused instead of read.

#include "dbio/word_view.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

namespace {

const std::vector<int32_t> kBlock = {104, 7, 0, 3, 11, 12, 13};

TEST(WordView, NumbersWordsFromOne) {
  const dbio::WordView b(kBlock);
  EXPECT_EQ(b.size(), 7);
  EXPECT_EQ(b(1), 104);
  EXPECT_EQ(b(2), 7);
  EXPECT_EQ(b(7), 13);
}

TEST(WordView, PartsNumberTheirWordsFromOneAgain) {
  const dbio::WordView part = dbio::WordView(kBlock).part(5, 3);
  EXPECT_EQ(part.size(), 3);
  EXPECT_EQ(part(1), 11);
  EXPECT_EQ(part(3), 13);
  EXPECT_EQ(std::vector<int32_t>(part.begin(), part.end()), (std::vector<int32_t>{11, 12, 13}));
  EXPECT_EQ(part.part(2, 1)(1), 12);
}

TEST(WordView, EmptyPartAtTheEnd) {
  const dbio::WordView end = dbio::WordView(kBlock).part(8, 0);
  EXPECT_EQ(end.size(), 0);
  EXPECT_EQ(end.begin(), end.end());
}

TEST(WordView, RefusesWordsOutsideTheView) {
  const dbio::WordView b(kBlock);
  EXPECT_THROW(b(0), std::out_of_range);
  EXPECT_THROW(b(8), std::out_of_range);
  EXPECT_THROW(b(-1), std::out_of_range);
  EXPECT_THROW(b.part(5, 4), std::out_of_range);
  EXPECT_THROW(b.part(0, 1), std::out_of_range);
  EXPECT_THROW(b.part(9, 0), std::out_of_range);
  EXPECT_THROW(b.part(1, -1), std::out_of_range);
  EXPECT_THROW(b.part(5, 3)(4), std::out_of_range);
  EXPECT_THROW(dbio::WordView()(1), std::out_of_range);
  EXPECT_THROW(dbio::WordView(kBlock.data(), -1), std::invalid_argument);
}

TEST(WordView, FarOffsetsDoNotWrap) {
  const dbio::WordView b(kBlock);
  EXPECT_THROW(b(int64_t{1} << 40), std::out_of_range);
  EXPECT_THROW(b.part(2, INT64_MAX - 1), std::out_of_range);
  EXPECT_THROW(b.part(INT64_MAX, INT64_MAX), std::out_of_range);
}

}  // namespace
