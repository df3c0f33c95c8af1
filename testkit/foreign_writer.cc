#include "testkit/foreign_writer.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace support {

namespace {

// Words per element of element types 1..20 ("L ", "I ", "R ", "D ", "A ", "E ", "X ", "FK", "FL",
// "PC", "S ", "N ", "C ", "SK", "FM", "K ", "CT", "NV", "ME", "IC").
constexpr int32_t kTypeWords[21] = {0, 1, 1, 1, 2, 1, 1, 2, 1, 1, 1, 0, 1, 4, 1, 1, 1, 1, 1, 1, 0};
constexpr int kMaxDepth = 8;
constexpr int32_t kObjectStep = 100000;

// The letters of one element of type t (1..20).
std::string element_letters(int32_t t) {
  switch (t) {
    case 3: return "R";
    case 4: return "Dd";
    case 5: return "A";
    case 7: return "Xx";
    default: return std::string(static_cast<size_t>(kTypeWords[t]), 'I');
  }
}

bool first_half(char c) { return c == 'D' || c == 'X'; }
bool second_half(char c) { return c == 'd' || c == 'x'; }

// A pair cut by either end of an entry's words [a, b) loses its pairing there.
void cut_pairs(std::string& cls, size_t a, size_t b) {
  if (b <= a) return;
  if (second_half(cls[a])) cls[a] = 'I';
  if (first_half(cls[b - 1])) cls[b - 1] = 'I';
}

// A name packed as four 6-bit codes per word (blank 1, letters from 23).
int32_t pack(const char* four) {
  int32_t w = 0;
  for (int k = 0; k < 4; ++k) {
    char c = four[k];
    int32_t code = c == ' ' ? 1 : (c >= 'A' && c <= 'Z') ? 23 + (c - 'A') : 255;
    w = (w << 6) | code;
  }
  return w;
}

// Expands an element list into letters, at most `cap` of them.
class Expander {
 public:
  Expander(const std::vector<int32_t>& ddl, size_t at, size_t end, size_t cap)
      : ddl_(ddl), at_(at), end_(end), cap_(cap) {}

  std::string run() {
    std::string out;
    while (out.size() < cap_ && item(out, 0, false) == kItem) {
    }
    if (!out.empty() && first_half(out.back())) out.back() = 'I';
    return out;
  }

 private:
  enum Result { kItem, kClose, kEnd };

  void add(std::string& out, const std::string& letters) const {
    out += letters.substr(0, cap_ - std::min(cap_, out.size()));
  }

  Result item(std::string& out, int depth, bool bracket) {
    if (at_ >= end_) return kEnd;
    const int64_t e = ddl_[at_++];
    if (e == 0) return kEnd;
    if (e > 0) {
      const int32_t t = static_cast<int32_t>(e % 100);
      if (t < 1 || t > 20) return kEnd;
      const std::string one = element_letters(t);
      if (one.empty()) return kItem;
      for (int64_t k = 0; k < e / 100 && out.size() < cap_; ++k) add(out, one);
      return kItem;
    }
    const int64_t m = -e, form = m % 100, n = m / 100 % 100, r = m / 10000;
    if (form == 5) return bracket ? kClose : kEnd;
    if (form < 1 || form > 5 || depth >= kMaxDepth) return kEnd;
    Result result = kItem;
    if (form == 3) {
      std::vector<std::string> alternatives;
      for (int64_t k = 0; k < n; ++k) {
        std::string alternative;
        if (item(alternative, depth + 1, false) != kItem) {
          result = kEnd;
          break;
        }
        alternatives.push_back(alternative);
      }
      size_t span = 0;
      for (const auto& a : alternatives) span = std::max(span, a.size());
      std::string chosen = r >= 1 && r <= static_cast<int64_t>(alternatives.size())
                               ? alternatives[static_cast<size_t>(r - 1)]
                               : "";
      chosen.resize(span, 'I');
      add(out, chosen);
      return result;
    }
    std::string body;
    if (form == 4) {
      for (;;) {
        Result inner = item(body, depth + 1, true);
        if (inner == kClose) break;
        if (inner == kEnd) {
          result = kEnd;
          break;
        }
      }
    } else {
      for (int64_t k = 0; k < n; ++k) {
        if (item(body, depth + 1, false) != kItem) {
          result = kEnd;
          break;
        }
      }
    }
    if (!body.empty()) {
      int64_t times = form == 2 ? INT64_MAX : r;
      for (int64_t k = 0; k < times && out.size() < cap_; ++k) add(out, body);
    }
    return result;
  }

  const std::vector<int32_t>& ddl_;
  size_t at_;
  const size_t end_;
  const size_t cap_;
};

void put32(unsigned char* p, uint32_t v, bool little) {
  for (int k = 0; k < 4; ++k) p[little ? k : 3 - k] = static_cast<unsigned char>(v >> (8 * k));
}
void put64(unsigned char* p, uint64_t v, bool little) {
  for (int k = 0; k < 8; ++k) p[little ? k : 7 - k] = static_cast<unsigned char>(v >> (8 * k));
}

// The double a wide file holds for a single-precision pattern.
uint64_t as_double(uint32_t f) {
  if (f == 0xFFFFFFFFu) return ~uint64_t{0};
  const bool nan = (f & 0x7F800000u) == 0x7F800000u && (f & 0x007FFFFFu) != 0;
  if (nan) return uint64_t{f >> 31} << 63 | 0x7FF0000000000000ull | uint64_t{f & 0x007FFFFFu} << 29;
  return std::bit_cast<uint64_t>(static_cast<double>(std::bit_cast<float>(f)));
}

}  // namespace

ForeignWriter::ForeignWriter(std::vector<int32_t> native) : native_(std::move(native)) {
  read_header();
  // The DDL from the file: the group's data words behind its key, block by block.
  std::vector<int32_t> ddl;
  if (word(1, 14) != 0) {
    for (int32_t b = word(1, 16), steps = 0; b > 0 && b <= blocks() && steps < blocks(); b = word(b, 2), ++steps) {
      const bool first = word(b, 3) == 0;
      const int32_t from = first ? 17 : 5, count = first ? word(b, 4) - 12 : word(b, 4);
      for (int32_t k = 0; k < count; ++k) ddl.push_back(word(b, from + k));
    }
  }
  read_ddl(ddl);
}

ForeignWriter::ForeignWriter(std::vector<int32_t> native, const std::vector<int32_t>& ddl)
    : native_(std::move(native)) {
  read_header();
  read_ddl(ddl);
}

void ForeignWriter::read_header() {
  if (native_.empty() || native_[0] < 1 || native_.size() % static_cast<size_t>(native_[0]) != 0) {
    throw std::invalid_argument("not the words of a native XDB");
  }
  block_words_ = native_[0];
  used_blocks_ = word(1, 4);
  dictionary_si_ = word(1, 11);
  entry_words_ = word(1, 17) >= 12 && word(1, 17) <= 14 ? word(1, 17) : 12;
}

void ForeignWriter::read_ddl(const std::vector<int32_t>& ddl) {
  if (ddl.size() < 3) return;
  const int32_t q = ddl[2] / kObjectStep, r = ddl[2] % kObjectStep;
  const int32_t data = 3 + 5 * q, data_end = std::min<int32_t>(data + r, static_cast<int32_t>(ddl.size()));
  for (int32_t i = 0; i < q && 3 + 5 * i + 4 < static_cast<int32_t>(ddl.size()); ++i) {
    const int32_t* rec = &ddl[static_cast<size_t>(3 + 5 * i)];
    Object o;
    o.number = entry_words_ > 12 ? rec[4] : i + 1;
    o.length = rec[3];
    o.limits = rec[0] == pack("LIMI") && rec[1] == pack("TS  ");
    // A list runs at most up to the next list of the DDL.
    const int32_t start = std::abs(rec[2]);
    int32_t end = data_end;
    for (int32_t j = 0; j < q; ++j) {
      const int32_t other = std::abs(ddl[static_cast<size_t>(3 + 5 * j + 2)]);
      if (other > start && other < end) end = other;
    }
    if (start >= data && start < data_end && o.length > 0) {
      Expander expander(ddl, static_cast<size_t>(start), static_cast<size_t>(end), static_cast<size_t>(o.length));
      o.classes = expander.run();
    }
    objects_.push_back(o);
  }
}

int32_t ForeignWriter::word(int32_t block, int32_t k) const {
  if (block < 1 || block > blocks() || k < 1 || k > block_words_) return 0;
  return native_[static_cast<size_t>(block - 1) * block_words_ + static_cast<size_t>(k - 1)];
}

const ForeignWriter::Object& ForeignWriter::object(int32_t number) const {
  for (const Object& o : objects_) {
    if (o.number == number && number >= 1) return o;
  }
  throw std::invalid_argument("DDL object " + std::to_string(number) + " is not in the DDL");
}

namespace {
void require_plan(const std::string& classes, int32_t length, int32_t number) {
  if (length > 0 && static_cast<int32_t>(classes.size()) < length) {
    throw std::invalid_argument("DDL object " + std::to_string(number) + " lists fewer words than its entry");
  }
}
}  // namespace

void ForeignWriter::paint_entry(std::string& cls, int32_t block, int32_t at, int32_t n, const Object& o,
                                int32_t key) const {
  if (n <= 0) return;
  require_plan(o.classes, o.length, o.number);
  if (o.limits) {
    bool zero = true;
    for (int32_t k = 0; k < std::min(std::max(key, 1), n); ++k) zero = zero && word(block, at + k + 1) == 0;
    if (zero) return;
  }
  for (int32_t k = 0; k < n; ++k) {
    cls[static_cast<size_t>(at + k)] = k < o.length ? o.classes[static_cast<size_t>(k)] : 'I';
  }
  cut_pairs(cls, static_cast<size_t>(at), static_cast<size_t>(at + n));
}

int64_t ForeignWriter::stream_offset(int32_t block) const {
  int64_t offset = 0;
  for (int32_t b = word(block, 3), steps = 0; b != 0; ++steps) {
    if (b < 2 || b > used_blocks_ || b == block || steps >= used_blocks_) return -1;
    const int32_t code = word(b, 1), before = word(b, 3), used = word(b, 4);
    const int64_t data = before == 0 ? int64_t{used} - 12 : used;
    if (code <= 0 || code % 100 != 4 || data < 0 || used > block_words_ - 4) return -1;
    offset += data;
    b = before;
  }
  return offset;
}

bool ForeignWriter::holds_other_word(int32_t number, int32_t other, bool next) const {
  if (other < 2 || other > used_blocks_ || other == number) return false;
  if (word(other, 1) != word(number, 1) || word(other, next ? 3 : 2) != number) return false;
  const int32_t used = word(other, 4);
  if (used < 0 || used > block_words_ - 4) return false;
  return (word(other, 3) == 0 ? used - 12 : used) >= 1;
}

std::string ForeignWriter::classes(int32_t number) const {
  const int32_t B = block_words_;
  std::string cls(static_cast<size_t>(B), 'I');
  if (number == 1) return cls;
  const int32_t code = word(number, 1);
  const int32_t kind = code > 0 ? code % 100 : 0, q = code / 100;
  const bool keyed = kind == 8 || kind == 9;
  const int32_t object_number = keyed ? (q < 10 ? 0 : q / 10) : q;
  const int32_t key = keyed ? (q < 10 ? q : q % 10) : 0;
  auto bad = [&](const char* what) {
    throw std::invalid_argument("block " + std::to_string(number) + ": " + what);
  };
  auto items = [&](int32_t at, int64_t count, int32_t size) {
    count = std::clamp<int64_t>(count, 0, (B - at) / size);
    for (int64_t i = 0; i < count; ++i) cls.replace(static_cast<size_t>(at + i * size), 2, "AA");
  };
  switch (kind) {
    case 1:
      if (B >= 3) cls[1] = cls[2] = 'A';
      break;
    case 3: {
      if (object_number == 0) break;
      const Object& o = object(object_number);
      const int64_t n = word(number, 4), L = o.length;
      if (n < 0 || (n > 0 && (L <= 0 || n * L + 4 > B))) bad("entries do not fit");
      for (int64_t i = 0; i < n; ++i) paint_entry(cls, number, static_cast<int32_t>(4 + i * L), o.length, o, 1);
      break;
    }
    case 4: {
      const int32_t previous = word(number, 3), used = word(number, 4);
      if (used < 0 || used > B - 4 || (previous == 0 && used < 12)) bad("group words in use do not fit");
      int32_t at = 4, n = used;
      if (previous == 0) {
        cls[4] = cls[5] = 'A';
        at = 16;
        n -= 12;
      }
      if (object_number == 0 || n == 0) break;
      const Object& o = object(object_number);
      require_plan(o.classes, o.length, o.number);
      if (o.length <= 0) break;
      const bool uniform = std::all_of(o.classes.begin(), o.classes.end(),
                                       [&](char c) { return c == o.classes[0] && c != 'D' && c != 'X'; });
      const int64_t offset = previous == 0 || uniform ? 0 : stream_offset(number);
      if (offset < 0) break;
      for (int32_t j = 0; j < n; ++j) {
        cls[static_cast<size_t>(at + j)] = o.classes[static_cast<size_t>((offset + j) % o.length)];
      }
      // A pair that the data carries into the next block, or from the block in front, stays a
      // pair when the block on the other side holds its other word; else its word here is an
      // integer.
      char& head = cls[static_cast<size_t>(at)];
      char& tail = cls[static_cast<size_t>(at + n - 1)];
      if (second_half(head) && !holds_other_word(number, previous, false)) head = 'I';
      if (first_half(tail) && !holds_other_word(number, word(number, 2), true)) tail = 'I';
      break;
    }
    case 5: items(1, dictionary_si_, 13); break;
    case 6: items(3, word(number, 3), 13); break;
    case 7: items(4, word(number, 4), entry_words_ + 12); break;
    case 8:
    case 9: {
      const int32_t header = kind == 8 ? 7 : 5;
      const int64_t used = word(number, 4), stride = word(number, 5), n = used - header;
      if (object_number == 0) break;
      const Object& o = object(object_number);
      if (n < 0 || used > B || (n > 0 && stride <= 0)) bad("multi-word-key block counts do not fit");
      for (int64_t i = 0; n > 0 && i < n / stride; ++i) {
        paint_entry(cls, number, static_cast<int32_t>(header + i * stride), static_cast<int32_t>(stride), o, key);
      }
      break;
    }
    case 10: {
      const int32_t used = word(number, 2);
      if (used < 2 || used > B) bad("record words in use do not fit");
      for (int32_t at = 2; at < used;) {
        if (at + 2 > used) bad("a record header is cut");
        const int32_t object_at = word(number, at + 1), length = word(number, at + 2);
        if (length < 0 || at + 2 + int64_t{length} > used) bad("a record length does not fit");
        if (length > 0 && object_at != 0) paint_entry(cls, number, at + 2, length, object(object_at), 0);
        at += 2 + length;
      }
      break;
    }
    default: break;
  }
  return cls;
}

std::vector<unsigned char> ForeignWriter::block(int32_t number, int32_t filtyp) const {
  const bool little = (filtyp & 1) != 0, wide = (filtyp & 2) != 0;
  const size_t size = wide ? 8 : 4;
  const std::string cls = classes(number);
  std::vector<unsigned char> out(static_cast<size_t>(block_words_) * size);
  for (int32_t k = 0; k < block_words_; ++k) {
    unsigned char* p = out.data() + static_cast<size_t>(k) * size;
    const auto v = static_cast<uint32_t>(word(number, k + 1));
    switch (cls[static_cast<size_t>(k)]) {
      case 'R':
        if (wide) {
          put64(p, as_double(v), little);
        } else {
          put32(p, v, little);
        }
        break;
      case 'A':
        put32(p, v, true);
        if (wide) std::memset(p + 4, ' ', 4);
        break;
      case 'D':
      case 'X':
      case 'd':
      case 'x': {
        // Both file words of the pair; this word takes its own. A first word without its second
        // behind it goes on in the next block's word 5, a second word without its first in front
        // of it began in the last used word of the block in front.
        const char letter = cls[static_cast<size_t>(k)];
        const bool first = first_half(letter);
        if (!first && k > 0 && first_half(cls[static_cast<size_t>(k - 1)])) break;  // written with the first
        const bool whole = first && k + 1 < block_words_ && second_half(cls[static_cast<size_t>(k + 1)]);
        uint32_t low = v, high = 0;
        if (whole) {
          high = static_cast<uint32_t>(word(number, k + 2));
        } else if (first) {
          high = static_cast<uint32_t>(word(word(number, 2), 5));
        } else {
          const int32_t previous = word(number, 3);
          low = static_cast<uint32_t>(word(previous, 4 + word(previous, 4)));
          high = v;
        }
        unsigned char both[16] = {};
        const bool padding_first = wide && little && (letter == 'D' || letter == 'd');
        put64(both + (padding_first ? 8 : 0), uint64_t{high} << 32 | low, little);  // the padding stays zero
        if (whole) {
          std::memcpy(p, both, 2 * size);
        } else {
          std::memcpy(p, both + (first ? 0 : size), size);
        }
        break;
      }
      default:
        if (wide) {
          put64(p, static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(v))), little);
        } else {
          put32(p, v, little);
        }
    }
  }
  return out;
}

std::vector<unsigned char> ForeignWriter::file(int32_t filtyp) const {
  std::vector<unsigned char> out;
  for (int32_t b = 1; b <= blocks(); ++b) {
    auto bytes = block(b, filtyp);
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  return out;
}

std::vector<int32_t> read_native_xdb(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<int32_t> words(bytes.size() / 4);
  for (size_t i = 0; i < words.size(); ++i) {
    const unsigned char* p = bytes.data() + 4 * i;
    words[i] = static_cast<int32_t>(uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24);
  }
  return words;
}

void write_foreign_xdb(const std::string& native, const std::string& foreign, int32_t filtyp) {
  const auto bytes = ForeignWriter(read_native_xdb(native)).file(filtyp);
  std::ofstream out(foreign, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + foreign);
}

}  // namespace support
