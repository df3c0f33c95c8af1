// The converter when the XDB cannot be written: a file-size limit that stops the XDB from
// growing, a limit below one block, an output directory that cannot be written, and a database
// that runs out of blocks. Each run must end with its block I/O and fatal messages and exit
// status 1, never with a report of success.
//
// The file-size limits and the change of user are made in a child process, so that they never
// touch the test program itself.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>
#include <sstream>
#include <string>

#include "app/conversion_loop.h"
#include "app/loadxdb.h"
#include "dbio/context.h"
#include "neutral/stream.h"
#include "platform/stop.h"
#include "testkit/block_generator.h"
#include "testkit/scratch_database.h"
#include "testkit/test_directory.h"

namespace {

constexpr int32_t kBlockWords = 300;
constexpr int kBlockBytes = kBlockWords * 4;

// A generated neutral file of 300-word blocks whose XDB needs more than 20 blocks.
std::string generated_database() {
  support::DatabaseOptions options;
  options.generator.seed = 9;
  options.generator.block_words = kBlockWords;
  options.generator.large_groups = false;
  options.block_size = kBlockWords;
  options.max_blocks = 40;
  std::ostringstream text;
  support::write_database(text, options);
  return text.str();
}

#ifndef _WIN32
constexpr uid_t kNobody = 65534;

struct ChildRun {
  int status = -1;          // exit status, or 128 + signal
  std::string messages;     // the message unit
  std::string output;       // the output unit
  int files_left_open = 0;  // files the run opened and did not close
};

int open_files() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

// Runs the converter on `neutral` (as standard input) in a child process, after `prepare` has
// run there; the child's message and output units come back through a pipe.
ChildRun run_in_child(const std::string& neutral, const std::string& xdb, const std::function<void()>& prepare) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(pipe_fds[0]);
    prepare();
    const int files_before = open_files();
    std::ostringstream messages, output;
    platform::Units units;
    units.message = &messages;
    units.output = &output;
    platform::TextInput input;
    input.attach_memory(neutral);
    const int status = app::run_loadxdb(app::CommandLine({"loadxdb", "-", "output=" + xdb}), units, input);
    const std::string blob = messages.str() + '\0' + output.str() + '\0' + std::to_string(open_files() - files_before);
    for (std::size_t done = 0; done < blob.size();) {
      const ssize_t n = ::write(pipe_fds[1], blob.data() + done, blob.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::_exit(status);
  }
  ::close(pipe_fds[1]);
  std::string blob;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) blob.append(buffer, static_cast<std::size_t>(n));
  ::close(pipe_fds[0]);
  int wait_status = 0;
  ::waitpid(pid, &wait_status, 0);
  ChildRun run;
  run.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
  const std::size_t split = blob.find('\0'), second = blob.find('\0', split + 1);
  if (second == std::string::npos) return run;
  run.messages = blob.substr(0, split);
  run.output = blob.substr(split + 1, second - split - 1);
  run.files_left_open = std::stoi(blob.substr(second + 1));
  return run;
}

// The child's file-size limit, with the signal that would end it at the limit ignored, so that
// the failed write comes back as an error instead.
std::function<void()> file_size_limit(rlim_t bytes) {
  return [bytes] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{bytes, bytes};
    ::setrlimit(RLIMIT_FSIZE, &limit);
  };
}

std::size_t count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}
#endif

class WriteFailure : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_.path(name); }

  support::TestDirectory dir_{"write_failure"};
};

#ifndef _WIN32
const std::string kWriteFailureHead = " *** SYSTEM FATAL MESSAGE 1001 (BLKWRT)\n     ERROR ENCOUNTERED WRITING BLOCK ";
const std::string kFileTooLarge =
    ", ERROR CODE =    27.\n"
    "     DATA BASE NUMBER =   1, UNIT =  40, MESSAGE IS --\n"
    "     File too large\n"
    "0*** SYSTEM FATAL MESSAGE 6059 (DIOMSG) \n"
    "     NO ERROR MESSAGE EXISTS FOR DIOMSG INTERNAL CODE NUMBER      999 CALLED FROM BLKWRT  \n";
#endif

TEST_F(WriteFailure, XdbThatCannotGrowStopsTheRunWithTheBlockIoMessage) {
#ifdef _WIN32
  GTEST_SKIP() << "no file-size resource limit (RLIMIT_FSIZE) on Windows";
#else
  const rlim_t limit = 20 * kBlockBytes;
  const ChildRun run = run_in_child(generated_database(), path("limited.xdb"), file_size_limit(limit));
  ASSERT_EQ(run.status, platform::kExitFatal) << run.messages;
  // The first failed write is one beyond the limit; every failed write is reported the same way.
  ASSERT_EQ(run.messages.rfind(kWriteFailureHead, 0), 0u) << run.messages;
  const int first_block = std::stoi(run.messages.substr(kWriteFailureHead.size(), 10));
  EXPECT_GT(first_block, 20);
  EXPECT_EQ(run.messages.substr(kWriteFailureHead.size() + 10, kFileTooLarge.size()), kFileTooLarge);
  EXPECT_EQ(count(run.messages, kWriteFailureHead), count(run.messages, kFileTooLarge));
  EXPECT_EQ(run.output, " FATAL ERROR DETECTED\n");
  // Nothing was written beyond the limit (whether a file is left at all is not this test's concern).
  if (std::filesystem::exists(path("limited.xdb"))) {
    EXPECT_LE(std::filesystem::file_size(path("limited.xdb")), limit);
  }
  // The stopped run lets the XDB's file go, as the end of the process would.
  EXPECT_EQ(run.files_left_open, 0);
#endif
}

TEST_F(WriteFailure, LimitBelowOneBlockStopsOnceAndDoesNotRecurse) {
#ifdef _WIN32
  GTEST_SKIP() << "no file-size resource limit (RLIMIT_FSIZE) on Windows";
#else
  // Not even the header block can be written: the flush that a fatal message makes meets the
  // same failure again and must not start over.
  const ChildRun run = run_in_child(generated_database(), path("none.xdb"), file_size_limit(100));
  ASSERT_EQ(run.status, platform::kExitFatal) << run.messages.substr(0, 2000);
  EXPECT_EQ(run.messages.rfind(kWriteFailureHead, 0), 0u) << run.messages.substr(0, 2000);
  EXPECT_EQ(run.output, " FATAL ERROR DETECTED\n");
  EXPECT_LE(count(run.messages, kWriteFailureHead), 2u) << run.messages;
  EXPECT_EQ(run.files_left_open, 0);
#endif
}

TEST_F(WriteFailure, OutputDirectoryThatCannotBeWrittenIsReportedByTheOpen) {
#ifdef _WIN32
  GTEST_SKIP() << "no directory that the running user cannot write, by mode bits and a change to "
                  "an unprivileged user (chmod, setuid), on Windows";
#else
  const std::string locked = path("locked");
  std::filesystem::create_directory(locked);
  ::chmod(locked.c_str(), 0555);
  // The test may run as the superuser, who writes anywhere: the child then runs as nobody.
  auto unprivileged = [] {
    if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) ::_exit(99);
  };
  const std::string xdb = locked + "/out.xdb";
  const ChildRun run = run_in_child("", xdb, [&] {
    unprivileged();
    if (::access(locked.c_str(), W_OK) == 0) ::_exit(98);
  });
  if (run.status == 98 || run.status == 99) GTEST_SKIP() << "no user here lacks the right to write " << locked;

  const std::string neutral = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 $'()*+,-./=\"#%&;:<>?@![]^_|            300\n =\n";
  const ChildRun refused = run_in_child(neutral, xdb, unprivileged);
  EXPECT_EQ(refused.status, platform::kExitFatal);
  EXPECT_EQ(refused.messages,
            " *** SYSTEM FATAL MESSAGE 1001 (DBOPEN)\n"
            "     ERROR ENCOUNTERED OPENING FILE, ERROR CODE =    13.\n"
            "     DATA BASE NUMBER =   1, UNIT =  40, MESSAGE IS --\n"
            "     Permission denied\n"
            "\n *** SYSTEM FATAL MESSAGE (LOADXDB)\n"
            "     ERROR OPENING XDB FILE '" + xdb + "', RETURN CODE =    5\n"
            "     XDB NAME LENGTH IS INVALID\n");
  EXPECT_FALSE(std::filesystem::exists(xdb));
  EXPECT_EQ(refused.files_left_open, 0);
  ::chmod(locked.c_str(), 0755);
#endif
}

TEST_F(WriteFailure, DatabaseThatRunsOutOfBlocksStopsWithCodeFour) {
  // The largest XDB the converter asks for holds 16777215 blocks; a database of 12 blocks runs
  // out the same way, at the thirteenth.
  support::ScratchDatabase db(kBlockWords, 15);
  ASSERT_EQ(db.open(1, 12, kBlockWords, "small.xdb"), 0);
  platform::TextInput input;
  input.attach_memory(generated_database());
  neutral::Stream stream(input, db.units);
  int32_t B = 0, F = 0;
  stream.CVTSTR(0, B, F);
  EXPECT_EQ(db.stops([&] { app::CVTDRV(db.ctx, stream, nullptr, 1, db.ctx.sysfil.DDLCFG); }), platform::kExitFatal);
  EXPECT_EQ(db.messages.str(),
            "\n *** SYSTEM FATAL ERROR 6062 (DBIO) \n"
            " *** DIOMSG ERROR MESSAGE     4 FROM SUBROUTINE BLKGET  \n"
            "     INSUFFICIENT SPACE ALLOCATED FOR DATA BASE UNIT     1\n");
  EXPECT_EQ(db.output.str(), " FATAL ERROR DETECTED\n");
  EXPECT_EQ(db.ctx.grdblk.USDBKS[1], 12);
  EXPECT_EQ(std::filesystem::file_size(db.path("small.xdb")), 12u * kBlockBytes);
}

}  // namespace
