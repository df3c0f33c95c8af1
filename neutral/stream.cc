#include "neutral/stream.h"

#include <cstring>
#include <ostream>
#include <string>
#include <string_view>

#include "platform/format.h"
#include "platform/stop.h"
#include "platform/syserror.h"

namespace neutral {

namespace {

constexpr int kBlockSizeFirstColumn = 65;  // columns 65-79 of line 1
constexpr int kBlockSizeColumns = 15;
constexpr int kFlagColumn = 80;

// Reads an integer field as the formatted layer does: blanks are ignored, an optional sign comes
// before the digits, an all-blank field is 0. False when the field holds anything else or the
// value does not fit a signed 32-bit word.
bool parse_integer_field(std::string_view field, int32_t& value) {
  int64_t magnitude = 0;
  bool negative = false, sign_seen = false, digit_seen = false;
  for (char c : field) {
    if (c == ' ') continue;
    if ((c == '+' || c == '-') && !sign_seen && !digit_seen) {
      sign_seen = true;
      negative = c == '-';
    } else if (c >= '0' && c <= '9') {
      digit_seen = true;
      magnitude = magnitude * 10 + (c - '0');
      if (magnitude > int64_t{1} << 31) return false;
    } else {
      return false;
    }
  }
  if (sign_seen && !digit_seen) return false;
  int64_t v = negative ? -magnitude : magnitude;
  if (v > INT32_MAX || v < INT32_MIN) return false;
  value = static_cast<int32_t>(v);
  return true;
}

// The system's text for the error of a failed read.
std::string error_text(int error) {
  char text[256];
  return std::string(text, platform::system_error_text(error, text, sizeof text));
}

}  // namespace

Stream::Stream(platform::TextInput& input, platform::Units& units) : input_(input), units_(units) {
  table_.fill(-1);
  values_.fill(0);
}

bool Stream::read_line() {
  long n = input_.read_line(line_.data(), kLineColumns);
  if (n < 0) return false;
  std::memset(line_.data() + n, ' ', kLineColumns - n);
  return true;
}

void Stream::CVTSTR(int /*mode*/, int32_t& B, int32_t& F) {
  std::ostream& out = units_.msg();
  error_count_ = 0;
  position_ = 0;

  auto fatal = [&](std::string_view detail1, std::string_view detail2 = {}) {
    out << "\n *** SYSTEM FATAL MESSAGE (CVTSTR)\n     " << detail1 << '\n';
    if (!detail2.empty()) out << "     " << detail2 << '\n';
    // An end that a read error made is not the end of the file: say so.
    if (input_.error() != 0) out << "     READ ERROR ON NEUTRAL FILE: " << error_text(input_.error()) << '\n';
    platform::stop_run();
  };

  if (!read_line()) {
    fatal("END-OF-FILE CONDITION READING TRANSLATION STRING.", "NEUTRAL FILE APPEARS TO BE EMPTY.");
  }

  // Block size and flag fields.
  std::string_view size_field(line_.data() + kBlockSizeFirstColumn - 1, kBlockSizeColumns);
  if (!parse_integer_field(size_field, B)) {
    fatal("BLOCK SIZE FIELD OF LINE 1 (COLUMNS 65-79) IS NOT A VALID INTEGER: '" +
          std::string(size_field) + "'");
  }
  char flag = line_[kFlagColumn - 1];
  if (flag == ' ') {
    F = 0;
  } else if (flag >= '0' && flag <= '9') {
    F = flag - '0';
  } else {
    fatal("FLAG FIELD OF LINE 1 (COLUMN 80) IS NOT A DIGIT: '" + std::string(1, flag) + "'");
  }

  // Alphabet and translation table.
  std::memcpy(alphabet_.data(), line_.data(), kAlphabetColumns);
  alphabet_length_ = 0;
  for (int i = kAlphabetColumns; i > 0; --i) {
    if (alphabet_[i - 1] != ' ') {
      alphabet_length_ = i;
      break;
    }
  }
  table_.fill(-1);
  for (int i = 0; i < alphabet_length_; ++i) {
    auto c = static_cast<unsigned char>(alphabet_[i]);
    if (table_[c] != -1) {
      out << "\n *** SYSTEM FATAL MESSAGE (CVTSTR)\n     ERROR SETTING UP TRANSLATION TABLE AT INDEX = "
          << platform::iw(i + 1, 3) << '\n';
      platform::stop_run();
    }
    table_[c] = i;
  }
  // Lower-case letters take the value of their upper-case form, counted from the value of "A"
  // (the alphabets of valid files carry A to Z in order). A letter whose value would fall
  // outside the alphabet is not a valid character.
  for (int k = 0; k < 26; ++k) {
    int32_t v = table_['A'] + k;
    table_['a' + k] = (v >= 0 && v < alphabet_length_) ? v : -1;
  }

  if (!read_line()) {
    fatal("END-OF-FILE CONDITION READING THE FIRST DATA LINE.",
          "NEUTRAL FILE HAS A TRANSLATION STRING BUT NO DATA.");
  }
  translate();
  position_ = 0;
}

void Stream::translate() {
  // One table look-up per column; the rare invalid character is looked for only when one of the
  // values came out negative.
  int32_t any_invalid = 0;
  for (int k = 0; k < kValuesPerLine; ++k) {
    int32_t v = table_[static_cast<unsigned char>(line_[k + 1])];
    values_[k] = v;
    any_invalid |= v;
  }
  if (any_invalid >= 0) [[likely]] return;
  for (int k = 0; k < kValuesPerLine; ++k) {
    if (values_[k] >= 0) continue;
    if (observer_) {
      observer_->invalid_character(line_[k + 1]);
    } else {
      report_invalid_character(line_[k + 1]);
    }
    values_[k] = 0;
  }
}

void Stream::report_invalid_character(char c) {
  units_.msg() << "\n *** SYSTEM INFORMATION MESSAGE LXDB (CVTGET)\n"
               << "     ERROR IN TRANSLATING DATA. CHARACTER = '" << c << "'\n";
  ++error_count_;
  ++units_.warnings;
}

void Stream::report_premature_end(int error) {
  std::ostream& out = units_.msg();
  out << "\n *** SYSTEM FATAL MESSAGE LXDB (CVTGET)\n"
      << "     NEUTRAL FILE END-OF-FILE CONDITION OCCURRED UNEXPECTEDLY.\n";
  if (error != 0) out << "     READ ERROR ON NEUTRAL FILE: " << error_text(error) << '\n';
  if (premature_end_) {
    auto action = std::move(premature_end_);
    premature_end_ = nullptr;
    action();
  }
  platform::stop_run();
}

void Stream::next_line() {
  if (!read_line()) {
    if (observer_) observer_->input_ended(input_.error());
    report_premature_end(input_.error());
  }
  translate();
  position_ = 0;
}

void Stream::CVTEND() {
  if (error_count_ != 0) {
    units_.msg() << "\n **** SYSTEM INFORMATION MESSAGE (CVTEND)\n "
                 << platform::iw(error_count_, 10) << " ERRORS OCCURED DURING TRANSMISSION PROCESS\n";
  }
  input_.close();
  error_count_ = 0;
}

}  // namespace neutral
