// Opening and closing: slots, the table's limit, temporary files, who may hold a file, and the
// requests that ask about files (GETRECL, INQUIRE, ERASE).

#ifndef _WIN32
#include <sys/resource.h>
#endif

#include "bio/limits.h"
#include "platform/syserror.h"
#include "testkit/programs.h"
#include "testkit/system_codes.h"
#include "tests/bio/bio_fixture.h"

namespace {

using namespace testing_bio;
using namespace bio;
using support::kErrorHeld;

constexpr int32_t kRecl = 4;

class BioFileTable : public BioTest {};

TEST_F(BioFileTable, OpenTakesTheSlotAskedForElseTheLowestFree) {
  write_file("a", "");
  EXPECT_EQ(open(OPENRO, "a", kRecl, 7), -7);
  EXPECT_EQ(open(OPENRO, "a", kRecl, -7), -1);    // 7 is taken
  EXPECT_EQ(open(OPENRO, "a", kRecl, 9999), -2);  // no such slot
}

TEST_F(BioFileTable, FailedOpensLeaveTheirSlotFree) {
  int32_t cntlwd = 5;
  EXPECT_EQ(call(OPENRW, cntlwd, path("missing"), nullptr, 0, kRecl), platform::kErrorFileNotFound);
  EXPECT_EQ(cntlwd, 5);
  EXPECT_EQ(call(OPENRW, cntlwd, dir_.string(), nullptr, 0, kRecl), platform::kErrorIsDirectory);
  // Reading a directory: a POSIX open succeeds and finds no regular file; a Windows open fails
  // as for any directory.
#ifdef _WIN32
  EXPECT_EQ(call(OPENRO, cntlwd, dir_.string(), nullptr, 0, kRecl), platform::kErrorIsDirectory);
#else
  EXPECT_EQ(call(OPENRO, cntlwd, dir_.string(), nullptr, 0, kRecl), kNotDiskFile);
#endif
  EXPECT_EQ(call(OPENRO, cntlwd, support::null_device(), nullptr, 0, kRecl), kNotDiskFile);
  EXPECT_EQ(call(OPENRW, cntlwd, path("x"), nullptr, 0, 0), kNoRecl);
  EXPECT_EQ(call(OPENRO, cntlwd, "", nullptr, 0, kRecl), kNoFileName);
  EXPECT_EQ(open(CREATE, "now", kRecl, 5), 5);
}

TEST_F(BioFileTable, The2046thOpenIsRefusedAndLeavesNothingBehind) {
#ifndef _WIN32  // Windows sets no limit near this one on the handles of a process
  struct rlimit limit;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_cur < 2200) {
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 4096);
    setrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < 2200) GTEST_SKIP() << "too few descriptors";
  }
#endif
  write_file("many", "");
  std::vector<int32_t> open_files;
  for (int i = 0; i < 2045; ++i) open_files.push_back(open(OPENRO, "many", kRecl));
  EXPECT_EQ(open_files.back(), -2045);
  int32_t cntlwd = 0;
  EXPECT_EQ(call(CREATE, cntlwd, path("one-too-many"), nullptr, 0, kRecl), kTooManyFiles);
  EXPECT_FALSE(std::filesystem::exists(path("one-too-many")));
  ASSERT_EQ(close(open_files[99]), 0);
  EXPECT_EQ(open(CREATE, "fits", kRecl), 100);
}

TEST_F(BioFileTable, TemporaryFileHasPrefixKovAndVanishes) {
  support::set_environment("KOVDBG", "BIO1");
  const char* variable = support::kTemporaryDirectoryVariable;
  const char* old_tmpdir = std::getenv(variable);
  const bool had_tmpdir = old_tmpdir != nullptr;
  const std::string saved = had_tmpdir ? old_tmpdir : "";
  support::set_environment(variable, dir_.string());
  int32_t cntlwd = 0;
  EXPECT_EQ(call(CREATE, cntlwd, "", nullptr, 0, kRecl), 0);
  if (had_tmpdir) {
    support::set_environment(variable, saved);
  } else {
    support::unset_environment(variable);
  }
  std::vector<int32_t> words = record_of(2, kRecl);
  ASSERT_EQ(transfer(WRITE, cntlwd, 2, words), 0);
  std::vector<int32_t> back(kRecl);
  ASSERT_EQ(transfer(READ, cntlwd, 2, back), 0);
  EXPECT_EQ(back, words);
  EXPECT_EQ(close(cntlwd), 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir_));
  auto lines = debug_lines();
  std::string expected_start = "Temporary file to be created with name \"" + path("KOV");
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[2].rfind(expected_start, 0), 0u) << lines[2];
}

TEST_F(BioFileTable, NamedDeleteOnCloseFileLivesUntilClosed) {
  int32_t option = 2;
  ASSERT_EQ(call(OPENINFO, option), 0);
  int32_t cntlwd = open(CREATE, "scratch", kRecl);
  EXPECT_TRUE(std::filesystem::exists(path("scratch")));
  close(cntlwd);
  EXPECT_FALSE(std::filesystem::exists(path("scratch")));
  // The option served one CREATE only.
  cntlwd = open(CREATE, "kept", kRecl);
  close(cntlwd);
  EXPECT_TRUE(std::filesystem::exists(path("kept")));
}

TEST_F(BioFileTable, AWriterHoldsItsFileAlone) {
  int32_t writer = open(CREATE, "held", kRecl);
  int32_t other = 0;
  EXPECT_EQ(call(OPENRW, other, path("held"), nullptr, 0, kRecl), kErrorHeld);
  EXPECT_EQ(call(OPENRO, other, path("held"), nullptr, 0, kRecl), kErrorHeld);
  EXPECT_EQ(call(CREATE, other, path("held"), nullptr, 0, kRecl), kErrorHeld);
  EXPECT_EQ(call(ERASE, other, path("held")), kErrorHeld);
  close(writer);
  int32_t reader1 = open(OPENRO, "held", kRecl);
  int32_t reader2 = open(OPENRO, "held", kRecl);
  EXPECT_EQ(call(OPENRW, other, path("held"), nullptr, 0, kRecl), kErrorHeld);
  close(reader1);
  close(reader2);
  EXPECT_EQ(call(ERASE, other, path("held")), 0);
  EXPECT_EQ(call(ERASE, other, path("held")), 0);  // a missing file is no failure
  EXPECT_EQ(call(ERASE, other, ""), kNoFileName);
}

TEST_F(BioFileTable, CloseOfNothingSucceeds) {
  for (int32_t cntlwd : {0, 17, -17}) EXPECT_EQ(close(cntlwd), 0) << cntlwd;
  int32_t cntlwd = 2046;
  EXPECT_EQ(close(cntlwd), kInvalidIndex);
}

TEST_F(BioFileTable, GetreclAnswersForOpenFilesOnly) {
  int32_t cntlwd = open(CREATE, "r", 77);
  EXPECT_EQ(call(GETRECL, cntlwd, "", nullptr, 0, -1), 0);
  EXPECT_EQ(last_intvar_, 77);
  close(cntlwd);
  EXPECT_EQ(call(GETRECL, cntlwd, path("r"), nullptr, 0, -1), 0);
  EXPECT_EQ(last_intvar_, -1);
  EXPECT_EQ(call(GETRECL, cntlwd, "", nullptr, 0, -1), kNoFileName);
}

TEST_F(BioFileTable, InquireDescribesOpenAndClosedFiles) {
  int32_t cntlwd = open(CREATE, "q", kRecl);
  std::vector<int32_t> words = record_of(3, kRecl);
  transfer(WRITE, cntlwd, 3, words);
  transfer(READ, cntlwd, 1, words);
  std::vector<int32_t> info(12, -99);
  ASSERT_EQ(call(INQUIRE, cntlwd, "", info.data(), 12, 0), 0);
  const int32_t blank = 0x20202020;
  std::vector<int32_t> open_info = {kRecl, kRecl, 3, 3, 2147483647 - 3, 5, blank, blank,
                                    4,     1,     1, 0};
  EXPECT_EQ(info, open_info);
  close(cntlwd);

  std::ofstream(path("q"), std::ios::binary | std::ios::app) << "xy";  // a partial 4th record
  int32_t none = 0;
  EXPECT_EQ(call(INQUIRE, none, path("q"), info.data(), 6, kRecl), kPartialLastRecord);
  EXPECT_EQ(std::vector<int32_t>(info.begin(), info.begin() + 6),
            (std::vector<int32_t>{0, kRecl, 3, 3, -1, 0}));
  EXPECT_EQ(call(INQUIRE, none, path("q"), info.data(), 4, 0), 0);  // RECL 0: bytes
  EXPECT_EQ(info[2], 3 * kRecl * 4 + 2);
  EXPECT_EQ(call(INQUIRE, none, path("gone"), info.data(), 4, kRecl), platform::kErrorFileNotFound);
  EXPECT_EQ(call(INQUIRE, none, path("q"), info.data(), 4, -1), kNoRecl);
  EXPECT_EQ(call(INQUIRE, none, "", info.data(), 4, kRecl), kNoFileName);
}

TEST_F(BioFileTable, ArgumentsOutOfAnyRangeAreAnsweredWithCodes) {
  // A name is at most 255 characters: the rest of a longer one is not part of it.
  std::string long_name = path(std::string(300, 'n'));
  int32_t cntlwd = 0;
  EXPECT_EQ(call(CREATE, cntlwd, long_name, nullptr, 0, kRecl), 0);
  EXPECT_EQ(close(cntlwd), 0);
  EXPECT_TRUE(std::filesystem::exists(long_name.substr(0, 255)));
  for (int32_t iopt : {15, -1, 2147483647}) EXPECT_EQ(call(iopt, cntlwd), kInvalidIopt);
  int32_t iret = -1;
  char nul_name[4] = {'\0', 'a', 'b', 'c'};
  BIOXXX(library(), OPENRW, cntlwd, nul_name, 4, nullptr, 0, nullptr, iret);
  EXPECT_EQ(iret, kNoRecl);
  BIOXXX(library(), INQUIRE, cntlwd, nullptr, 40, nullptr, 99, nullptr, iret);
  EXPECT_EQ(iret, kNoFileName);
  cntlwd = open(CREATE, "big", kRecl);
  std::vector<int32_t> words(kRecl);
  EXPECT_EQ(transfer(READ, cntlwd, 2147483647, words), kBeyondEndOfFile);
  close(cntlwd);
}

struct FileSystemLimit {
  const char* file_system;
  int32_t recl;
  int32_t max_record;
};

class BioFileSystemLimits : public ::testing::TestWithParam<FileSystemLimit> {};

TEST_P(BioFileSystemLimits, FatFamilyLimitsTheRecordNumber) {
  EXPECT_EQ(max_record_for_file_system(GetParam().file_system, GetParam().recl),
            GetParam().max_record);
}

INSTANTIATE_TEST_SUITE_P(ByName, BioFileSystemLimits,
                         ::testing::Values(FileSystemLimit{"FAT32", 1024, 1048575},
                                           FileSystemLimit{"FAT32", 1, 1073741823},
                                           FileSystemLimit{"FAT", 1024, 524287},
                                           FileSystemLimit{"FAT16", 1000, 536870},
                                           FileSystemLimit{"ext4", 1024, 2147483647},
                                           FileSystemLimit{"exFAT", 1, 2147483647}));

}  // namespace
