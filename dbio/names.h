#pragma once
// Packed names: an 8-character name as two words of four 6-bit codes each, characters 1-4 and
// 5-8, each word ((c1 << 6 | c2) << 6 | c3) << 6 | c4. Codes 1..63 are, in order, the characters
// of kPackedCharacters; the NUL character has code 64, lower-case letters the codes of their
// capitals, every other character 255 (so that an unknown character never matches a DDL name).

#include <cstdint>
#include <string>

namespace dbio {

inline constexpr char kPackedCharacters[] =
    " $'()*+,-./0123456789=ABCDEFGHIJKLMNOPQRSTUVWXYZ\"#%&;:<>?@![]^_";
static_assert(sizeof kPackedCharacters - 1 == 63);

// Code of one character.
int32_t packed_code(unsigned char c);
// Packs four characters into one word.
int32_t pack_name_word(const char* four);
// The 8 characters of two packed words (a code without a character shows as a blank).
std::string unpack_name(int32_t word1, int32_t word2);
// The 8 characters held in two words in storage order (a key's name words).
std::string name_chars(int32_t word1, int32_t word2);

}  // namespace dbio
