#include "app/progress.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <streambuf>
#include <vector>

#include "platform/terminal.h"

namespace app {

namespace {

constexpr char kClearLine[] = "\r\x1b[K";  // to the line's start, erase to its end
constexpr char kEraseRest[] = "\x1b[K";
constexpr const char* kGap = "  ";
constexpr double kMegabyte = 1e6;

std::string formatted(const char* format, double value) {
  char text[32];
  const int n = std::snprintf(text, sizeof text, format, value);
  return std::string(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

// Seconds as "m:ss", or "h:mm:ss" from an hour on.
std::string clock_time(int64_t seconds) {
  char text[32];
  const int64_t h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
  const int n = h > 0 ? std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", static_cast<long long>(h),
                                      static_cast<long long>(m), static_cast<long long>(s))
                      : std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(m),
                                      static_cast<long long>(s));
  return std::string(text, static_cast<std::size_t>(n));
}

}  // namespace

std::string progress_bytes(int64_t bytes) {
  if (bytes < 1000) return std::to_string(bytes) + " B";
  const double b = static_cast<double>(bytes);
  if (b < 1e6) return formatted("%.1f kB", b / 1e3);
  if (b < 1e9) return formatted("%.1f MB", b / 1e6);
  if (b < 1e12) return formatted("%.2f GB", b / 1e9);
  return formatted("%.2f TB", b / 1e12);
}

std::string progress_text(const ProgressState& state, int width) {
  const bool known = state.total >= 0;
  const bool timed = state.elapsed_ms >= Progress::kRateAfterMilliseconds && state.done > 0;
  const double bytes_per_second = timed ? static_cast<double>(state.done) * 1000.0 / static_cast<double>(state.elapsed_ms) : 0;

  std::vector<std::string> parts;
  parts.push_back(progress_bytes(state.done) + (known ? " of " + progress_bytes(state.total) : ""));
  if (known) {
    const int64_t percent = state.total == 0 ? 100 : std::min<int64_t>(100, state.done * 100 / state.total);
    parts.push_back(std::to_string(percent) + "%");
  }
  parts.push_back(timed ? formatted("%.1f MB/s", bytes_per_second / kMegabyte) : "-- MB/s");
  if (known) {
    const int64_t left = std::max<int64_t>(0, state.total - state.done);
    parts.push_back(timed ? clock_time(static_cast<int64_t>(std::ceil(static_cast<double>(left) / bytes_per_second))) + " left"
                          : "-:-- left");
  }

  const std::size_t room = width > 0 ? static_cast<std::size_t>(width) : 0;
  std::string text = parts[0];
  for (std::size_t i = 1; i < parts.size(); ++i) {
    if (text.size() + std::strlen(kGap) + parts[i].size() > room) break;
    text += kGap + parts[i];
  }
  if (text.size() > room) text.resize(room);
  return text;
}

bool progress_wanted(const std::optional<bool>& choice, const platform::Units& units) {
  return choice ? *choice : units.message_terminal;
}

// A guarded stream's buffer: passes every character to the stream it guards, telling the
// progress line when a line of text begins and when the stream is flushed between lines.
class Progress::Guard : public std::streambuf {
 public:
  Guard(Progress& owner, std::streambuf* target) : owner_(owner), target_(target) {}

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
  }

  std::streamsize xsputn(const char* text, std::streamsize count) override {
    std::streamsize passed = 0;
    while (passed < count) {
      if (at_line_start_) {
        at_line_start_ = false;
        owner_.line_begins();
      }
      const char* from = text + passed;
      const void* end = std::memchr(from, '\n', static_cast<std::size_t>(count - passed));
      const std::streamsize piece = end ? static_cast<const char*>(end) - from + 1 : count - passed;
      const std::streamsize put = target_->sputn(from, piece);
      passed += put;
      if (put != piece) break;
      if (end) {
        at_line_start_ = true;
        --owner_.open_lines_;
      }
    }
    return passed;
  }

  int sync() override {
    const int status = target_->pubsync();
    if (at_line_start_) owner_.lines_done();
    return status;
  }

 private:
  Progress& owner_;
  std::streambuf* target_;
  bool at_line_start_ = true;
};

Progress::Progress(platform::Units& units, Clock clock, Columns columns)
    : units_(units),
      saved_message_(units.message),
      saved_output_(units.output),
      clock_(std::move(clock)),
      columns_(std::move(columns)),
      terminal_(units.message->rdbuf()) {
  // Each guarded stream is flushed after every output operation, as standard error is, so that
  // the line comes back as soon as a line of text is complete.
  message_guard_ = std::make_unique<Guard>(*this, terminal_);
  message_stream_ = std::make_unique<std::ostream>(message_guard_.get());
  message_stream_->setf(std::ios::unitbuf);
  units_.message = message_stream_.get();
  if (units.output_terminal && units.message_terminal) {
    output_guard_ = std::make_unique<Guard>(*this, units.output->rdbuf());
    output_stream_ = std::make_unique<std::ostream>(output_guard_.get());
    output_stream_->setf(std::ios::unitbuf);
    units_.output = output_stream_.get();
  }
}

Progress::Progress(platform::Units& units)
    : Progress(
          units,
          [] {
            return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
                .count();
          },
          [] { return platform::terminal_columns(platform::StandardStream::error); }) {}

Progress::~Progress() {
  finish();
  message_stream_->flush();
  if (output_stream_) output_stream_->flush();
  units_.message = saved_message_;
  units_.output = saved_output_;
}

void Progress::start(int64_t total) {
  total_ = total;
  done_ = 0;
  started_ = clock_();
  active_ = true;
  draw(started_);
}

void Progress::advance(int64_t done) {
  done_ = done;
  if (!active_) return;
  const int64_t now = clock_();
  if (now - drawn_ >= kRedrawMilliseconds) draw(now);
}

void Progress::finish() {
  if (shown_) clear();
  active_ = false;
}

void Progress::line_begins() {
  ++open_lines_;
  if (shown_) clear();
}

void Progress::lines_done() {
  if (active_ && !shown_ && open_lines_ == 0) show();
}

void Progress::draw(int64_t now) {
  drawn_ = now;
  int width = columns_();
  if (width <= 0) width = kDefaultColumns;
  // One column is left free: a line that fills the last column makes some terminals wrap.
  text_ = progress_text({done_, total_, now - started_}, width - 1);
  if (open_lines_ == 0) show();
}

void Progress::show() {
  const std::string line = "\r" + text_ + kEraseRest;
  terminal_->sputn(line.data(), static_cast<std::streamsize>(line.size()));
  terminal_->pubsync();
  shown_ = true;
}

void Progress::clear() {
  terminal_->sputn(kClearLine, static_cast<std::streamsize>(std::strlen(kClearLine)));
  terminal_->pubsync();
  shown_ = false;
}

}  // namespace app
