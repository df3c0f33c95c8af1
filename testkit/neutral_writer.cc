#include "testkit/neutral_writer.h"

#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>

namespace support {

namespace {

constexpr std::string_view kFourBlanks = "    ";

}  // namespace

NeutralWriter::NeutralWriter(std::ostream& out, std::string_view alphabet,
                             WriterOptions options)
    : out_(out), alphabet_(alphabet), options_(options) {
  if (alphabet_.empty() || alphabet_.size() > kAlphabetColumns) {
    throw std::invalid_argument("an alphabet has 1 to 64 characters");
  }
  value_of_.fill(-1);
  for (size_t i = 0; i < alphabet_.size(); ++i) {
    auto c = static_cast<unsigned char>(alphabet_[i]);
    if (value_of_[c] != -1) {
      throw std::invalid_argument("character twice in the alphabet at position " +
                                  std::to_string(i + 1));
    }
    value_of_[c] = static_cast<int>(i);
  }
  line_.assign(kLineColumns, ' ');
}

NeutralWriter::NeutralWriter(std::ostream& out, WriterOptions options)
    : NeutralWriter(out, kStandardAlphabet, options) {}

char NeutralWriter::char_of(int value) const {
  if (value < 0 || value >= static_cast<int>(alphabet_.size())) {
    throw std::invalid_argument("value " + std::to_string(value) + " is not in the alphabet");
  }
  return alphabet_[static_cast<size_t>(value)];
}

void NeutralWriter::write_line(std::string_view text) {
  out_.write(text.data(), static_cast<std::streamsize>(text.size()));
  std::string_view end = options_.crlf ? "\r\n" : "\n";
  out_.write(end.data(), static_cast<std::streamsize>(end.size()));
  bytes_written_ += static_cast<int64_t>(text.size() + end.size());
}

void NeutralWriter::header(int32_t block_size, int flag) {
  if (flag < 0 || flag > 9) throw std::invalid_argument("the flag is one digit");
  std::string line = alphabet_;
  line.resize(kAlphabetColumns, ' ');
  char number[32];
  std::snprintf(number, sizeof number, "%*d", kBlockSizeColumns, block_size);
  line += number;
  line += static_cast<char>('0' + flag);
  header_line(line);
}

void NeutralWriter::header_line(std::string_view line) {
  if (header_written_) throw std::logic_error("the header line is written once");
  write_line(line);
  header_written_ = true;
}

void NeutralWriter::require_data() const {
  if (!header_written_) throw std::logic_error("data before the header line");
  if (finished_) throw std::logic_error("data after finish()");
}

void NeutralWriter::flush_line() {
  write_line(line_);
  line_.assign(kLineColumns, ' ');
  used_ = 0;
}

void NeutralWriter::put(int value) { raw_char(char_of(value)); }

void NeutralWriter::raw_value(int value) { put(value); }

void NeutralWriter::raw_char(char c) {
  require_data();
  line_[static_cast<size_t>(1 + used_)] = c;
  ++used_;
  ++values_written_;
  if (used_ == kValuesPerLine) flush_line();
}

void NeutralWriter::raw_line(std::string_view line) {
  require_data();
  if (used_ != 0) throw std::logic_error("raw_line() needs a line start");
  write_line(line);
}

void NeutralWriter::logical(bool value) { put(value ? kCodeTrue : kCodeFalse); }

void NeutralWriter::integer(int32_t value) {
  int32_t values[neutral::kMaxIntegerValues];
  const int n = neutral::integer_values(value, values);
  for (int i = 0; i < n; ++i) put(values[i]);
}

void NeutralWriter::put_encoding(const Encoding& enc) {
  std::array<int32_t, kMaxItemValues> values{};
  int n = enc.values(values);
  for (int i = 0; i < n; ++i) put(values[static_cast<size_t>(i)]);
}

void NeutralWriter::real(float value) {
  auto enc = encode_real(value);
  if (!enc) throw std::invalid_argument("real without an exact encoding");
  put_encoding(*enc);
}

void NeutralWriter::real_all_ones() { put(kCodeRealAllOnes); }

void NeutralWriter::dbl(double value) {
  auto enc = encode_double(value);
  if (!enc) throw std::invalid_argument("double without an exact encoding");
  put_encoding(*enc);
}

void NeutralWriter::dbl_all_ones() { put(kCodeDoubleAllOnes); }

void NeutralWriter::dblx(double value) {
  auto enc = encode_double(value);
  if (!enc || enc->code == kCodeDoubleAllOnes) {
    throw std::invalid_argument("\"X \" double without an exact encoding");
  }
  enc->code = enc->code == kCodeDoubleZero ? kCodeDoubleXZero : kCodeDoubleX;
  put_encoding(*enc);
}

void NeutralWriter::chars(std::string_view four) {
  if (four.size() != 4) throw std::invalid_argument("a character item has 4 characters");
  if (four == kFourBlanks) {
    put(kCodeBlanks);
    return;
  }
  std::array<int, 4> values{};
  for (size_t i = 0; i < 4; ++i) {
    values[i] = value_of_[static_cast<unsigned char>(four[i])];
    if (values[i] < 0) {
      throw std::invalid_argument("character '" + std::string(1, four[i]) +
                                  "' is not in the alphabet");
    }
  }
  put(kCodeChars);
  for (int v : values) put(v);
}

void NeutralWriter::item(const Item& item) {
  switch (item.type) {
    case ItemType::kLogical:
      logical(item.bits != 0);
      return;
    case ItemType::kInteger:
      integer(static_cast<int32_t>(static_cast<uint32_t>(item.bits)));
      return;
    case ItemType::kReal:
      real(item.as_real());
      return;
    case ItemType::kRealAllOnes:
      real_all_ones();
      return;
    case ItemType::kDouble:
      dbl(item.as_double());
      return;
    case ItemType::kDoubleAllOnes:
      dbl_all_ones();
      return;
    case ItemType::kDoubleX:
      dblx(item.as_double());
      return;
    case ItemType::kChars:
      chars(item.text());
      return;
  }
}

void NeutralWriter::items(std::span<const Item> items) {
  for (const Item& i : items) item(i);
}

void NeutralWriter::end_mark(int value) {
  if (value < kFirstEndMark || value > kLastValue) {
    throw std::invalid_argument("end mark " + std::to_string(value) + " outside 15..63");
  }
  put(value);
}

void NeutralWriter::block_header(const Key& key, int32_t kind_code) {
  if (key.name.size() != kNameChars) throw std::invalid_argument("a block name has 8 characters");
  chars(std::string_view(key.name).substr(0, 4));
  chars(std::string_view(key.name).substr(4, 4));
  for (int32_t q : key.qualifiers) integer(q);
  integer(kind_code);
}

void NeutralWriter::ddl_block(const Key& key, int32_t version, int32_t second,
                              std::span<const DdlObject> objects,
                              std::span<const int32_t> data) {
  int64_t size = static_cast<int64_t>(objects.size()) * kDdlObjectStep +
                 static_cast<int64_t>(data.size());
  if (data.size() >= static_cast<size_t>(kDdlObjectStep) || size > INT32_MAX) {
    throw std::invalid_argument("DDL too large for its size word");
  }
  block_header(key, 0);
  integer(version);
  integer(second);
  integer(static_cast<int32_t>(size));
  for (const DdlObject& object : objects) {
    for (int32_t word : object) integer(word);
  }
  for (int32_t word : data) integer(word);
  end_mark();
}

void NeutralWriter::group(const Key& key, int32_t kind_code, std::span<const Item> body) {
  if (kind_code > 0) throw std::invalid_argument("a group has a kind code <= 0");
  block_header(key, kind_code);
  items(body);
  end_mark();
}

void NeutralWriter::single_record(const Key& key, int32_t kind_code,
                                  std::span<const Item> record) {
  KindCode code = classify(kind_code);
  if (code.kind != BlockKind::kSingleRecord) {
    throw std::invalid_argument("not a single-record kind code");
  }
  if (word_count(record) != static_cast<size_t>(code.entry_length)) {
    throw std::invalid_argument("record words differ from the kind code's length");
  }
  block_header(key, kind_code);
  items(record);
  end_mark();
}

void NeutralWriter::relation(const Key& key, int32_t kind_code,
                             std::span<const Item> entries) {
  KindCode code = classify(kind_code);
  if (code.kind != BlockKind::kRelation || code.entry_length <= 0) {
    throw std::invalid_argument("not a relation kind code");
  }
  auto length = static_cast<size_t>(code.entry_length);
  size_t word = 0;
  for (const Item& i : entries) {
    size_t next = word + static_cast<size_t>(i.word_count());
    if (word / length != (next - 1) / length) {
      throw std::invalid_argument("an item crosses the end of an entry");
    }
    word = next;
  }
  if (word % length != 0) throw std::invalid_argument("entries are not complete");
  block_header(key, kind_code);
  items(entries);
  end_mark();
}

void NeutralWriter::block(const Block& block) {
  block_header(block.key, block.kind_code);
  items(block.body);
  end_mark();
}

void NeutralWriter::finish() {
  require_data();
  if (used_ > 0) flush_line();
  if (options_.trailing_lines) {
    std::string blank(kLineColumns, ' ');
    for (int i = 0; i < kTrailingLines; ++i) write_line(blank);
  }
  finished_ = true;
  out_.flush();
  if (!out_) throw std::runtime_error("writing the neutral file failed");
}

}  // namespace support
