#include "testkit/block_generator.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <stdexcept>

#include "testkit/neutral_encoding.h"

namespace support {

namespace {

constexpr std::string_view kNameAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr int32_t kDdlVersion = 20120;
constexpr int32_t kDdlSecondWord = 2012;

constexpr int kGroupTypes = 4;
constexpr int kRelationTypes = 6;
constexpr int kMultiKeyTypes = 6;
constexpr int kRecordTypes = 4;
constexpr int kMaxKeyWords = 6;

constexpr int32_t kKeySpan = int32_t{1} << 30;       // scattered keys span 2^30 values
constexpr int32_t kScatterMask = kKeySpan - 1;
constexpr int32_t kQualifierLimit = 999999999;       // fits a 10-column listing field
constexpr size_t kMaxBodyWords = 150000;             // bound on one relation's words
constexpr int32_t kSplitKeyLimit = -200;             // block splits treat keys below it apart
constexpr size_t kLargeGroupMax = 200000;
constexpr int32_t kBlockReserve = 5;   // block words an entry or record leaves free
constexpr int32_t kMinBlockWords = 300;
constexpr int32_t kDefaultBlockWords = 1024;
constexpr int32_t kRunsPerLayout = 8;  // about this many runs of one type in long entries

// DDL element types of the item types.
int32_t element_type(ItemType type) {
  switch (type) {
    case ItemType::kLogical:
      return 1;  // "L "
    case ItemType::kInteger:
      return 2;  // "I "
    case ItemType::kReal:
    case ItemType::kRealAllOnes:
      return 3;  // "R "
    case ItemType::kDouble:
    case ItemType::kDoubleAllOnes:
      return 4;  // "D "
    case ItemType::kChars:
      return 5;  // "A "
    case ItemType::kDoubleX:
      return 7;  // "X "
  }
  return 2;
}

constexpr int32_t kElementCountStep = 100;  // element code = count * 100 + type

}  // namespace

BlockGenerator::BlockGenerator(GeneratorOptions options)
    : options_(options), rng_(options.seed) {
  const BlockMix& m = options_.mix;
  if (m.groups < 0 || m.relations < 0 || m.records < 0 || m.multikey < 0 ||
      m.groups + m.relations + m.records + m.multikey == 0) {
    throw std::invalid_argument("the block mix needs a positive weight");
  }
  if (options_.block_words < kMinBlockWords) {
    throw std::invalid_argument("blocks of fewer than 300 words");
  }
  make_schema();
  make_ddl();
}

uint64_t BlockGenerator::below(uint64_t n) { return rng_() % n; }

int64_t BlockGenerator::between(int64_t lo, int64_t hi) {
  return lo + static_cast<int64_t>(below(static_cast<uint64_t>(hi - lo) + 1));
}

bool BlockGenerator::chance(int percent) {
  return below(100) < static_cast<uint64_t>(percent);
}

std::string BlockGenerator::make_name(char first) {
  for (;;) {
    std::string name(kNameChars, ' ');
    name[0] = first;
    auto length = static_cast<size_t>(between(4, kNameChars));
    for (size_t i = 1; i < length; ++i) name[i] = kNameAlphabet[below(kNameAlphabet.size())];
    if (name == kDdlName) continue;
    bool taken = std::any_of(types_.begin(), types_.end(),
                             [&](const BlockType& t) { return t.name == name; });
    if (!taken) return name;
  }
}

std::vector<ItemType> BlockGenerator::make_layout(int32_t words, int key_words) {
  std::vector<ItemType> layout(static_cast<size_t>(key_words), ItemType::kInteger);
  // Runs of one type, longer in longer entries, keep the DDL's element lists
  // to a few codes per object.
  const int32_t longest_run = std::max(1, words / kRunsPerLayout);
  int32_t left = words - key_words;
  while (left > 0) {
    ItemType type;
    uint64_t pick = below(100);
    if (pick < 30) {
      type = ItemType::kInteger;
    } else if (pick < 50) {
      type = ItemType::kReal;
    } else if (pick < 62) {
      type = ItemType::kDouble;
    } else if (pick < 67) {
      type = ItemType::kDoubleX;
    } else if (pick < 88) {
      type = ItemType::kChars;
    } else {
      type = ItemType::kLogical;
    }
    int32_t item_words = type == ItemType::kDouble || type == ItemType::kDoubleX ? 2 : 1;
    if (item_words > left) {
      type = ItemType::kInteger;
      item_words = 1;
    }
    auto run = static_cast<int32_t>(between(1, longest_run));
    run = std::min(run, left / item_words);
    layout.insert(layout.end(), static_cast<size_t>(run), type);
    left -= run * item_words;
  }
  return layout;
}

void BlockGenerator::make_schema() {
  for (int i = 0; i < kGroupTypes; ++i) {
    BlockType t;
    t.name = make_name('G');
    t.kind = BlockKind::kGroup;
    types_.push_back(std::move(t));
  }
  // Entry and record lengths must also fit the four digits of L in a kind code.
  const int32_t longest = std::min(options_.block_words - kBlockReserve, kKindStep - 1);
  // Entry lengths from one word (the key alone) to nearly a block.
  const int32_t relation_lengths[kRelationTypes] = {
      1,
      static_cast<int32_t>(between(2, 8)),
      static_cast<int32_t>(between(9, 30)),
      24,
      static_cast<int32_t>(between(31, 120)),
      static_cast<int32_t>(between(longest / 2, longest))};
  for (int i = 0; i < kRelationTypes; ++i) {
    BlockType t;
    t.name = make_name('R');
    t.kind = BlockKind::kRelation;
    t.kind_code = relation_lengths[i];
    t.layout = make_layout(t.kind_code, 1);
    t.in_ddl = i != kRelationTypes - 1;  // one name the DDL does not know
    types_.push_back(std::move(t));
  }
  for (int k = 1; k <= kMaxKeyWords; ++k) {
    BlockType t;
    t.name = make_name('M');
    t.kind = BlockKind::kRelation;
    // Odd key lengths keep at most two words beyond the key (entries inside the
    // index); one type has long entries.
    int32_t length = k % 2 == 1 ? k + static_cast<int32_t>(between(0, 2))
                                : k + static_cast<int32_t>(between(3, 30));
    if (k == kMaxKeyWords) length = static_cast<int32_t>(between(longest / 4, longest));
    int32_t q = (k == 1 || k % 3 == 0) ? k : 10 * static_cast<int32_t>(between(1, 20)) + k;
    t.kind_code = q * kKindStep + length;
    t.layout = make_layout(length, k);
    t.in_ddl = true;
    types_.push_back(std::move(t));
  }
  const int32_t record_lengths[kRecordTypes] = {
      1, static_cast<int32_t>(between(2, 20)), static_cast<int32_t>(between(21, 200)),
      static_cast<int32_t>(between(longest / 2, longest))};
  for (int i = 0; i < kRecordTypes; ++i) {
    BlockType t;
    t.name = make_name('S');
    t.kind = BlockKind::kSingleRecord;
    int32_t q = 10 * static_cast<int32_t>(between(1, 5));
    t.kind_code = q * kKindStep + record_lengths[i];
    t.layout = make_layout(record_lengths[i], 0);
    t.in_ddl = true;
    types_.push_back(std::move(t));
  }
}

void BlockGenerator::make_ddl() {
  std::vector<const BlockType*> described;
  for (const BlockType& t : types_) {
    if (t.in_ddl) described.push_back(&t);
  }
  std::sort(described.begin(), described.end(), [](const BlockType* a, const BlockType* b) {
    return pack_ddl_name(a->name) < pack_ddl_name(b->name);
  });
  auto objects = static_cast<int32_t>(described.size());

  std::vector<int32_t> directory;
  std::vector<int32_t> data;
  const int32_t data_start = 3 + kDdlObjectWords * objects;  // offset from the DDL's first word
  for (int32_t i = 0; i < objects; ++i) {
    const BlockType& t = *described[static_cast<size_t>(i)];
    auto packed = pack_ddl_name(t.name);
    directory.push_back(packed[0]);
    directory.push_back(packed[1]);
    directory.push_back(data_start + static_cast<int32_t>(data.size()));
    directory.push_back(classify(t.kind_code).entry_length);
    directory.push_back(i + 1);
    // Runs of one element type become one element code.
    for (size_t j = 0; j < t.layout.size();) {
      int32_t type = element_type(t.layout[j]);
      int32_t count = 0;
      while (j < t.layout.size() && element_type(t.layout[j]) == type) ++count, ++j;
      data.push_back(count * kElementCountStep + type);
    }
  }

  ddl_.ddl = true;
  ddl_.key.name = std::string(kDdlName);
  ddl_.kind_code = 0;
  ddl_.body.clear();
  ddl_.body.push_back(Item::integer(kDdlVersion));
  ddl_.body.push_back(Item::integer(kDdlSecondWord));
  ddl_.body.push_back(
      Item::integer(objects * kDdlObjectStep + static_cast<int32_t>(data.size())));
  for (int32_t w : directory) ddl_.body.push_back(Item::integer(w));
  for (int32_t w : data) ddl_.body.push_back(Item::integer(w));
}

int32_t BlockGenerator::make_integer() {
  uint64_t pick = below(100);
  if (pick < 5) {
    const int32_t notable[] = {0, -1, 1, std::numeric_limits<int32_t>::min(),
                               std::numeric_limits<int32_t>::max(), 31, 32, -32};
    return notable[below(std::size(notable))];
  }
  if (pick < 30) return static_cast<int32_t>(between(-10, 100));
  if (pick < 60) return static_cast<int32_t>(between(-1000000, 1000000));
  return static_cast<int32_t>(static_cast<uint32_t>(rng_()));
}

float BlockGenerator::make_real() {
  for (;;) {
    float value = 0.0f;
    uint64_t pick = below(100);
    if (pick < 5) {
      value = 0.0f;
    } else if (pick < 12) {
      const float notable[] = {1.0f,
                               -1.0f,
                               0.5f,
                               1.5f,
                               -2.25f,
                               3.14159f,
                               1.2345678f,
                               1e30f,
                               std::numeric_limits<float>::max(),
                               std::numeric_limits<float>::min(),
                               std::numeric_limits<float>::denorm_min(),
                               std::numeric_limits<float>::infinity()};
      value = notable[below(std::size(notable))];
    } else if (pick < 55) {
      // A decimal value as a writer of decimal data makes it.
      // One draw per statement: the order of argument evaluation is unspecified.
      const auto x = static_cast<int>(between(-20, 20));
      const bool negative = chance(30);
      const auto m = static_cast<int32_t>(between(1, 99999999));
      value = decode_real(make_encoding(kCodeReal, x, negative, m));
    } else {
      value = std::bit_cast<float>(static_cast<uint32_t>(rng_()));
      if (std::isnan(value)) continue;
    }
    if (encode_real(value)) return value;
  }
}

double BlockGenerator::make_double() {
  constexpr uint64_t kExponentBias = 1023;
  constexpr uint64_t kExponentReach = 300;  // binary exponents tried around the bias
  constexpr int kExponentShift = 52;
  constexpr uint64_t kExponentMask = uint64_t{0x7FF} << kExponentShift;
  for (;;) {
    double value = 0.0;
    uint64_t pick = below(100);
    if (pick < 5) {
      value = 0.0;
    } else if (pick < 12) {
      const double notable[] = {1.0, -1.0, 0.5, 1.5, -2.25, 3.14159, 0.1, 1e30, 1e-90, 1e96};
      value = notable[below(std::size(notable))];
    } else if (pick < 55) {
      const auto x = static_cast<int>(between(-30, 30));
      const bool negative = chance(30);
      const auto m1 = static_cast<int32_t>(between(10000000, 99999999));
      const auto m2 = static_cast<int32_t>(between(0, 9999999));
      value = decode_double(make_encoding(kCodeDouble, x, negative, m1, m2));
    } else {
      uint64_t exponent = kExponentBias - kExponentReach + below(2 * kExponentReach);
      uint64_t bits = (rng_() & ~kExponentMask) | (exponent << kExponentShift);
      value = std::bit_cast<double>(bits);
    }
    if (encode_double(value)) return value;
  }
}

Item BlockGenerator::make_item(ItemType type) {
  switch (type) {
    case ItemType::kLogical:
      return Item::logical(chance(50));
    case ItemType::kInteger:
      return Item::integer(make_integer());
    case ItemType::kReal:
    case ItemType::kRealAllOnes:
      return chance(2) ? Item::real_all_ones() : Item::real(make_real());
    case ItemType::kDouble:
    case ItemType::kDoubleAllOnes:
      return chance(2) ? Item::dbl_all_ones() : Item::dbl(make_double());
    case ItemType::kDoubleX:
      return Item::dblx(make_double());
    case ItemType::kChars: {
      if (chance(10)) return Item::chars("    ");
      std::string text(4, ' ');
      for (char& c : text) c = kStandardAlphabet[below(kStandardAlphabet.size())];
      return Item::chars(text);
    }
  }
  return Item::integer(0);
}

Item BlockGenerator::any_one_word_item() {
  const ItemType types[] = {ItemType::kInteger, ItemType::kInteger, ItemType::kReal,
                            ItemType::kChars, ItemType::kLogical};
  return make_item(types[below(std::size(types))]);
}

Item BlockGenerator::any_item() {
  if (chance(25)) return make_item(chance(80) ? ItemType::kDouble : ItemType::kDoubleX);
  return any_one_word_item();
}

Key BlockGenerator::make_key(BlockType& type) {
  Key key;
  key.name = type.name;
  key.qualifiers[0] = static_cast<int32_t>(++type.blocks);
  for (int i = 1; i < kQualifierWords; ++i) {
    uint64_t pick = below(100);
    if (pick < 55) {
      key.qualifiers[i] = 0;
    } else if (pick < 80) {
      key.qualifiers[i] = static_cast<int32_t>(between(1, 100));
    } else if (pick < 88) {
      key.qualifiers[i] = -1;
    } else {
      key.qualifiers[i] = static_cast<int32_t>(between(-kQualifierLimit, kQualifierLimit));
    }
  }
  return key;
}

void BlockGenerator::fill_group(Block& block) {
  block.kind_code = chance(50) ? 0 : -static_cast<int32_t>(between(1, 99999));
  size_t target = 0;
  bool straddle = false;
  if (options_.large_groups && chance(3)) {
    switch (below(3)) {
      case 0:
        target = kGroupChunkWords;
        break;
      case 1:
        target = 2 * static_cast<size_t>(kGroupChunkWords);
        break;
      default:
        target = static_cast<size_t>(between(kGroupChunkWords + 1, kLargeGroupMax));
        straddle = true;
        break;
    }
  } else {
    uint64_t pick = below(100);
    if (pick < 5) {
      target = 0;
    } else if (pick < 65) {
      target = static_cast<size_t>(between(1, 200));
    } else {
      target = static_cast<size_t>(between(201, 3000));
    }
  }
  // Track the reader's chunks so that the last word of a chunk gets a double
  // across the chunk end (straddle) or a one-word item (exact chunk sizes).
  const auto limit = static_cast<size_t>(kGroupChunkWords);
  size_t total = 0;
  size_t in_chunk = 0;
  while (total < target) {
    if (in_chunk + 1 > limit) in_chunk = 0;
    size_t left = target - total;
    Item item;
    if (in_chunk == limit - 1 && straddle && left >= 2) {
      item = make_item(ItemType::kDouble);
    } else if (left == 1 || in_chunk == limit - 1) {
      item = any_one_word_item();
    } else {
      item = any_item();
    }
    block.body.push_back(item);
    total += static_cast<size_t>(item.word_count());
    in_chunk += static_cast<size_t>(item.word_count());
  }
}

void BlockGenerator::fill_relation(Block& block, const BlockType& type) {
  KindCode code = classify(type.kind_code);
  auto length = static_cast<size_t>(code.entry_length);
  const RelationOptions& shape = options_.relations;
  size_t count = 0;
  if (shape.min_words >= 0 && shape.max_words >= shape.min_words) {
    const auto words = static_cast<size_t>(between(shape.min_words, shape.max_words));
    count = std::max<size_t>(1, words / length);
  } else {
    uint64_t pick = below(100);
    if (pick < 10) {
      count = 0;
    } else if (pick < 70) {
      count = static_cast<size_t>(between(1, 50));
    } else if (pick < 95) {
      count = static_cast<size_t>(between(51, 400));
    } else {
      count = static_cast<size_t>(between(401, 3000));
    }
    count = std::min(count, std::max<size_t>(1, kMaxBodyWords / length));
  }

  // Keys: the unique word of every entry, in one of the orders.
  KeyOrder order;
  if (!shape.orders.empty()) {
    order = shape.orders[below(shape.orders.size())];
  } else {
    uint64_t order_pick = below(100);
    order = order_pick < 40   ? KeyOrder::kAscending
            : order_pick < 60 ? KeyOrder::kDescending
            : order_pick < 90 ? KeyOrder::kScattered
                              : KeyOrder::kSplit;
  }
  const auto base = static_cast<int32_t>(between(-100000, 100000));
  const auto step = static_cast<int32_t>(between(1, 1000));
  const auto multiplier = static_cast<int32_t>(between(0, kScatterMask) | 1);
  const auto offset = static_cast<int32_t>(between(0, kScatterMask));
  // Clustered keys: runs that each ascend from their own start.
  std::vector<int64_t> runs;
  uint64_t run = 0;
  if (order == KeyOrder::kClustered) {
    runs.resize(static_cast<size_t>(between(2, 12)));
    for (int64_t& start : runs) start = between(-kKeySpan / 2, kKeySpan / 4);
  }
  // Random keys of a relation keyed by word 1 also take the extremes of the word.
  const bool full_range = code.key_type == 0 && order == KeyOrder::kRandom && chance(50);
  auto unique_key = [&](size_t i) -> int32_t {
    auto n = static_cast<int32_t>(i);
    switch (order) {
      case KeyOrder::kAscending:
        return base + n * step;
      case KeyOrder::kDescending:
        return base - n * step;
      case KeyOrder::kScattered: {
        // An odd multiplier permutes the residues modulo 2^30.
        uint32_t r = (static_cast<uint32_t>(multiplier) * static_cast<uint32_t>(n) +
                      static_cast<uint32_t>(offset)) &
                     static_cast<uint32_t>(kScatterMask);
        return static_cast<int32_t>(r) - kKeySpan / 2;
      }
      case KeyOrder::kSplit: {
        // Keys from 0 up, then keys below -200 downwards, so that new low keys
        // arrive at blocks holding both kinds.
        auto half = static_cast<int32_t>(count / 2);
        return n < half ? n : kSplitKeyLimit - 1 - 2 * (n - half);
      }
      case KeyOrder::kRandom:
        if (full_range && chance(2)) return chance(50) ? std::numeric_limits<int32_t>::min() : std::numeric_limits<int32_t>::max();
        return full_range ? static_cast<int32_t>(static_cast<uint32_t>(rng_()))
                          : static_cast<int32_t>(between(-kKeySpan / 2, kKeySpan / 2));
      case KeyOrder::kClustered: {
        // Bursts of one run at a time; now and then a step back into what it just wrote.
        if (chance(5)) run = below(runs.size());
        if (chance(10)) return static_cast<int32_t>(runs[run] - between(0, 30));
        runs[run] += between(1, 3);
        return static_cast<int32_t>(runs[run]);
      }
      case KeyOrder::kDuplicates:
        return base + static_cast<int32_t>(between(0, static_cast<int64_t>(count / 3)));
    }
    return n;
  };
  // Multi-word keys: the leading key words from a few values (fixed per block
  // when the order is monotonic), the last key word unique. With repeating
  // keys the leading words take only two values, so that whole keys repeat.
  const int key_words = code.key_type == 0 ? 1 : code.key_type;
  std::vector<int32_t> prefix(static_cast<size_t>(key_words - 1));
  for (int32_t& w : prefix) w = static_cast<int32_t>(between(-1, 3));
  const bool monotonic = order == KeyOrder::kAscending || order == KeyOrder::kDescending ||
                         order == KeyOrder::kSplit;
  const int64_t prefix_high = order == KeyOrder::kDuplicates ? 0 : 3;

  for (size_t i = 0; i < count; ++i) {
    for (int w = 0; w < key_words - 1; ++w) {
      int32_t word = monotonic ? prefix[static_cast<size_t>(w)]
                               : static_cast<int32_t>(between(-1, prefix_high));
      block.body.push_back(Item::integer(word));
    }
    block.body.push_back(Item::integer(unique_key(i)));
    for (size_t j = static_cast<size_t>(key_words); j < type.layout.size(); ++j) {
      block.body.push_back(make_item(type.layout[j]));
    }
  }
}

void BlockGenerator::fill_record(Block& block, const BlockType& type) {
  for (ItemType t : type.layout) block.body.push_back(make_item(t));
}

Block BlockGenerator::next() {
  ++blocks_made_;
  if (blocks_made_ == 1 && options_.ddl) return ddl_;

  const BlockMix& m = options_.mix;
  const int weights[] = {m.groups, m.relations, m.multikey, m.records};
  const int total = m.groups + m.relations + m.multikey + m.records;
  auto pick = static_cast<int>(below(static_cast<uint64_t>(total)));
  int cls = 0;
  while (pick >= weights[cls]) pick -= weights[cls++];

  // Types in schema order: groups, key-type-0 relations, multi-word keys, records.
  const int first[] = {0, kGroupTypes, kGroupTypes + kRelationTypes,
                       kGroupTypes + kRelationTypes + kMultiKeyTypes};
  const int count[] = {kGroupTypes, kRelationTypes, kMultiKeyTypes, kRecordTypes};
  BlockType& type =
      types_[static_cast<size_t>(first[cls] + static_cast<int>(below(count[cls])))];

  Block block;
  block.key = make_key(type);
  block.kind_code = type.kind_code;
  switch (type.kind) {
    case BlockKind::kGroup:
      fill_group(block);
      break;
    case BlockKind::kRelation:
      fill_relation(block, type);
      break;
    case BlockKind::kSingleRecord:
      fill_record(block, type);
      break;
    case BlockKind::kDdl:
      break;
  }
  return block;
}

int32_t block_words_of(int32_t block_size) {
  if (block_size == 0) return kDefaultBlockWords;
  if (block_size == std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::max();
  return block_size < 0 ? -block_size : block_size;
}

DatabaseSummary write_database(std::ostream& out, const DatabaseOptions& options) {
  if (options.target_bytes < 0 && options.max_blocks < 0) {
    throw std::invalid_argument("a database needs a size or a block count");
  }
  if (options.generator.block_words != block_words_of(options.block_size)) {
    throw std::invalid_argument("generator block words differ from the block size");
  }
  NeutralWriter writer(out, kStandardAlphabet, options.writer);
  writer.header(options.block_size, options.flag);
  BlockGenerator generator(options.generator);
  DatabaseSummary summary;
  while ((options.max_blocks < 0 || summary.blocks < options.max_blocks) &&
         (options.target_bytes < 0 || writer.bytes_written() < options.target_bytes)) {
    writer.block(generator.next());
    ++summary.blocks;
  }
  writer.data_end();
  writer.finish();
  summary.bytes = writer.bytes_written();
  return summary;
}

}  // namespace support
