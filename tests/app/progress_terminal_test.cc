// The progress line as a user meets it: the programs run as processes, their standard error a
// real pseudo-terminal (or, for comparison, a pipe as in a log).
//   - on a terminal the line is drawn (with the input's size, or without it for a pipe), and what
//     the terminal shows at the end is exactly the text the same run writes into a log;
//   - progress=no on a terminal writes the log's bytes;
//   - on a pipe nothing changes: the default and progress=no write the same bytes, with no
//     control sequence; progress=yes draws the line there all the same.

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/progress.h"
#include "testkit/block_generator.h"
#include "testkit/screen.h"
#include "testkit/test_directory.h"
#endif

namespace {

#ifndef _WIN32

namespace fs = std::filesystem;

const std::string kLoadxdb = std::string(LOADXDB_BINARY_DIR) + "/loadxdb";
const std::string kDumpxdb = std::string(LOADXDB_BINARY_DIR) + "/dumpxdb";
constexpr unsigned short kColumns = 100;

struct Outcome {
  int status = -1;
  std::string error;  // all that the program wrote to its standard error
};

// Runs a program in `dir` with standard output to /dev/null and standard error to a new
// pseudo-terminal of kColumns columns (`terminal`) or to a pipe; standard input is `input`
// through a pipe, or /dev/null when there is none.
Outcome run(const std::vector<std::string>& args, const std::string& dir, bool terminal, const std::string* input = nullptr) {
  Outcome outcome;
  int reader = -1, writer = -1;
  if (terminal) {
    struct winsize size {};
    size.ws_col = kColumns;
    size.ws_row = 40;
    if (openpty(&reader, &writer, nullptr, nullptr, &size) != 0) {
      ADD_FAILURE() << "openpty: " << errno;
      return outcome;
    }
  } else {
    int ends[2];
    if (::pipe(ends) != 0) return outcome;
    reader = ends[0];
    writer = ends[1];
  }
  int in[2] = {-1, -1};
  if (input && ::pipe(in) != 0) return outcome;
  std::vector<char*> argv;
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid == 0) {
    if (terminal) {
      ::setsid();
      ::ioctl(writer, TIOCSCTTY, 0);
    }
    ::dup2(writer, STDERR_FILENO);
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDOUT_FILENO);
    ::dup2(input ? in[0] : null, STDIN_FILENO);
    ::close(reader);
    if (input) ::close(in[1]);
    if (::chdir(dir.c_str()) != 0) ::_exit(126);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(writer);
  std::thread feeder;
  if (input) {
    ::close(in[0]);
    feeder = std::thread([&] {
      for (std::size_t at = 0; at < input->size();) {
        const ssize_t n = ::write(in[1], input->data() + at, input->size() - at);
        if (n <= 0) break;
        at += static_cast<std::size_t>(n);
      }
      ::close(in[1]);
    });
  }
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(reader, buffer, sizeof buffer);
    if (n > 0) {
      outcome.error.append(buffer, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;  // the end of a pipe, or EIO once the terminal's last writer is gone
    }
  }
  ::close(reader);
  if (feeder.joinable()) feeder.join();
  int status = 0;
  ::waitpid(pid, &status, 0);
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return outcome;
}

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What the terminal showed at the end.
std::string screen_of(const std::string& bytes) {
  support::Screen screen;
  screen.feed(bytes);
  EXPECT_EQ(screen.unknown_sequences(), 0);
  EXPECT_EQ(screen.current_line(), "") << "the line was left on the screen";
  return screen.text();
}

// A terminal turns each line feed a program writes into a carriage return and a line feed.
std::string as_written(std::string bytes) {
  for (std::size_t at = bytes.find("\r\n"); at != std::string::npos; at = bytes.find("\r\n", at)) bytes.erase(at, 1);
  return bytes;
}

// The line as first drawn, for work of `total` bytes (-1: unknown), on kColumns columns.
std::string first_line(int64_t total) {
  return "\r" + app::progress_text({0, total, 0}, kColumns - 1) + "\x1b[K";
}

class ProgressOnTerminal : public ::testing::Test {
 protected:
  // A generated neutral file of about 3 MB, in a directory of its own, and one directory per run.
  static void SetUpTestSuite() {
    dir_ = new support::TestDirectory("progress_terminal");
    support::DatabaseOptions o;
    o.block_size = 1024;
    o.generator.seed = 20;
    o.generator.block_words = 1024;
    o.target_bytes = 3 << 20;
    neutral_ = new std::string(dir_->path("source.ndb"));
    std::ofstream out(*neutral_, std::ios::binary);
    support::write_database(out, o);
  }
  static void TearDownTestSuite() {
    delete neutral_;
    delete dir_;
  }
  static std::string place(const std::string& name) {
    const std::string path = dir_->path(name);
    fs::create_directories(path);
    return path;
  }

  static support::TestDirectory* dir_;
  static std::string* neutral_;
};
support::TestDirectory* ProgressOnTerminal::dir_ = nullptr;
std::string* ProgressOnTerminal::neutral_ = nullptr;

TEST_F(ProgressOnTerminal, LoadxdbDrawsItsLineAndLeavesTheListingAsALogHasIt) {
  const Outcome tty = run({kLoadxdb, *neutral_, "output=out.xdb"}, place("tty"), true);
  const Outcome log = run({kLoadxdb, *neutral_, "output=out.xdb"}, place("log"), false);
  ASSERT_EQ(tty.status, 0) << tty.error;
  ASSERT_EQ(log.status, 0) << log.error;
  EXPECT_NE(tty.error.find(first_line(static_cast<int64_t>(fs::file_size(*neutral_)))), std::string::npos) << tty.error;
  EXPECT_EQ(screen_of(tty.error), log.error);
  // The listing lines are many; the line came back after each.
  EXPECT_GT(support::occurrences(tty.error, " of "), 10);
  EXPECT_EQ(file_text(dir_->path("tty/out.xdb")), file_text(dir_->path("log/out.xdb")));
}

TEST_F(ProgressOnTerminal, QuietLoadxdbStillShowsTheLine) {
  const Outcome tty = run({kLoadxdb, *neutral_, "output=out.xdb", "verbose=no"}, place("quiet"), true);
  ASSERT_EQ(tty.status, 0) << tty.error;
  EXPECT_NE(tty.error.find(first_line(static_cast<int64_t>(fs::file_size(*neutral_)))), std::string::npos) << tty.error;
  EXPECT_EQ(screen_of(tty.error), "");
}

TEST_F(ProgressOnTerminal, StandardInputOfUnknownSizeShowsBytesAndRateOnly) {
  const std::string input = file_text(*neutral_);
  const Outcome tty = run({kLoadxdb, "-", "output=out.xdb", "verbose=yes"}, place("pipe-tty"), true, &input);
  const Outcome log = run({kLoadxdb, "-", "output=out.xdb", "verbose=yes"}, place("pipe-log"), false, &input);
  ASSERT_EQ(tty.status, 0) << tty.error;
  EXPECT_NE(tty.error.find(first_line(-1)), std::string::npos) << tty.error;
  EXPECT_EQ(tty.error.find("% "), std::string::npos) << "a percentage without a total";
  EXPECT_EQ(screen_of(tty.error), log.error);
}

TEST_F(ProgressOnTerminal, DumpxdbDrawsItsLineForTheXdbsSize) {
  const std::string dir = place("dump");
  ASSERT_EQ(run({kLoadxdb, *neutral_, "output=source.xdb"}, dir, false).status, 0);
  const Outcome tty = run({kDumpxdb, "source.xdb", "output=tty.ndb"}, dir, true);
  const Outcome log = run({kDumpxdb, "source.xdb", "output=log.ndb"}, dir, false);
  ASSERT_EQ(tty.status, 0) << tty.error;
  EXPECT_NE(tty.error.find(first_line(static_cast<int64_t>(fs::file_size(dir + "/source.xdb")))), std::string::npos)
      << tty.error;
  std::string expected = log.error;
  expected.replace(expected.find("log.ndb"), 7, "tty.ndb");
  EXPECT_EQ(screen_of(tty.error), expected);
  EXPECT_EQ(file_text(dir + "/tty.ndb"), file_text(dir + "/log.ndb"));
}

TEST_F(ProgressOnTerminal, ProgressNoWritesWhatALogGets) {
  const Outcome tty = run({kLoadxdb, *neutral_, "output=out.xdb", "progress=no"}, place("no-tty"), true);
  const Outcome log = run({kLoadxdb, *neutral_, "output=out.xdb"}, place("no-log"), false);
  ASSERT_EQ(tty.status, 0) << tty.error;
  EXPECT_EQ(as_written(tty.error), log.error);
}

class ProgressElsewhere : public ProgressOnTerminal {};

TEST_F(ProgressElsewhere, APipeGetsTheSameBytesAsWithProgressNo) {
  for (const std::string& program : {kLoadxdb, kDumpxdb}) {
    SCOPED_TRACE(program);
    const bool load = program == kLoadxdb;
    const std::string dir = place(load ? "same-load" : "same-dump");
    if (!load) {
      ASSERT_EQ(run({kLoadxdb, *neutral_, "output=in.xdb", "verbose=no"}, dir, false).status, 0);
    }
    const std::string input = load ? *neutral_ : "in.xdb";
    const Outcome plain = run({program, input, "output=a.out"}, dir, false);
    const Outcome no = run({program, input, "output=b.out", "progress=no"}, dir, false);
    ASSERT_EQ(plain.status, 0) << plain.error;
    std::string expected = no.error;
    expected.replace(expected.find("b.out"), 5, "a.out");
    EXPECT_EQ(plain.error, expected);
    EXPECT_EQ(plain.error.find('\x1b'), std::string::npos);
    EXPECT_EQ(plain.error.find('\r'), std::string::npos);
  }
}

TEST_F(ProgressElsewhere, ProgressYesDrawsTheLineOnAPipeAllTheSame) {
  const std::string dir = place("forced");
  const Outcome forced = run({kLoadxdb, *neutral_, "output=a.xdb", "progress=yes"}, dir, false);
  const Outcome plain = run({kLoadxdb, *neutral_, "output=b.xdb"}, dir, false);
  ASSERT_EQ(forced.status, 0) << forced.error;
  // No terminal tells a width: the line is made for 80 columns.
  const std::string first =
      "\r" + app::progress_text({0, static_cast<int64_t>(fs::file_size(*neutral_)), 0}, 79) + "\x1b[K";
  EXPECT_NE(forced.error.find(first), std::string::npos) << forced.error;
  std::string expected = plain.error;
  expected.replace(expected.find("b.xdb"), 5, "a.xdb");
  EXPECT_EQ(screen_of(forced.error), expected);
}

#else

TEST(ProgressOnTerminal, NeedsAPseudoTerminal) {
  GTEST_SKIP() << "the pseudo-terminal tests use openpty and fork, which Windows does not have";
}

#endif

}  // namespace
