#include "testkit/block_generator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <vector>

namespace support {
namespace {

TEST(NeutralModelTest, WordsAreWhatTheReaderStores) {
  Key key;
  key.name = "AB CDEFG";
  key.qualifiers[0] = -7;
  auto words = key.words();
  EXPECT_EQ(words[0], 0x43204241);  // "AB C", first character in the lowest byte
  EXPECT_EQ(words[1], 0x47464544);
  EXPECT_EQ(words[2], -7);

  std::vector<Item> items = {Item::logical(true), Item::logical(false), Item::dbl(1.0),
                             Item::real(1.0f), Item::dbl_all_ones()};
  EXPECT_EQ(word_count(items), 7u);
  // Doubles low-order word first.
  EXPECT_EQ(words_of(items), (std::vector<int32_t>{-1, 0, 0, 0x3FF00000, 0x3F800000, -1, -1}));
}

struct KindCase {
  int32_t code;
  BlockKind kind;
  int32_t length;
  int key_type;
  int key_flag;
};

class ClassifyTest : public ::testing::TestWithParam<KindCase> {};

TEST_P(ClassifyTest, KindCodeGivesBlockKindLengthAndKey) {
  const KindCase& c = GetParam();
  KindCode k = classify(c.code);
  EXPECT_EQ(k.kind, c.kind);
  EXPECT_EQ(k.entry_length, c.length);
  EXPECT_EQ(k.key_type, c.key_type);
  EXPECT_EQ(k.key_flag, c.key_flag);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ClassifyTest,
    ::testing::Values(KindCase{0, BlockKind::kGroup, 0, 0, 0},
                      KindCase{-5, BlockKind::kGroup, 0, 0, 0},
                      KindCase{24, BlockKind::kRelation, 24, 0, 0},
                      KindCase{10024, BlockKind::kRelation, 24, 1, 0},
                      KindCase{30024, BlockKind::kRelation, 24, 3, 0},
                      KindCase{130024, BlockKind::kRelation, 24, 3, 1},
                      KindCase{99999, BlockKind::kRelation, 9999, 9, 0},
                      KindCase{100024, BlockKind::kSingleRecord, 24, 0, 1}));

TEST(NeutralModelTest, GroupChunksEndAtTheLimitOrOneWordBeyond) {
  auto one = Item::integer(5);
  auto two = Item::dbl(1.5);
  // Limit 4: a double starting in word 4 takes words 4 and 5.
  EXPECT_EQ(group_chunk_words(std::vector<Item>{one, one, one, two, one}, 4),
            (std::vector<size_t>{5, 1}));
  EXPECT_EQ(group_chunk_words(std::vector<Item>{one, one, two, one}, 4),
            (std::vector<size_t>{4, 1}));
  // A body that fills the chunk exactly is followed by an empty chunk.
  EXPECT_EQ(group_chunk_words(std::vector<Item>(8, one), 4), (std::vector<size_t>{4, 4, 0}));
  EXPECT_EQ(group_chunk_words(std::vector<Item>{}, 4), (std::vector<size_t>{0}));
}

TEST(NeutralModelTest, DdlNamesPackSixBitsPerCharacter) {
  // Codes: blank 1, "0" 12, "A" 23, "L" 34; lower case packs as upper case.
  auto packed = pack_ddl_name("A0 L    ");
  EXPECT_EQ(packed[0], ((23 * 64 + 12) * 64 + 1) * 64 + 34);
  EXPECT_EQ(packed[1], ((1 * 64 + 1) * 64 + 1) * 64 + 1);
  EXPECT_EQ(pack_ddl_name("a0 l    "), packed);
}

std::string database(uint64_t seed, int64_t blocks, bool large = false) {
  DatabaseOptions options;
  options.generator.seed = seed;
  options.generator.large_groups = large;
  options.max_blocks = blocks;
  std::ostringstream out;
  write_database(out, options);
  return out.str();
}

TEST(BlockGeneratorTest, SameSeedSameBytes) {
  std::string a = database(7, 60);
  EXPECT_EQ(a, database(7, 60));
  EXPECT_NE(a, database(8, 60));
  // A longer file starts with the shorter one's blocks.
  std::string longer = database(7, 80);
  EXPECT_EQ(longer.substr(0, a.size() / 2), a.substr(0, a.size() / 2));
}

// examples/example.ndb is ndbgen --seed 41 --blocks 30 --block-size 1024
// --no-large-groups (see examples/README.md).
TEST(BlockGeneratorTest, ShippedExampleIsReproducible) {
  std::ifstream file(LOADXDB_SOURCE_DIR "/examples/example.ndb", std::ios::binary);
  ASSERT_TRUE(file) << "examples/example.ndb is missing";
  std::string shipped((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

  DatabaseOptions options;
  options.generator.seed = 41;
  options.generator.large_groups = false;
  options.block_size = 1024;
  options.max_blocks = 30;
  std::ostringstream out;
  write_database(out, options);
  EXPECT_TRUE(out.str() == shipped) << "regenerate examples/example.ndb (examples/README.md)";
}

TEST(BlockGeneratorTest, StopsAtTheFirstBlockBoundaryPastTheTarget) {
  DatabaseOptions options;
  options.generator.large_groups = false;
  options.target_bytes = 200000;
  std::ostringstream out;
  DatabaseSummary summary = write_database(out, options);
  EXPECT_GE(summary.bytes, options.target_bytes);
  EXPECT_EQ(summary.bytes, static_cast<int64_t>(out.str().size()));

  options.target_bytes = -1;
  options.max_blocks = summary.blocks - 1;
  std::ostringstream shorter;
  DatabaseSummary less = write_database(shorter, options);
  // Without the last block the data end before the target (the data end and
  // the trailing lines take at most four lines more).
  EXPECT_LT(less.bytes - 4 * 81, 200000);
}

// Properties every generated stream keeps, over a few hundred blocks.
TEST(BlockGeneratorTest, BlocksAreConsistentWithTheirKindCodes) {
  GeneratorOptions options;
  options.seed = 11;
  options.large_groups = false;
  BlockGenerator generator(options);

  Block ddl = generator.next();
  ASSERT_EQ(ddl.kind(), BlockKind::kDdl);
  ASSERT_EQ(ddl.key.name, kDdlName);
  auto d = ddl.body_words();
  const int32_t objects = d.at(2) / kDdlObjectStep;
  const int32_t data_words = d.at(2) % kDdlObjectStep;
  ASSERT_EQ(d.size(), static_cast<size_t>(3 + kDdlObjectWords * objects + data_words));
  std::vector<std::pair<int32_t, int32_t>> names;
  for (int32_t i = 0; i < objects; ++i) {
    const int32_t* record = &d[static_cast<size_t>(3 + kDdlObjectWords * i)];
    names.emplace_back(record[0], record[1]);
    EXPECT_EQ(record[4], i + 1);
    // The element codes from the record's offset cover its entry length.
    int32_t covered = 0;
    for (size_t j = static_cast<size_t>(record[2]); covered < record[3]; ++j) {
      int32_t code = d.at(j);
      int32_t per_element = (code % 100 == 4 || code % 100 == 7) ? 2 : 1;
      covered += code / 100 * per_element;
    }
    EXPECT_EQ(covered, record[3]);
  }
  EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));

  std::set<std::array<int32_t, kKeyWords>> keys;
  std::set<BlockKind> kinds;
  for (int b = 0; b < 400; ++b) {
    Block block = generator.next();
    EXPECT_TRUE(keys.insert(block.key.words()).second) << "key repeated at block " << b;
    EXPECT_NE(block.key.name, kDdlName);
    kinds.insert(block.kind());
    KindCode code = block.code();
    if (block.kind() != BlockKind::kGroup) {
      EXPECT_LE(code.entry_length, options.block_words - 5) << "does not fit a block";
    }
    switch (block.kind()) {
      case BlockKind::kGroup:
        EXPECT_LE(block.kind_code, 0);
        break;
      case BlockKind::kSingleRecord:
        EXPECT_EQ(block.word_count(), static_cast<size_t>(code.entry_length));
        break;
      case BlockKind::kRelation: {
        ASSERT_EQ(block.word_count() % static_cast<size_t>(code.entry_length), 0u);
        const size_t key_words = code.key_type == 0 ? 1 : static_cast<size_t>(code.key_type);
        std::set<std::vector<int32_t>> entry_keys;
        for (size_t e = 0; e < block.entry_count(); ++e) {
          auto entry = block.entry_words(e);  // throws if an item crosses entries
          std::vector<int32_t> k(entry.begin(), entry.begin() + static_cast<long>(key_words));
          for (int32_t w : k) EXPECT_LT(std::abs(static_cast<int64_t>(w)), int64_t{1} << 30);
          EXPECT_TRUE(entry_keys.insert(k).second) << "duplicate key in " << block.key.name;
        }
        break;
      }
      case BlockKind::kDdl:
        ADD_FAILURE() << "second DDL block";
        break;
    }
  }
  EXPECT_EQ(kinds.size(), 3u);
}

TEST(BlockGeneratorTest, LargeGroupsCrossTheReadersChunks) {
  GeneratorOptions options;
  options.seed = 3;
  options.ddl = false;
  options.mix = BlockMix{.groups = 1, .relations = 0, .records = 0, .multikey = 0};
  BlockGenerator generator(options);
  bool straddle = false, exact = false;
  for (int b = 0; b < 2000 && !(straddle && exact); ++b) {
    Block block = generator.next();
    if (block.word_count() <= static_cast<size_t>(kGroupChunkWords) - 1) continue;
    auto chunks = group_chunk_words(block.body);
    if (chunks[0] == static_cast<size_t>(kGroupChunkWords) + 1) straddle = true;
    if (block.word_count() % kGroupChunkWords == 0 && chunks.back() == 0) exact = true;
  }
  EXPECT_TRUE(straddle);
  EXPECT_TRUE(exact);
}

}  // namespace
}  // namespace support
