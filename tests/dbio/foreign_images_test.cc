// Foreign word layouts against byte images made by hand: for every block kind, a small block of
// native words and the bytes that a machine of the 64-bit little-endian layout stores for it.
// BLKFIX must read the bytes into exactly those words and write the words out as exactly those
// bytes. That layout is the one in which every class has a file form of its own, so the images
// pin the class BLKFIX gives each word of each kind; the file forms of the classes in the other
// layouts are pinned word by word in convert_test.cc (WordConverters), and the walk over a
// block does not depend on the layout.
//
// Each byte image was written out word by word: which class every word of the block has follows
// from the block's kind and the entry layouts of the DDL below, and each class has its file form:
//
//   integer     32-bit: big-endian; 64-bit: sign-extended to 8 bytes, in the layout's order
//   real        32-bit: big-endian; 64-bit: the value as an IEEE double, in the layout's order
//   character   the 4 bytes in storage order; 64-bit: then 4 blanks (20)
//   X pair      the 64-bit value (the second native word its high half) in the layout's order;
//               64-bit: then 8 zero bytes
//   D pair      as X, except that the 64-bit little-endian layout puts the 8 zero bytes first
//
// The blocks are cut short (BLKFIX converts the LENGTH words it is given) so that the images stay
// readable; the words behind the counted part of a block are integers.

#include "dbio/block_walk.h"
#include "dbio/words.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "tests/dbio/foreign_unit.h"

namespace {

using namespace dbiotest;

constexpr int32_t kBlock = 2;  // any block but the header block

// A native word holding four characters in storage order.
constexpr int32_t chars(const char (&four)[5]) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned char>(four[0])) |
                              static_cast<uint32_t>(static_cast<unsigned char>(four[1])) << 8 |
                              static_cast<uint32_t>(static_cast<unsigned char>(four[2])) << 16 |
                              static_cast<uint32_t>(static_cast<unsigned char>(four[3])) << 24);
}
constexpr int32_t bits(uint32_t pattern) { return static_cast<int32_t>(pattern); }

// The DDL of the images, five objects of standard entries (object k is directory record k):
//   1 RELMIX  5 words: I A R X x   (codes 102, 105, 103, 107)
//   2 GROUPD  3 words: A D d       (105, 104)
//   3 KEYIDX  3 words: I I R       (202, 103)
//   4 KEYDAT  4 words: I I A R     (202, 105, 103)
//   5 RECORD  3 words: R A I       (103, 105, 102)
const std::vector<DdlObject> kObjects = {{"RELMIX", 5, {102, 105, 103, 107}},
                                         {"GROUPD", 3, {105, 104}},
                                         {"KEYIDX", 3, {202, 103}},
                                         {"KEYDAT", 4, {202, 105, 103}},
                                         {"RECORD", 3, {103, 105, 102}}};

// ---------------------------------------------------------------------------------------------
// The native blocks. Comments give each word's class; "|" separates the parts of a block.

// Kind 1, relation root: the key's name in words 2-3 is characters, every other word an integer.
const Words kRoot = {1, chars("REL1"), chars("ONE "), 4, -2, 100, -1, 2};  // I | A A | I ...

// Kind 2, level-2 block: integers throughout (root, pair count, pairs of key and block).
const Words kLevel2 = {2, 5, 2, -30, 7, 40, 8};

// Kind 3, relation data of object 1: four header words (count 2 in word 4), two entries of
// I A R X x, then a word behind the entries that holds characters but converts as an integer.
const Words kRelationData = {103, 6, 4, 2,                                                 // I I I I
                             -5, chars("ABCD"), bits(0x3FC00000), 0x11223344, 0x55667788,  // I A R X x (1.5)
                             7, chars("EFGH"), bits(0xBF400000), 0x01020304, 0x0A0B0C0D,   // I A R X x (-0.75)
                             chars("TAIL")};                                               // I

// Kind 4, first block of a group of object 2: four header words (18 words in use), the key (name
// A A, ten qualifiers I), then 6 data words: two entries A D d (the doubles 0.1 and -10.0, the
// low-order word first).
const Words kGroupFirstBlock = {204, 9, 0, 18,                                // I I I I
                                chars("GROU"), chars("PD  "),                 // A A
                                1, -1, 0, 0, 0, 0, 0, 0, 0, 2,                // I x 10
                                chars("WXYZ"), bits(0x9999999A), 0x3FB99999,  // A D d (0.1)
                                chars("STUV"), 0, bits(0xC0240000)};          // A D d (-10.0)

// Kind 5, dictionary primary index with two secondary index blocks (DICNSI = 2): word 1, two
// items of 2 A + 11 I (name, ten qualifiers, block), then a word beyond the items (an integer).
const Words kPrimaryIndex = {5,                                                               // I
                             chars("NAME"), chars("ONE "), 1, -2, 0, 0, 0, 0, 0, 0, 0, 0, 4,  // A A | I x 11
                             chars("NAMF"), chars("ONE "), 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 9,   // A A | I x 11
                             chars("ZZZZ")};                                                  // I

// Kind 6, secondary index: three header words (count 2 in word 3), two items of 2 A + 11 I.
const Words kSecondaryIndex = {6, 2, 2,                                                          // I I I
                               chars("NAME"), chars("TWO "), -1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3,  // A A | I x 11
                               chars("OTHE"), chars("R   "), 7, 0, 0, 0, 0, 0, 0, 0, 0, 0, 5};  // A A | I x 11

// Kind 7, dictionary data (DBDLEN = 12): four header words (count 2 in word 4), two entries of
// 2 A + 22 I: the name, ten qualifiers and the twelve descriptor words.
const Words kDictionaryData = {7, 0, 0, 2,                                     // I I I I
                               chars("NAME"), chars("SIX "),                   // A A
                               6, -6, 0, 0, 0, 0, 0, 0, 0, 0,                  // I x 10
                               1, 2, 0, 5, 3, -1, 0, 17, 1, 0, 0, 5,           // I x 12
                               chars("NAME"), chars("SIX "),                   // A A
                               7, 0, 0, 0, 0, 0, 0, 0, 0, 0,                   // I x 10
                               2, 1, 8, 9, 4, 20, -3, 2, 1, 1, -3, 9};         // I x 12

// Kind 8, multi-word-key index of object 3 with 2 key words (code (3 * 10 + 2) * 100 + 8): seven
// header words (13 words in use, entries of 3 words), then two entries I I R.
const Words kKeyIndex = {3208, 0, 0, 13, 3, 0, 9,           // I x 7
                         10, -20, bits(0x40200000),         // I I R (2.5)
                         11, -21, bits(0xBF000000)};        // I I R (-0.5)

// Kind 9, multi-word-key data of object 4 with 2 key words: five header words (13 in use, entries
// of 4 words), then two entries I I A R.
const Words kKeyData = {4209, 0, 0, 13, 4,                        // I x 5
                        7, -8, chars("KEY1"), bits(0x3E800000),   // I I A R (0.25)
                        8, -9, chars("KEY2"), bits(0x3F800000)};  // I I A R (1.0)

// Kind 10, shared single records: word 1, the words in use (10), a record of object 5 (3 words,
// R A I), a record without an object (its word an integer), then a word beyond the used ones.
const Words kSingleRecords = {10, 10,                                          // I I
                              5, 3, bits(0xC0000000), chars("ABCD"), -9,       // I I | R A I (-2.0)
                              0, 1, chars("PLAN"),                             // I I | I
                              chars("SPAR")};                                  // I

// ---------------------------------------------------------------------------------------------
// The images.

struct ImageCase {
  const char* kind;
  const Words* native;
  const char* hex;  // the file bytes, in hex; blanks between file words for reading only
};
void PrintTo(const ImageCase& c, std::ostream* os) { *os << c.kind; }

const ImageCase kImages[] = {
    {"root", &kRoot,
     "0100000000000000 52454C3120202020 4F4E452020202020 0400000000000000 FEFFFFFFFFFFFFFF "
     "6400000000000000 FFFFFFFFFFFFFFFF 0200000000000000"},
    {"level2", &kLevel2,
     "0200000000000000 0500000000000000 0200000000000000 E2FFFFFFFFFFFFFF 0700000000000000 "
     "2800000000000000 0800000000000000"},
    {"relation_data", &kRelationData,
     "6700000000000000 0600000000000000 0400000000000000 0200000000000000 FBFFFFFFFFFFFFFF "
     "4142434420202020 000000000000F83F 4433221188776655 0000000000000000 0700000000000000 "
     "4546474820202020 000000000000E8BF 040302010D0C0B0A 0000000000000000 5441494C00000000"},
    {"group", &kGroupFirstBlock,
     "CC00000000000000 0900000000000000 0000000000000000 1200000000000000 47524F5520202020 "
     "5044202020202020 0100000000000000 FFFFFFFFFFFFFFFF 0000000000000000 0000000000000000 "
     "0000000000000000 0000000000000000 0000000000000000 0000000000000000 0000000000000000 "
     "0200000000000000 5758595A20202020 0000000000000000 9A9999999999B93F 5354555620202020 "
     "0000000000000000 00000000000024C0"},
    {"primary_index", &kPrimaryIndex,
     "0500000000000000 4E414D4520202020 4F4E452020202020 0100000000000000 FEFFFFFFFFFFFFFF "
     "0000000000000000 0000000000000000 0000000000000000 0000000000000000 0000000000000000 "
     "0000000000000000 0000000000000000 0000000000000000 0400000000000000 4E414D4620202020 "
     "4F4E452020202020 0000000000000000 0000000000000000 0000000000000000 0000000000000000 "
     "0000000000000000 0000000000000000 0000000000000000 0000000000000000 0000000000000000 "
     "0000000000000000 0900000000000000 5A5A5A5A00000000"},
    {"secondary_index", &kSecondaryIndex,
     "0600000000000000 0200000000000000 0200000000000000 4E414D4520202020 54574F2020202020 "
     "FFFFFFFFFFFFFFFF 0000000000000000 0000000000000000 0000000000000000 0000000000000000 "
     "0000000000000000 0000000000000000 0000000000000000 0000000000000000 0000000000000000 "
     "0300000000000000 4F54484520202020 5220202020202020 0700000000000000 0000000000000000 "
     "0000000000000000 0000000000000000 0000000000000000 0000000000000000 0000000000000000 "
     "0000000000000000 0000000000000000 0000000000000000 0500000000000000"},
    {"dictionary_data", &kDictionaryData,
     "0700000000000000 0000000000000000 0000000000000000 0200000000000000 4E414D4520202020 "
     "5349582020202020 0600000000000000 FAFFFFFFFFFFFFFF 0000000000000000 0000000000000000 "
     "0000000000000000 0000000000000000 0000000000000000 0000000000000000 0000000000000000 "
     "0000000000000000 0100000000000000 0200000000000000 0000000000000000 0500000000000000 "
     "0300000000000000 FFFFFFFFFFFFFFFF 0000000000000000 1100000000000000 0100000000000000 "
     "0000000000000000 0000000000000000 0500000000000000 4E414D4520202020 5349582020202020 "
     "0700000000000000 0000000000000000 0000000000000000 0000000000000000 0000000000000000 "
     "0000000000000000 0000000000000000 0000000000000000 0000000000000000 0000000000000000 "
     "0200000000000000 0100000000000000 0800000000000000 0900000000000000 0400000000000000 "
     "1400000000000000 FDFFFFFFFFFFFFFF 0200000000000000 0100000000000000 0100000000000000 "
     "FDFFFFFFFFFFFFFF 0900000000000000"},
    {"key_index", &kKeyIndex,
     "880C000000000000 0000000000000000 0000000000000000 0D00000000000000 0300000000000000 "
     "0000000000000000 0900000000000000 0A00000000000000 ECFFFFFFFFFFFFFF 0000000000000440 "
     "0B00000000000000 EBFFFFFFFFFFFFFF 000000000000E0BF"},
    {"key_data", &kKeyData,
     "7110000000000000 0000000000000000 0000000000000000 0D00000000000000 0400000000000000 "
     "0700000000000000 F8FFFFFFFFFFFFFF 4B45593120202020 000000000000D03F 0800000000000000 "
     "F7FFFFFFFFFFFFFF 4B45593220202020 000000000000F03F"},
    {"single_records", &kSingleRecords,
     "0A00000000000000 0A00000000000000 0500000000000000 0300000000000000 00000000000000C0 "
     "4142434420202020 F7FFFFFFFFFFFFFF 0000000000000000 0100000000000000 504C414E00000000 "
     "5350415200000000"},
};

Bytes parse_hex(const char* text) {
  Bytes out;
  std::string digits;
  for (const char* p = text; *p; ++p) {
    if (*p == ' ') continue;
    EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(*p))) << "not a hex digit: " << *p;
    digits += *p;
  }
  EXPECT_EQ(digits.size() % 2, 0u);
  for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
    out.push_back(static_cast<unsigned char>(std::stoi(digits.substr(i, 2), nullptr, 16)));
  }
  return out;
}

constexpr int32_t kUntouched = 0x5A5A5A5A;

// BLKFIX reading `image` as a block of `length` native words; no native word behind them may be
// written.
Words read(BlockPool& pool, const Bytes& image, int32_t length) {
  auto& ctx = pool.db.ctx;
  pool.set_file_bytes(image);
  std::fill_n(ctx.words(pool.native, length + 1), length + 1, kUntouched);
  dbio::BLKFIX(ctx, dbio::kRead, kUnit, kBlock, pool.file, pool.native, length);
  const int32_t* w = ctx.words(pool.native, length + 1);
  EXPECT_EQ(w[length], kUntouched) << "a native word behind the block was written";
  return Words(w, w + length);
}

// BLKFIX writing `words` out; the bytes it wrote (and 8 more, to see that nothing else was).
Bytes write(BlockPool& pool, const Words& words, std::size_t image_size) {
  auto& ctx = pool.db.ctx;
  const auto length = static_cast<int32_t>(words.size());
  std::copy(words.begin(), words.end(), ctx.words(pool.native, length));
  const int64_t file_words = static_cast<int64_t>(image_size) / 4 + 2;
  std::fill_n(ctx.words(pool.file, file_words), file_words, kUntouched);
  dbio::BLKFIX(ctx, dbio::kWrite, kUnit, kBlock, pool.native, pool.file, length);
  return pool.file_bytes(static_cast<int64_t>(image_size) + 8);
}

class ForeignImages : public ::testing::TestWithParam<ImageCase> {};

TEST_P(ForeignImages, ReadGivesTheNativeWordsAndWriteGivesTheBytesBack) {
  const ImageCase& c = GetParam();
  const Bytes image = parse_hex(c.hex);
  const Words& words = *c.native;
  ASSERT_EQ(image.size(), words.size() * 4 * dbio::file_words_per_word(kLittleEndian64)) << "an image word too many or few";
  BlockPool pool(kLittleEndian64, kObjects);
  EXPECT_EQ(read(pool, image, static_cast<int32_t>(words.size())), words);
  Bytes expected = image;
  expected.insert(expected.end(), 8, 0x5A);
  EXPECT_EQ(write(pool, words, image.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(Kinds, ForeignImages, ::testing::ValuesIn(kImages),
                         [](const auto& info) { return std::string(info.param.kind); });

}  // namespace
