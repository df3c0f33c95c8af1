#pragma once
// The neutral character stream: a neutral file turned into a stream of 6-bit values.
//
// A neutral file is made of 80-column text lines:
//
//   line 1   columns  1-64  the translation alphabet: character i (from 1) stands for value i-1;
//                           trailing blanks are not part of it
//            columns 65-79  block size B, a signed decimal integer (blanks ignored, all blank = 0)
//            column  80     flag F, one decimal digit (blank = 0)
//   line 2.. column  1      ignored (writers put a blank there)
//            columns 2-80   79 characters, one value each, read left to right, line after line
//
// A line shorter than 80 columns reads as if padded with blanks; columns beyond 80 are ignored.
// Lower-case letters stand for the value of their upper-case form. A character that is not in
// the alphabet is reported, counted and read as 0.
//
// The stream reads one line ahead: as soon as the 79th value of a line has been handed out, the
// next line is read and translated, so that the next value is always visible to the item
// decoder (peek). A file therefore ends with a few lines behind its last value; when a further
// line is needed and there is none, the run ends (see CVTGET).

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/textinput.h"
#include "platform/units.h"

namespace neutral {

// What a stream meets when it reads a line, for a stream whose reading runs ahead of the one who
// reports it (see read_ahead.h). A stream with no observer reports both itself.
class LineObserver {
 public:
  virtual ~LineObserver() = default;
  // A character outside the alphabet in the line just read (it reads as 0).
  virtual void invalid_character(char c) = 0;
  // A further line was needed and there is none; `error` is the input's read error (0: none).
  // Must not return (it throws).
  [[noreturn]] virtual void input_ended(int error) = 0;
};

inline constexpr int kAlphabetColumns = 64;
inline constexpr int kLineColumns = 80;
inline constexpr int kValuesPerLine = 79;

class Stream {
 public:
  // `input` is the opened neutral file (or standard input); messages go to `units`.
  Stream(platform::TextInput& input, platform::Units& units);

  // Called when the data end while a further line is needed, after the end-of-file message and
  // before the run stops: the main program uses it to close the XDB that is being written.
  void set_premature_end_action(std::function<void()> action) { premature_end_ = std::move(action); }

  // Reads line 1 (alphabet, block size B, flag F) and the first data line, builds the
  // translation table. Stops the run on an empty file, a malformed line 1, a character twice
  // in the alphabet, or a missing first data line. MODE 0 (read) is the only mode.
  void CVTSTR(int mode, int32_t& B, int32_t& F);

  // VALUES(1..N) := the next N values of the stream.
  void CVTGET(int n, int32_t* values) {
    if (position_ + n < kValuesPerLine) {  // the usual case: the values lie inside this line
      for (int i = 0; i < n; ++i) values[i] = values_[position_ + i];
      position_ += n;
      return;
    }
    for (int i = 0; i < n; ++i) {
      values[i] = values_[position_];
      if (++position_ == kValuesPerLine) next_line();
    }
  }

  // Consumes one value.
  void skip() {
    if (++position_ == kValuesPerLine) next_line();
  }

  // The next value, not consumed.
  int32_t peek() const { return values_[position_]; }

  // The values left on the current line, from the next one on: an item that lies wholly inside
  // them can be decoded in place and then consumed with advance().
  const int32_t* next_values() const { return values_.data() + position_; }
  int available() const { return kValuesPerLine - position_; }
  // Consumes n values. REQUIRES: n <= available().
  void advance(int n) {
    position_ += n;
    if (position_ == kValuesPerLine) next_line();
  }

  // Reports the count of untranslatable characters (if any) and closes the input.
  void CVTEND();

  // From CVTSTR on, the line events go to `observer` instead of being reported (nullptr: reported
  // again). The observer is called on the thread that reads the stream.
  void set_observer(LineObserver* observer) { observer_ = observer; }
  // The reports of the line events: a character outside the alphabet (message, counted as an
  // error and a warning), and the end of the data where a further line was needed (message,
  // premature-end action, the run stops).
  void report_invalid_character(char c);
  [[noreturn]] void report_premature_end(int error);

  platform::TextInput& input() { return input_; }
  int alphabet_length() const { return alphabet_length_; }
  // The alphabet character of value v (0 <= v < alphabet_length()).
  char alphabet_char(int32_t v) const { return alphabet_[v]; }
  int error_count() const { return error_count_; }

 private:
  // Reads and translates the next data line; at the end of the data ends the run.
  void next_line();
  // Reads the next line into line_ (blank padded to 80 columns); false at the end of the input.
  bool read_line();
  void translate();

  platform::TextInput& input_;
  platform::Units& units_;
  std::function<void()> premature_end_;
  LineObserver* observer_ = nullptr;

  std::array<char, kAlphabetColumns> alphabet_{};
  int alphabet_length_ = 0;
  std::array<int32_t, 256> table_{};           // value of each character code, -1 = invalid
  std::array<char, kLineColumns> line_{};      // the last line read, columns 1-80
  std::array<int32_t, kValuesPerLine> values_{};  // its translated columns 2-80
  int position_ = 0;                           // index of the next value in values_
  int error_count_ = 0;
};

}  // namespace neutral
