#pragma once
// Builds neutral text from raw 6-bit values, for tests that speak of the value stream itself:
// a line 1 with the alphabet, block size and flag, then 79 values per data line.

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace testing_neutral {

// 64 distinct characters, A to Z first so that lower-case letters decode as upper-case ones.
inline const std::string kAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789+-*/=()<>,.:;'!?&%$#@[]_^|~\"";

inline std::string header_line(const std::string& alphabet, const std::string& block_size = "",
                               char flag = ' ') {
  std::string line = alphabet;
  line.resize(64, ' ');
  std::string field = block_size;
  if (field.size() < 15) field.insert(0, 15 - field.size(), ' ');
  return line + field + flag + "\n";
}

// Data lines holding `values` (then blanks as filler values), and `spare` further lines of
// value 0 behind them (the reader reads one line ahead).
inline std::string data_lines(const std::vector<int32_t>& values, const std::string& alphabet = kAlphabet,
                              int spare = 1) {
  std::string text;
  std::size_t i = 0;
  do {
    std::string line = " ";
    for (int k = 0; k < 79; ++k, ++i) line += i < values.size() ? alphabet[values[i]] : alphabet[0];
    text += line + "\n";
  } while (i < values.size());
  for (int k = 0; k < spare; ++k) text += " " + std::string(79, alphabet[0]) + "\n";
  return text;
}

inline std::string neutral_text(const std::vector<int32_t>& values, int spare = 1) {
  return header_line(kAlphabet) + data_lines(values, kAlphabet, spare);
}

// Base-32 digits of v, most significant first, exactly n of them.
inline std::vector<int32_t> digits(uint64_t v, int n) {
  std::vector<int32_t> d(n);
  for (int i = n - 1; i >= 0; --i, v >>= 5) d[i] = static_cast<int32_t>(v & 31);
  return d;
}

inline std::vector<int32_t> concat(std::initializer_list<std::vector<int32_t>> parts) {
  std::vector<int32_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

}  // namespace testing_neutral
