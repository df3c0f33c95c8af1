// Throughput of the block I/O library against plain positioned system calls.
//
//   bio_bench [directory [megabytes]]
//
// Writes a file of 4 KiB records (RECL 1024 words) from the first record to the last, then
// reads it back in the same order, through BIOXXX and through pwrite/pread on a plain
// descriptor, three rounds of each, and prints the best rate of each pass in MB/s (1 MB =
// 1048576 bytes). The files are
// made in a new directory under `directory` (default: TMPDIR, else /tmp) and deleted at the
// end. Data stay in the page cache unless memory is short: the figures compare the cost of the
// two paths, not the speed of the disk.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bio/requests.h"

namespace {

constexpr int32_t kRecl = 1024;
constexpr std::size_t kRecordBytes = kRecl * 4;
constexpr int kRounds = 3;

using Clock = std::chrono::steady_clock;

double rate(std::uint64_t bytes, Clock::duration elapsed) {
  return static_cast<double>(bytes) / 1048576.0 / std::chrono::duration<double>(elapsed).count();
}

[[noreturn]] void fail(const char* what, long code) {
  std::fprintf(stderr, "bio_bench: %s failed, code %ld\n", what, code);
  std::exit(1);
}

struct Rates {
  double write = 0;
  double read = 0;
};

Rates through_bioxxx(const std::string& name, int32_t records, std::vector<int32_t>& buffer) {
  Rates rates;
  std::string text = name;
  int32_t cntlwd = 0, iret = 0, recl = kRecl;
  const std::uint64_t bytes = static_cast<std::uint64_t>(records) * kRecordBytes;

  ::sync();
  bio::BIOXXX(bio::CREATE, cntlwd, text.data(), static_cast<int32_t>(text.size()), nullptr, 0,
              &recl, iret);
  if (iret != 0) fail("CREATE", iret);
  auto start = Clock::now();
  for (int32_t block = 1; block <= records; ++block) {
    buffer[0] = block;
    bio::BIOXXX(bio::WRITE, cntlwd, nullptr, 0, buffer.data(), kRecl, &block, iret);
    if (iret != 0) fail("WRITE", iret);
  }
  bio::BIOXXX(bio::CLOSE, cntlwd, nullptr, 0, nullptr, 0, nullptr, iret);
  rates.write = rate(bytes, Clock::now() - start);
  if (iret != 0) fail("CLOSE", iret);

  ::sync();
  bio::BIOXXX(bio::OPENRO, cntlwd, text.data(), static_cast<int32_t>(text.size()), nullptr, 0,
              &recl, iret);
  if (iret != 0) fail("OPENRO", iret);
  start = Clock::now();
  for (int32_t block = 1; block <= records; ++block) {
    bio::BIOXXX(bio::READ, cntlwd, nullptr, 0, buffer.data(), kRecl, &block, iret);
    if (iret != 0 || buffer[0] != block) fail("READ", iret != 0 ? iret : block);
  }
  rates.read = rate(bytes, Clock::now() - start);
  bio::BIOXXX(bio::CLOSE, cntlwd, nullptr, 0, nullptr, 0, nullptr, iret);
  return rates;
}

Rates through_plain_calls(const std::string& name, int32_t records, std::vector<int32_t>& buffer) {
  Rates rates;
  const std::uint64_t bytes = static_cast<std::uint64_t>(records) * kRecordBytes;
  ::sync();
  int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) fail("open", errno);
  auto start = Clock::now();
  for (int32_t block = 1; block <= records; ++block) {
    buffer[0] = block;
    off_t offset = static_cast<off_t>(block - 1) * static_cast<off_t>(kRecordBytes);
    if (::pwrite(fd, buffer.data(), kRecordBytes, offset) != static_cast<ssize_t>(kRecordBytes)) {
      fail("pwrite", errno);
    }
  }
  ::close(fd);
  rates.write = rate(bytes, Clock::now() - start);

  ::sync();
  fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) fail("open", errno);
  start = Clock::now();
  for (int32_t block = 1; block <= records; ++block) {
    off_t offset = static_cast<off_t>(block - 1) * static_cast<off_t>(kRecordBytes);
    if (::pread(fd, buffer.data(), kRecordBytes, offset) != static_cast<ssize_t>(kRecordBytes) ||
        buffer[0] != block) {
      fail("pread", errno);
    }
  }
  rates.read = rate(bytes, Clock::now() - start);
  ::close(fd);
  return rates;
}

}  // namespace

int main(int argc, char** argv) {
  const char* tmp = std::getenv("TMPDIR");
  std::string parent = argc > 1 ? argv[1] : (tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
  const long megabytes = argc > 2 ? std::atol(argv[2]) : 1024;
  if (megabytes <= 0 || megabytes > 65536) fail("size", megabytes);
  const auto records = static_cast<int32_t>(megabytes * 1048576 / static_cast<long>(kRecordBytes));

  std::string pattern = parent + "/bio_bench_XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) fail("mkdtemp", errno);
  const std::filesystem::path dir = pattern;
  std::vector<int32_t> buffer(kRecl, 0x5a5a5a5a);

  std::printf("%ld MB file of %d records of %zu bytes in %s, best of %d rounds\n", megabytes,
              records, kRecordBytes, dir.c_str(), kRounds);
  // The two paths take turns going first, and every pass starts after the system has written
  // out what the passes before it left dirty, so that no pass pays for another's write-back.
  Rates plain, bio;
  for (int round = 0; round < kRounds; ++round) {
    for (int turn = 0; turn < 2; ++turn) {
      if ((round + turn) % 2 == 0) {
        Rates r = through_plain_calls((dir / "plain.dat").string(), records, buffer);
        std::filesystem::remove(dir / "plain.dat");
        plain.write = std::max(plain.write, r.write);
        plain.read = std::max(plain.read, r.read);
      } else {
        Rates r = through_bioxxx((dir / "bio.dat").string(), records, buffer);
        std::filesystem::remove(dir / "bio.dat");
        bio.write = std::max(bio.write, r.write);
        bio.read = std::max(bio.read, r.read);
      }
    }
  }
  std::filesystem::remove_all(dir);

  std::printf("%-22s %10s %10s\n", "", "write MB/s", "read MB/s");
  std::printf("%-22s %10.1f %10.1f\n", "pwrite/pread", plain.write, plain.read);
  std::printf("%-22s %10.1f %10.1f\n", "BIOXXX", bio.write, bio.read);
  std::printf("%-22s %9.1f%% %9.1f%%\n", "BIOXXX / plain", 100.0 * bio.write / plain.write,
              100.0 * bio.read / plain.read);
  return 0;
}
