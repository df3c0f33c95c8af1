// INQUIRE: what the library knows of a file, in an information array of n words (a word is set
// only when n reaches it):
//
//   word  1     RECL of an open file, else 0
//   word  2     RECL (of the open file, or as given in intvar)
//   words 3, 4  record count (whole records)
//   word  5     open file: maximum record number less record count; else -1
//   word  6     5 for an open file, else 0
//   words 7, 8  blanks
//   word  9     open file: 4, plus 0x1000 when its timing is on
//   word 10     writes          word 11   reads
//   words 16-18 elapsed time of open/truncate, read, write (hundredths of a second)
//   words 19-21 user processor time, same order      words 22-24 system processor time
//               (16 to 24 only for a timed open file and n >= 24; 19 to 24 only where the
//               system gives per-thread processor times)
//
// A file that is not open is found by name, with intvar as its RECL; iret is 1 when its last
// record is partial.

#include <cstdint>

#include "bio/filetable.h"
#include "bio/library.h"
#include "bio/operations.h"
#include "bio/requests.h"
#include "platform/files.h"

namespace bio {
namespace {

constexpr int32_t kBlankWord = 0x20202020;  // four blank characters
constexpr int32_t kOpenFileKind = 5;
constexpr int32_t kOpenBit = 4;
constexpr int32_t kTimingBit = 0x1000;
constexpr int32_t kTimingWords = 24;
constexpr double kHundredthsPer100ns = 1e-5;

unsigned high(uint64_t v) { return static_cast<unsigned>(v >> 32); }
unsigned low(uint64_t v) { return static_cast<unsigned>(v); }

class InfoArray {
 public:
  InfoArray(int32_t* words, int32_t n) : words_(words), n_(n) {}
  int32_t size() const { return n_; }
  void set(int32_t k, int32_t value) {
    if (k <= n_) words_[k - 1] = value;
  }

 private:
  int32_t* words_;
  int32_t n_;
};

int32_t hundredths(double value) { return static_cast<int32_t>(value); }

// Words of an open file. REQUIRES: in parallel mode, the file's lock is held.
void describe_open_file(Library& lib, const FileRecord& file, InfoArray& info) {
  info.set(1, file.recl);
  info.set(6, kOpenFileKind);
  info.set(9, kOpenBit | (file.timing() ? kTimingBit : 0));
  info.set(10, file.write_count);
  info.set(11, file.read_count);
  if (file.timing() && info.size() >= kTimingWords) {
    for (int slot = 0; slot < kTimingSlots; ++slot) {
      info.set(16 + slot, hundredths(static_cast<double>(file.elapsed[slot]) * lib.tick_factor));
      if (lib.thread_times) {
        info.set(19 + slot, hundredths(static_cast<double>(file.user[slot]) * kHundredthsPer100ns));
        info.set(22 + slot,
                 hundredths(static_cast<double>(file.system[slot]) * kHundredthsPer100ns));
      }
    }
  }
  if (lib.debugging(4)) {
    const char* labels[] = {"INQUIRE:    Elapsed", "INQUIRE:   User CPU", "INQUIRE: System CPU"};
    const uint64_t* counters[] = {file.elapsed, file.user, file.system};
    for (int k = 0; k < 3; ++k) {
      const uint64_t* c = counters[k];
      lib.debug(4, "%s = %8.8x %8.8x, %8.8x %8.8x, %8.8x %8.8x", labels[k], high(c[0]), low(c[0]),
                high(c[1]), low(c[1]), high(c[2]), low(c[2]));
    }
  }
}

}  // namespace

int32_t do_inquire(Library& lib, Request& r) {
  InfoArray info(r.intarray, r.intarrayleng);
  for (int32_t k = 1; k <= info.size(); ++k) info.set(k, 0);
  info.set(5, -1);
  info.set(7, kBlankWord);
  info.set(8, kBlankWord);

  FileRecord* file = nullptr;
  if (find_file(lib, r.cntlwd, &file) == 0) {
    SectionLock own(lib, file->lock, r.parallel);
    if (file->is_open() && file->file.is_open()) {
      describe_open_file(lib, *file, info);
      info.set(5, file->max_record - file->record_count);
      info.set(2, file->recl);
      info.set(3, file->record_count);
      info.set(4, file->record_count);
      r.trace_number = file->recl;
      return 0;
    }
  }

  const int32_t recl = r.intvar_value;
  r.trace_number = recl;
  if (!r.has_name()) return kNoFileName;
  if (recl < 0) return kNoRecl;
  const uint64_t record_bytes = recl == 0 ? 1 : static_cast<uint64_t>(recl) * 4;
  platform::File probe;
  int e = probe.open(r.name, platform::Access::kRead, platform::Share::kRead,
                     platform::Disposition::kOpenExisting, platform::kFileNormal);
  if (e != 0) return e == platform::kNotDiskFile ? kNotDiskFile : e;
  uint64_t size = 0;
  e = probe.size(&size);
  int closed = probe.close();
  if (e == 0) e = closed;
  if (e != 0) return e;
  const uint64_t records = size / record_bytes;
  const int32_t count = records > INT32_MAX ? INT32_MAX : static_cast<int32_t>(records);
  info.set(2, recl);
  info.set(3, count);
  info.set(4, count);
  return size % record_bytes != 0 ? kPartialLastRecord : 0;
}

}  // namespace bio
