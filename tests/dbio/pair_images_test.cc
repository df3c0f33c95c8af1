// Doubles across the boundary of two group blocks, against byte images made by hand: a group of
// three blocks of 18 words whose entries are "A D d" (object 1) or "A X x" (object 2), in a file
// of each foreign layout. The first block holds the key and one entry's character and pair's
// first word, so the pair ends the block and goes on in the next; the second block ends with a
// pair's first word again, which the third block's only data word completes:
//
//   block 2   type code, next 3, previous 0, used 14 | key (name A A, ten qualifiers) |
//             A "WXYZ", first word of 0.1
//   block 3   type code, next 4, previous 2, used 6 | second word of 0.1, A "ABCD", -pi (both
//             words), A "EFGH", first word of e
//   block 4   type code, next 0, previous 3, used 1 | second word of e
//
// The doubles' bit patterns: 0.1 = 3FB99999 9999999A, -pi = C00921FB 54442D18, e = 4005BF0A
// 8B145769 (high word first; the native side holds the low word first). Such a pair is stored
// as any other pair, its bytes spanning the boundary: the first file word in the first block's
// last used data word, the second in the next block's first data word.
//
//   4-byte big-endian     the 8 bytes big-endian: the first block holds the high word
//   8-byte big-endian     the 8 bytes big-endian, then 8 zero bytes: all in the first block
//   8-byte little-endian  X: the 8 bytes little-endian, then 8 zero bytes; D: the zeros first,
//                         so all in the next block
//
// In the images a word "w*n" stands for the file word w n times. The file's block 1 is zeros:
// these tests never read it.

#include "dbio/block_walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "bio/requests.h"
#include "dbio/blocks.h"
#include "dbio/bridge.h"
#include "dbio/layouts.h"
#include "dbio/names.h"
#include "dbio/open_states.h"
#include "dbio/pool.h"
#include "testkit/scratch_database.h"

namespace {

using Bytes = std::vector<unsigned char>;
using Words = std::vector<int32_t>;

constexpr int32_t kBigEndian32 = 0, kBigEndian64 = 2, kLittleEndian64 = 3;
constexpr int32_t kUnit = 1;
constexpr int32_t kBlockWords = 18;
constexpr int32_t kFirstBlock = 2, kBlocks = 4;

constexpr int32_t chars(const char (&four)[5]) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<unsigned char>(four[0])) |
                              static_cast<uint32_t>(static_cast<unsigned char>(four[1])) << 8 |
                              static_cast<uint32_t>(static_cast<unsigned char>(four[2])) << 16 |
                              static_cast<uint32_t>(static_cast<unsigned char>(four[3])) << 24);
}
constexpr int32_t bits(uint32_t pattern) { return static_cast<int32_t>(pattern); }

// The native words of blocks 2, 3 and 4 of object `object`.
Words native_blocks(int32_t object) {
  const int32_t code = object * 100 + 4;
  Words w = {code, 3, 0, 14, chars("PAIR"), chars("S   "), 1, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // block 2
             chars("WXYZ"), bits(0x9999999A),
             code, 4, 2, 6, bits(0x3FB99999), chars("ABCD"), bits(0x54442D18), bits(0xC00921FB),  // block 3
             chars("EFGH"), bits(0x8B145769), 0, 0, 0, 0, 0, 0, 0, 0,
             code, 0, 3, 1, bits(0x4005BF0A)};  // block 4
  w.resize(3 * kBlockWords, 0);
  return w;
}

struct Image {
  const char* name;
  int32_t filtyp, object;
  const char* hex;  // blocks 2, 3 and 4
};
void PrintTo(const Image& c, std::ostream* os) { *os << c.name; }

const Image kImages[] = {
    {"D_big_endian_32", kBigEndian32, 1,
     "00000068 00000003 00000000 0000000E 50414952 53202020 00000001 00000000*9 5758595A 3FB99999 "
     "00000068 00000004 00000002 00000006 9999999A 41424344 C00921FB 54442D18 45464748 4005BF0A 00000000*8 "
     "00000068 00000000 00000003 00000001 8B145769 00000000*13"},
    {"X_big_endian_32", kBigEndian32, 2,
     "000000CC 00000003 00000000 0000000E 50414952 53202020 00000001 00000000*9 5758595A 3FB99999 "
     "000000CC 00000004 00000002 00000006 9999999A 41424344 C00921FB 54442D18 45464748 4005BF0A 00000000*8 "
     "000000CC 00000000 00000003 00000001 8B145769 00000000*13"},
    {"D_big_endian_64", kBigEndian64, 1,
     "0000000000000068 0000000000000003 0000000000000000 000000000000000E 5041495220202020 5320202020202020 "
     "0000000000000001 0000000000000000*9 5758595A20202020 3FB999999999999A "
     "0000000000000068 0000000000000004 0000000000000002 0000000000000006 0000000000000000 4142434420202020 "
     "C00921FB54442D18 0000000000000000 4546474820202020 4005BF0A8B145769 0000000000000000*8 "
     "0000000000000068 0000000000000000 0000000000000003 0000000000000001 0000000000000000 0000000000000000*13"},
    {"X_big_endian_64", kBigEndian64, 2,
     "00000000000000CC 0000000000000003 0000000000000000 000000000000000E 5041495220202020 5320202020202020 "
     "0000000000000001 0000000000000000*9 5758595A20202020 3FB999999999999A "
     "00000000000000CC 0000000000000004 0000000000000002 0000000000000006 0000000000000000 4142434420202020 "
     "C00921FB54442D18 0000000000000000 4546474820202020 4005BF0A8B145769 0000000000000000*8 "
     "00000000000000CC 0000000000000000 0000000000000003 0000000000000001 0000000000000000 0000000000000000*13"},
    {"D_little_endian_64", kLittleEndian64, 1,
     "6800000000000000 0300000000000000 0000000000000000 0E00000000000000 5041495220202020 5320202020202020 "
     "0100000000000000 0000000000000000*9 5758595A20202020 0000000000000000 "
     "6800000000000000 0400000000000000 0200000000000000 0600000000000000 9A9999999999B93F 4142434420202020 "
     "0000000000000000 182D4454FB2109C0 4546474820202020 0000000000000000 0000000000000000*8 "
     "6800000000000000 0000000000000000 0300000000000000 0100000000000000 6957148B0ABF0540 0000000000000000*13"},
    {"X_little_endian_64", kLittleEndian64, 2,
     "CC00000000000000 0300000000000000 0000000000000000 0E00000000000000 5041495220202020 5320202020202020 "
     "0100000000000000 0000000000000000*9 5758595A20202020 9A9999999999B93F "
     "CC00000000000000 0400000000000000 0200000000000000 0600000000000000 0000000000000000 4142434420202020 "
     "182D4454FB2109C0 0000000000000000 4546474820202020 6957148B0ABF0540 0000000000000000*8 "
     "CC00000000000000 0000000000000000 0300000000000000 0100000000000000 0000000000000000 0000000000000000*13"},
};

Bytes parse_hex(const char* text) {
  Bytes out;
  std::istringstream words(text);
  for (std::string token; words >> token;) {
    std::string word = token;
    int times = 1;
    if (const auto star = token.find('*'); star != std::string::npos) {
      word = token.substr(0, star);
      times = std::stoi(token.substr(star + 1));
    }
    EXPECT_TRUE(word.size() == 8 || word.size() == 16) << "not a file word: " << word;
    for (int t = 0; t < times; ++t) {
      for (std::size_t i = 0; i + 1 < word.size(); i += 2) {
        EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(word[i])) && std::isxdigit(static_cast<unsigned char>(word[i + 1])));
        out.push_back(static_cast<unsigned char>(std::stoi(word.substr(i, 2), nullptr, 16)));
      }
    }
  }
  return out;
}

// Unit 1 open for update on a file of the image, with the DDL of the two objects in the DDL area.
class PairFile {
 public:
  explicit PairFile(const Image& image) : filtyp_(image.filtyp) {
    const Bytes blocks = parse_hex(image.hex);
    EXPECT_EQ(blocks.size(), 3 * block_bytes()) << "an image word too many or few";
    Bytes file(block_bytes(), 0);  // block 1
    file.insert(file.end(), blocks.begin(), blocks.end());
    std::ofstream(path(), std::ios::binary).write(reinterpret_cast<const char*>(file.data()),
                                                   static_cast<std::streamsize>(file.size()));
    auto& ctx = db.ctx;
    auto& g = ctx.grdblk;
    g.DBFLTY[kUnit] = filtyp_;
    g.BUFSZ[kUnit] = kBlockWords;
    g.USDBKS[kUnit] = kBlocks;
    g.DBDLEN[kUnit] = 12;
    // The DDL: two objects of 3-word entries, A D d and A X x.
    const int64_t base = ctx.sysfil.BASEDD;
    const Words ddl = {700, 2, 4,
                       dbio::pack_name_word("GROU"), dbio::pack_name_word("PD  "), 13, 3, 1,
                       dbio::pack_name_word("GROU"), dbio::pack_name_word("PX  "), 15, 3, 2,
                       105, 104, 105, 107};
    std::copy(ddl.begin(), ddl.end(), ctx.words(base, static_cast<int64_t>(ddl.size())));
    g.DDLVER[kUnit] = 700;
    g.DDLSIZ[kUnit] = 2 * 100000 + 4;
    open_file();
    g.DBOPND[kUnit] = dbio::kUnitForUpdate;
  }
  ~PairFile() {
    dbio::forget_unit_pages(db.ctx, kUnit);
    close_file();
    db.ctx.grdblk.DBOPND[kUnit] = dbio::kUnitClosed;
  }

  std::size_t block_bytes() const { return kBlockWords * 4 * static_cast<std::size_t>(dbio::file_words_per_word(filtyp_)); }
  std::string path() const { return db.path("pairs.xdb"); }

  // Blocks 2, 3 and 4 as the file holds them, once the block I/O library has written out the
  // blocks it keeps in memory.
  Bytes file_blocks() {
    dbio::write_out_unit(db.ctx, kUnit);
#ifdef _WIN32
    // The system lets nobody else read a file that is open for update: it is closed for the look
    // (which also writes out the library's records) and opened again.
    close_file();
#endif
    std::ifstream in(path(), std::ios::binary);
    const Bytes all((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
#ifdef _WIN32
    in.close();
    open_file();
#endif
    EXPECT_GE(all.size(), block_bytes());
    if (all.size() < block_bytes()) return {};
    return Bytes(all.begin() + static_cast<long>(block_bytes()), all.end());
  }
  int32_t page(int32_t block) {
    int32_t addr = 0;
    dbio::PAGFET(db.ctx, kUnit, block, addr);
    return addr;
  }
  // Blocks `order` read through the pool (each read from the file), then all three as words.
  Words read(std::initializer_list<int32_t> order) {
    dbio::forget_unit_pages(db.ctx, kUnit);
    for (int32_t b : order) page(b);
    Words words;
    for (int32_t b = kFirstBlock; b <= kBlocks; ++b) {
      const int32_t* w = db.ctx.words(page(b), kBlockWords);
      words.insert(words.end(), w, w + kBlockWords);
    }
    return words;
  }
  // Writes every modified page of the unit back, as the pool does when it reuses a page.
  void write_back() {
    auto& s = db.ctx.sysfil;
    for (int32_t p = 1; p <= s.NOFP; ++p) {
      if (dbio::page_unit(db.ctx, p) != -kUnit) continue;
      dbio::page_unit(db.ctx, p) = kUnit;
      dbio::BLKWRT(db.ctx, kUnit, dbio::page_block(db.ctx, p), dbio::page_buffer(db.ctx, p), kBlockWords, s.BASEXB);
    }
  }

  support::ScratchDatabase db;

 private:
  void open_file() {
    auto& g = db.ctx.grdblk;
    g.DBHNDL[kUnit] = g.GRFNUM[kUnit];
    std::string name = path();
    int32_t recl = kBlockWords * dbio::file_words_per_word(filtyp_), iret = 0;
    dbio::BIOXXX(db.ctx, bio::OPENRW, g.DBHNDL[kUnit], name.data(), static_cast<int32_t>(name.size()), nullptr, 0,
                 &recl, iret);
    EXPECT_EQ(iret, 0);
  }
  void close_file() {
    int32_t recl = 0, iret = 0;
    dbio::BIOXXX(db.ctx, bio::CLOSE, db.ctx.grdblk.DBHNDL[kUnit], nullptr, 0, nullptr, 0, &recl, iret);
    EXPECT_EQ(iret, 0);
  }

  int32_t filtyp_;
};

class PairImages : public ::testing::TestWithParam<Image> {};

TEST_P(PairImages, ReadAsTheNativeWordsInAnyOrderAndWrittenBackAsTheBytesTheyWere) {
  PairFile f(GetParam());
  const Words expected = native_blocks(GetParam().object);
  EXPECT_EQ(f.read({4, 3, 2}), expected);
  EXPECT_EQ(f.read({2, 3, 4}), expected);
  EXPECT_EQ(f.read({3}), expected);

  const Bytes before = f.file_blocks();
  for (int32_t b : {3, 2, 4}) dbio::PAGMOD(f.db.ctx, kUnit, b);
  f.write_back();
  EXPECT_EQ(f.file_blocks(), before);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PairImages, ::testing::ValuesIn(kImages),
                         [](const auto& info) { return std::string(info.param.name); });

// One half of 0.1 changed in its page and written back, with the block that holds the other half
// in the pool or only in the file: both blocks' parts of the pair must be the new pair's bytes.
struct Change {
  const char* name;
  int32_t block, word;  // the half changed
  uint32_t value;
  bool neighbour_in_pool;
  // The new bytes of block 2's word 18 and block 3's word 5 in each image (kImages order).
  const char* slots[std::size(kImages)][2];
};
void PrintTo(const Change& c, std::ostream* os) { *os << c.name; }

// First word 12345678: 0.1 becomes 3FB99999 12345678. Second word 40490000: 40490000 9999999A.
constexpr const char* kZero = "0000000000000000";
const Change kChanges[] = {
    {"first_word_next_block_in_pool", 2, 18, 0x12345678, true,
     {{"3FB99999", "12345678"}, {"3FB99999", "12345678"}, {"3FB9999912345678", kZero}, {"3FB9999912345678", kZero},
      {kZero, "785634129999B93F"}, {"785634129999B93F", kZero}}},
    {"first_word_next_block_in_the_file", 2, 18, 0x12345678, false,
     {{"3FB99999", "12345678"}, {"3FB99999", "12345678"}, {"3FB9999912345678", kZero}, {"3FB9999912345678", kZero},
      {kZero, "785634129999B93F"}, {"785634129999B93F", kZero}}},
    {"second_word_block_in_front_in_pool", 3, 5, 0x40490000, true,
     {{"40490000", "9999999A"}, {"40490000", "9999999A"}, {"404900009999999A", kZero}, {"404900009999999A", kZero},
      {kZero, "9A99999900004940"}, {"9A99999900004940", kZero}}},
    {"second_word_block_in_front_in_the_file", 3, 5, 0x40490000, false,
     {{"40490000", "9999999A"}, {"40490000", "9999999A"}, {"404900009999999A", kZero}, {"404900009999999A", kZero},
      {kZero, "9A99999900004940"}, {"9A99999900004940", kZero}}},
};

class PairChanges : public ::testing::TestWithParam<std::tuple<Change, size_t>> {};

TEST_P(PairChanges, WriteBothPartsOfThePair) {
  const auto& [change, index] = GetParam();
  const Image& image = kImages[index];
  PairFile f(image);
  Bytes expected = f.file_blocks();
  const std::size_t word_bytes = f.block_bytes() / kBlockWords;
  const std::size_t slot_at[2] = {17 * word_bytes, f.block_bytes() + 4 * word_bytes};  // block 2 word 18, block 3 word 5
  for (int k = 0; k < 2; ++k) {
    const Bytes slot = parse_hex(change.slots[index][k]);
    ASSERT_EQ(slot.size(), word_bytes);
    std::copy(slot.begin(), slot.end(), expected.begin() + static_cast<long>(slot_at[k]));
  }

  const int32_t other = change.block == 2 ? 3 : 2;
  if (change.neighbour_in_pool) f.page(other);
  f.db.ctx.W(f.page(change.block) + change.word - 1) = bits(change.value);
  dbio::PAGMOD(f.db.ctx, kUnit, change.block);
  f.write_back();
  EXPECT_EQ(f.file_blocks(), expected);

  // Read again, each block from the file.
  Words words = native_blocks(image.object);
  words[static_cast<size_t>((change.block - kFirstBlock) * kBlockWords + change.word - 1)] = bits(change.value);
  EXPECT_EQ(f.read({4, 3, 2}), words);
}

INSTANTIATE_TEST_SUITE_P(Layouts, PairChanges,
                         ::testing::Combine(::testing::ValuesIn(kChanges),
                                            ::testing::Range<size_t>(0, std::size(kImages))),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_" +
                                  kImages[std::get<1>(info.param)].name;
                         });

}  // namespace
