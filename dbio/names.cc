#include "dbio/names.h"

#include <cstring>

namespace dbio {

namespace {
constexpr int32_t kNulCode = 64;
constexpr int32_t kUnknownCode = 255;
}  // namespace

int32_t packed_code(unsigned char c) {
  if (c == 0) return kNulCode;
  if (c >= 'a' && c <= 'z') c = static_cast<unsigned char>(c - 'a' + 'A');
  const char* at = std::strchr(kPackedCharacters, c);
  return at ? static_cast<int32_t>(at - kPackedCharacters) + 1 : kUnknownCode;
}

int32_t pack_name_word(const char* four) {
  uint32_t w = 0;
  for (int k = 0; k < 4; ++k) w = (w << 6) | static_cast<uint32_t>(packed_code(static_cast<unsigned char>(four[k])));
  return static_cast<int32_t>(w);
}

std::string unpack_name(int32_t word1, int32_t word2) {
  std::string name(8, ' ');
  const uint32_t words[2] = {static_cast<uint32_t>(word1), static_cast<uint32_t>(word2)};
  for (int w = 0; w < 2; ++w) {
    for (int k = 0; k < 4; ++k) {
      uint32_t code = (words[w] >> (6 * (3 - k))) & 63u;
      if (code >= 1) name[4 * w + k] = kPackedCharacters[code - 1];
    }
  }
  return name;
}

std::string name_chars(int32_t word1, int32_t word2) {
  char text[8];
  std::memcpy(text, &word1, 4);
  std::memcpy(text + 4, &word2, 4);
  return std::string(text, 8);
}

}  // namespace dbio
