#include "testkit/neutral_writer.h"

#include <gtest/gtest.h>

#include <bit>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace support {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The values of the data lines (columns 2-80 of every line after line 1),
// translated back through the standard alphabet.
std::vector<int> data_values(const std::string& text) {
  std::vector<int> values;
  auto lines = lines_of(text);
  for (size_t i = 1; i < lines.size(); ++i) {
    for (size_t col = 1; col < lines[i].size(); ++col) {
      values.push_back(static_cast<int>(kStandardAlphabet.find(lines[i][col])));
    }
  }
  return values;
}

// Values of the items written by `write`, up to the padding.
template <typename Write>
std::vector<int> item_values(Write write) {
  std::ostringstream out;
  NeutralWriter writer(out);
  writer.header(1024);
  write(writer);
  int64_t n = writer.values_written();
  writer.finish();
  auto values = data_values(out.str());
  values.resize(static_cast<size_t>(n));
  return values;
}

TEST(NeutralWriterTest, HeaderLineHasAlphabetBlockSizeAndFlagInTheirColumns) {
  std::ostringstream out;
  NeutralWriter writer(out, "ABC");
  writer.header(-4096, 7);
  writer.finish();
  std::string line = lines_of(out.str()).at(0);
  ASSERT_EQ(line.size(), 80u);
  EXPECT_EQ(line.substr(0, 64), "ABC" + std::string(61, ' '));
  EXPECT_EQ(line.substr(64, 15), std::string(10, ' ') + "-4096");
  EXPECT_EQ(line[79], '7');

  std::ostringstream standard;
  NeutralWriter plain(standard);
  plain.header(1024);
  plain.finish();
  EXPECT_EQ(lines_of(standard.str()).at(0),
            std::string(kStandardAlphabet) + std::string(11, ' ') + "10240");
  EXPECT_EQ(plain.char_of(NeutralWriter::kEndMark), '=');
  EXPECT_EQ(plain.char_of(36), ' ');
}

struct IntegerCase {
  int32_t value;
  std::vector<int> values;
};

class WriterIntegerTest : public ::testing::TestWithParam<IntegerCase> {};

TEST_P(WriterIntegerTest, UsesTheFewestDigits) {
  const IntegerCase& c = GetParam();
  EXPECT_EQ(item_values([&](NeutralWriter& w) { w.integer(c.value); }), c.values);
}

INSTANTIATE_TEST_SUITE_P(
    Values, WriterIntegerTest,
    ::testing::Values(IntegerCase{37, {3, 2, 1, 5}}, IntegerCase{-37, {3, 18, 1, 5}},
                      IntegerCase{0, {2}}, IntegerCase{-1, {10}}, IntegerCase{-2, {3, 17, 2}},
                      IntegerCase{31, {3, 1, 31}}, IntegerCase{32, {3, 2, 1, 0}},
                      IntegerCase{std::numeric_limits<int32_t>::max(),
                                  {3, 7, 1, 31, 31, 31, 31, 31, 31}},
                      IntegerCase{std::numeric_limits<int32_t>::min(),
                                  {3, 23, 2, 0, 0, 0, 0, 0, 0}}));

TEST(NeutralWriterTest, OneValueItemsAndCharacters) {
  EXPECT_EQ(item_values([](NeutralWriter& w) {
              w.logical(true);
              w.logical(false);
              w.real(0.0f);
              w.real_all_ones();
              w.dbl(0.0);
              w.dbl_all_ones();
              w.dblx(0.0);
              w.chars("    ");
              w.chars("AB C");
              w.end_mark();
              w.end_mark(15);
            }),
            (std::vector<int>{0, 1, 4, 11, 6, 12, 13, 8, 9, 0, 1, 36, 2, 47, 15}));

  auto x = item_values([](NeutralWriter& w) { w.dblx(1.5); });
  auto d = item_values([](NeutralWriter& w) { w.dbl(1.5); });
  ASSERT_EQ(x.size(), 17u);
  EXPECT_EQ(x[0], kCodeDoubleX);
  EXPECT_EQ(d[0], kCodeDouble);
  EXPECT_TRUE(std::equal(x.begin() + 1, x.end(), d.begin() + 1));
}

TEST(NeutralWriterTest, RefusesWhatTheFormatCannotCarry) {
  std::ostringstream out;
  NeutralWriter w(out);
  EXPECT_THROW(w.integer(1), std::logic_error);  // before the header
  w.header(0);
  EXPECT_THROW(w.header(0), std::logic_error);
  EXPECT_THROW(w.real(-0.0f), std::invalid_argument);
  EXPECT_THROW(w.real(std::numeric_limits<float>::quiet_NaN()), std::invalid_argument);
  EXPECT_THROW(w.dbl(-0.0), std::invalid_argument);
  EXPECT_THROW(w.dblx(std::bit_cast<double>(~uint64_t{0})), std::invalid_argument);
  EXPECT_THROW(w.chars("abcd"), std::invalid_argument);  // not in the alphabet
  EXPECT_THROW(w.chars("ABC"), std::invalid_argument);
  EXPECT_THROW(w.end_mark(14), std::invalid_argument);
  EXPECT_THROW(w.raw_value(64), std::invalid_argument);
  EXPECT_EQ(w.values_written(), 0);  // nothing half-written
  w.finish();
  EXPECT_THROW(w.integer(1), std::logic_error);
  EXPECT_THROW(NeutralWriter(out, "ABA"), std::invalid_argument);
}

TEST(NeutralWriterTest, DataLinesWrapAfter79ValuesAndFinishPads) {
  std::ostringstream out;
  NeutralWriter w(out);
  w.header(1024);
  const int64_t header_bytes = w.bytes_written();
  for (int i = 0; i < 79; ++i) w.raw_value(i % 64);
  // A full line goes out at once, so a reader can take its last value.
  EXPECT_EQ(w.bytes_written(), header_bytes + 81);
  EXPECT_EQ(w.column(), 0);
  w.integer(37);
  w.finish();

  auto lines = lines_of(out.str());
  ASSERT_EQ(lines.size(), 1u + 2u + 3u);
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_EQ(lines[i].size(), 80u) << i;
    EXPECT_EQ(lines[i][0], ' ') << i;
  }
  EXPECT_EQ(lines[1][1], 'A');
  EXPECT_EQ(lines[1][79], kStandardAlphabet[78 % 64]);
  EXPECT_EQ(lines[2].substr(0, 5), " DCBF");
  EXPECT_EQ(lines[2].substr(5), std::string(75, ' '));
  for (size_t i = 3; i < lines.size(); ++i) EXPECT_EQ(lines[i], std::string(80, ' '));
  EXPECT_EQ(w.bytes_written(), static_cast<int64_t>(out.str().size()));
}

TEST(NeutralWriterTest, FinishAfterAFullLineAddsOnlyTheTrailingLines) {
  std::ostringstream out;
  NeutralWriter w(out);
  w.header(1024);
  for (int i = 0; i < 79; ++i) w.raw_value(0);
  w.finish();
  EXPECT_EQ(lines_of(out.str()).size(), 1u + 1u + 3u);
}

TEST(NeutralWriterTest, LineEndsAndTrailingLinesFollowTheOptions) {
  std::ostringstream crlf;
  NeutralWriter a(crlf, WriterOptions{.crlf = true});
  a.header(1024);
  a.end_mark();
  a.finish();
  EXPECT_EQ(crlf.str().size(), 5u * 82u);
  for (const std::string& line : lines_of(crlf.str())) {
    ASSERT_EQ(line.size(), 81u);
    EXPECT_EQ(line.back(), '\r');
  }

  std::ostringstream cut;
  NeutralWriter b(cut, WriterOptions{.trailing_lines = false});
  b.header(1024);
  b.end_mark();
  b.finish();
  EXPECT_EQ(lines_of(cut.str()).size(), 2u);
}

TEST(NeutralWriterTest, RawPiecesGoOutAsGiven) {
  std::ostringstream out;
  NeutralWriter w(out);
  w.header_line("AB");
  w.raw_line(" short");
  w.raw_char('a');
  EXPECT_THROW(w.raw_line("x"), std::logic_error);  // not at a line start
  w.finish();
  auto lines = lines_of(out.str());
  EXPECT_EQ(lines.at(0), "AB");
  EXPECT_EQ(lines.at(1), " short");
  EXPECT_EQ(lines.at(2), " a" + std::string(78, ' '));
}

TEST(NeutralWriterTest, BlockHeaderIsNameQualifiersAndKindCode) {
  Key key;
  key.name = "AB CDEFG";
  key.qualifiers = {37, -37, 0, -1, 0, 0, 0, 0, 0, 1};
  EXPECT_EQ(item_values([&](NeutralWriter& w) { w.block_header(key, 24); }),
            (std::vector<int>{9, 0, 1, 36, 2, 9, 3, 4, 5, 6, 3, 2, 1, 5, 3, 18, 1, 5, 2, 10,
                              2, 2, 2, 2, 2, 3, 1, 1, 3, 1, 24}));
}

TEST(NeutralWriterTest, BlockHelpersCheckTheirBodies) {
  Key key;
  key.name = "BLOCK   ";
  std::ostringstream out;
  NeutralWriter w(out);
  w.header(1024);
  const std::vector<Item> two_entries = {Item::integer(1), Item::dbl(1.5), Item::integer(2),
                                         Item::dbl(2.5)};
  EXPECT_NO_THROW(w.relation(key, 3, two_entries));
  EXPECT_NO_THROW(w.relation(key, 30003, two_entries));
  // An entry cut short, and a double across the end of an entry.
  EXPECT_THROW(w.relation(key, 3, std::span(two_entries).first(3)), std::invalid_argument);
  EXPECT_THROW(w.relation(key, 2, two_entries), std::invalid_argument);
  EXPECT_THROW(w.relation(key, 100003, two_entries), std::invalid_argument);
  EXPECT_NO_THROW(w.single_record(key, 100006, two_entries));
  EXPECT_THROW(w.single_record(key, 100005, two_entries), std::invalid_argument);
  EXPECT_THROW(w.group(key, 1, two_entries), std::invalid_argument);
  EXPECT_NO_THROW(w.group(key, -5, two_entries));
}

TEST(NeutralWriterTest, DdlBlockCarriesSizesDirectoryAndData) {
  Key key;
  key.name = std::string(kDdlName);
  const DdlObject objects[] = {{1, 2, 13, 4, 1}, {5, 6, 14, 8, 2}};
  const int32_t data[] = {402, 802};
  auto values = item_values([&](NeutralWriter& w) {
    w.ddl_block(key, 20120, 0, objects, data);
  });
  // The header: two character items of 5 values, eleven zeros of 1 value.
  std::vector<int> body(values.begin() + 21, values.end());
  // V = 20120, S2 = 0, Z = 200002, ..., end mark.
  EXPECT_EQ(std::vector<int>(body.begin(), body.begin() + 6),
            (std::vector<int>{3, 3, 19, 20, 24, 2}));
  EXPECT_EQ(body.back(), NeutralWriter::kEndMark);
  int32_t z = 0;
  for (int i = 0; i < 4; ++i) z = (z << 5) | body[static_cast<size_t>(8 + i)];
  EXPECT_EQ(body[7], 4);  // four digits
  EXPECT_EQ(z, 200002);
}

}  // namespace
}  // namespace support
