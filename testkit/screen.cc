#include "testkit/screen.h"

namespace support {

void Screen::feed(std::string_view bytes) {
  for (const char c : bytes) {
    if (!pending_.empty()) {
      pending_ += c;
      if (pending_.size() == 2) {
        if (c != '[') {
          ++unknown_;
          pending_.clear();
        }
        continue;
      }
      if (c < '@' || c > '~') continue;  // a parameter byte: the sequence goes on
      if (pending_ == "\x1b[K") {
        if (lines_.back().size() > column_) lines_.back().resize(column_);
      } else {
        ++unknown_;
      }
      pending_.clear();
      continue;
    }
    switch (c) {
      case '\x1b': pending_ = "\x1b"; break;
      case '\r': column_ = 0; break;
      case '\n':
        lines_.emplace_back();
        column_ = 0;
        break;
      default: {
        std::string& line = lines_.back();
        if (line.size() < column_) line.resize(column_, ' ');
        if (column_ < line.size()) {
          line[column_] = c;
        } else {
          line += c;
        }
        ++column_;
      }
    }
  }
}

std::string Screen::text() const {
  std::string all;
  for (std::size_t i = 0; i + 1 < lines_.size(); ++i) all += lines_[i] + '\n';
  return all + lines_.back();
}

int occurrences(std::string_view bytes, std::string_view text) {
  int n = 0;
  for (std::size_t at = bytes.find(text); at != std::string_view::npos; at = bytes.find(text, at + text.size())) ++n;
  return n;
}

}  // namespace support
