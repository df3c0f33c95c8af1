// The record cache of a writable file: on its own against a plain map, and under the requests,
// where a file that is read and written far more often than the cache has slots must end up
// exactly as if every transfer had gone to the file.

#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstring>
#include <map>
#include <random>

#include "bio/block_cache.h"
#include "bio/requests.h"
#include "platform/faults.h"
#include "testkit/system_codes.h"
#include "tests/bio/bio_fixture.h"

namespace {

using namespace testing_bio;
using bio::BlockCache;
using bio::CREATE;
using bio::OPENRW;
using bio::READ;
using bio::TRUNCATE;
using bio::WRITE;

// Random finds, takes, dirty marks and cuts, with every block's presence, slot and words checked
// against a map after each step: an index that loses an entry when another one is removed (the
// backward shift) or a slot given to two blocks shows up as a wrong answer of find.
TEST(BlockCache, FindsExactlyWhatItHoldsThroughTakesAndCuts) {
  constexpr int32_t kWords = 4;
  BlockCache cache(kWords, 0);  // the least: kMinSlots slots
  ASSERT_EQ(cache.slots(), BlockCache::kMinSlots);
  std::map<int64_t, std::pair<std::size_t, bool>> model;  // block -> slot, dirty
  std::mt19937 rng(7);
  for (int step = 0; step < 20000; ++step) {
    // Few distinct blocks, so that blocks come back after they were pushed out.
    const int64_t block = 1 + static_cast<int64_t>(rng() % 40);
    const int what = static_cast<int>(rng() % 100);
    if (what < 2) {
      const int64_t first = 1 + static_cast<int64_t>(rng() % 40);
      cache.drop_from(first);
      model.erase(model.lower_bound(first), model.end());
    } else {
      std::ptrdiff_t slot = cache.find(block);
      auto known = model.find(block);
      ASSERT_EQ(slot >= 0, known != model.end()) << "step " << step << " block " << block;
      if (slot < 0) {
        const std::size_t victim = cache.victim();
        if (cache.block(victim) != 0) {
          auto gone = model.find(cache.block(victim));
          ASSERT_NE(gone, model.end());
          ASSERT_EQ(gone->second.first, victim);
          ASSERT_EQ(cache.dirty(victim), gone->second.second);
          model.erase(gone);
        }
        cache.assign(victim, block);
        for (int32_t w = 0; w < kWords; ++w) cache.words(victim)[w] = static_cast<int32_t>(block * 10 + w);
        model[block] = {victim, false};
        slot = static_cast<std::ptrdiff_t>(victim);
      } else {
        ASSERT_EQ(static_cast<std::size_t>(slot), known->second.first);
        ASSERT_EQ(cache.words(static_cast<std::size_t>(slot))[kWords - 1], block * 10 + kWords - 1);
      }
      if (what < 50) {
        cache.set_dirty(static_cast<std::size_t>(slot), true);
        model[block].second = true;
      }
    }
    std::size_t dirty = 0;
    for (const auto& [b, entry] : model) dirty += entry.second ? 1 : 0;
    ASSERT_EQ(cache.dirty_count(), dirty);
  }
  // The dirty ones in block order.
  std::vector<int64_t> expected, listed;
  for (const auto& [b, entry] : model) {
    if (entry.second) expected.push_back(b);
  }
  for (uint32_t slot : cache.dirty_in_block_order()) listed.push_back(cache.block(slot));
  EXPECT_EQ(listed, expected);
}

TEST(BlockCache, ClockSparesARecentlyUsedSlotForOneRound) {
  BlockCache cache(1, 0);
  const std::size_t n = cache.slots();
  for (std::size_t i = 0; i < n; ++i) cache.assign(cache.victim(), static_cast<int64_t>(i + 1));
  // Every slot is referenced: the hand clears them all and comes back to the first.
  const std::size_t first = cache.victim();
  EXPECT_EQ(cache.block(first), 1);
  cache.assign(first, 100);
  cache.find(2);  // used again: spared
  EXPECT_EQ(cache.block(cache.victim()), 3);
}

class CachedFile : public BioTest {};

// Many more records than slots, written and rewritten in a scattered order and read back in
// between: every READ returns the last words written, and the closed file holds them all.
TEST_F(CachedFile, ManyMoreRecordsThanSlotsReadBackAndReachTheFile) {
  constexpr int32_t kRecl = 1024;
  const auto slots = static_cast<int32_t>(BlockCache(kRecl).slots());
  const int32_t blocks = 3 * slots + 5;
  int32_t cntlwd = open(CREATE, "many.dat", kRecl);
  std::vector<std::vector<int32_t>> model(static_cast<std::size_t>(blocks) + 1);
  std::mt19937 rng(11);
  std::vector<int32_t> words(kRecl);
  for (int32_t block = 1; block <= blocks; ++block) {
    model[block] = record_of(block, kRecl);
    ASSERT_EQ(transfer(WRITE, cntlwd, block, model[block]), 0);
  }
  for (int step = 0; step < 6 * blocks; ++step) {
    const int32_t block = 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(blocks));
    if (rng() % 3 == 0) {
      model[block][rng() % kRecl] = step;
      ASSERT_EQ(transfer(WRITE, cntlwd, block, model[block]), 0);
    } else {
      ASSERT_EQ(transfer(READ, cntlwd, block, words), 0);
      ASSERT_EQ(words, model[block]) << "block " << block << " at step " << step;
    }
  }
  ASSERT_EQ(close(cntlwd), 0);
  const std::string disk = read_file("many.dat");
  ASSERT_EQ(disk.size(), static_cast<std::size_t>(blocks) * kRecl * 4);
  for (int32_t block = 1; block <= blocks; ++block) {
    ASSERT_EQ(std::memcmp(disk.data() + static_cast<std::size_t>(block - 1) * kRecl * 4, model[block].data(), kRecl * 4), 0)
        << "block " << block;
  }
}

TEST_F(CachedFile, TruncationForgetsTheCutRecordsAndAGapReadsAsZeros) {
  constexpr int32_t kRecl = 16;
  int32_t cntlwd = open(CREATE, "cut.dat", kRecl);
  for (int32_t block : {1, 2, 3, 4, 9}) {
    auto words = record_of(block, kRecl);
    ASSERT_EQ(transfer(WRITE, cntlwd, block, words), 0);
  }
  std::vector<int32_t> words(kRecl, -1);
  ASSERT_EQ(transfer(READ, cntlwd, 6, words), 0);  // a gap below a cached record
  EXPECT_EQ(words, std::vector<int32_t>(kRecl, 0));
  int32_t keep = 2;
  ASSERT_EQ(call(TRUNCATE, cntlwd, "", &keep, 1, kRecl), 0);
  EXPECT_EQ(transfer(READ, cntlwd, 3, words), bio::kBeyondEndOfFile);
  auto fourth = record_of(44, kRecl);
  ASSERT_EQ(transfer(WRITE, cntlwd, 4, fourth), 0);  // a new gap: block 3
  ASSERT_EQ(transfer(READ, cntlwd, 3, words), 0);
  EXPECT_EQ(words, std::vector<int32_t>(kRecl, 0)) << "block 3 was cut and must not come back";
  ASSERT_EQ(close(cntlwd), 0);
  std::vector<int32_t> expected;
  for (auto part : {record_of(1, kRecl), record_of(2, kRecl), std::vector<int32_t>(kRecl, 0), fourth}) {
    expected.insert(expected.end(), part.begin(), part.end());
  }
  const std::string disk = read_file("cut.dat");
  ASSERT_EQ(disk.size(), expected.size() * 4);
  EXPECT_EQ(std::memcmp(disk.data(), expected.data(), disk.size()), 0);
}

TEST_F(CachedFile, ALibraryThatEndsWithTheFileOpenLeavesEveryRecordInIt) {
  constexpr int32_t kRecl = 8;
  int32_t cntlwd = open(CREATE, "open.dat", kRecl);
  for (int32_t block = 1; block <= 3; ++block) {
    auto words = record_of(block, kRecl);
    ASSERT_EQ(transfer(WRITE, cntlwd, block, words), 0);
  }
  fresh_library();  // the old one goes, the file still open
  const std::string disk = read_file("open.dat");
  ASSERT_EQ(disk.size(), 3u * kRecl * 4) << "the room reserved ahead is given back";
  int32_t word;
  std::memcpy(&word, disk.data() + (2 * kRecl + 7) * 4, 4);
  EXPECT_EQ(word, 3007);
}

TEST_F(CachedFile, AReopenedFileIsReadFromWhatTheCloseWrote) {
  constexpr int32_t kRecl = 8;
  int32_t cntlwd = open(CREATE, "again.dat", kRecl);
  auto first = record_of(1, kRecl), second = record_of(2, kRecl);
  ASSERT_EQ(transfer(WRITE, cntlwd, 1, first), 0);
  ASSERT_EQ(transfer(WRITE, cntlwd, 2, second), 0);
  ASSERT_EQ(close(cntlwd), 0);
  cntlwd = open(OPENRW, "again.dat", kRecl);
  std::vector<int32_t> words(kRecl);
  ASSERT_EQ(transfer(READ, cntlwd, 2, words), 0);
  EXPECT_EQ(words, second);
  EXPECT_EQ(transfer(READ, cntlwd, 3, words), bio::kBeyondEndOfFile);
  ASSERT_EQ(close(cntlwd), 0);
  EXPECT_EQ(file_size("again.dat"), 2u * kRecl * 4);
}

// With a file-size limit, the WRITE that would grow the file beyond it fails itself (the records
// before it wait in the cache), and the close then puts every accepted record in the file.
TEST_F(CachedFile, AWriteBeyondAFileSizeLimitFailsAtOnceAndTheAcceptedRecordsLand) {
#ifdef _WIN32
  GTEST_SKIP() << "no file-size resource limit (RLIMIT_FSIZE) on Windows";
#else
  constexpr int32_t kRecl = 256;  // 1 KiB records
  pid_t pid = fork();
  if (pid == 0) {
    struct rlimit limit = {10 * 1024, 10 * 1024};
    std::signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    int32_t cntlwd = open(CREATE, "limited", kRecl);
    int failed_at = 0;
    for (int32_t block = 1; block <= 12 && failed_at == 0; ++block) {
      auto words = record_of(block, kRecl);
      if (int32_t e = transfer(WRITE, cntlwd, block, words)) failed_at = e == EFBIG ? block : -e;
    }
    const int closed = close(cntlwd);
    _exit(failed_at == 11 && closed == 0 ? 0 : 1);
  }
  int status = -1;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const std::string disk = read_file("limited");
  ASSERT_EQ(disk.size(), 10u * 1024);
  int32_t word;
  std::memcpy(&word, disk.data() + 9 * 1024 + 4, 4);
  EXPECT_EQ(word, 10001);
#endif
}

}  // namespace

namespace {

// A transfer that must first write another block out to make room, and cannot, fails with that
// write's error, and the library tells which block could not be written: a message must not
// blame the block that was being read.
TEST_F(CachedFile, AFailedWriteOutToMakeRoomNamesTheBlockWrittenOut) {
  constexpr int32_t kRecl = 1024;
  const auto slots = static_cast<int32_t>(BlockCache(kRecl).slots());
  int32_t cntlwd = open(CREATE, "room.dat", kRecl);
  // Every slot holds a dirty record: the next block read pushes one of them out.
  for (int32_t block = 1; block <= slots; ++block) {
    std::vector<int32_t> record = record_of(block, kRecl);
    ASSERT_EQ(transfer(WRITE, cntlwd, block, record), 0);
  }
  std::vector<int32_t> words(kRecl), next = record_of(slots + 1, kRecl);
  platform::arm_fault({platform::FaultCall::kWrite, 1, platform::FaultMode::kError, EIO});
  const int32_t failed = transfer(WRITE, cntlwd, slots + 1, next);
  platform::disarm_faults();
  EXPECT_EQ(failed, support::planned_failure_code(EIO));
  const int64_t written_out = bio::failed_write_out(library(), cntlwd);
  EXPECT_GE(written_out, 1);
  EXPECT_LE(written_out, slots);
  // A transfer that succeeds clears it.
  ASSERT_EQ(transfer(READ, cntlwd, 1, words), 0);
  EXPECT_EQ(bio::failed_write_out(library(), cntlwd), 0);
  EXPECT_EQ(words, record_of(1, kRecl));
  ASSERT_EQ(close(cntlwd), 0);
}

}  // namespace
