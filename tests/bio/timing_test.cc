// OPENINFO options: per-file timing, the summary report at close, and which open they reach.

#include <cstdio>

#include "tests/bio/bio_fixture.h"

namespace {

using namespace testing_bio;
using namespace bio;

constexpr int32_t kRecl = 16;
constexpr int32_t kTimingBit = 0x1000;

class BioTiming : public BioTest {
 protected:
  int32_t open_with(const std::string& keywords, int32_t iopt, const std::string& leaf) {
    int32_t option = 0;
    EXPECT_EQ(call(OPENINFO, option, keywords), 0);
    return open(iopt, leaf, kRecl);
  }
  bool timed(int32_t cntlwd) {
    std::vector<int32_t> info(24);
    EXPECT_EQ(call(INQUIRE, cntlwd, "", info.data(), 24), 0);
    return (info[8] & kTimingBit) != 0;
  }
};

struct KeywordCase {
  const char* data;
  bool timing;
  bool report;
};

class BioKeywords : public BioTiming, public ::testing::WithParamInterface<KeywordCase> {};

TEST_P(BioKeywords, SetAndClearTheOptionsOfTheNextOpen) {
  int32_t cntlwd = open_with(GetParam().data, CREATE, "k");
  EXPECT_EQ(timed(cntlwd), GetParam().timing);
  close(cntlwd);
  EXPECT_EQ(!report_.str().empty(), GetParam().report);
}

INSTANTIATE_TEST_SUITE_P(
    Data, BioKeywords,
    ::testing::Values(KeywordCase{"TIMING = YES , report=no", true, false},
                      KeywordCase{"report=yes,timing#yes", true, true},
                      KeywordCase{"REPORT=YES, TIMING=YES, report = NO ", true, false},
                      KeywordCase{"RAW", false, false}, KeywordCase{"REPORT=MAYBE", false, false},
                      KeywordCase{"REPORT YES=YES", false, true},
                      KeywordCase{"\t REPORT=yes,REPORT=   ", false, true},
                      KeywordCase{"TIMINGS=YES,,REPORT", false, false}));

TEST_F(BioTiming, OptionsServeOneOpenOfAnyKind) {
  write_file("existing", std::string(kRecl * 4, 'e'));
  int32_t first = open_with("TIMING=YES", OPENRO, "existing");
  int32_t second = open(CREATE, "plain", kRecl);
  EXPECT_TRUE(timed(first));
  EXPECT_FALSE(timed(second));
}

TEST_F(BioTiming, SummaryReportCountsRequestsAndSizes) {
  int32_t cntlwd = open_with("REPORT=YES", CREATE, "counted");
  for (int32_t block : {1, 2, 5}) {
    auto words = record_of(block, kRecl);
    transfer(WRITE, cntlwd, block, words);
  }
  std::vector<int32_t> words(kRecl);
  transfer(READ, cntlwd, 2, words);
  transfer(READ, cntlwd, 4, words);
  int32_t keep = 3;
  call(TRUNCATE, cntlwd, "", &keep, 1, kRecl);
  close(cntlwd);
  EXPECT_EQ(report_.str(), "Block I/O Summary Report For File \"" + path("counted") + "\"\n" +
                               " Record Length: 16 words (64 bytes)\n"
                               " File Size: 3 records, Maximum File Size: 5 records\n"
                               " Read Requests: 2, Write Requests: 3\n");
}

TEST_F(BioTiming, TimedReportAddsSecondsAndRates) {
  int32_t cntlwd = open_with("REPORT=YES,TIMING=YES", CREATE, "timed");
  auto words = record_of(1, kRecl);
  transfer(WRITE, cntlwd, 1, words);
  std::vector<int32_t> info(24);
  call(INQUIRE, cntlwd, "", info.data(), 24);
  EXPECT_EQ(info[8], 4 | kTimingBit);
  for (int k = 15; k < 24; ++k) EXPECT_GE(info[k], 0) << k;
  close(cntlwd);
  std::istringstream in(report_.str());
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 8u);
  EXPECT_EQ(lines[4],
            " Timing Information (seconds):      Elapsed     User CPU   System CPU    Data Rate");
  // Three columns of seconds, 12 wide, after a label whose colon is column 30.
  auto seconds_row = [](const std::string& line, const std::string& label) {
    double elapsed = -1, user = -1, system = -1;
    int used = 0;
    bool parsed =
        std::sscanf(line.c_str() + 30, "%lf %lf %lf%n", &elapsed, &user, &system, &used) == 3;
    return line.size() >= 69 &&
           line.substr(0, 30) == std::string(29 - label.size(), ' ') + label + ":" && parsed &&
           used == 39 && elapsed >= 0 && user >= 0 && system >= 0;
  };
  EXPECT_TRUE(seconds_row(lines[5], "open/truncate")) << lines[5];
  EXPECT_EQ(lines[5].size(), 69u);
  EXPECT_TRUE(seconds_row(lines[6], "read")) << lines[6];
  EXPECT_EQ(lines[6].substr(69), "        N/A");
  EXPECT_TRUE(seconds_row(lines[7], "write")) << lines[7];
  EXPECT_EQ(lines[7].substr(lines[7].size() - 7), " MB/sec");
}

}  // namespace
