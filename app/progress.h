#pragma once
// The progress line: one status line kept at the bottom of a terminal while a program converts,
//
//   1.23 GB of 4.50 GB  27%  118.4 MB/s  0:28 left      (the input's size known)
//   1.23 GB  118.4 MB/s                                 (standard input of unknown size)
//
// drawn again at most kRedrawMilliseconds apart. Lines of text keep their place above it: while
// the line is shown, the run's message unit (and a terminal output unit) is a guarded stream
// that clears the line ("\r", erase to the end of the line) before the first character of each
// line of text and draws it again once the line is complete, so the text on the screen is what
// it would be without the progress line. The line is cleared when the run ends: what stays on
// the screen is exactly the run's text, as a log of it would hold it.
//
// Without a progress line the units are left as they are, the very same streams: a run whose
// standard error is no terminal writes byte for byte what it wrote before there was a line.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "platform/units.h"

namespace app {

// What the line tells at one moment.
struct ProgressState {
  int64_t done = 0;         // bytes
  int64_t total = -1;       // bytes; -1 when unknown
  int64_t elapsed_ms = 0;   // since the line was started
};

// Bytes in decimal units: "999 B", "12.3 kB", "456.7 MB", "1.23 GB", "4.56 TB".
std::string progress_bytes(int64_t bytes);

// The text of the line, at most `width` characters: bytes done (and " of " the total), percent,
// rate in MB/s and time left, two blanks apart; percent and time left only with a known total.
// The rate and time left read "--" until kRateAfterMilliseconds have passed. Parts that do not
// fit are left out from the end; a first part wider than `width` is cut.
std::string progress_text(const ProgressState& state, int width);

// Whether a run shows the line: `choice` is the user's progress=yes/no, when given; without it,
// when the message unit is a terminal.
bool progress_wanted(const std::optional<bool>& choice, const platform::Units& units);

class Progress {
 public:
  using Clock = std::function<int64_t()>;  // a monotonic clock in milliseconds
  using Columns = std::function<int()>;    // the terminal's columns now; 0 when unknown
  static constexpr int64_t kRedrawMilliseconds = 100;
  static constexpr int64_t kRateAfterMilliseconds = 500;
  static constexpr int kDefaultColumns = 80;

  // Guards the run's message unit (and its output unit when that is a terminal: a trace on the
  // same screen) until the object goes. The line itself appears at start().
  Progress(platform::Units& units, Clock clock, Columns columns);
  // With the steady clock and the width of the terminal on standard error.
  explicit Progress(platform::Units& units);
  // Clears the line and gives the units their streams back.
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Shows the line for work of `total` bytes (-1: unknown), drawing it at once.
  void start(int64_t total);
  // `done` bytes are done: the line is drawn again when kRedrawMilliseconds have passed since
  // it last was. Cheap enough to call for every batch or data block (one clock reading).
  void advance(int64_t done);
  // Clears the line for good.
  void finish();

 private:
  class Guard;
  friend class Guard;

  void line_begins();  // a guarded stream starts a line of text: the status line goes
  void lines_done();   // a guarded stream has flushed at the start of a line: the line comes back
  void draw(int64_t now);
  void show();
  void clear();

  platform::Units& units_;
  std::ostream* saved_message_;
  std::ostream* saved_output_;
  Clock clock_;
  Columns columns_;
  std::streambuf* terminal_;  // where the line is drawn: the message unit's own buffer
  std::unique_ptr<Guard> message_guard_, output_guard_;
  std::unique_ptr<std::ostream> message_stream_, output_stream_;

  bool active_ = false;  // between start() and finish()
  bool shown_ = false;   // the line stands on the screen now
  int open_lines_ = 0;   // guarded streams in the middle of a line
  int64_t total_ = -1, done_ = 0, started_ = 0, drawn_ = 0;
  std::string text_;
};

}  // namespace app
