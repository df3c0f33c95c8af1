// Throughput of the block I/O library against plain positioned system calls.
//
//   bio_bench [directory [megabytes]]
//
// Writes a file of 4 KiB records (RECL 1024 words) from the first record to the last, then
// reads it back in the same order, through BIOXXX and through pwrite/pread on a plain
// descriptor (WriteFile/ReadFile at an offset on a plain handle, on Windows), three rounds of each, and prints the best rate of each pass in MB/s (1 MB =
// 1048576 bytes). The files are
// made in a new directory under `directory` (default: TMPDIR, else /tmp; the system's temporary
// directory on Windows) and deleted at the end. Data stay in the page cache unless memory is short: the figures compare the cost of the
// two paths, not the speed of the disk.

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bio/requests.h"
#include "testkit/programs.h"

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

// The plain positioned calls of the system on one file, without the library.
class PlainFile {
 public:
#ifdef _WIN32
  bool open(const std::string& name, bool write) {
    handle_ = ::CreateFileA(name.c_str(), write ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ, 0, nullptr,
                            write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle_ != INVALID_HANDLE_VALUE;
  }
  bool write_at(const void* data, std::size_t bytes, std::uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    return ::WriteFile(handle_, data, static_cast<DWORD>(bytes), &n, &at) && n == bytes;
  }
  bool read_at(void* data, std::size_t bytes, std::uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    return ::ReadFile(handle_, data, static_cast<DWORD>(bytes), &n, &at) && n == bytes;
  }
  void close() { ::CloseHandle(handle_); }
  static long error() { return static_cast<long>(::GetLastError()); }
  // The system cannot be asked to write out every dirty page at once.
  static void write_back_everything() {}

 private:
  HANDLE handle_ = INVALID_HANDLE_VALUE;
#else
  bool open(const std::string& name, bool write) {
    fd_ = write ? ::open(name.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)
                : ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    return fd_ >= 0;
  }
  bool write_at(const void* data, std::size_t bytes, std::uint64_t offset) {
    return ::pwrite(fd_, data, bytes, static_cast<off_t>(offset)) == static_cast<ssize_t>(bytes);
  }
  bool read_at(void* data, std::size_t bytes, std::uint64_t offset) {
    return ::pread(fd_, data, bytes, static_cast<off_t>(offset)) == static_cast<ssize_t>(bytes);
  }
  void close() { ::close(fd_); }
  static long error() { return errno; }
  static void write_back_everything() { ::sync(); }

 private:
  int fd_ = -1;
#endif
};

Rates through_bioxxx(const std::string& name, int32_t records, std::vector<int32_t>& buffer) {
  Rates rates;
  std::string text = name;
  int32_t cntlwd = 0, iret = 0, recl = kRecl;
  const std::uint64_t bytes = static_cast<std::uint64_t>(records) * kRecordBytes;

  PlainFile::write_back_everything();
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

  PlainFile::write_back_everything();
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
  PlainFile::write_back_everything();
  PlainFile file;
  if (!file.open(name, true)) fail("open", PlainFile::error());
  auto start = Clock::now();
  for (int32_t block = 1; block <= records; ++block) {
    buffer[0] = block;
    const std::uint64_t offset = static_cast<std::uint64_t>(block - 1) * kRecordBytes;
    if (!file.write_at(buffer.data(), kRecordBytes, offset)) fail("pwrite", PlainFile::error());
  }
  file.close();
  rates.write = rate(bytes, Clock::now() - start);

  PlainFile::write_back_everything();
  if (!file.open(name, false)) fail("open", PlainFile::error());
  start = Clock::now();
  for (int32_t block = 1; block <= records; ++block) {
    const std::uint64_t offset = static_cast<std::uint64_t>(block - 1) * kRecordBytes;
    if (!file.read_at(buffer.data(), kRecordBytes, offset) || buffer[0] != block) fail("pread", PlainFile::error());
  }
  rates.read = rate(bytes, Clock::now() - start);
  file.close();
  return rates;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  const std::string temporary = std::filesystem::temp_directory_path().string();
  const char* tmp = temporary.c_str();
#else
  const char* tmp = std::getenv("TMPDIR");
#endif
  std::string parent = argc > 1 ? argv[1] : (tmp != nullptr && *tmp != '\0' ? tmp : "/tmp");
  const long megabytes = argc > 2 ? std::atol(argv[2]) : 1024;
  if (megabytes <= 0 || megabytes > 65536) fail("size", megabytes);
  const auto records = static_cast<int32_t>(megabytes * 1048576 / static_cast<long>(kRecordBytes));

  const std::string made = support::make_unique_directory(parent, "bio_bench_");
  if (made.empty()) fail("making the directory", 0);
  const std::filesystem::path dir = made;
  std::vector<int32_t> buffer(kRecl, 0x5a5a5a5a);

  std::printf("%ld MB file of %d records of %zu bytes in %s, best of %d rounds\n", megabytes,
              records, kRecordBytes, dir.string().c_str(), kRounds);
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
