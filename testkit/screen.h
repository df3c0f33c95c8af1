#pragma once
// What a terminal shows of the bytes written to it: enough of a terminal to read back a run that
// drew a progress line. It knows the carriage return, the line feed (which also returns, as a
// terminal's output processing makes it), erase to the end of the line (ESC [ K) and printable
// characters, which overwrite what stands under the cursor. Any other control sequence is
// counted as unknown, so a test can require that a program wrote none.

#include <string>
#include <string_view>
#include <vector>

namespace support {

class Screen {
 public:
  void feed(std::string_view bytes);

  // Every line that was ended, each with its "\n", then the line the cursor stands on (empty
  // when the last thing written ended a line or was erased).
  std::string text() const;
  // The line the cursor stands on.
  const std::string& current_line() const { return lines_.back(); }
  int unknown_sequences() const { return unknown_; }

 private:
  std::vector<std::string> lines_{std::string()};
  std::size_t column_ = 0;
  int unknown_ = 0;
  std::string pending_;  // an escape sequence not yet complete
};

// Counts the times `text` occurs in `bytes`.
int occurrences(std::string_view bytes, std::string_view text);

}  // namespace support
