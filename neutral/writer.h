#pragma once
// Writer of neutral files: the words of a database, typed, in; 80-column text out.
//
//   line 1     columns  1-64  the standard alphabet; character i (from 1) stands for value i - 1
//              columns 65-79  block size, right-aligned
//              column  80     flag digit
//   line 2...  column   1     blank
//              columns 2-80   79 values, one alphabet character each
//
// Every line ends in LF. The values form the items of items.h; the caller closes each record
// with end_mark(). Each typed writer picks the shortest item that CVTREC reads back as exactly
// the word or words given, and writes integer items where no item of the type carries the bits:
// a real or double with no exact encoding (item_encoding.h), characters that are not in the
// alphabet. finish() ends the file with the rest of the last line in blanks and three lines of
// blanks, because the reader fetches the next line as soon as it has taken the last value of a
// line.
//
// Output is gathered in a buffer of kBufferBytes, handed to a ByteSink when it is nearly full
// and by flush() and finish(). Nothing is allocated per item.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "neutral/stream.h"

namespace neutral {

// Where the writer's bytes go. put() deals with failures itself (it may throw; the writer then
// has dropped what it handed over and goes on from an empty buffer).
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void put(const char* data, std::size_t bytes) = 0;
};

// The alphabet writers use: letters from value 0, digits from 26, the blank at 36, then
// punctuation; the end mark 47 is "=".
inline constexpr std::string_view kStandardAlphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 $'()*+,-./=\"#%&;:<>?@![]^_|";
static_assert(kStandardAlphabet.size() == kAlphabetColumns);

class Writer {
 public:
  static constexpr int kEndMark = 47;  // the end mark writers use
  static constexpr int kBlockSizeColumns = 15;
  static constexpr int kTrailingLines = 3;
  static constexpr std::size_t kBufferBytes = std::size_t{256} << 10;

  // `sink` outlives the writer.
  explicit Writer(ByteSink& sink);
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;

  // Line 1: the standard alphabet, the block size right-aligned in columns 65-79 and the flag
  // digit in column 80. Throws std::invalid_argument for a flag outside 0..9 and
  // std::logic_error when anything has been written before.
  void header(int32_t block_size, int flag);

  // REQUIRES for everything below: header() first, nothing after finish().
  void integer(int32_t word);   // 0: code 2; -1: code 10; else code 3 with the fewest digits
  void integers(const int32_t* words, int64_t count);  // integer() of each, faster
  void logical(int32_t word);   // -1: code 0; 0: code 1; else an integer
  void real(int32_t bits);      // 0: code 4; all bits: 11; else code 5 if exact, else an integer
  // The two words of a double, low-order word first. Both 0: code 6 (13 for the "X " type);
  // all bits set: code 12; else code 7 (14) if exact, else two integers, low word first.
  void double_pair(int32_t low, int32_t high, bool x_type);
  // Four characters in storage order. Four blanks: code 8; four characters of the alphabet:
  // code 9; else an integer (the reader gives back the alphabet's characters only).
  void characters(int32_t word);
  void end_mark() { value(kEndMark); }
  // One value as it is. Throws std::invalid_argument outside 0 .. 63.
  void value(int v);

  // Pads the current data line with blanks (a line with no value yet is not written), writes
  // the three blank lines and flushes. REQUIRES: the caller's last end mark is written.
  void finish();
  // Hands what the buffer holds to the sink.
  void flush();

  // Bytes of output made so far, handed to the sink or still in the buffer.
  int64_t bytes_written() const { return handed_ + static_cast<int64_t>(used_); }

 private:
  void put_values(const int32_t* values, int n);
  void put_value(int32_t v) { put_values(&v, 1); }
  void reserve(std::size_t bytes);
  void hand_over();

  ByteSink& sink_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;  // bytes in buffer_
  int64_t handed_ = 0;    // bytes handed to the sink
  int column_ = 0;        // values on the current data line; 0: the line is not begun
};

}  // namespace neutral
