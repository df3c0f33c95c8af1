// What the programs leave when they die, are interrupted or race each other for one output name.
// The programs run as processes here (the ones the build makes), since a kill or a signal ends
// the process:
//   - a conversion killed with SIGKILL at spread moments leaves under the output name nothing, or
//     the XDB a clean run writes, byte for byte; a rerun then succeeds;
//   - SIGINT, SIGTERM and SIGHUP stop either program with one line and status 130, 143 or 129,
//     and leave neither the output nor its temporary file; a reader of the listing that goes
//     away (SIGPIPE) ends the run the same way, without the line;
//   - eight conversions started at once for one output: one makes it, the others say it exists;
//     eight for different outputs in one directory: all make theirs.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#endif

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "testkit/block_generator.h"
#include "testkit/end_to_end.h"
#include "testkit/programs.h"
#include "testkit/test_directory.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kLoadxdb = support::program_file(LOADXDB_BINARY_DIR, "loadxdb");
const std::string kDumpxdb = support::program_file(LOADXDB_BINARY_DIR, "dumpxdb");

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int64_t environment(const char* name, int64_t fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atoll(value) : fallback;
}

// A program run as a child process: standard input from the null device (or a pipe the test
// writes), standard output to the null device, standard error to a file.
struct Child {
  support::ChildProcess process;

  Child(const std::vector<std::string>& argv, const std::string& err, bool input_pipe = false)
      : process(argv, streams(err, input_pipe)) {
    EXPECT_TRUE(process.started()) << argv[0] << ": system error " << process.start_error();
  }

  static support::ChildStreams streams(const std::string& err, bool input_pipe) {
    support::ChildStreams s;
    s.input_pipe = input_pipe;
    s.error = err;
    return s;
  }

  // The exit status, or 128 + the signal that ended it.
  int wait() { return process.wait(); }
};

class Outcomes : public ::testing::Test {
 protected:
  // A neutral file of about `bytes` and the XDB a clean run makes of it.
  void make(int64_t bytes) {
    neutral_ = dir_.path("n.ndb");
    support::DatabaseOptions o;
    o.block_size = 1024;
    o.generator.seed = 5;
    o.generator.block_words = 1024;
    o.generator.mix = support::BlockMix{2, 3, 1, 2};
    o.target_bytes = bytes;
    {
      std::ofstream out(neutral_, std::ios::binary);
      support::write_database(out, o);
    }
    const auto start = Clock::now();
    Child clean({kLoadxdb, neutral_, "output=" + dir_.path("clean.xdb"), "verbose=no"}, dir_.path("clean.err"));
    ASSERT_EQ(clean.wait(), 0) << file_text(dir_.path("clean.err"));
    clean_time_ = Clock::now() - start;
    clean_ = file_text(dir_.path("clean.xdb"));
  }

  std::vector<std::string> temporaries() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.path())) {
      if (e.path().extension() == ".part") names.push_back(e.path().string());
    }
    return names;
  }

  support::TestDirectory dir_{"outcomes"};
  std::string neutral_, clean_;
  Clock::duration clean_time_{};
};

TEST_F(Outcomes, AKilledConversionLeavesNothingOrTheWholeXdb) {
  make(environment("LOADXDB_KILL_BYTES", 6 << 20));
  const int kills = static_cast<int>(environment("LOADXDB_KILLS", 50));
  const std::string out = dir_.path("out.xdb");
  int absent = 0, whole = 0;
  for (int i = 0; i < kills; ++i) {
    // Moments from the start to a little beyond the time a clean run takes.
    const auto moment = clean_time_ * (i + 1) * 11 / (10 * kills);
    Child run({kLoadxdb, neutral_, "output=" + out, "verbose=no"}, dir_.path("run.err"));
    std::this_thread::sleep_for(moment);
    run.process.kill();
    run.wait();
    if (fs::exists(out)) {
      ASSERT_TRUE(file_text(out) == clean_) << "kill " << i << ": a different file under the output name";
      ++whole;
    } else {
      ++absent;
      // What a killed run may leave is its temporary file, and only that; a rerun succeeds.
      EXPECT_LE(temporaries().size(), 1u);
      Child rerun({kLoadxdb, neutral_, "output=" + out, "verbose=no"}, dir_.path("rerun.err"));
      ASSERT_EQ(rerun.wait(), 0) << file_text(dir_.path("rerun.err"));
      ASSERT_TRUE(file_text(out) == clean_);
    }
    fs::remove(out);
    for (const auto& t : temporaries()) fs::remove(t);
  }
  std::cout << "[ kills    ] " << kills << " kills: " << absent << " left no XDB, " << whole
            << " the whole XDB\n";
  EXPECT_GT(absent, 0) << "no kill came before the end: the moments do not cover the run";
}

// Feeds a conversion from a pipe that is not closed, so that it is surely under way, with its
// temporary file made, when the signal comes.
TEST_F(Outcomes, InterruptsRemoveTheUnfinishedXdbAndSaySo) {
#ifdef _WIN32
  GTEST_SKIP() << "no SIGINT or SIGTERM on Windows; its console control events reach only the "
                  "processes of a console that the test shares with them";
#else
  make(1 << 20);
  const std::string text = file_text(neutral_);
  for (const auto& [signal, status, word] :
       {std::tuple{SIGINT, 130, "INTERRUPTED (SIGINT)"}, std::tuple{SIGTERM, 143, "TERMINATED (SIGTERM)"},
        std::tuple{SIGHUP, 129, "TERMINATED (SIGHUP)"}}) {
    const std::string out = dir_.path("signalled.xdb");
    Child run({kLoadxdb, "-", "output=" + out}, dir_.path("signal.err"), true);
    ASSERT_TRUE(run.process.write_input(text.substr(0, text.size() / 2)));
    for (int wait = 0; temporaries().empty() && wait < 2000; ++wait) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(temporaries().size(), 1u);
    ::kill(run.process.id(), signal);
    EXPECT_EQ(run.wait(), status);
    run.process.close_input();
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(temporaries().empty());
    const std::string err = file_text(dir_.path("signal.err"));
    EXPECT_NE(err.find(std::string(" *** LOADXDB ") + word + ": STOPPED, ITS UNFINISHED OUTPUT REMOVED.\n"),
              std::string::npos)
        << err;
  }
#endif
}

// `loadxdb big.ndb debug=on 2>&1 | head`: the reader of the listing goes away, the next line the
// converter writes raises SIGPIPE, and the run ends without leaving its unfinished XDB behind
// (and without a line: nobody reads it).
TEST_F(Outcomes, AReaderOfTheListingThatGoesAwayLeavesNoOutput) {
#ifdef _WIN32
  GTEST_SKIP() << "no SIGPIPE on Windows: a write to a closed pipe fails and the run reports it";
#else
  make(4 << 20);  // a listing with debug lines of about 200 kB, beyond what a pipe buffers
  const std::string out = dir_.path("piped.xdb");
  const std::string command = "bash -c '\"" + kLoadxdb + "\" \"" + neutral_ + "\" \"output=" + out +
                              "\" debug=on 2>&1 | head -c 1000 >/dev/null; exit ${PIPESTATUS[0]}'";
  const int status = std::system(command.c_str());
  ASSERT_TRUE(WIFEXITED(status)) << command;
  EXPECT_EQ(WEXITSTATUS(status), 128 + SIGPIPE);
  EXPECT_FALSE(fs::exists(out));
  EXPECT_TRUE(temporaries().empty());
#endif
}

TEST_F(Outcomes, AnInterruptedDumpLeavesNoOutput) {
#ifdef _WIN32
  GTEST_SKIP() << "no SIGTERM on Windows; its console control events reach only the processes of a "
                  "console that the test shares with them";
#else
  make(16 << 20);
  int interrupted = 0;
  for (int attempt = 0; attempt < 5 && interrupted == 0; ++attempt) {
    const std::string out = dir_.path("dump.ndb");
    Child run({kDumpxdb, dir_.path("clean.xdb"), "output=" + out, "verbose=no"}, dir_.path("dump.err"));
    for (int wait = 0; temporaries().empty() && wait < 4000; ++wait) std::this_thread::sleep_for(std::chrono::microseconds(250));
    ::kill(run.process.id(), SIGTERM);
    const int status = run.wait();
    if (status == 0) {  // done before the signal came: try again
      fs::remove(out);
      continue;
    }
    EXPECT_EQ(status, 143);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(temporaries().empty());
    EXPECT_NE(file_text(dir_.path("dump.err")).find(" *** DUMPXDB TERMINATED (SIGTERM)"), std::string::npos);
    ++interrupted;
  }
  EXPECT_EQ(interrupted, 1) << "every dump ended before its signal";
#endif
}

TEST_F(Outcomes, RacesForOneOutputHaveOneWinnerAndNoLoser) {
  make(2 << 20);
  constexpr int kRuns = 8;
  const std::string out = dir_.path("race.xdb");
  std::vector<Child> runs;
  for (int i = 0; i < kRuns; ++i) {
    runs.emplace_back(std::vector<std::string>{kLoadxdb, neutral_, "output=" + out, "verbose=no"},
                      dir_.path("race" + std::to_string(i) + ".err"));
  }
  int won = 0;
  for (int i = 0; i < kRuns; ++i) {
    const int status = runs[static_cast<std::size_t>(i)].wait();
    const std::string err = support::text_lines(file_text(dir_.path("race" + std::to_string(i) + ".err")));
    if (status == 0) {
      ++won;
    } else {
      EXPECT_EQ(status, 1) << err;
      EXPECT_NE(err.find("RETURN CODE =    4\n     NEW XDB FILE ALREADY EXISTS."), std::string::npos) << err;
    }
  }
  EXPECT_EQ(won, 1);
  EXPECT_TRUE(file_text(out) == clean_);
  EXPECT_EQ(support::check_file(out).status, 0);
  EXPECT_TRUE(temporaries().empty());

  // Different outputs in one directory: each run makes its own.
  runs.clear();
  for (int i = 0; i < kRuns; ++i) {
    runs.emplace_back(std::vector<std::string>{kLoadxdb, neutral_, "output=" + dir_.path("own" + std::to_string(i) + ".xdb"),
                                               "verbose=no"},
                      dir_.path("own" + std::to_string(i) + ".err"));
  }
  for (int i = 0; i < kRuns; ++i) {
    EXPECT_EQ(runs[static_cast<std::size_t>(i)].wait(), 0) << file_text(dir_.path("own" + std::to_string(i) + ".err"));
    EXPECT_TRUE(file_text(dir_.path("own" + std::to_string(i) + ".xdb")) == clean_) << "run " << i;
  }
  EXPECT_TRUE(temporaries().empty());
}

}  // namespace
