#include "neutral/writer.h"

#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <stdexcept>

#include "neutral/item_encoding.h"

namespace neutral {

namespace {

constexpr char kBlank = ' ';
constexpr char kLineEnd = '\n';
constexpr std::size_t kLineBytes = kLineColumns + 1;  // with the line end
// Room an item needs in the buffer: its values, the blank that begins a line before it, and a
// line end and the next line's blank where it runs across a line end (an item is shorter than a
// line, so it crosses one line end at most).
constexpr std::size_t kItemRoom = kMaxItemValues + 3;

constexpr int32_t kFourBlanks = 0x20202020;
// An integer item: h = digits, plus 16 when negative; digits of 5 bits, most significant first.
constexpr int kDigitBits = 5;
constexpr uint32_t kDigitMask = 31;
constexpr int kNegativeDigits = 16;
constexpr uint32_t kPairMask = 1023;
// The characters of every pair of digits, the first the high five bits.
constexpr std::array<std::array<char, 2>, 1024> kDigitPairs = [] {
  std::array<std::array<char, 2>, 1024> table{};
  for (std::size_t i = 0; i < table.size(); ++i) table[i] = {kStandardAlphabet[i >> 5], kStandardAlphabet[i & 31]};
  return table;
}();
constexpr int kCharsPerWord = 4;
constexpr uint32_t kRealAllOnes = 0xFFFFFFFFu;
constexpr uint64_t kDoubleAllOnes = ~uint64_t{0};
constexpr uint32_t kRealExponentBits = 0x7F800000u;
constexpr uint64_t kDoubleExponentBits = uint64_t{0x7FF} << 52;

// Value of each character in the standard alphabet, -1 for the others.
constexpr std::array<int8_t, 256> kValueOf = [] {
  std::array<int8_t, 256> table{};
  table.fill(-1);
  for (std::size_t i = 0; i < kStandardAlphabet.size(); ++i) {
    table[static_cast<unsigned char>(kStandardAlphabet[i])] = static_cast<int8_t>(i);
  }
  return table;
}();

// NaNs are told by their bits, not as floating-point values, which a machine may quiet in
// passing.
bool real_nan(uint32_t bits) {
  return (bits & kRealExponentBits) == kRealExponentBits && (bits & ~kRealExponentBits) << 1 != 0;
}
bool double_nan(uint64_t bits) {
  return (bits & kDoubleExponentBits) == kDoubleExponentBits && (bits & ~kDoubleExponentBits) << 1 != 0;
}

}  // namespace

Writer::Writer(ByteSink& sink) : sink_(sink), buffer_(new char[kBufferBytes]) {}

void Writer::hand_over() {
  // The buffer is empty from here on, even when the sink throws.
  const std::size_t bytes = used_;
  used_ = 0;
  handed_ += static_cast<int64_t>(bytes);
  if (bytes > 0) sink_.put(buffer_.get(), bytes);
}

void Writer::reserve(std::size_t bytes) {
  if (kBufferBytes - used_ < bytes) hand_over();
}

void Writer::flush() { hand_over(); }

void Writer::header(int32_t block_size, int flag) {
  if (flag < 0 || flag > 9) throw std::invalid_argument("the flag of line 1 is one digit");
  if (bytes_written() != 0) throw std::logic_error("line 1 is the first line of the file");
  char* line = buffer_.get();
  std::memcpy(line, kStandardAlphabet.data(), kAlphabetColumns);
  char number[kBlockSizeColumns];
  const char* end = std::to_chars(number, number + kBlockSizeColumns, block_size).ptr;
  const auto digits = static_cast<std::size_t>(end - number);
  char* field = line + kAlphabetColumns;
  std::memset(field, kBlank, kBlockSizeColumns - digits);
  std::memcpy(field + kBlockSizeColumns - digits, number, digits);
  line[kLineColumns - 1] = static_cast<char>('0' + flag);
  line[kLineColumns] = kLineEnd;
  used_ = kLineBytes;
}

// Appends the values of one item, beginning a data line before it and ending one where it
// fills column 80. REQUIRES: n <= kMaxItemValues, values in 0 .. 63.
void Writer::put_values(const int32_t* values, int n) {
  reserve(kItemRoom);
  char* p = buffer_.get() + used_;
  if (column_ == 0) *p++ = kBlank;
  const int room = kValuesPerLine - column_;
  if (n < room) {
    for (int i = 0; i < n; ++i) p[i] = kStandardAlphabet[static_cast<std::size_t>(values[i])];
    p += n;
    column_ += n;
  } else {
    int i = 0;
    for (; i < room; ++i) *p++ = kStandardAlphabet[static_cast<std::size_t>(values[i])];
    *p++ = kLineEnd;
    column_ = n - room;
    if (column_ > 0) {
      *p++ = kBlank;
      for (; i < n; ++i) *p++ = kStandardAlphabet[static_cast<std::size_t>(values[i])];
    }
  }
  used_ = static_cast<std::size_t>(p - buffer_.get());
}

void Writer::value(int v) {
  if (v < 0 || v > kLastValue) throw std::invalid_argument("a value is 0 .. 63");
  put_value(v);
}

namespace {

// Writes the values of the integer item of `word` at p, which has room for them: code 3, h, the
// digits two at a time from the last through the table of pairs. REQUIRES: word is not 0 or -1.
// Returns the number of values.
inline int put_integer_item(char* p, int32_t word) {
  const uint32_t magnitude = word < 0 ? 0u - static_cast<uint32_t>(word) : static_cast<uint32_t>(word);
  const int digits = (std::bit_width(magnitude) + kDigitBits - 1) / kDigitBits;
  p[0] = kStandardAlphabet[kCodeInteger];
  p[1] = kStandardAlphabet[static_cast<std::size_t>(digits + (word < 0 ? kNegativeDigits : 0))];
  p += 2;
  uint32_t m = magnitude;
  int k = digits;
  for (; k >= 2; k -= 2, m >>= 2 * kDigitBits) std::memcpy(p + k - 2, kDigitPairs[m & kPairMask].data(), 2);
  if (k == 1) p[0] = kStandardAlphabet[m & kDigitMask];
  return 2 + digits;
}

}  // namespace

void Writer::integer(int32_t word) { integers(&word, 1); }

void Writer::integers(const int32_t* words, int64_t count) {
  // The usual case runs with the buffer position and the column in locals (stores through a
  // char pointer could otherwise change the members, as far as the compiler knows): an item
  // that lies inside the line under way, with room in the buffer. The others go the general way.
  constexpr int kLongestInteger = kMaxIntegerValues;
  char* const base = buffer_.get();
  std::size_t used = used_;
  int column = column_;
  for (int64_t i = 0; i < count; ++i) {
    const int32_t word = words[i];
    if (column != 0 && column + kLongestInteger < kValuesPerLine && kBufferBytes - used >= kItemRoom) {
      char* p = base + used;
      int n;
      if (word == 0) {
        *p = kStandardAlphabet[kCodeIntegerZero];
        n = 1;
      } else if (word == -1) {
        *p = kStandardAlphabet[kCodeMinusOne];
        n = 1;
      } else {
        n = put_integer_item(p, word);
      }
      used += static_cast<std::size_t>(n);
      column += n;
      continue;
    }
    used_ = used;
    column_ = column;
    int32_t values[kMaxIntegerValues];
    put_values(values, integer_values(word, values));
    used = used_;
    column = column_;
  }
  used_ = used;
  column_ = column;
}

void Writer::logical(int32_t word) {
  if (word == -1) {
    put_value(kCodeTrue);
  } else if (word == 0) {
    put_value(kCodeFalse);
  } else {
    integer(word);
  }
}

void Writer::real(int32_t bits) {
  const auto u = static_cast<uint32_t>(bits);
  if (u == 0) return put_value(kCodeRealZero);
  if (u == kRealAllOnes) return put_value(kCodeRealAllOnes);
  if (!real_nan(u)) {
    if (auto enc = encode_real(std::bit_cast<float>(u))) {
      std::array<int32_t, kMaxItemValues> values;
      return put_values(values.data(), enc->values(values));
    }
  }
  integer(bits);
}

void Writer::double_pair(int32_t low, int32_t high, bool x_type) {
  const uint64_t bits =
      static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32 | static_cast<uint32_t>(low);
  if (bits == 0) return put_value(x_type ? kCodeDoubleXZero : kCodeDoubleZero);
  if (bits == kDoubleAllOnes) return put_value(kCodeDoubleAllOnes);
  if (!double_nan(bits)) {
    if (auto enc = encode_double(std::bit_cast<double>(bits))) {
      if (x_type) enc->code = kCodeDoubleX;
      std::array<int32_t, kMaxItemValues> values;
      return put_values(values.data(), enc->values(values));
    }
  }
  integer(low);
  integer(high);
}

void Writer::characters(int32_t word) {
  if (word == kFourBlanks) return put_value(kCodeBlanks);
  unsigned char text[kCharsPerWord];
  std::memcpy(text, &word, sizeof text);
  int32_t values[1 + kCharsPerWord] = {kCodeChars};
  for (int k = 0; k < kCharsPerWord; ++k) {
    values[1 + k] = kValueOf[text[k]];
    if (values[1 + k] < 0) return integer(word);
  }
  put_values(values, 1 + kCharsPerWord);
}

void Writer::finish() {
  if (column_ > 0) {
    reserve(kLineBytes);
    const auto blanks = static_cast<std::size_t>(kValuesPerLine - column_);
    std::memset(buffer_.get() + used_, kBlank, blanks);
    buffer_[used_ + blanks] = kLineEnd;
    used_ += blanks + 1;
    column_ = 0;
  }
  for (int i = 0; i < kTrailingLines; ++i) {
    reserve(kLineBytes);
    std::memset(buffer_.get() + used_, kBlank, kLineColumns);
    buffer_[used_ + kLineColumns] = kLineEnd;
    used_ += kLineBytes;
  }
  flush();
}

}  // namespace neutral
