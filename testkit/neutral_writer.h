#pragma once
// Writer of neutral files for tests and test data.
//
// A neutral file is plain text of 80-column lines:
//
//   line 1     columns 1-64   the alphabet; character i (from 1) stands for value i - 1
//              columns 65-79  block size, right-aligned
//              column 80      flag digit
//   line 2...  column 1       blank
//              columns 2-80   79 values, one alphabet character each
//
// The values form typed items (see neutral/item_encoding.h for the type codes) and
// the items form records closed by end marks. The file ends with the end mark
// that closes the data, the rest of its line in blanks and three lines of
// blanks, because a reader fetches the next line as soon as it has taken the
// last value of the current one.
//
// The writer streams: it holds one line at a time, so files of any size are
// written in constant memory. Misuse (values before the header, anything after
// finish(), values outside the alphabet) throws std::logic_error or
// std::invalid_argument; a failed stream throws std::runtime_error from finish().

#include <array>
#include <cstdint>
#include <ostream>
#include <span>
#include <string>
#include <string_view>

#include "neutral/writer.h"
#include "testkit/neutral_encoding.h"
#include "testkit/neutral_model.h"

namespace support {

// The standard alphabet, as the product's writer uses it.
using neutral::kStandardAlphabet;

struct WriterOptions {
  bool crlf = false;            // end lines with "\r\n" instead of "\n"
  bool trailing_lines = true;   // finish() writes the three blank lines
};

// One directory record of a DDL: packed name (two words), offset of the
// element list, entry length and object number.
using DdlObject = std::array<int32_t, kDdlObjectWords>;

class NeutralWriter {
 public:
  static constexpr int kEndMark = 47;         // the end mark writers use
  static constexpr int kAlphabetColumns = 64;
  static constexpr int kBlockSizeColumns = 15;
  static constexpr int kLineColumns = 80;
  static constexpr int kValuesPerLine = 79;
  static constexpr int kTrailingLines = 3;

  // REQUIRES: `alphabet` has 1..64 characters, none twice. `out` outlives the writer.
  explicit NeutralWriter(std::ostream& out, std::string_view alphabet = kStandardAlphabet,
                         WriterOptions options = {});
  NeutralWriter(std::ostream& out, WriterOptions options);

  NeutralWriter(const NeutralWriter&) = delete;
  NeutralWriter& operator=(const NeutralWriter&) = delete;

  // Line 1: the alphabet padded to 64 columns, the block size right-aligned in
  // columns 65-79 and the flag digit (0..9) in column 80.
  void header(int32_t block_size, int flag = 0);
  // Line 1 exactly as given (for damaged headers); a line end is added.
  void header_line(std::string_view line);

  // Items.
  void logical(bool value);
  void integer(int32_t value);
  void real(float value);         // throws std::invalid_argument if not encodable
  void real_all_ones();
  void dbl(double value);         // codes 6, 7, 12; throws if not encodable
  void dbl_all_ones();
  void dblx(double value);        // codes 13, 14; throws if not encodable
  void chars(std::string_view four);  // REQUIRES: 4 alphabet characters
  void item(const Item& item);
  void items(std::span<const Item> items);
  void end_mark(int value = kEndMark);  // REQUIRES: 15 <= value <= 63

  // Damaged data: one value, one character taken as it is (it need not be in
  // the alphabet), one whole data line taken as it is (only at a line start).
  void raw_value(int value);
  void raw_char(char c);
  void raw_line(std::string_view line);

  // Block stream. A header is the key (name as two character items, ten
  // integers) and the kind code; every helper below closes its body with an
  // end mark.
  void block_header(const Key& key, int32_t kind_code);
  // The DDL block: header with kind code 0, then V, S2, Z, the directory and
  // the data words, all as integers.
  void ddl_block(const Key& key, int32_t version, int32_t second,
                 std::span<const DdlObject> objects, std::span<const int32_t> data);
  // REQUIRES: kind_code <= 0.
  void group(const Key& key, int32_t kind_code, std::span<const Item> body);
  // REQUIRES: kind_code is a single-record code and the items fill its L words.
  void single_record(const Key& key, int32_t kind_code, std::span<const Item> record);
  // REQUIRES: kind_code is a relation code and the items fill whole entries.
  void relation(const Key& key, int32_t kind_code, std::span<const Item> entries);
  // Any block of the model: header, body, end mark.
  void block(const Block& block);
  // The end mark where a header is expected: the end of the data.
  void data_end() { end_mark(); }

  // Pads the current data line with blanks, writes the trailing lines (unless
  // the options leave them out) and flushes. Nothing may be written after it.
  void finish();

  const std::string& alphabet() const { return alphabet_; }
  char char_of(int value) const;   // REQUIRES: 0 <= value < alphabet size
  int64_t values_written() const { return values_written_; }
  int column() const { return used_; }  // values on the current data line
  int64_t bytes_written() const { return bytes_written_; }

 private:
  void require_data() const;
  void put(int value);
  void put_encoding(const Encoding& enc);
  void flush_line();
  void write_line(std::string_view text);

  std::ostream& out_;
  std::string alphabet_;
  std::array<int, 256> value_of_{};  // -1 for characters outside the alphabet
  WriterOptions options_;
  std::string line_;
  int used_ = 0;
  bool header_written_ = false;
  bool finished_ = false;
  int64_t values_written_ = 0;
  int64_t bytes_written_ = 0;
};

}  // namespace support
