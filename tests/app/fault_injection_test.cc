// Every file operation of a run, failed in turn: the converter, the dumper and the checker each
// run once cleanly while the seam (platform/faults.h) counts their system calls, then once for
// each n of each kind of call with the n-th call failed (EIO, ENOSPC and EACCES by turns), cut
// short, or interrupted.
//
// What every run must do:
//   - a short transfer or an interruption changes nothing: the run ends as the clean one did,
//     with the same status, the same messages and the same output, byte for byte;
//   - a failure ends the run with status 1 and a fatal message, and leaves no output or (the
//     converter) a sound XDB under the output name; or it does not matter to the result, and
//     the run ends exactly as the clean one did. Never status 0 with a failure reported, never
//     a temporary "*.part" file left behind;
//   - the checker, reading a sound XDB, says "sound" exactly as in the clean run, or exits 1
//     with the line that tells why it could not check.
//
// A small database (a few dozen blocks of 300 words: groups, records, relations of both kinds,
// the DDL) is run with every n; a larger one (a few MB) with a spread sample of n. The sample
// is kSample per kind; LOADXDB_FAULT_SAMPLE widens it (0: every n).

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "app/cmdline.h"
#include "app/loadxdb.h"
#include "platform/faults.h"
#include "platform/format.h"
#include "platform/textinput.h"
#include "platform/units.h"
#include "testkit/block_generator.h"
#include "testkit/end_to_end.h"
#include "testkit/system_codes.h"
#include "testkit/test_directory.h"

namespace {

namespace fs = std::filesystem;
using platform::FaultCall;
using platform::FaultMode;
using platform::FaultPlan;

constexpr FaultCall kKinds[] = {FaultCall::kOpen,  FaultCall::kRead,   FaultCall::kWrite, FaultCall::kTruncate,
                                FaultCall::kSync,  FaultCall::kRename, FaultCall::kClose};
constexpr int kErrors[] = {EIO, ENOSPC, EACCES};
constexpr int64_t kSample = 200;

int64_t sample_size() {
  const char* value = std::getenv("LOADXDB_FAULT_SAMPLE");
  return value && *value ? std::atoll(value) : kSample;
}

// The n to fail among `count` calls: every one when there are at most `sample` (or sample is 0),
// else `sample` of them spread evenly from the first to the last.
std::vector<int64_t> chosen(int64_t count, int64_t sample) {
  std::vector<int64_t> n;
  if (sample <= 0 || count <= sample) {
    for (int64_t i = 1; i <= count; ++i) n.push_back(i);
    return n;
  }
  for (int64_t i = 0; i < sample; ++i) n.push_back(1 + i * (count - 1) / (sample - 1));
  return n;
}

bool transfers(FaultCall call) { return call == FaultCall::kRead || call == FaultCall::kWrite; }

// The plans of one n: a failure (the errno taking turns with n), and, where they mean something,
// a short transfer and an interruption. With `one_mode` the n takes only one of them, by turns.
std::vector<FaultPlan> plans_for(FaultCall call, int64_t n, bool one_mode) {
  const int error = kErrors[static_cast<std::size_t>(n) % std::size(kErrors)];
  std::vector<FaultPlan> plans = {{call, n, FaultMode::kError, error}, {call, n, FaultMode::kInterrupted, 0}};
  if (transfers(call)) plans.push_back({call, n, FaultMode::kShort, 0});
  if (one_mode) return {plans[static_cast<std::size_t>(n / 3) % plans.size()]};
  return plans;
}

std::string describe(const FaultPlan& plan) {
  std::string text = std::string(platform::fault_call_name(plan.call)) + " #" + std::to_string(plan.nth) + " ";
  switch (plan.mode) {
    case FaultMode::kError: return text + "failing with errno " + std::to_string(plan.error);
    case FaultMode::kShort: return text + "cut short";
    case FaultMode::kInterrupted: return text + "interrupted";
  }
  return text;
}

// Arms a plan for as long as it lives.
class Armed {
 public:
  explicit Armed(const FaultPlan& plan) { platform::arm_fault(plan); }
  ~Armed() { platform::disarm_faults(); }
  Armed(const Armed&) = delete;
  Armed& operator=(const Armed&) = delete;
};

std::string file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What a run leaves: status, messages, the output under its name (if any) and temporary files.
struct Outcome {
  int status = -1;
  std::string messages;
  bool fired = false;
  bool output_exists = false;
  std::string output;
  std::vector<std::string> leftovers;  // "*.part" files in the directory
};

void look_at_directory(const fs::path& dir, const std::string& output, Outcome& o) {
  o.output_exists = fs::exists(output);
  if (o.output_exists) o.output = file_bytes(output);
  for (const auto& entry : fs::directory_iterator(dir)) {
    if (entry.path().extension() == ".part") o.leftovers.push_back(entry.path().filename().string());
  }
}

// The calls of each kind in the clean run.
using Counts = std::map<FaultCall, int64_t>;
Counts counted() {
  Counts counts;
  for (FaultCall call : kKinds) counts[call] = platform::fault_calls(call);
  return counts;
}

// One tool under test: how to run it with a plan armed, and where its output goes.
class Tool {
 public:
  virtual ~Tool() = default;
  // Runs once with `plan` armed (nth 0: counting only); nothing of the output is left before.
  virtual Outcome run(const FaultPlan& plan) = 0;
  // Removes what a run left, so that the next one starts alike.
  virtual void clean_up() = 0;
};

// The database sizes.
enum class Size { kSmall, kLarge };

// The larger database is larger for the converter, whose XDB must outgrow the block I/O
// library's cache (8 MB) to be written in more than a few runs; the dumper and the checker read
// block by block whatever the size.
constexpr int64_t kLargerForConverter = 10 << 20, kLargerForReaders = 4 << 20;

support::DatabaseOptions database(Size size, int64_t larger_bytes) {
  support::DatabaseOptions o;
  o.block_size = 300;
  o.generator.block_words = 300;
  o.generator.ddl = true;
  o.generator.large_groups = false;
  o.generator.mix = support::BlockMix{3, 2, 2, 2};
  if (size == Size::kSmall) {
    o.generator.seed = 23;
    o.generator.relations.max_words = 3000;
    o.max_blocks = 36;
  } else {
    o.generator.seed = 29;
    o.generator.relations.max_words = 60000;
    o.target_bytes = larger_bytes;
  }
  return o;
}

// The converter, from the neutral file to <dir>/out.xdb.
class Converter : public Tool {
 public:
  Converter(const support::TestDirectory& dir, std::string neutral)
      : dir_(dir), neutral_(std::move(neutral)), xdb_(dir.path("out.xdb")) {}

  Outcome run(const FaultPlan& plan) override {
    std::ostringstream messages, output;
    platform::Units units;
    units.message = &messages;
    units.output = &output;
    platform::TextInput input;
    input.attach_memory("");
    const app::CommandLine command({"loadxdb", neutral_, "output=" + xdb_, "verbose=no"});
    Outcome o;
    {
      Armed armed(plan);
      o.status = app::run_loadxdb(command, units, input);
    }
    o.fired = platform::fault_fired();
    o.messages = messages.str();
    look_at_directory(dir_.path(), xdb_, o);
    return o;
  }
  void clean_up() override { fs::remove(xdb_); }
  const std::string& xdb() const { return xdb_; }

 private:
  const support::TestDirectory& dir_;
  std::string neutral_, xdb_;
};

// The dumper, from an XDB to <dir>/out.ndb.
class Dumper : public Tool {
 public:
  Dumper(const support::TestDirectory& dir, std::string xdb)
      : dir_(dir), xdb_(std::move(xdb)), neutral_(dir.path("out.ndb")) {}

  Outcome run(const FaultPlan& plan) override {
    Outcome o;
    support::DumperRun run;
    {
      Armed armed(plan);
      run = support::run_dumper({xdb_, "output=" + neutral_, "verbose=no"});
    }
    o.fired = platform::fault_fired();
    o.status = run.status;
    o.messages = run.messages;
    look_at_directory(dir_.path(), neutral_, o);
    return o;
  }
  void clean_up() override { fs::remove(neutral_); }

 private:
  const support::TestDirectory& dir_;
  std::string xdb_, neutral_;
};

// The checker on an XDB; its report stands for the output.
class Checker : public Tool {
 public:
  Checker(const support::TestDirectory& dir, std::string xdb) : dir_(dir), xdb_(std::move(xdb)) {}

  Outcome run(const FaultPlan& plan) override {
    Outcome o;
    support::CheckedXdb checked;
    std::string listing;
    {
      Armed armed(plan);
      checked = support::check_file(xdb_, &listing);
    }
    o.fired = platform::fault_fired();
    o.status = checked.status;
    o.messages = checked.report;
    o.output_exists = true;
    o.output = listing;
    look_at_directory(dir_.path(), "", o);
    return o;
  }
  void clean_up() override {}

 private:
  const support::TestDirectory& dir_;
  std::string xdb_;
};

// The system's code for a planned `error` (the errno itself, or the Win32 code in its place).
int code_of(int error) { return support::planned_failure_code(error); }

// The system's text for a planned `error` is among the messages.
bool tells(const std::string& messages, int error) {
  return messages.find(support::system_message(code_of(error))) != std::string::npos;
}

bool same_as(const Outcome& run, const Outcome& clean) {
  return run.status == clean.status && run.messages == clean.messages && run.output_exists == clean.output_exists &&
         run.output == clean.output;
}

// How the runs of one kind ended.
struct Tally {
  int64_t runs = 0, unchanged = 0, stopped = 0, failures = 0;
};

constexpr int kStopAfterFailures = 5;

class FaultRuns : public ::testing::TestWithParam<FaultCall> {
 protected:
  // Runs `tool` cleanly, then with each chosen plan of this test's kind; `judge` adds the
  // tool's own demands on a run that a failure stopped. Returns what the runs did.
  template <typename Judge>
  Tally every_fault(Tool& tool, int64_t sample, bool one_mode, Judge judge) {
    const FaultCall call = GetParam();
    const Outcome clean = tool.run(FaultPlan{});
    const int64_t count = counted()[call];
    calls_ = count;
    tool.clean_up();
    EXPECT_TRUE(clean.leftovers.empty());
    Tally tally;
    for (int64_t n : chosen(count, sample)) {
      for (const FaultPlan& plan : plans_for(call, n, one_mode)) {
        if (tally.failures >= kStopAfterFailures) return tally;
        const Outcome run = tool.run(plan);
        tool.clean_up();
        ++tally.runs;
        const std::string failure = verdict(plan, run, clean, judge);
        if (!failure.empty()) {
          ADD_FAILURE() << describe(plan) << ": " << failure << "\nstatus " << run.status << ", messages:\n"
                        << run.messages;
          ++tally.failures;
        }
        if (same_as(run, clean)) ++tally.unchanged;
        if (run.status == 1) ++tally.stopped;
      }
    }
    return tally;
  }

  void report(const std::string& what, const Tally& tally) const {
    std::cout << "[ faults   ] " << what << " " << platform::fault_call_name(GetParam()) << ": " << calls_
              << " calls in the clean run, " << tally.runs << " runs with one failed, " << tally.unchanged << " ended as the clean run, " << tally.stopped << " stopped with status 1\n";
  }

  support::TestDirectory dir_{"faults"};
  int64_t calls_ = 0;

 private:
  // "" when the run did what it must, else what it did wrong.
  template <typename Judge>
  static std::string verdict(const FaultPlan& plan, const Outcome& run, const Outcome& clean, Judge judge) {
    if (!run.fired) return "the call to fail was never made (the clean run made it)";
    if (!run.leftovers.empty()) return "left the temporary file " + run.leftovers.front();
    if (plan.mode != FaultMode::kError) {
      return same_as(run, clean) ? "" : "a retried call changed the run";
    }
    if (same_as(run, clean)) return "";
    if (run.status != 1) return "a failure that mattered did not end the run with status 1";
    return judge(plan, run);
  }
};

// The converter: a run that a failure stopped says so in a fatal message and leaves no XDB, or
// a sound one, under the output name.
class ConverterFaults : public FaultRuns {
 protected:
  Tally convert(Size size, int64_t sample, bool one_mode) {
    const std::string neutral = dir_.path("db.ndb");
    {
      std::ofstream file(neutral, std::ios::binary);
      support::write_database(file, database(size, kLargerForConverter));
    }
    Converter converter(dir_, neutral);
    return every_fault(converter, sample, one_mode, [&](const FaultPlan& plan, const Outcome& run) -> std::string {
      if (run.messages.find(" FATAL MESSAGE") == std::string::npos) return "no fatal message";
      // The neutral file that cannot be opened is named with the number, every other failure
      // with the system's text (a block transfer or a close in MESSAGE 1001).
      if (!tells(run.messages, plan.error) &&
          run.messages.find(", IOSTAT =" + platform::iw(code_of(plan.error), 6)) == std::string::npos) {
        return "the message does not tell the system error";
      }
      if (plan.call == FaultCall::kWrite && run.messages.find("MESSAGE 1001 (BLKWRT)") == std::string::npos) {
        return "a failed write of the XDB without MESSAGE 1001";
      }
      if (!run.output_exists) return "";
      {
        std::ofstream(converter.xdb(), std::ios::binary) << run.output;
      }
      const support::CheckedXdb checked = support::check_file(converter.xdb());
      fs::remove(converter.xdb());
      return checked.status == 0 ? "" : "left an unsound XDB under the output name:\n" + checked.report;
    });
  }
};

TEST_P(ConverterFaults, SmallDatabaseEveryCall) {
  report("loadxdb small", convert(Size::kSmall, 0, false));
}

TEST_P(ConverterFaults, LargerDatabaseSpreadSample) {
  report("loadxdb large", convert(Size::kLarge, sample_size(), true));
}

// The dumper: a run that a failure stopped says so and leaves no neutral file.
class DumperFaults : public FaultRuns {
 protected:
  Tally dump(Size size, int64_t sample, bool one_mode) {
    const std::string neutral = dir_.path("db.ndb"), xdb = dir_.path("db.xdb");
    {
      std::ofstream file(neutral, std::ios::binary);
      support::write_database(file, database(size, kLargerForReaders));
    }
    const auto made = support::run_converter({neutral, "output=" + xdb, "verbose=no"}, dir_.path());
    EXPECT_EQ(made.status, 0) << made.messages;
    Dumper dumper(dir_, xdb);
    return every_fault(dumper, sample, one_mode, [](const FaultPlan& plan, const Outcome& run) -> std::string {
      if (run.messages.find(" FATAL MESSAGE") == std::string::npos) return "no fatal message";
      // An XDB that its probe cannot open or read gets the open's return code and its text; any
      // other failure tells the system's text (a block read in MESSAGE 1001).
      const char* probe_text = plan.call == FaultCall::kOpen   ? "XDB FILE OPEN FAILED."
                               : plan.call == FaultCall::kRead ? "A READ ERROR OCCURED GETTING DATA"
                                                               : nullptr;
      if (probe_text && run.messages.find(probe_text) != std::string::npos) return run.output_exists ? "left a neutral file behind" : "";
      if (!tells(run.messages, plan.error)) return "the message does not tell the system error";
      if (plan.call == FaultCall::kRead && run.messages.find("MESSAGE 1001 (BLKRD)") == std::string::npos) {
        return "a failed read of the XDB without MESSAGE 1001";
      }
      return run.output_exists ? "left a neutral file behind" : "";
    });
  }
};

TEST_P(DumperFaults, SmallDatabaseEveryCall) { report("dumpxdb small", dump(Size::kSmall, 0, false)); }

TEST_P(DumperFaults, LargerDatabaseSpreadSample) {
  report("dumpxdb large", dump(Size::kLarge, sample_size(), true));
}

// The checker: a run that a failure stopped exits 1 and tells why.
class CheckerFaults : public FaultRuns {
 protected:
  Tally check(Size size, int64_t sample, bool one_mode) {
    const std::string neutral = dir_.path("db.ndb"), xdb = dir_.path("db.xdb");
    {
      std::ofstream file(neutral, std::ios::binary);
      support::write_database(file, database(size, kLargerForReaders));
    }
    const auto made = support::run_converter({neutral, "output=" + xdb, "verbose=no"}, dir_.path());
    EXPECT_EQ(made.status, 0) << made.messages;
    Checker checker(dir_, xdb);
    return every_fault(checker, sample, one_mode, [&](const FaultPlan&, const Outcome& run) -> std::string {
      if (run.messages.find(": sound:") != std::string::npos) return "exit status 1 after calling the file sound";
      for (const char* why : {": cannot be opened as an XDB", ": checking stopped"}) {
        if (run.messages.find(xdb + why) != std::string::npos) return "";
      }
      return "exit status 1 without a line that tells why";
    });
  }
};

TEST_P(CheckerFaults, SmallDatabaseEveryCall) { report("xdbcheck small", check(Size::kSmall, 0, false)); }

TEST_P(CheckerFaults, LargerDatabaseSpreadSample) {
  report("xdbcheck large", check(Size::kLarge, sample_size(), true));
}

std::string kind_name(const ::testing::TestParamInfo<FaultCall>& info) {
  return platform::fault_call_name(info.param);
}

INSTANTIATE_TEST_SUITE_P(Calls, ConverterFaults, ::testing::ValuesIn(kKinds), kind_name);
INSTANTIATE_TEST_SUITE_P(Calls, DumperFaults, ::testing::ValuesIn(kKinds), kind_name);
INSTANTIATE_TEST_SUITE_P(Calls, CheckerFaults, ::testing::ValuesIn(kKinds), kind_name);

}  // namespace
