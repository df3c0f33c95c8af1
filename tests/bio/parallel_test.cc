// Parallel mode: threads open, write, read and close at the same time, each with its own
// OPENINFO options, some of them sharing one file.

#include <atomic>
#include <thread>

#include "tests/bio/bio_fixture.h"

namespace {

using namespace testing_bio;
using namespace bio;

constexpr int32_t kRecl = 32;
constexpr int kThreads = 6;
constexpr int32_t kBlocksPerThread = 200;

class BioParallel : public BioTest {};

// One request from a worker thread (the fixture's helpers keep state of their own).
int32_t request(bio::Library& lib, int32_t iopt, int32_t& cntlwd, std::string name, int32_t* words, int32_t n,
                int32_t intvar) {
  int32_t iret = -1;
  BIOXXX(lib, iopt, cntlwd, name.data(), static_cast<int32_t>(name.size()), words, n, &intvar, iret);
  return iret;
}

TEST_F(BioParallel, ThreadsKeepTheirOptionsAndTheirRecords) {
  int32_t on = 1;
  ASSERT_EQ(call(SETPARALLEL, on), 0);
  int32_t shared = open(CREATE, "shared", kRecl);

  bio::Library& lib = library();
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      auto check = [&](bool ok) { failures += ok ? 0 : 1; };
      // Even threads ask for timing; the options of one thread must not reach another.
      int32_t option = 0;
      check(request(lib, OPENINFO, option, t % 2 == 0 ? "TIMING=YES" : "TIMING=NO", nullptr, 0, 0) == 0);
      int32_t own = 0;
      check(request(lib, CREATE, own, path("own" + std::to_string(t)), nullptr, 0, kRecl) == 0);
      for (int32_t i = 0; i < kBlocksPerThread; ++i) {
        int32_t block = i * kThreads + t + 1;  // the threads' blocks interleave in the shared file
        auto words = record_of(block, kRecl);
        int32_t target = shared;
        check(request(lib, WRITE, target, "", words.data(), kRecl, block) == 0);
        check(request(lib, WRITE, own, "", words.data(), kRecl, i + 1) == 0);
        std::vector<int32_t> back(kRecl);
        check(request(lib, READ, target, "", back.data(), kRecl, block) == 0 && back == words);
      }
      std::vector<int32_t> info(24);
      check(request(lib, INQUIRE, own, "", info.data(), 24, 0) == 0);
      check(((info[8] & 0x1000) != 0) == (t % 2 == 0));
      check(info[9] == kBlocksPerThread && info[2] == kBlocksPerThread);
      check(request(lib, CLOSE, own, "", nullptr, 0, 0) == 0 && own == 0);
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures.load(), 0);

  for (int32_t block = 1; block <= kThreads * kBlocksPerThread; ++block) {
    std::vector<int32_t> words(kRecl);
    ASSERT_EQ(transfer(READ, shared, block, words), 0);
    ASSERT_EQ(words, record_of(block, kRecl)) << block;
  }
  close(shared);
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(file_size("own" + std::to_string(t)), uintmax_t{kBlocksPerThread} * kRecl * 4);
  }
}

}  // namespace
