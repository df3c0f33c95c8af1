// The platform's file services: share modes between processes, transfers at the end of a
// file, temporary names and system error texts.

#include "platform/files.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/syserror.h"
#include "testkit/programs.h"
#include "testkit/system_codes.h"

namespace {

using namespace platform;
using support::kErrorHeld;

class PlatformFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string made =
        support::make_unique_directory(std::filesystem::temp_directory_path().string(), "platform_test_");
    ASSERT_NE(made, "");
    dir_ = made;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const char* leaf) const { return (dir_ / leaf).string(); }

  // Opens `name` in a child process; returns the open's result there. Windows keeps share modes
  // per handle, so that an open of this process through a handle of its own meets them exactly as
  // one of another process would: the open is made here, and closed again.
  static int open_in_child(const std::string& name, Access access, Share share) {
#ifdef _WIN32
    File f;
    return f.open(name.c_str(), access, share, Disposition::kOpenExisting, kFileNormal);
#else
    pid_t pid = fork();
    if (pid == 0) {
      File f;
      _exit(f.open(name.c_str(), access, share, Disposition::kOpenExisting, kFileNormal));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -100;
#endif
  }

  std::filesystem::path dir_;
};

TEST_F(PlatformFiles, AWriterExcludesOtherProcessesReadersShare) {
  File writer;
  ASSERT_EQ(writer.open(path("db").c_str(), Access::kReadWrite, Share::kNone,
                        Disposition::kCreateAlways, kFileNormal),
            0);
  ASSERT_EQ(writer.write_at("data", 4, 0), 0);
  EXPECT_EQ(open_in_child(path("db"), Access::kReadWrite, Share::kNone), kErrorHeld);
  EXPECT_EQ(open_in_child(path("db"), Access::kRead, Share::kRead), kErrorHeld);
  // A failed replace must not have emptied the file.
  File other;
  EXPECT_EQ(other.open(path("db").c_str(), Access::kReadWrite, Share::kNone,
                       Disposition::kCreateAlways, kFileNormal),
            kErrorHeld);
  std::uint64_t size = 0;
  EXPECT_EQ(writer.size(&size), 0);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(writer.close(), 0);

  File reader;
  ASSERT_EQ(reader.open(path("db").c_str(), Access::kRead, Share::kRead, Disposition::kOpenExisting,
                        kFileNormal),
            0);
  EXPECT_EQ(open_in_child(path("db"), Access::kRead, Share::kRead), 0);
  EXPECT_EQ(open_in_child(path("db"), Access::kReadWrite, Share::kNone), kErrorHeld);
}

TEST_F(PlatformFiles, ReadPastTheEndIsReportedNotPadded) {
  File f;
  ASSERT_EQ(f.open(path("short").c_str(), Access::kReadWrite, Share::kNone,
                   Disposition::kCreateAlways, kFileNormal),
            0);
  ASSERT_EQ(f.write_at("0123456789", 10, 0), 0);
  char buffer[8];
  EXPECT_EQ(f.read_at(buffer, 8, 2), 0);
  EXPECT_EQ(std::string(buffer, 8), "23456789");
  EXPECT_EQ(f.read_at(buffer, 8, 6), kEndOfFile);
  EXPECT_EQ(f.truncate(3), 0);
  std::uint64_t size = 0;
  f.size(&size);
  EXPECT_EQ(size, 3u);
}

TEST_F(PlatformFiles, TemporaryFilesAreUniqueAndNamedByPrefix) {
  const char* variable = support::kTemporaryDirectoryVariable;
  const char* old_tmpdir = std::getenv(variable);
  const bool had_tmpdir = old_tmpdir != nullptr;
  const std::string saved = had_tmpdir ? old_tmpdir : "";
  support::set_environment(variable, dir_.string());
  char first[256], second[256], tiny[8];
  ASSERT_EQ(make_temporary_file("KOV", first, sizeof first), 0);
  ASSERT_EQ(make_temporary_file("KOV", second, sizeof second), 0);
  EXPECT_EQ(make_temporary_file("KOV", tiny, sizeof tiny), support::kErrorNameTooLong);
  if (had_tmpdir) {
    support::set_environment(variable, saved);
  } else {
    support::unset_environment(variable);
  }
  EXPECT_NE(std::string(first), second);
  EXPECT_EQ(std::filesystem::path(first).parent_path(), dir_);
  EXPECT_EQ(std::filesystem::path(first).filename().string().substr(0, 3), "KOV");
  EXPECT_TRUE(std::filesystem::exists(first));
}

TEST(PlatformSystemErrorText, KnownAndUnknownCodes) {
  char text[256];
  // The system's own text: its C library's on POSIX, its message table's on Windows. Cut to the
  // buffer, it loses the blanks at its new end.
#ifdef _WIN32
  const std::string not_found = support::system_message(kErrorFileNotFound);
  ASSERT_GT(not_found.size(), 5u);
  std::string cut = not_found.substr(0, 5);
  while (!cut.empty() && cut.back() == ' ') cut.pop_back();
#else
  const std::string not_found = "No such file or directory";
  const std::string cut = "No su";
#endif
  EXPECT_EQ(std::string(text, system_error_text(kErrorFileNotFound, text, sizeof text)), not_found);
  EXPECT_EQ(std::string(text, system_error_text(99999, text, sizeof text)),
            "Unknown error code (value = 99999 decimal)");
  EXPECT_EQ(system_error_text(kErrorFileNotFound, text, 6), cut.size());  // cut to the buffer
  EXPECT_EQ(std::string(text), cut);
}

}  // namespace
