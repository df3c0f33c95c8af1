// Records moved by block number: what lands on disk, what comes back, and what is refused.

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstring>

#include "tests/bio/bio_fixture.h"

namespace {

using namespace testing_bio;
using bio::CREATE;
using bio::OPENRO;
using bio::OPENRW;
using bio::READ;
using bio::TRUNCATE;
using bio::WRITE;

constexpr int32_t kRecl = 8;

class BioTransfers : public BioTest {};

TEST_F(BioTransfers, BlocksLandAtTheirOffsetsAndReadBackAfterReopen) {
  int32_t cntlwd = open(CREATE, "f.dat", kRecl);
  for (int32_t block : {3, 1, 2}) {
    auto words = record_of(block, kRecl);
    ASSERT_EQ(transfer(WRITE, cntlwd, block, words), 0);
  }
  ASSERT_EQ(close(cntlwd), 0);
  EXPECT_EQ(cntlwd, 0);
  std::string disk = read_file("f.dat");
  ASSERT_EQ(disk.size(), 3u * kRecl * 4);
  int32_t word;
  std::memcpy(&word, disk.data() + (2 * kRecl + 5) * 4, 4);  // block 3, word 5 (from 0)
  EXPECT_EQ(word, 3005);

  cntlwd = open(OPENRO, "f.dat", kRecl);
  EXPECT_LT(cntlwd, 0);
  for (int32_t block : {2, 3, 1}) {
    std::vector<int32_t> words(kRecl, -1);
    ASSERT_EQ(transfer(READ, cntlwd, block, words), 0);
    EXPECT_EQ(words, record_of(block, kRecl));
  }
  EXPECT_EQ(close(cntlwd), 0);
}

TEST_F(BioTransfers, WriteFarBeyondTheEndGrowsTheFileToWholeRecords) {
  int32_t cntlwd = open(CREATE, "grow.dat", kRecl);
  auto words = record_of(7, kRecl);
  ASSERT_EQ(transfer(WRITE, cntlwd, 7, words), 0);
  std::vector<int32_t> gap(kRecl, -1);
  ASSERT_EQ(transfer(READ, cntlwd, 4, gap), 0);
  EXPECT_EQ(gap, std::vector<int32_t>(kRecl, 0));
  std::vector<int32_t> beyond(kRecl);
  EXPECT_EQ(transfer(READ, cntlwd, 8, beyond), bio::kBeyondEndOfFile);
  ASSERT_EQ(close(cntlwd), 0);
  EXPECT_EQ(file_size("grow.dat"), 7u * kRecl * 4);
}

TEST_F(BioTransfers, LastPartialRecordReadsWithZerosAfterTheEnd) {
  // Two whole records and 10 bytes of a third.
  std::string bytes(2 * kRecl * 4 + 10, '\0');
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i + 1);
  write_file("partial.dat", bytes);
  int32_t cntlwd = open(OPENRO, "partial.dat", kRecl);
  std::vector<int32_t> words(kRecl, -1);
  ASSERT_EQ(transfer(READ, cntlwd, 3, words), 0);
  std::string expected = bytes.substr(2 * kRecl * 4) + std::string(kRecl * 4 - 10, '\0');
  EXPECT_EQ(std::memcmp(words.data(), expected.data(), kRecl * 4), 0);
  EXPECT_EQ(transfer(READ, cntlwd, 4, words), bio::kBeyondEndOfFile);
  EXPECT_EQ(close(cntlwd), 0);
  EXPECT_EQ(file_size("partial.dat"), bytes.size());  // read-only: never cut at close
}

TEST_F(BioTransfers, ReadOnlyFileSeesRecordsAppendedByAnotherWriter) {
  write_file("shared.dat", std::string(kRecl * 4, 'a'));
  int32_t cntlwd = open(OPENRO, "shared.dat", kRecl);
  std::ofstream appender(path("shared.dat"), std::ios::binary | std::ios::app);
  std::vector<int32_t> words(kRecl);
#ifdef _WIN32
  // The system holds the reader's share mode against every other opener, which our lock cannot
  // do against one that takes no lock: no writer gets the file while it is read.
  EXPECT_FALSE(appender.is_open());
  EXPECT_EQ(transfer(READ, cntlwd, 2, words), bio::kBeyondEndOfFile);
  EXPECT_EQ(file_size("shared.dat"), static_cast<std::uintmax_t>(kRecl * 4));
#else
  appender << std::string(kRecl * 4, 'b');
  appender.close();
  ASSERT_EQ(transfer(READ, cntlwd, 2, words), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(words.data()), 4), "bbbb");
#endif
  close(cntlwd);
}

struct Refusal {
  const char* what;
  int32_t iopt;
  bool read_only;  // the file is opened read-only
  int32_t cntlwd;  // 0: the file's own control word
  int32_t block;
  int32_t words;
  int32_t iret;
};

class BioTransferRefusals : public BioTest, public ::testing::WithParamInterface<Refusal> {};

TEST_P(BioTransferRefusals, RefusesBeforeTouchingTheFile) {
  const Refusal& c = GetParam();
  write_file("r.dat", std::string(2 * kRecl * 4, 'x'));
  int32_t own = open(c.read_only ? OPENRO : OPENRW, "r.dat", kRecl);
  int32_t cntlwd = c.cntlwd != 0 ? c.cntlwd : own;
  std::vector<int32_t> words(kRecl, 0x31313131);
  int32_t keep = c.block;
  int32_t iret = c.iopt == TRUNCATE ? call(TRUNCATE, cntlwd, "", &keep, 1, c.words)
                                    : call(c.iopt, cntlwd, "", words.data(), c.words, c.block);
  EXPECT_EQ(iret, c.iret);
  EXPECT_EQ(close(own), 0);
  EXPECT_EQ(read_file("r.dat"), std::string(2 * kRecl * 4, 'x'));
}

INSTANTIATE_TEST_SUITE_P(
    Codes, BioTransferRefusals,
    ::testing::Values(
        Refusal{"wrong length", READ, false, 0, 1, kRecl - 1, bio::kLengthNotRecl},
        Refusal{"negative length", WRITE, false, 0, 1, -5, bio::kLengthNotRecl},
        Refusal{"block zero", WRITE, false, 0, 0, kRecl, bio::kBlockNotPositive},
        Refusal{"negative block", READ, false, 0, -2147483647 - 1, kRecl, bio::kBlockNotPositive},
        Refusal{"negative truncate", TRUNCATE, false, 0, -3, kRecl, bio::kBlockNotPositive},
        Refusal{"write read-only", WRITE, true, 0, 1, kRecl, bio::kReadOnly},
        Refusal{"truncate read-only", TRUNCATE, true, 0, 0, kRecl, bio::kReadOnly},
        Refusal{"write positive cntlwd of read-only", WRITE, true, 1, 1, kRecl, bio::kReadOnly},
        Refusal{"negative cntlwd unused", WRITE, false, -9, 1, kRecl, bio::kReadOnly},
        Refusal{"never-used slot", READ, false, 9, 1, kRecl, bio::kFileClosed},
        Refusal{"slot above table", READ, false, 2046, 1, kRecl, bio::kInvalidIndex},
        Refusal{"huge slot", WRITE, false, 0x7fffffff, 1, kRecl, bio::kInvalidIndex},
        Refusal{"most negative cntlwd", READ, false, -2147483647 - 1, 1, kRecl,
                bio::kInvalidIndex}),
    [](const auto& info) {
      std::string name = info.param.what;
      for (char& c : name) c = std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

TEST_F(BioTransfers, ReadOfAClosedControlWordIsRefused) {
  int32_t cntlwd = open(CREATE, "c.dat", kRecl);
  int32_t stale = cntlwd;
  ASSERT_EQ(close(cntlwd), 0);
  std::vector<int32_t> words(kRecl);
  EXPECT_EQ(transfer(READ, stale, 1, words), bio::kFileClosed);
  EXPECT_EQ(close(stale), 0);  // closing it again does nothing
}

TEST_F(BioTransfers, TruncateCutsTheFileAndCloseKeepsTheCut) {
  int32_t cntlwd = open(CREATE, "t.dat", kRecl);
  for (int32_t block = 1; block <= 10; ++block) {
    auto words = record_of(block, kRecl);
    ASSERT_EQ(transfer(WRITE, cntlwd, block, words), 0);
  }
  int32_t keep = 12;  // beyond the end: nothing changes
  EXPECT_EQ(call(TRUNCATE, cntlwd, "", &keep, 1, kRecl), 0);
  keep = 4;
  EXPECT_EQ(call(TRUNCATE, cntlwd, "", &keep, 1, kRecl), 0);
  std::vector<int32_t> words(kRecl);
  EXPECT_EQ(transfer(READ, cntlwd, 5, words), bio::kBeyondEndOfFile);
  ASSERT_EQ(transfer(READ, cntlwd, 4, words), 0);
  EXPECT_EQ(words, record_of(4, kRecl));
  ASSERT_EQ(close(cntlwd), 0);
  EXPECT_EQ(file_size("t.dat"), 4u * kRecl * 4);
}

TEST_F(BioTransfers, NoDataBufferCountsAsNoWords) {
  int32_t cntlwd = open(CREATE, "n.dat", kRecl);
  EXPECT_EQ(call(WRITE, cntlwd, "", nullptr, kRecl, 1), bio::kLengthNotRecl);
  int32_t iret = -1;
  bio::BIOXXX(library(), READ, cntlwd, nullptr, -7, nullptr, kRecl, nullptr, iret);  // block absent: 0
  EXPECT_EQ(iret, bio::kBlockNotPositive);
  close(cntlwd);
}

TEST_F(BioTransfers, AFailedWriteReturnsTheSystemErrorAndTheNextOneSucceeds) {
#ifdef _WIN32
  GTEST_SKIP() << "no file-size resource limit (RLIMIT_FSIZE) on Windows";
#else
  // In a child process, whose files may not grow beyond 64 KiB.
  pid_t pid = fork();
  if (pid == 0) {
    struct rlimit limit = {64 * 1024, 64 * 1024};
    std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    int32_t cntlwd = open(CREATE, "limited", 1024);
    std::vector<int32_t> words = record_of(1, 1024);
    int first = transfer(WRITE, cntlwd, 17, words);   // bytes 64 KiB .. 68 KiB
    int second = transfer(WRITE, cntlwd, 16, words);  // the last record that fits
    int third = close(cntlwd);
    _exit(first == EFBIG && second == 0 && third == 0 ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(file_size("limited"), 64u * 1024);
#endif
}

}  // namespace
