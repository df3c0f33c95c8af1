#pragma once
// Test model of the neutral block stream: keys, typed items and blocks, with the
// 32-bit words that a correct reader makes of them.
//
// The neutral data after line 1 are a sequence of blocks:
//
//   header   13 words: words 1-2 the block name (two character words),
//            words 3-12 ten signed qualifiers, word 13 the kind code K
//   body     items, closed by one end mark
//
// Kind code K:
//   K <= 0                  group: any number of words
//   1 .. 9999               relation, key type 0, entries of K words
//   K >= 10000              L = K mod 10000, q = K div 10000, key type = q mod 10,
//                           key flag = (q >= 10);
//                           key type 0: one single record of L words,
//                           key type 1..9: relation with entries of L words
//
// The first block may be the DDL, named "DDLFORDB": its body holds the DDL
// version V, a second word S2, Z = objects * 100000 + data words, five
// directory words per object and then the data words.
//
// Words are what the reader stores: one word per item, two for doubles (low-order
// word first, as on the little-endian target); a character word holds its first
// character in its lowest byte.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace support {

inline constexpr int kNameChars = 8;
inline constexpr int kQualifierWords = 10;
inline constexpr int kKeyWords = 12;
inline constexpr int kHeaderWords = 13;
inline constexpr int32_t kGroupChunkWords = 65535;   // words per group chunk read
inline constexpr int32_t kKindStep = 10000;          // K = q * kKindStep + L
inline constexpr int32_t kDdlObjectStep = 100000;    // Z = objects * step + words
inline constexpr int kDdlObjectWords = 5;            // directory words per object
inline constexpr std::string_view kDdlName = "DDLFORDB";

// The word a reader makes of four characters: first character in the lowest byte.
// REQUIRES: four.size() == 4.
int32_t char_word(std::string_view four);

// Dictionary key of a data block.
struct Key {
  std::string name = "        ";                    // exactly 8 characters
  std::array<int32_t, kQualifierWords> qualifiers{};

  // The 12 key words: the name as two character words, then the qualifiers.
  std::array<int32_t, kKeyWords> words() const;

  bool operator==(const Key&) const = default;
};

// The key of a block named `name` (blank-padded to 8 characters), qualifier 1 = q1, the others 0.
Key key(std::string_view name, int32_t q1 = 0);

enum class ItemType : uint8_t {
  kLogical,         // codes 0, 1
  kInteger,         // codes 2, 3, 10
  kReal,            // codes 4, 5
  kRealAllOnes,     // code 11
  kDouble,          // codes 6, 7
  kDoubleAllOnes,   // code 12
  kDoubleX,         // codes 13, 14 (the two-word "X " element type)
  kChars,           // codes 8, 9
};

// One typed item with its value; `bits` holds the value's bit pattern: 0/1 for
// logicals, the 32-bit pattern of integers and reals, the 64-bit pattern of
// doubles, and for characters the four bytes in word order.
struct Item {
  ItemType type = ItemType::kInteger;
  uint64_t bits = 0;

  static Item logical(bool value);
  static Item integer(int32_t value);
  static Item real(float value);
  static Item real_all_ones();
  static Item dbl(double value);
  static Item dbl_all_ones();
  static Item dblx(double value);
  static Item chars(std::string_view four);  // REQUIRES: four.size() == 4

  int word_count() const;  // 1, or 2 for doubles
  void append_words(std::vector<int32_t>& out) const;
  std::string text() const;  // the four characters of a kChars item
  float as_real() const;
  double as_double() const;

  bool operator==(const Item&) const = default;
};

// Sum of word_count() over the items.
size_t word_count(std::span<const Item> items);

// Words of the items, in order.
std::vector<int32_t> words_of(std::span<const Item> items);

enum class BlockKind { kDdl, kGroup, kRelation, kSingleRecord };

// What a kind code K makes of a block (the DDL is recognised by name, not by K).
struct KindCode {
  BlockKind kind = BlockKind::kGroup;
  int32_t entry_length = 0;  // relations: entry words; single records: record words
  int key_type = 0;          // 0 = integer key in word 1, 1..9 = key of that many words
  int key_flag = 0;          // 1 when q >= 10
};
KindCode classify(int32_t kind_code);

// One block of the neutral stream as written: header, body items, one end mark.
struct Block {
  Key key;
  int32_t kind_code = 0;     // header word 13
  bool ddl = false;          // the leading DDL block
  std::vector<Item> body;    // items between the header and the end mark

  BlockKind kind() const;
  KindCode code() const { return classify(kind_code); }

  std::array<int32_t, kHeaderWords> header_words() const;
  size_t word_count() const { return support::word_count(body); }
  std::vector<int32_t> body_words() const { return words_of(body); }

  // Relations: number of entries and the words of entry i (0-based).
  size_t entry_count() const;
  std::vector<int32_t> entry_words(size_t index) const;

  // Relations: the entries a database holds once the body's entries have been written in order.
  // An entry whose key (word 1, or the first key-type words) came before replaces the earlier
  // one; words after the last whole entry are not an entry. Ordered by key, word by word as
  // signed integers.
  std::vector<std::vector<int32_t>> stored_entries() const;
};

// The word counts of the chunks a reader fills from a group body when it asks
// for kGroupChunkWords words at a time: a chunk ends at the limit, or one word
// beyond it when a double starts in its last word; the last chunk is the one
// ended by the end mark and may be empty.
std::vector<size_t> group_chunk_words(std::span<const Item> body,
                                      size_t limit = kGroupChunkWords);

// The packed form of an 8-character name used in DDL directory records: two
// words of four 6-bit character codes each. Characters outside the packing
// table pack as 255, which overlaps the neighbouring codes.
std::array<int32_t, 2> pack_ddl_name(std::string_view name);

}  // namespace support
