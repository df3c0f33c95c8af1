#include "testkit/xdb_image.h"

#include <fstream>
#include <iterator>
#include <set>
#include <stdexcept>
#include <utility>

namespace support {

namespace {

constexpr int kKeyWords = 12;
constexpr int32_t kIntegerKeyed = 1, kGroup = 2, kMultiKey = 3, kSingleRecord = 4;

int32_t little_endian(const unsigned char* b) {
  return static_cast<int32_t>(uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24);
}

// Reads blocks of a sound image, refusing anything that would lead the map astray.
class Mapper {
 public:
  explicit Mapper(const XdbImage& image) : image_(image) {}

  XdbMap run() {
    XdbMap map;
    const int32_t dbdlen = header(17) >= 12 && header(17) <= 14 ? header(17) : 12;
    map.primary = header(6);
    const auto pi = block(map.primary, 5, "primary index");
    for (int32_t i = 0; i < header(11); ++i) map.secondary.push_back(pi.at(2 + i * 13 + kKeyWords));
    for (int32_t si : map.secondary) {
      const auto words = block(si, 6, "secondary index");
      for (int32_t i = 0; i < words.at(3); ++i) map.dictionary_data.push_back(words.at(4 + i * 13 + kKeyWords));
    }
    for (int32_t dd : map.dictionary_data) {
      const auto words = block(dd, 7, "dictionary data");
      for (int32_t i = 0; i < words.at(4); ++i) {
        MappedEntry e;
        e.dictionary_block = dd;
        e.key_word = 5 + i * (kKeyWords + dbdlen);
        for (int k = 0; k < kKeyWords; ++k) e.key[k] = words.at(e.key_word + k);
        for (int c = 0; c < 8; ++c)
          e.name.push_back(static_cast<char>(static_cast<uint32_t>(e.key[c / 4]) >> (8 * (c % 4))));
        e.name.erase(e.name.find_last_not_of(' ') + 1);
        for (int j = 1; j <= dbdlen; ++j) e.descriptor.push_back(words.at(e.descriptor_word(j)));
        data_block(e);
        map.entries.push_back(std::move(e));
      }
    }
    for (int32_t b = header(5); b != 0;) {
      map.released.push_back(b);
      const auto words = block(b, -1, "released");
      b = words.at(words.at(1) % 100 == 1 ? 4 : 2);
    }
    return map;
  }

 private:
  int32_t header(int k) const { return image_.at(1, k); }

  // Block b as a 1-based word list (words[0] unused); `type` -1 takes any type, else type
  // modulo 100 must match.
  std::vector<int32_t> block(int32_t b, int32_t type, const char* what) {
    if (b < 2 || b > image_.blocks()) {
      throw std::runtime_error(std::string(what) + " block " + std::to_string(b) + " outside the file");
    }
    if (!seen_.insert(b).second) {
      throw std::runtime_error(std::string(what) + " block " + std::to_string(b) + " reached twice");
    }
    std::vector<int32_t> words(1, 0);
    for (int32_t k = 1; k <= image_.block_words(); ++k) words.push_back(image_.at(b, k));
    if (type >= 0 && words[1] % 100 != type) {
      throw std::runtime_error(std::string(what) + " block " + std::to_string(b) + " has type " +
                               std::to_string(words[1]));
    }
    return words;
  }

  // Follows word 2 from `first`, each block of `type`.
  std::vector<int32_t> chain(int32_t first, int32_t type, const char* what) {
    std::vector<int32_t> blocks;
    for (int32_t b = first; b != 0; b = block(b, type, what).at(2)) blocks.push_back(b);
    return blocks;
  }

  void data_block(MappedEntry& e) {
    switch (e.kind()) {
      case kGroup: e.chain = chain(e.d(4), 4, "group"); break;
      case kSingleRecord:
        e.chain = {e.d(4)};
        if (shared_.insert(e.d(4)).second) block(e.d(4), 10, "shared record");
        break;
      case kIntegerKeyed: {
        e.root = e.d(3);
        const auto root = block(e.root, 1, "root");
        for (int32_t i = 0; i < root.at(23); ++i) e.level2.push_back(root.at(27 + 2 * i));
        for (int32_t l2 : e.level2) block(l2, 2, "level-2");
        e.chain = chain(e.d(4), 3, "relation data");
        break;
      }
      case kMultiKey: {
        e.root = e.d(3);
        e.chain = chain(e.d(4), 9, "keyed data");
        if (e.root == 0) break;
        std::vector<int32_t> level{e.root};
        while (!level.empty()) {
          e.levels.push_back(level);
          std::vector<int32_t> below;
          for (int32_t node : level) {
            const auto words = block(node, 8, "index");
            if (words.at(7) == 0) continue;
            below.push_back(words.at(7));
            const int32_t S = words.at(5);
            for (int32_t at = 8; at + S - 1 <= words.at(4); at += S) below.push_back(words.at(at + S - 1));
          }
          level = below;
        }
        for (int32_t b = e.root; b != 0; b = image_.at(b, 2)) {
          if (e.index_chain.size() > static_cast<std::size_t>(image_.blocks())) {
            throw std::runtime_error("the chain of index blocks comes back");
          }
          e.index_chain.push_back(b);
        }
        break;
      }
      default: throw std::runtime_error("data block of kind " + std::to_string(e.kind()));
    }
  }

  const XdbImage& image_;
  std::set<int32_t> seen_, shared_;
};

}  // namespace

XdbImage::XdbImage(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  const std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!file.eof() && !file) throw std::runtime_error("cannot read " + path);
  if (bytes.size() < 4 || bytes.size() % 4 != 0) throw std::runtime_error(path + " is not made of 4-byte words");
  for (std::size_t i = 0; i < bytes.size(); i += 4) words_.push_back(little_endian(bytes.data() + i));
  block_words_ = words_[0];
  if (block_words_ < 1 || words_.size() % static_cast<std::size_t>(block_words_) != 0) {
    throw std::runtime_error(path + " does not hold whole blocks of " + std::to_string(block_words_) + " words");
  }
}

void XdbImage::save(const std::string& path) const {
  std::string bytes;
  bytes.reserve(words_.size() * 4);
  for (int32_t w : words_) {
    const auto u = static_cast<uint32_t>(w);
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<char>(u >> shift & 0xff));
  }
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!file.flush()) throw std::runtime_error("cannot write " + path);
}

void XdbImage::save_word(const std::string& path, int32_t block, int32_t k) const {
  const auto u = static_cast<uint32_t>(at(block, k));
  const char bytes[4] = {static_cast<char>(u & 0xff), static_cast<char>(u >> 8 & 0xff),
                         static_cast<char>(u >> 16 & 0xff), static_cast<char>(u >> 24 & 0xff)};
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  file.seekp(static_cast<std::streamoff>((static_cast<int64_t>(block - 1) * block_words_ + (k - 1)) * 4));
  file.write(bytes, 4);
  if (!file.flush()) throw std::runtime_error("cannot write " + path);
}

int32_t& XdbImage::at(int32_t block, int32_t k) {
  if (block < 1 || block > blocks() || k < 1 || k > block_words_) {
    throw std::out_of_range("word " + std::to_string(k) + " of block " + std::to_string(block));
  }
  return words_[static_cast<std::size_t>(block - 1) * static_cast<std::size_t>(block_words_) +
                static_cast<std::size_t>(k - 1)];
}

int32_t XdbImage::at(int32_t block, int32_t k) const { return const_cast<XdbImage*>(this)->at(block, k); }

void XdbImage::keep_blocks(int32_t blocks) {
  if (blocks < 1 || blocks > this->blocks()) throw std::out_of_range("keeping " + std::to_string(blocks) + " blocks");
  words_.resize(static_cast<std::size_t>(blocks) * static_cast<std::size_t>(block_words_));
}

void XdbImage::cut_blocks(int32_t words) {
  if (words < 1 || words > block_words_) throw std::out_of_range("blocks cut to " + std::to_string(words) + " words");
  std::vector<int32_t> cut;
  for (int32_t b = 1; b <= blocks(); ++b) {
    for (int32_t k = 1; k <= words; ++k) cut.push_back(at(b, k));
  }
  words_ = std::move(cut);
  block_words_ = words;
  words_[0] = words;
}

const MappedEntry& XdbMap::entry(std::string_view name, int32_t q1) const {
  for (const auto& e : entries) {
    if (e.name == name && e.key[2] == q1) return e;
  }
  throw std::out_of_range("no data block " + std::string(name) + "(" + std::to_string(q1) + ")");
}

XdbMap map_xdb(const XdbImage& image) { return Mapper(image).run(); }

}  // namespace support
