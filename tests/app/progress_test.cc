// The progress line: its text (bytes, percent, rate, time left, an unknown total, a narrow
// terminal), and the guarded message stream that keeps every line of text readable above it,
// driven by a clock the test sets.

#include "app/progress.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "testkit/screen.h"

namespace {

using app::Progress;
using app::ProgressState;

constexpr char kClear[] = "\r\x1b[K";

struct TextCase {
  const char* name;
  ProgressState state;
  int width;
  std::string text;
};
void PrintTo(const TextCase& c, std::ostream* os) { *os << c.name; }

class ProgressText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ProgressText, ShowsWhatIsDoneAndWhatIsLeft) {
  const TextCase& c = GetParam();
  EXPECT_EQ(app::progress_text(c.state, c.width), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProgressText,
    ::testing::Values(
        TextCase{"AtTheStartRateAndTimeLeftAreUnknown", {0, 4'500'000'000, 0}, 79, "0 B of 4.50 GB  0%  -- MB/s  -:-- left"},
        TextCase{"HalfASecondIsTooEarlyForARate", {20'000'000, 4'500'000'000, 499}, 79,
                 "20.0 MB of 4.50 GB  0%  -- MB/s  -:-- left"},
        TextCase{"MidwayTheRateIsTheAverageSinceTheStart", {1'230'000'000, 4'500'000'000, 10'000}, 79,
                 "1.23 GB of 4.50 GB  27%  123.0 MB/s  0:27 left"},
        TextCase{"TimeLeftRoundsUpToTheNextSecond", {1'000'000, 2'000'001, 1'000}, 79,
                 "1.0 MB of 2.0 MB  49%  1.0 MB/s  0:02 left"},
        TextCase{"HoursOfWorkLeftShowHours", {1'000'000'000, 1'000'000'000'000, 100'000}, 79,
                 "1.00 GB of 1.00 TB  0%  10.0 MB/s  27:45:00 left"},
        TextCase{"AllDoneIsAHundredPercentAndNothingLeft", {7'340'032, 7'340'032, 2'000}, 79,
                 "7.3 MB of 7.3 MB  100%  3.7 MB/s  0:00 left"},
        TextCase{"AnEmptyInputIsDoneAtOnce", {0, 0, 0}, 79, "0 B of 0 B  100%  -- MB/s  -:-- left"},
        TextCase{"UnknownTotalShowsBytesAndRateOnly", {500'000'000, -1, 4'000}, 79, "500.0 MB  125.0 MB/s"},
        TextCase{"SmallCountsInBytesAndKilobytes", {999, -1, 0}, 79, "999 B  -- MB/s"},
        TextCase{"KilobytesWithOneDecimal", {123'456, -1, 0}, 79, "123.5 kB  -- MB/s"},
        TextCase{"ANarrowTerminalLosesTheLastPartsFirst", {1'230'000'000, 4'500'000'000, 10'000}, 30,
                 "1.23 GB of 4.50 GB  27%"},
        TextCase{"ATerminalNarrowerThanTheBytesCutsThem", {1'230'000'000, 4'500'000'000, 10'000}, 5, "1.23 "}));

// A run's units whose message unit is a string the test reads, and a progress line on them
// with a clock and a width the test sets.
class ProgressLine : public ::testing::Test {
 protected:
  ProgressLine() {
    units.message = &messages;
    units.output = &output;
    units.message_terminal = true;
  }
  std::unique_ptr<Progress> make() {
    return std::make_unique<Progress>(units, [this] { return now; }, [this] { return columns; });
  }
  // What the terminal shows now.
  std::string screen() const {
    support::Screen s;
    s.feed(messages.str());
    EXPECT_EQ(s.unknown_sequences(), 0);
    return s.text();
  }
  int draws() const { return support::occurrences(messages.str(), "\x1b[K") - support::occurrences(messages.str(), kClear); }

  std::ostringstream messages, output;
  platform::Units units;
  int64_t now = 1'000;
  int columns = 60;
};

TEST_F(ProgressLine, IsWantedOnATerminalUnlessTheUserSaysOtherwise) {
  units.message_terminal = false;
  EXPECT_FALSE(app::progress_wanted(std::nullopt, units));
  EXPECT_TRUE(app::progress_wanted(true, units));
  units.message_terminal = true;
  EXPECT_TRUE(app::progress_wanted(std::nullopt, units));
  EXPECT_FALSE(app::progress_wanted(false, units));
}

TEST_F(ProgressLine, IsDrawnAtTheStartAndClearedAtTheEnd) {
  auto progress = make();
  EXPECT_EQ(messages.str(), "");  // nothing before the work starts
  progress->start(2'000'000);
  EXPECT_EQ(messages.str(), "\r0 B of 2.0 MB  0%  -- MB/s  -:-- left\x1b[K");
  progress.reset();
  EXPECT_EQ(messages.str(), "\r0 B of 2.0 MB  0%  -- MB/s  -:-- left\x1b[K" + std::string(kClear));
  EXPECT_EQ(screen(), "");
}

TEST_F(ProgressLine, GivesTheUnitsTheirOwnStreamsBack) {
  std::ostream* const message = units.message;
  std::ostream* const out = units.output;
  {
    auto progress = make();
    EXPECT_NE(units.message, message);
    EXPECT_EQ(units.output, out);  // the output unit is no terminal: left alone
  }
  EXPECT_EQ(units.message, message);
  EXPECT_EQ(units.output, out);
}

TEST_F(ProgressLine, GuardsATerminalOutputUnitToo) {
  units.output_terminal = true;
  std::ostream* const out = units.output;
  auto progress = make();
  EXPECT_NE(units.output, out);
  progress->start(100);
  units.output->write("trace line\n", 11);
  EXPECT_EQ(output.str(), "trace line\n");
  // The output's line went between a clear and a redraw of the line on the message unit.
  EXPECT_EQ(support::occurrences(messages.str(), kClear), 1);
  EXPECT_EQ(draws(), 2);
}

TEST_F(ProgressLine, RedrawsAtMostTenTimesASecond) {
  auto progress = make();
  progress->start(10'000'000);
  for (int step = 1; step <= 100; ++step) {  // one second in steps of 10 ms
    now += 10;
    progress->advance(step * 100'000);
  }
  EXPECT_EQ(draws(), 1 + 10);
  EXPECT_EQ(screen(), "10.0 MB of 10.0 MB  100%  10.0 MB/s  0:00 left");
}

TEST_F(ProgressLine, ClearsItselfBeforeEachLineOfTextAndComesBackAfter) {
  auto progress = make();
  progress->start(4'000'000);
  now += 1'000;
  progress->advance(1'000'000);
  units.msg() << " DATA BLOCK   PROJECT\n";
  units.msg() << "   GROUP1          " << 7 << '\n';
  EXPECT_EQ(screen(), " DATA BLOCK   PROJECT\n   GROUP1          7\n1.0 MB of 4.0 MB  25%  1.0 MB/s  0:03 left");
  // Each line went between one clear and one redraw.
  EXPECT_EQ(support::occurrences(messages.str(), kClear), 2);
  progress.reset();
  EXPECT_EQ(screen(), " DATA BLOCK   PROJECT\n   GROUP1          7\n");
}

TEST_F(ProgressLine, AMessageOfManyLinesAndPiecesIsClearedOnceAndKeptWhole) {
  auto progress = make();
  progress->start(-1);
  units.msg() << "\n *** SYSTEM WARNING MESSAGE (LXDB)\n     " << "WRITE FAILURE" << " RETURN CODE = " << 3 << '\n';
  EXPECT_EQ(support::occurrences(messages.str(), kClear), 1);
  progress.reset();
  EXPECT_EQ(screen(), "\n *** SYSTEM WARNING MESSAGE (LXDB)\n     WRITE FAILURE RETURN CODE = 3\n");
}

TEST_F(ProgressLine, StaysAwayWhileALineOfTextIsUnfinished) {
  auto progress = make();
  progress->start(1'000'000);
  units.msg() << "half a line";
  const int before = draws();
  now += 500;
  progress->advance(500'000);
  EXPECT_EQ(draws(), before);  // the line would land in the middle of the text
  units.msg() << ", and its end\n";
  EXPECT_EQ(draws(), before + 1);
  EXPECT_EQ(screen(), "half a line, and its end\n500.0 kB of 1.0 MB  50%  1.0 MB/s  0:01 left");
}

TEST_F(ProgressLine, FitsTheTerminalAsItIsNow) {
  auto progress = make();
  progress->start(4'500'000'000);
  columns = 25;  // the window was made narrower
  now += 1'000;
  progress->advance(1'230'000'000);
  EXPECT_EQ(screen(), "1.23 GB of 4.50 GB  27%");  // 24 columns: the last is left free
}

TEST_F(ProgressLine, TextBeforeTheStartPassesUnchanged) {
  auto progress = make();
  units.msg() << " LOADXDB - banner\n";
  EXPECT_EQ(messages.str(), " LOADXDB - banner\n");
}

}  // namespace
