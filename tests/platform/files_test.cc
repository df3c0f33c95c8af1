// The platform's file services: share modes between processes, transfers at the end of a
// file, temporary names and system error texts.

#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/syserror.h"

namespace {

using namespace platform;

class PlatformFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "platform_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string path(const char* leaf) const { return (dir_ / leaf).string(); }

  // Opens `name` in a child process; returns the open's result there.
  static int open_in_child(const std::string& name, Access access, Share share) {
    pid_t pid = fork();
    if (pid == 0) {
      File f;
      _exit(f.open(name.c_str(), access, share, Disposition::kOpenExisting, kFileNormal));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -100;
  }

  std::filesystem::path dir_;
};

TEST_F(PlatformFiles, AWriterExcludesOtherProcessesReadersShare) {
  File writer;
  ASSERT_EQ(writer.open(path("db").c_str(), Access::kReadWrite, Share::kNone,
                        Disposition::kCreateAlways, kFileNormal),
            0);
  ASSERT_EQ(writer.write_at("data", 4, 0), 0);
  EXPECT_EQ(open_in_child(path("db"), Access::kReadWrite, Share::kNone), EBUSY);
  EXPECT_EQ(open_in_child(path("db"), Access::kRead, Share::kRead), EBUSY);
  // A failed replace must not have emptied the file.
  File other;
  EXPECT_EQ(other.open(path("db").c_str(), Access::kReadWrite, Share::kNone,
                       Disposition::kCreateAlways, kFileNormal),
            EBUSY);
  std::uint64_t size = 0;
  EXPECT_EQ(writer.size(&size), 0);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(writer.close(), 0);

  File reader;
  ASSERT_EQ(reader.open(path("db").c_str(), Access::kRead, Share::kRead, Disposition::kOpenExisting,
                        kFileNormal),
            0);
  EXPECT_EQ(open_in_child(path("db"), Access::kRead, Share::kRead), 0);
  EXPECT_EQ(open_in_child(path("db"), Access::kReadWrite, Share::kNone), EBUSY);
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
  const char* old_tmpdir = std::getenv("TMPDIR");
  const bool had_tmpdir = old_tmpdir != nullptr;
  const std::string saved = had_tmpdir ? old_tmpdir : "";
  setenv("TMPDIR", dir_.c_str(), 1);
  char first[256], second[256], tiny[8];
  ASSERT_EQ(make_temporary_file("KOV", first, sizeof first), 0);
  ASSERT_EQ(make_temporary_file("KOV", second, sizeof second), 0);
  EXPECT_EQ(make_temporary_file("KOV", tiny, sizeof tiny), ENAMETOOLONG);
  if (had_tmpdir) {
    setenv("TMPDIR", saved.c_str(), 1);
  } else {
    unsetenv("TMPDIR");
  }
  EXPECT_NE(std::string(first), second);
  EXPECT_EQ(std::filesystem::path(first).parent_path(), dir_);
  EXPECT_EQ(std::filesystem::path(first).filename().string().substr(0, 3), "KOV");
  EXPECT_TRUE(std::filesystem::exists(first));
}

TEST(PlatformSystemErrorText, KnownAndUnknownCodes) {
  char text[256];
  EXPECT_EQ(std::string(text, system_error_text(ENOENT, text, sizeof text)),
            "No such file or directory");
  EXPECT_EQ(std::string(text, system_error_text(99999, text, sizeof text)),
            "Unknown error code (value = 99999 decimal)");
  EXPECT_EQ(system_error_text(ENOENT, text, 6), 5u);  // cut to the buffer
}

}  // namespace
