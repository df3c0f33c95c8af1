#pragma once
// A neutral stream over text in memory, line 1 already read, for tests that decode what they
// built: neutral text as it is, or the values of value_lines.h laid out on data lines.

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "neutral/items.h"
#include "neutral/stream.h"
#include "platform/textinput.h"
#include "platform/units.h"
#include "tests/neutral/value_lines.h"

namespace testing_neutral {

struct TextReader {
  explicit TextReader(const std::string& text) {
    input.attach_memory(text);
    units.message = &messages;
    stream.CVTSTR(0, block_size, flag);
  }
  // Over data lines of `values`, with `spare` lines of value 0 behind them.
  explicit TextReader(const std::vector<int32_t>& values, int spare = 1)
      : TextReader(neutral_text(values, spare)) {}

  // One record of at most nmax words, read by CVTREC into a buffer of nmax + 1 words that holds
  // 0x5A5A5A5A before; the words filled. `result` and `nread` receive CVTREC's.
  std::vector<int32_t> record(int32_t nmax, int* result = nullptr, int32_t* nread = nullptr) {
    std::vector<int32_t> buf(static_cast<std::size_t>(nmax) + 1, 0x5A5A5A5A);
    int32_t n = nmax, items = 0, words = 0;
    const int r = neutral::CVTREC(stream, 0, n, items, buf, &words);
    if (result) *result = r;
    if (nread) *nread = items;
    buf.resize(static_cast<std::size_t>(words));
    return buf;
  }

  platform::TextInput input;
  std::ostringstream messages;
  platform::Units units;
  neutral::Stream stream{input, units};
  int32_t block_size = 0;  // B and F of line 1
  int32_t flag = 0;
};

}  // namespace testing_neutral
