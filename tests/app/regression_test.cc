// Neutral files that once converted wrongly, kept in tests/regressions/ as they were reported.
// Each must now convert as its row says, into an XDB that the checker finds sound and that holds
// exactly what the neutral file holds, block by block as the reader decodes it.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <unistd.h>

#include "testkit/end_to_end.h"
#include "testkit/neutral_blocks.h"
#include "testkit/test_directory.h"

namespace {

namespace fs = std::filesystem;

struct Regression {
  const char* file;
  const char* fault;  // what went wrong with it
};

const Regression kRegressions[] = {
    {"relation-level2-split.ndb",
     "a relation keyed by word 1 whose level-2 blocks split in random key order: pairs went to a level-2 block "
     "that was not the data block's own, the index named blocks without their keys (exit status 0)"},
};

void PrintTo(const Regression& r, std::ostream* os) { *os << r.file; }

fs::path regressions() { return fs::path(LOADXDB_SOURCE_DIR) / "tests" / "regressions"; }

class Regressions : public ::testing::TestWithParam<Regression> {};

TEST_P(Regressions, ConvertsSoundAndHoldsWhatTheFileHolds) {
  const Regression& r = GetParam();
  const support::TestDirectory dir("regression");
  const std::string xdb = dir.path("out.xdb");
  const support::NeutralFile neutral = support::read_neutral_file((regressions() / r.file).string());
  ASSERT_EQ(neutral.failure, "");
  std::set<std::array<int32_t, 12>> keys;
  for (const auto& block : neutral.blocks) ASSERT_TRUE(keys.insert(block.key.words()).second) << "a key comes twice";

  const auto run = support::run_converter({(regressions() / r.file).string(), "output=" + xdb, "verbose=no"}, dir.path());
  EXPECT_EQ(run.status, 0) << r.fault << "\n" << run.messages;
  EXPECT_EQ(run.messages, "");
  ASSERT_EQ(run.checked.size(), 1u);
  EXPECT_EQ(run.unsound(), "") << r.fault;
  const auto comparison = support::compare_with_model(xdb, neutral.blocks, support::block_words_of(neutral.block_size));
  for (std::size_t i = 0; i < std::min<std::size_t>(comparison.differences.size(), 10); ++i) {
    ADD_FAILURE() << comparison.differences[i];
  }
}

INSTANTIATE_TEST_SUITE_P(Files, Regressions, ::testing::ValuesIn(kRegressions), [](const auto& info) {
  std::string name = info.param.file;
  name = name.substr(0, name.find('.'));
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
});

// A file added to tests/regressions/ without a row would never be converted.
TEST(RegressionFiles, EveryFileHasItsRow) {
  std::set<std::string> rows;
  for (const auto& r : kRegressions) rows.insert(r.file);
  for (const auto& entry : fs::directory_iterator(regressions())) {
    EXPECT_TRUE(rows.count(entry.path().filename().string())) << entry.path() << " has no row";
  }
}

}  // namespace
