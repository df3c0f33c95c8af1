// Block data conversion: the word converters against hand-made file bytes, the classes that
// element lists give the words of an entry, and the walk over every block kind against the
// test-side foreign writer, in both directions; the fatal codes 19 and 20.

#include "dbio/block_walk.h"
#include "dbio/words.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "dbio/names.h"
#include "testkit/foreign_writer.h"
#include "testkit/scratch_database.h"
#include "tests/dbio/foreign_unit.h"

namespace {

using namespace dbiotest;
using support::kBigEndian32;
using support::kBigEndian64;

int32_t chars(const char* four) {
  int32_t w;
  std::memcpy(&w, four, 4);
  return w;
}
int32_t real(float f) { return std::bit_cast<int32_t>(f); }

Bytes hex(std::initializer_list<int> values) { return Bytes(values.begin(), values.end()); }
Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Bytes zeros(int n) { return Bytes(static_cast<size_t>(n), 0); }
Bytes blanks(int n) { return Bytes(static_cast<size_t>(n), ' '); }

// ---------------------------------------------------------------------------------------------
// Word converters.

struct WordCase {
  const char* name;
  int32_t cls, filtyp;
  Words words;
  Bytes bytes;
};
void PrintTo(const WordCase& c, std::ostream* os) { *os << c.name; }

class WordConverters : public ::testing::TestWithParam<WordCase> {};

TEST_P(WordConverters, WriteGivesTheFileBytesAndReadGivesTheWordsBack) {
  const auto& c = GetParam();
  Pool pool;
  EXPECT_EQ(pool.write(c.cls, c.filtyp, c.words), c.bytes);
  EXPECT_EQ(pool.read(c.cls, c.filtyp, c.bytes, static_cast<int32_t>(c.words.size())), c.words);
}

const uint32_t kPairLow = 0x11223344, kPairHigh = 0x55667788;
const Words kPair = {static_cast<int32_t>(kPairLow), static_cast<int32_t>(kPairHigh)};
const Bytes kPairBig = hex({0x55, 0x66, 0x77, 0x88, 0x11, 0x22, 0x33, 0x44});
const Bytes kPairLittle = hex({0x44, 0x33, 0x22, 0x11, 0x88, 0x77, 0x66, 0x55});

INSTANTIATE_TEST_SUITE_P(
    Layouts, WordConverters,
    ::testing::Values(
        WordCase{"be32_integer", dbio::kIntegerClass, kBigEndian32, {1}, hex({0, 0, 0, 1})},
        WordCase{"be32_logical_as_integer", 1, kBigEndian32, {-2}, hex({0xFF, 0xFF, 0xFF, 0xFE})},
        WordCase{"be32_characters_keep_their_order", dbio::kCharacterClass, kBigEndian32, {chars("ABCD")},
                 hex({'A', 'B', 'C', 'D'})},
        WordCase{"be32_real", dbio::kRealClass, kBigEndian32, {real(1.0f)}, hex({0x3F, 0x80, 0, 0})},
        WordCase{"be32_x_pair_reversed_as_one", dbio::kXClass, kBigEndian32, kPair, kPairBig},
        WordCase{"be32_d_double_one", dbio::kDClass, kBigEndian32, {0, 0x3FF00000},
                 hex({0x3F, 0xF0, 0, 0, 0, 0, 0, 0})},
        WordCase{"be64_integer_sign_extended", dbio::kIntegerClass, kBigEndian64, {-2},
                 hex({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE})},
        WordCase{"be64_real_as_double", dbio::kRealClass, kBigEndian64, {real(1.0f)},
                 hex({0x3F, 0xF0, 0, 0, 0, 0, 0, 0})},
        WordCase{"be64_real_all_ones", dbio::kRealClass, kBigEndian64, {-1}, Bytes(8, 0xFF)},
        WordCase{"be64_characters_then_blanks", dbio::kCharacterClass, kBigEndian64, {chars("ABCD")},
                 hex({'A', 'B', 'C', 'D'}) + blanks(4)},
        WordCase{"be64_x_then_zeros", dbio::kXClass, kBigEndian64, kPair, kPairBig + zeros(8)},
        WordCase{"be64_d_then_zeros", dbio::kDClass, kBigEndian64, kPair, kPairBig + zeros(8)},
        WordCase{"le64_integer", dbio::kIntegerClass, kLittleEndian64, {-2, 5},
                 hex({0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 5, 0, 0, 0, 0, 0, 0, 0})},
        WordCase{"le64_extended_as_integer", 6, kLittleEndian64, {7}, hex({7}) + zeros(7)},
        WordCase{"le64_real_as_double", dbio::kRealClass, kLittleEndian64, {real(-2.5f)},
                 zeros(4) + hex({0, 0, 0x04, 0xC0})},
        WordCase{"le64_x_value_first", dbio::kXClass, kLittleEndian64, kPair, kPairLittle + zeros(8)},
        WordCase{"le64_d_value_second", dbio::kDClass, kLittleEndian64, kPair, zeros(8) + kPairLittle},
        WordCase{"be32_odd_pair_count_ends_with_an_integer", dbio::kXClass, kBigEndian32, {kPair[0], kPair[1], 9},
                 kPairBig + hex({0, 0, 0, 9})}),
    [](const auto& info) { return std::string(info.param.name); });

// Every 32-bit pattern of every class survives a write and a read in every layout.
class ConverterRoundTrip : public ::testing::TestWithParam<int32_t> {};

TEST_P(ConverterRoundTrip, EveryPatternComesBack) {
  Pool pool;
  Words words = {0, 1, -1, INT32_MIN, INT32_MAX, real(1.0f), real(-0.0f), real(1e-45f),
                 real(std::numeric_limits<float>::infinity()), 0x7FC00001, 0x7F800001 /* signalling NaN */,
                 static_cast<int32_t>(0xFF800123u), chars("XY\0\377")};
  std::mt19937 rng(7);
  for (int i = 0; i < 200; ++i) words.push_back(static_cast<int32_t>(rng()));
  for (int32_t cls = 1; cls <= 7; ++cls) {
    const Bytes bytes = pool.write(cls, GetParam(), words);
    EXPECT_EQ(bytes.size(), words.size() * 4 * dbio::file_words_per_word(GetParam()));
    EXPECT_EQ(pool.read(cls, GetParam(), bytes, static_cast<int32_t>(words.size())), words) << "class " << cls;
  }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ConverterRoundTrip, ::testing::Values(kBigEndian32, kBigEndian64, kLittleEndian64));

TEST(WordConverters, WideDoublesOutsideTheSingleRangeNarrowToInfinityOrTheLargestSingle) {
  Pool pool;
  auto narrowed = [&](double d) {
    Bytes b(8);
    const auto bits = std::bit_cast<uint64_t>(d);
    for (int k = 0; k < 8; ++k) b[7 - k] = static_cast<unsigned char>(bits >> (8 * k));
    return static_cast<uint32_t>(pool.read(dbio::kRealClass, kBigEndian64, b, 1)[0]);
  };
  const float largest = std::numeric_limits<float>::max();
  EXPECT_EQ(narrowed(1e300), std::bit_cast<uint32_t>(std::numeric_limits<float>::infinity()));
  EXPECT_EQ(narrowed(-1e300), std::bit_cast<uint32_t>(-std::numeric_limits<float>::infinity()));
  EXPECT_EQ(narrowed(std::nextafter(static_cast<double>(largest), 1e300)), std::bit_cast<uint32_t>(largest));
  EXPECT_EQ(narrowed(0.1), std::bit_cast<uint32_t>(0.1f));
  // A NaN whose payload lies below the single mantissa stays a NaN.
  EXPECT_EQ(narrowed(std::bit_cast<double>(uint64_t{0x7FF0000000000001})), 0x7FC00000u);
}

TEST(WordConverters, CountsAndPositions) {
  Pool pool;
  auto& ctx = pool.db.ctx;
  const Bytes be = hex({0, 0, 0, 5, 0, 0, 0, 6});
  pool.set_file_bytes(be);
  // A negative count converts without advancing; a class outside 1..7 or a count of 0 does nothing.
  int64_t from = 0, to = 0;
  dbio::CNVTYP(ctx, dbio::kIntegerClass, dbio::kRead, kBigEndian32, -2, pool.file, from, pool.native, to);
  EXPECT_EQ(ctx.W(pool.native), 5);
  EXPECT_EQ(ctx.W(pool.native + 1), 6);
  EXPECT_EQ(from, 0);
  EXPECT_EQ(to, 0);
  ctx.W(pool.native) = 99;
  dbio::CNVTYP(ctx, 8, dbio::kRead, kBigEndian32, 2, pool.file, from, pool.native, to);
  dbio::CNVTYP(ctx, 0, dbio::kRead, kBigEndian32, 2, pool.file, from, pool.native, to);
  dbio::CNVINT(ctx, dbio::kRead, kBigEndian32, 0, pool.file, from, pool.native, to);
  EXPECT_EQ(ctx.W(pool.native), 99);
  EXPECT_EQ(from + to, 0);
  // Positions carry from one call to the next.
  dbio::CNVINT(ctx, dbio::kRead, kBigEndian32, 1, pool.file, from, pool.native, to);
  dbio::CNVCHR(ctx, dbio::kRead, kBigEndian32, 1, pool.file, from, pool.native, to);
  EXPECT_EQ(from, 8);
  EXPECT_EQ(to, 2);
  EXPECT_EQ(ctx.W(pool.native + 1), chars("\0\0\0\6"));

  // The whole-run integer form converts in place, as the DDL loader uses it.
  pool.set_file_bytes(hex({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFD, 0, 0, 0, 0, 0, 0, 0, 4}));
  dbio::CNVINT(ctx, dbio::kRead, kBigEndian64, 2, pool.file, pool.file);
  EXPECT_EQ(ctx.W(pool.file), -3);
  EXPECT_EQ(ctx.W(pool.file + 1), 4);
  dbio::CNVINT(ctx, dbio::kWrite, kBigEndian64, 2, pool.file, pool.file);
  EXPECT_EQ(pool.file_bytes(16), hex({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFD, 0, 0, 0, 0, 0, 0, 0, 4}));
}

// ---------------------------------------------------------------------------------------------
// Blocks. A unit of the pool is set up as a foreign database with a DDL in the DDL area
// (foreign_unit.h), blocks are built word by word and converted by BLKFIX.

// A block of kind-3 data with `n` entries of `length` words, every entry word `value`.
Words data_block(int32_t object, int32_t n, int32_t length, int32_t value = chars("ABCD")) {
  Words b(BlockPool::kBlockWords, 0);
  b[0] = object * 100 + 3;
  b[3] = n;
  for (int32_t k = 0; k < n * length; ++k) b[static_cast<size_t>(4 + k)] = value;
  return b;
}

struct ListCase {
  const char* name;
  Words list;
  int32_t length;
  std::string classes;  // of the entry's words
};
void PrintTo(const ListCase& c, std::ostream* os) { *os << c.name; }

class ElementLists : public ::testing::TestWithParam<ListCase> {};

TEST_P(ElementLists, GiveEachWordOfAnEntryItsClass) {
  const auto& c = GetParam();
  BlockPool pool(kLittleEndian64, {{"OBJECT", c.length, c.list}});
  const Words block = data_block(1, 1, c.length);
  const std::string letters = pool.classes_written(block);
  EXPECT_EQ(letters.substr(4, static_cast<size_t>(c.length)), c.classes);
  EXPECT_EQ(pool.writer(block).classes(2), letters);
}

constexpr int32_t group(int32_t form, int32_t items, int32_t r) { return -(r * 10000 + items * 100 + form); }

INSTANTIATE_TEST_SUITE_P(
    Forms, ElementLists,
    ::testing::Values(
        ListCase{"codes_of_each_class", {102, 203, 105, 107, 104, 101, 106}, 10, "IRRAXxDdII"},
        ListCase{"types_without_a_converter_are_integers", {113, 108, 2011, 103}, 6, "IIIIIR"},
        ListCase{"repeated_group", {group(1, 2, 3), 103, 105, 102}, 7, "RARARAI"},
        ListCase{"group_to_the_end_of_the_entry", {102, group(2, 2, 0), 105, 107}, 8, "IAXxAXxA"},
        ListCase{"variant_takes_the_chosen_alternative", {group(3, 3, 2), 103, 107, 305, 102}, 4, "XxII"},
        ListCase{"variant_outside_its_alternatives_is_integers", {group(3, 2, 5), 105, 205, 103}, 3, "IIR"},
        ListCase{"bracketed_group", {group(4, 0, 3), 105, 107, group(5, 0, 0), 102}, 10, "AXxAXxAXxI"},
        ListCase{"nested_groups", {group(1, 2, 2), 105, group(1, 1, 3), 103}, 8, "ARRRARRR"},
        ListCase{"list_longer_than_the_entry_cuts_its_last_pair", {504}, 3, "DdI"},
        ListCase{"variants_inside_a_repeated_group", {group(1, 1, 2), group(3, 2, 1), 103, 205}, 4, "RIRI"}),
    [](const auto& info) { return std::string(info.param.name); });

// Every block kind converts as the test writer says, in both directions and in every layout.
struct KindCase {
  const char* name;
  Words (*build)();
};
void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

// The DDL of the block cases: object 1 a relation of every class, 2 a group's entries, 3 a
// multi-word-key entry, 4 "LIMITS", 5 a record shorter than its records.
std::vector<DdlObject> kind_objects() {
  return {{"RELALL", 10, {102, 103, 205, 104, 107, 101, 106}},
          {"GROUPS", 4, {103, 105, 107}},
          {"KEYED", 5, {202, 105, 107}},
          {"LIMITS", 4, {102, 103, 105, 103}},
          {"RECORD", 3, {103, 105, 103}}};
}

// Entry words with something of every class in them.
int32_t sample(int k) {
  static const int32_t values[] = {chars("NAME"), real(1.5f), 0x7F800001, -7, real(-0.0f), 12345, chars("wxyz")};
  return values[k % 7];
}

Words fill(Words head, int32_t from, int32_t n) {
  head.resize(BlockPool::kBlockWords, 0);
  for (int32_t k = 0; k < n; ++k) head[static_cast<size_t>(from + k)] = sample(k);
  return head;
}

const KindCase kKinds[] = {
    {"header_block", [] { return fill({BlockPool::kBlockWords, 100, 90, 10}, 18, 40); }},
    {"root", [] { return fill({1, chars("REL1"), chars("    "), 1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, 13, 16); }},
    {"level2", [] { return fill({2, 5, 3}, 3, 6); }},
    {"relation_data", [] { return fill({103, 0, 0, 3}, 4, 30); }},
    {"relation_data_without_object", [] { return fill({3, 0, 0, 3}, 4, 30); }},
    {"group_first_block", [] { return fill({204, 0, 0, 12 + 23, chars("GROU"), chars("PS  ")}, 16, 23); }},
    {"group_without_object", [] { return fill({4, 0, 0, 30, chars("PLAI"), chars("N   ")}, 16, 18); }},
    {"primary_index", [] { return fill({5, chars("AAAA"), chars("BBBB")}, 3, 11); }},
    {"secondary_index", [] { return fill({6, 2, 2, chars("CCCC"), chars("DDDD")}, 5, 24); }},
    {"dictionary_data", [] { return fill({7, 0, 0, 2, chars("EEEE"), chars("FFFF")}, 6, 46); }},
    {"key_index_with_entries", [] { return fill({3208, 0, 0, 7 + 3 * 6, 6, 0, 0}, 7, 18); }},
    {"key_index_without_object", [] { return fill({208, 0, 0, 7 + 2 * 5, 5, 0, 0}, 7, 10); }},
    {"key_data", [] { return fill({3209, 0, 0, 5 + 4 * 5, 5}, 5, 20); }},
    {"limits_entries_with_zero_keys", [] {
       Words b = fill({4109, 0, 0, 5 + 3 * 4, 4}, 5, 12);
       b[5] = 0;  // the first entry's key is zero
       return b;
     }},
    {"single_records", [] {
       Words b = fill({10, 22, 5, 3}, 4, 3);
       b.insert(b.begin() + 7, {0, 2, sample(1), sample(2), 5, 0, 5, 7});  // no object; empty; longer
       b.resize(BlockPool::kBlockWords);
       for (int k = 0; k < 7; ++k) b[static_cast<size_t>(15 + k)] = sample(k);
       return b;
     }},
    {"unknown_kind", [] { return fill({55}, 1, 50); }},
};

class BlockKinds : public ::testing::TestWithParam<std::tuple<KindCase, int32_t, int32_t>> {};

TEST_P(BlockKinds, ConvertAsTheTestWriterInBothDirections) {
  const auto& [c, filtyp, entry_words] = GetParam();
  auto objects = kind_objects();
  if (entry_words > 12) {
    // With extended entries the objects carry numbers of their own, here the reverse order.
    for (size_t i = 0; i < objects.size(); ++i) objects[i].number = static_cast<int32_t>(objects.size() - i);
  }
  BlockPool pool(filtyp, objects, entry_words);
  const Words block = c.build();
  const int32_t number = std::string(c.name) == "header_block" ? 1 : 2;
  Words image = number == 1 ? block : pool.header;
  if (number == 2) image.insert(image.end(), block.begin(), block.end());
  const Bytes expected = support::ForeignWriter(image, pool.ddl).block(number, filtyp);
  EXPECT_EQ(pool.fix_write(block, number), expected);
  EXPECT_EQ(pool.fix_read(expected, number), block);
}

INSTANTIATE_TEST_SUITE_P(Kinds, BlockKinds,
                         ::testing::Combine(::testing::ValuesIn(kKinds),
                                            ::testing::Values(kBigEndian32, kBigEndian64, kLittleEndian64),
                                            ::testing::Values(12, 14)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) + "_type" +
                                  std::to_string(std::get<1>(info.param)) + "_entries" +
                                  std::to_string(std::get<2>(info.param));
                         });

TEST(BlockFix, WalksTheLayoutOfEachKind) {
  BlockPool pool(kLittleEndian64, kind_objects());
  // A dictionary data block of three entries: 4 header words, then per entry 2 chr + 22 int.
  Words dictionary = {7, 0, 0, 3};
  for (int e = 0; e < 3; ++e) {
    dictionary.insert(dictionary.end(), {chars("NAME"), chars("ABCD")});
    dictionary.resize(dictionary.size() + 22, 5);
  }
  dictionary.resize(BlockPool::kBlockWords, 0);
  std::string expected = "IIII";
  for (int e = 0; e < 3; ++e) expected += "AA" + std::string(22, 'I');
  EXPECT_EQ(pool.classes_written(dictionary), expected + std::string(BlockPool::kBlockWords - 76, 'I'));

  // A single record longer than its object's entry: the rest of the record is integers.
  Words records = {10, 11, 5, 7};
  records.resize(11, chars("ABCD"));
  records.resize(BlockPool::kBlockWords, 0);
  EXPECT_EQ(pool.classes_written(records).substr(0, 11), "IIIIRARIIII");

  // LIMITS entries: a zero key makes the whole entry integers.
  Words limits = {4109, 0, 0, 5 + 2 * 4, 4, 0, chars("ABCD"), chars("ABCD"), chars("ABCD"), 1, chars("ABCD"),
                  chars("ABCD"), chars("ABCD")};
  limits.resize(BlockPool::kBlockWords, 0);
  EXPECT_EQ(pool.classes_written(limits).substr(5, 8), "IIIIIRAR");
}

TEST(BlockFix, NativeUnitCopiesTheWords) {
  BlockPool pool(1, {});
  const Words block = fill({3, 0, 0, 2}, 4, 20);
  const Bytes bytes = pool.fix_write(block);
  EXPECT_EQ(pool.fix_read(bytes), block);
  EXPECT_EQ(std::memcmp(bytes.data(), block.data(), bytes.size()), 0);
}

// Damaged blocks and DDLs stop the run with code 19 or 20, in both directions.
struct FailureCase {
  const char* name;
  std::vector<DdlObject> objects;
  Words block;
  const char* message;
};
void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

class BlockFixFailures : public ::testing::TestWithParam<std::tuple<FailureCase, int32_t>> {};

TEST_P(BlockFixFailures, StopWithAMessageNamingTheObject) {
  // Not a structured binding: clang 14 cannot capture one in the lambda below.
  const FailureCase& c = std::get<0>(GetParam());
  const int32_t direction = std::get<1>(GetParam());
  BlockPool pool(kBigEndian64, c.objects);
  Words block = c.block;
  block.resize(BlockPool::kBlockWords, 0);
  // Read: the file side holds the block's words as integers, all that the walk reads before it stops.
  const Bytes bytes = pool.write(dbio::kIntegerClass, kBigEndian64, block);
  int status = pool.db.stops([&] {
    if (direction == dbio::kWrite) {
      pool.fix_write(block);
    } else {
      pool.fix_read(bytes);
    }
  });
  EXPECT_EQ(status, platform::kExitFatal);
  EXPECT_NE(pool.db.messages.str().find(c.message), std::string::npos) << pool.db.messages.str();
}

const FailureCase kFailures[] = {
    {"entries_beyond_the_block", {{"RELALL", 10, {1002}}}, {103, 0, 0, 10},
     " *** DIOMSG ERROR MESSAGE    19 FROM SUBROUTINE BLKFIX  \n"
     "     OBJECT RELALL   ENTRY LENGTH AND DATA DEFINITION IS INCONSISTENT FOR HETEROGENOUS OPERATIONS.\n"},
    {"negative_entry_count", {{"RELALL", 10, {1002}}}, {103, 0, 0, -1}, "MESSAGE    19 FROM SUBROUTINE BLKFIX"},
    {"object_not_in_the_ddl", {{"RELALL", 10, {1002}}}, {903, 0, 0, 1}, "MESSAGE    19 FROM SUBROUTINE BLKFIX"},
    {"record_with_a_negative_length", {{"RECORD", 3, {303}}}, {10, 20, 1, -4}, "OBJECT RECORD   ENTRY LENGTH"},
    {"record_past_the_used_words", {{"RECORD", 3, {303}}}, {10, 20, 1, 30}, "OBJECT RECORD   ENTRY LENGTH"},
    {"used_words_past_the_block", {}, {10, 97}, "MESSAGE    19 FROM SUBROUTINE BLKFIX"},
    {"group_count_past_the_block", {}, {4, 0, 0, 93}, "MESSAGE    19 FROM SUBROUTINE BLKFIX"},
    {"key_block_with_a_zero_stride", {{"KEYED", 5, {502}}}, {1209, 0, 0, 9, 0}, "OBJECT KEYED    ENTRY LENGTH"},
    {"list_shorter_than_the_entry", {{"SHORT", 5, {203, 0}}}, {103, 0, 0, 1},
     " *** DIOMSG ERROR MESSAGE    20 FROM SUBROUTINE BLKFIX  \n"
     "     LOGICAL DATA BASE   1 FOR OBJECT SHORT    DDL LENGTH LESS THAN ENTRY LENGTH.\n"
     "     DDL LENGTH =     2, ENTRY LENGTH =     5\n"},
    {"code_zero_ends_the_list", {{"ZERO", 3, {203, 0, 105}}}, {103, 0, 0, 1},
     "DDL LENGTH =     2, ENTRY LENGTH =     3"},
};

INSTANTIATE_TEST_SUITE_P(Damage, BlockFixFailures,
                         ::testing::Combine(::testing::ValuesIn(kFailures),
                                            ::testing::Values(dbio::kRead, dbio::kWrite)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) == dbio::kRead ? "_read" : "_write");
                         });

TEST(BlockFix, ElementListOutsideTheDdlAreaIsReportedNotFollowed) {
  BlockPool pool(kBigEndian32, {{"FARAWAY", 4, {104}}});
  auto& ctx = pool.db.ctx;
  for (int32_t offset : {-1000000, 1, 2, 1000000}) {
    ctx.W(ctx.sysfil.BASEDD + 3 + 2) = offset;  // the list offset of object 1
    pool.db.messages.str("");
    EXPECT_EQ(pool.db.stops([&] { pool.fix_write(data_block(1, 1, 4)); }), platform::kExitFatal);
    EXPECT_NE(pool.db.messages.str().find("DDL LENGTH =     0, ENTRY LENGTH =     4"), std::string::npos) << offset;
  }
}

}  // namespace
