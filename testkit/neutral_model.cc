#include "testkit/neutral_model.h"

#include <bit>
#include <map>
#include <stdexcept>

namespace support {

namespace {

constexpr uint32_t kAllOnes32 = 0xFFFFFFFFu;
constexpr uint64_t kAllOnes64 = ~uint64_t{0};

// Character codes 1..63 of the DDL name packing, in order.
constexpr std::string_view kPackingTable =
    " $'()*+,-./0123456789=ABCDEFGHIJKLMNOPQRSTUVWXYZ\"#%&;:<>?@![]^_";
constexpr uint32_t kPackedNul = 64;
constexpr uint32_t kPackedOther = 255;

uint32_t packing_code(char c) {
  if (c == '\0') return kPackedNul;
  if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  size_t pos = kPackingTable.find(c);
  return pos == std::string_view::npos ? kPackedOther : static_cast<uint32_t>(pos + 1);
}

}  // namespace

int32_t char_word(std::string_view four) {
  if (four.size() != 4) throw std::invalid_argument("a character word needs 4 characters");
  uint32_t word = 0;
  for (int i = 3; i >= 0; --i) word = (word << 8) | static_cast<unsigned char>(four[i]);
  return static_cast<int32_t>(word);
}

Key key(std::string_view name, int32_t q1) {
  Key k;
  k.name = std::string(name);
  k.name.resize(kNameChars, ' ');
  k.qualifiers[0] = q1;
  return k;
}

std::array<int32_t, kKeyWords> Key::words() const {
  if (name.size() != kNameChars) throw std::invalid_argument("a block name has 8 characters");
  std::array<int32_t, kKeyWords> out{};
  out[0] = char_word(std::string_view(name).substr(0, 4));
  out[1] = char_word(std::string_view(name).substr(4, 4));
  for (int i = 0; i < kQualifierWords; ++i) out[2 + i] = qualifiers[i];
  return out;
}

Item Item::logical(bool value) { return {ItemType::kLogical, value ? 1u : 0u}; }
Item Item::integer(int32_t value) {
  return {ItemType::kInteger, static_cast<uint32_t>(value)};
}
Item Item::real(float value) { return {ItemType::kReal, std::bit_cast<uint32_t>(value)}; }
Item Item::real_all_ones() { return {ItemType::kRealAllOnes, kAllOnes32}; }
Item Item::dbl(double value) { return {ItemType::kDouble, std::bit_cast<uint64_t>(value)}; }
Item Item::dbl_all_ones() { return {ItemType::kDoubleAllOnes, kAllOnes64}; }
Item Item::dblx(double value) { return {ItemType::kDoubleX, std::bit_cast<uint64_t>(value)}; }
Item Item::chars(std::string_view four) {
  return {ItemType::kChars, static_cast<uint32_t>(char_word(four))};
}

int Item::word_count() const {
  switch (type) {
    case ItemType::kDouble:
    case ItemType::kDoubleAllOnes:
    case ItemType::kDoubleX:
      return 2;
    default:
      return 1;
  }
}

void Item::append_words(std::vector<int32_t>& out) const {
  switch (type) {
    case ItemType::kLogical:
      out.push_back(bits != 0 ? -1 : 0);
      return;
    case ItemType::kInteger:
    case ItemType::kReal:
    case ItemType::kRealAllOnes:
    case ItemType::kChars:
      out.push_back(static_cast<int32_t>(static_cast<uint32_t>(bits)));
      return;
    case ItemType::kDouble:
    case ItemType::kDoubleAllOnes:
    case ItemType::kDoubleX:
      out.push_back(static_cast<int32_t>(static_cast<uint32_t>(bits)));
      out.push_back(static_cast<int32_t>(static_cast<uint32_t>(bits >> 32)));
      return;
  }
}

std::string Item::text() const {
  std::string out(4, ' ');
  for (int i = 0; i < 4; ++i) out[i] = static_cast<char>((bits >> (8 * i)) & 0xFF);
  return out;
}

float Item::as_real() const { return std::bit_cast<float>(static_cast<uint32_t>(bits)); }
double Item::as_double() const { return std::bit_cast<double>(bits); }

size_t word_count(std::span<const Item> items) {
  size_t n = 0;
  for (const Item& item : items) n += static_cast<size_t>(item.word_count());
  return n;
}

std::vector<int32_t> words_of(std::span<const Item> items) {
  std::vector<int32_t> out;
  out.reserve(word_count(items));
  for (const Item& item : items) item.append_words(out);
  return out;
}

KindCode classify(int32_t kind_code) {
  KindCode code;
  if (kind_code <= 0) return code;  // group
  if (kind_code < kKindStep) {
    code.kind = BlockKind::kRelation;
    code.entry_length = kind_code;
    return code;
  }
  int32_t q = kind_code / kKindStep;
  code.entry_length = kind_code % kKindStep;
  code.key_type = q % 10;
  code.key_flag = q >= 10 ? 1 : 0;
  code.kind = code.key_type == 0 ? BlockKind::kSingleRecord : BlockKind::kRelation;
  return code;
}

BlockKind Block::kind() const { return ddl ? BlockKind::kDdl : classify(kind_code).kind; }

std::array<int32_t, kHeaderWords> Block::header_words() const {
  std::array<int32_t, kHeaderWords> out{};
  auto key_words = key.words();
  for (int i = 0; i < kKeyWords; ++i) out[i] = key_words[i];
  out[kKeyWords] = kind_code;
  return out;
}

size_t Block::entry_count() const {
  KindCode c = code();
  if (kind() != BlockKind::kRelation || c.entry_length <= 0) return 0;
  return word_count() / static_cast<size_t>(c.entry_length);
}

std::vector<int32_t> Block::entry_words(size_t index) const {
  size_t length = static_cast<size_t>(code().entry_length);
  std::vector<int32_t> out;
  out.reserve(length + 1);
  size_t first = index * length;
  size_t word = 0;
  for (const Item& item : body) {
    if (word >= first + length) break;
    if (word + static_cast<size_t>(item.word_count()) > first) item.append_words(out);
    word += static_cast<size_t>(item.word_count());
  }
  if (out.size() != length) throw std::out_of_range("entry does not end on an item boundary");
  return out;
}

std::vector<std::vector<int32_t>> Block::stored_entries() const {
  const KindCode c = code();
  if (kind() != BlockKind::kRelation || c.entry_length <= 0) return {};
  const auto length = static_cast<size_t>(c.entry_length);
  const auto key_words = static_cast<std::ptrdiff_t>(c.key_type == 0 ? 1 : c.key_type);
  const std::vector<int32_t> words = body_words();
  std::map<std::vector<int32_t>, std::vector<int32_t>> by_key;
  for (size_t at = 0; at + length <= words.size(); at += length) {
    const auto first = words.begin() + static_cast<std::ptrdiff_t>(at);
    by_key[std::vector<int32_t>(first, first + key_words)] =
        std::vector<int32_t>(first, first + static_cast<std::ptrdiff_t>(length));
  }
  std::vector<std::vector<int32_t>> out;
  out.reserve(by_key.size());
  for (auto& [key, entry] : by_key) out.push_back(std::move(entry));
  return out;
}

std::vector<size_t> group_chunk_words(std::span<const Item> body, size_t limit) {
  std::vector<size_t> chunks;
  size_t filled = 0;
  for (const Item& item : body) {
    if (filled + 1 > limit) {
      chunks.push_back(filled);
      filled = 0;
    }
    filled += static_cast<size_t>(item.word_count());
  }
  // The reader asks for one more chunk when the last one reached the limit;
  // that chunk holds nothing but the end mark.
  if (filled + 1 > limit) {
    chunks.push_back(filled);
    filled = 0;
  }
  chunks.push_back(filled);
  return chunks;
}

std::array<int32_t, 2> pack_ddl_name(std::string_view name) {
  if (name.size() != kNameChars) throw std::invalid_argument("a block name has 8 characters");
  std::array<int32_t, 2> out{};
  for (int w = 0; w < 2; ++w) {
    uint32_t word = 0;
    for (int i = 0; i < 4; ++i) word = (word << 6) | packing_code(name[4 * w + i]);
    out[w] = static_cast<int32_t>(word);
  }
  return out;
}

}  // namespace support
