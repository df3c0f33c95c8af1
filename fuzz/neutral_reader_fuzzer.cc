// Fuzz target: any bytes as a neutral file, read by the neutral reader alone.
//
// The bytes go through the character stream (line 1, translation table, data lines) and are
// read record by record the way the conversion loop reads them: a 13-word header, then a body
// whose record length follows from the kind code (entries of L words, or group chunks of 65535
// words). Besides the sanitizers, every record read must keep the reader's promises: the words
// filled stay within the limit (one more only for a two-word item that begins in the last
// word), a record cut at the limit is full, and the items read never outnumber the words.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/scratch.h"
#include "neutral/items.h"
#include "neutral/stream.h"
#include "platform/stop.h"
#include "platform/textinput.h"
#include "platform/units.h"

namespace {

constexpr int32_t kHeaderWords = 13;
constexpr int32_t kChunkWords = 65535;
constexpr int32_t kKindScale = 10000;

std::vector<int32_t>& buffer() {
  static std::vector<int32_t> words(kChunkWords + 1);
  return words;
}

// Reads one record of at most `limit` words and checks what the reader reports about it.
// Returns true when an end mark ended it.
bool read_record(neutral::Stream& stream, int32_t limit, int32_t* first_words = nullptr) {
  auto& words = buffer();
  int32_t nmax = limit, nread = 0, filled = -1;
  const int result = neutral::CVTREC(stream, 0, nmax, nread, std::span<int32_t>(words.data(), limit + 1), &filled);
  if (filled < 0 || filled > limit + 1) fuzz::finding("record filled " + std::to_string(filled) + " words of " + std::to_string(limit), "");
  if (result == neutral::kFilled && filled < limit) fuzz::finding("record cut at the limit is not full", "");
  if (nread > filled + 1) fuzz::finding("more items than words", "");
  if (first_words) std::copy_n(words.begin(), std::min(filled, kHeaderWords), first_words);
  return result == neutral::kEnded;
}

void read_everything(neutral::Stream& stream) {
  int32_t B = 0, F = 0;
  stream.CVTSTR(0, B, F);
  for (;;) {
    int32_t header[kHeaderWords] = {};
    if (read_record(stream, kHeaderWords, header)) return;  // the end of the data
    const int32_t K = header[kHeaderWords - 1];
    int32_t length = K <= 0 ? kChunkWords : (K < kKindScale ? K : K % kKindScale);
    length = std::clamp(length, 1, kChunkWords);
    while (!read_record(stream, length)) {
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::NullStream quiet;
  platform::Units units;
  units.message = &quiet;
  units.output = &quiet;
  platform::TextInput input;
  input.attach_memory(std::string(reinterpret_cast<const char*>(data), size));
  neutral::Stream stream(input, units);
  try {
    read_everything(stream);
    stream.CVTEND();
  } catch (const platform::RunStop& stop) {
    if (stop.status != platform::kExitFatal) fuzz::finding("a stop with status " + std::to_string(stop.status), "");
  }
  return 0;
}
