// The writer of neutral files, judged by the reader: whatever words it is given come back bit for
// bit from CVTREC, in the shortest item that carries them (integer items where no typed item can);
// its lines are 80 columns and LF; line 1 and the end of the file are laid out as the reader needs.

#include "neutral/writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "neutral/item_encoding.h"
#include "neutral/items.h"
#include "neutral/stream.h"
#include "testkit/block_generator.h"
#include "testkit/neutral_encoding.h"
#include "testkit/neutral_writer.h"
#include "tests/neutral/text_reader.h"
#include "tests/neutral/value_lines.h"

namespace {

using neutral::Writer;
using testing_neutral::concat;
using testing_neutral::digits;

constexpr std::size_t kLineBytes = neutral::kLineColumns + 1;
const std::string kBlankLine = std::string(neutral::kLineColumns, ' ') + "\n";

struct StringSink : neutral::ByteSink {
  void put(const char* data, std::size_t bytes) override {
    text.append(data, bytes);
    sizes.push_back(bytes);
  }
  std::string text;
  std::vector<std::size_t> sizes;  // of every put
};

using Reader = testing_neutral::TextReader;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    if (end == std::string::npos) {
      lines.push_back(text.substr(at));
      break;
    }
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

// The values `write` puts on the data lines, before finish() pads them.
std::vector<int32_t> item_values(const std::function<void(Writer&)>& write) {
  StringSink sink;
  Writer writer(sink);
  writer.header(1024, 0);
  write(writer);
  writer.flush();
  std::vector<int32_t> values;
  const auto lines = lines_of(sink.text);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    for (std::size_t col = 1; col < lines[i].size(); ++col) {
      values.push_back(static_cast<int32_t>(neutral::kStandardAlphabet.find(lines[i][col])));
    }
  }
  return values;
}

int32_t word_of(std::string_view four) {
  int32_t word;
  std::memcpy(&word, four.data(), sizeof word);
  return word;
}
int32_t bits_of(float value) { return std::bit_cast<int32_t>(value); }
int32_t low_of(double value) { return static_cast<int32_t>(static_cast<uint32_t>(std::bit_cast<uint64_t>(value))); }
int32_t high_of(double value) {
  return static_cast<int32_t>(static_cast<uint32_t>(std::bit_cast<uint64_t>(value) >> 32));
}

TEST(WriterHeader, HoldsAlphabetBlockSizeAndFlagInTheirColumns) {
  for (int32_t block_size : {-4096, 0, 1024, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
    StringSink sink;
    Writer writer(sink);
    writer.header(block_size, 7);
    writer.finish();
    const std::string size = std::to_string(block_size);
    const std::string line = sink.text.substr(0, kLineBytes);
    EXPECT_EQ(line, std::string(neutral::kStandardAlphabet) + std::string(15 - size.size(), ' ') + size + "7\n");
    EXPECT_EQ(sink.text.substr(kLineBytes), kBlankLine + kBlankLine + kBlankLine);

    Reader reader(sink.text);
    EXPECT_EQ(reader.block_size, block_size);
    EXPECT_EQ(reader.flag, 7);
    EXPECT_EQ(reader.stream.alphabet_length(), 64);
    EXPECT_EQ(reader.messages.str(), "");
  }
}

TEST(WriterHeader, RefusesAFlagOfTwoDigitsAndASecondHeader) {
  StringSink sink;
  Writer writer(sink);
  EXPECT_THROW(writer.header(0, 10), std::invalid_argument);
  EXPECT_THROW(writer.header(0, -1), std::invalid_argument);
  writer.header(0, 0);
  EXPECT_THROW(writer.header(0, 0), std::logic_error);
  EXPECT_THROW(writer.value(64), std::invalid_argument);
  EXPECT_THROW(writer.value(-1), std::invalid_argument);
  EXPECT_EQ(writer.bytes_written(), static_cast<int64_t>(kLineBytes));
}

struct FormCase {
  const char* name;
  std::function<void(Writer&)> write;
  std::vector<int32_t> values;
};
void PrintTo(const FormCase& c, std::ostream* os) { *os << c.name; }

class WriterForms : public ::testing::TestWithParam<FormCase> {};

TEST_P(WriterForms, WritesTheShortestItemThatCarriesTheBits) {
  EXPECT_EQ(item_values(GetParam().write), GetParam().values);
}

const std::vector<int32_t> kInt32Min = {3, 23, 2, 0, 0, 0, 0, 0, 0};
const std::vector<int32_t> kDecimalPayload = {0, 1, 0, 0, 14, 9, 24, 14, 0, 0, 0, 0, 0, 0, 0, 0};  // 1.5

INSTANTIATE_TEST_SUITE_P(
    Items, WriterForms,
    ::testing::Values(
        FormCase{"IntegerZero", [](Writer& w) { w.integer(0); }, {2}},
        FormCase{"IntegerMinusOne", [](Writer& w) { w.integer(-1); }, {10}},
        FormCase{"IntegerOneDigit", [](Writer& w) { w.integer(-31); }, {3, 17, 31}},
        FormCase{"IntegerMin", [](Writer& w) { w.integer(std::numeric_limits<int32_t>::min()); }, kInt32Min},
        FormCase{"LogicalTrue", [](Writer& w) { w.logical(-1); }, {0}},
        FormCase{"LogicalFalse", [](Writer& w) { w.logical(0); }, {1}},
        FormCase{"LogicalOtherWordIsInteger", [](Writer& w) { w.logical(1); }, {3, 1, 1}},
        FormCase{"RealZero", [](Writer& w) { w.real(0); }, {4}},
        FormCase{"RealAllOnes", [](Writer& w) { w.real(-1); }, {11}},
        FormCase{"RealDecimal", [](Writer& w) { w.real(bits_of(1.2345678f)); }, {5, 0, 1, 0, 0, 11, 24, 24, 10, 14}},
        FormCase{"RealMinusZeroIsInteger", [](Writer& w) { w.real(bits_of(-0.0f)); }, kInt32Min},
        FormCase{"RealNanIsInteger", [](Writer& w) { w.real(0x7FC00000); }, concat({{3, 7}, digits(0x7FC00000, 7)})},
        FormCase{"RealWithoutEncodingIsInteger", [](Writer& w) { w.real(bits_of(0x1.f2612cp-33f)); },
                 concat({{3, 6}, digits(0x2F793096, 6)})},
        FormCase{"DoubleZero", [](Writer& w) { w.double_pair(0, 0, false); }, {6}},
        FormCase{"DoubleXZero", [](Writer& w) { w.double_pair(0, 0, true); }, {13}},
        FormCase{"DoubleAllOnes", [](Writer& w) { w.double_pair(-1, -1, false); }, {12}},
        FormCase{"DoubleXAllOnes", [](Writer& w) { w.double_pair(-1, -1, true); }, {12}},
        FormCase{"DoubleDecimal", [](Writer& w) { w.double_pair(low_of(1.5), high_of(1.5), false); },
                 concat({{7}, kDecimalPayload})},
        FormCase{"DoubleXDecimal", [](Writer& w) { w.double_pair(low_of(1.5), high_of(1.5), true); },
                 concat({{14}, kDecimalPayload})},
        FormCase{"DoubleNanIsTwoIntegersLowWordFirst", [](Writer& w) { w.double_pair(0, 0x7FF80000, false); },
                 concat({{2, 3, 7}, digits(0x7FF80000, 7)})},
        FormCase{"DoubleMinusZeroIsTwoIntegers", [](Writer& w) { w.double_pair(low_of(-0.0), high_of(-0.0), true); },
                 concat({{2}, kInt32Min})},
        FormCase{"DoubleSubnormalIsTwoIntegers", [](Writer& w) { w.double_pair(5, 0, false); }, {3, 1, 5, 2}},
        FormCase{"DoubleHalfOnesIsTwoIntegers", [](Writer& w) { w.double_pair(-1, 0, false); }, {10, 2}},
        FormCase{"CharactersBlanks", [](Writer& w) { w.characters(0x20202020); }, {8}},
        FormCase{"CharactersInStorageOrder", [](Writer& w) { w.characters(word_of("AB C")); }, {9, 0, 1, 36, 2}},
        FormCase{"CharactersPunctuation", [](Writer& w) { w.characters(word_of("|=\"$")); }, {9, 63, 47, 48, 37}},
        FormCase{"CharactersLowerCaseAreInteger", [](Writer& w) { w.characters(word_of("Abcd")); },
                 concat({{3, 7}, digits(static_cast<uint32_t>(word_of("Abcd")), 7)})},
        FormCase{"CharactersWithNulAreInteger", [](Writer& w) { w.characters(word_of(std::string_view("AB\0D", 4))); },
                 concat({{3, 7}, digits(static_cast<uint32_t>(word_of(std::string_view("AB\0D", 4))), 7)})},
        FormCase{"EndMark", [](Writer& w) { w.end_mark(); }, {47}},
        FormCase{"RawValue", [](Writer& w) { w.value(63); }, {63}}),
    [](const auto& info) { return std::string(info.param.name); });

// Random words of one type, written with end marks between runs of them, come back from CVTREC
// bit for bit; and each item is of the family the writer must choose (the typed item when it
// carries the bits exactly, else integers), which the reader's decoders of one family tell.
enum class Kind { kInteger, kLogical, kReal, kDouble, kDoubleX, kCharacters };

struct KindCase {
  const char* name;
  Kind kind;
};
void PrintTo(const KindCase& c, std::ostream* os) { *os << c.name; }

struct Word {
  int32_t w[2];
};

class RandomWords {
 public:
  explicit RandomWords(uint64_t seed) : rng_(seed) {}

  Word next(Kind kind) {
    switch (kind) {
      case Kind::kInteger: return {integer(), 0};
      case Kind::kLogical: return {pick(4) < 3 ? -static_cast<int32_t>(pick(2)) : integer(), 0};
      case Kind::kReal: return {real(), 0};
      case Kind::kDouble:
      case Kind::kDoubleX: return double_pair();
      case Kind::kCharacters: return {characters(), 0};
    }
    return {};
  }

 private:
  uint32_t pick(uint32_t n) { return static_cast<uint32_t>(rng_() % n); }
  int32_t bits32() { return static_cast<int32_t>(static_cast<uint32_t>(rng_())); }

  int32_t integer() {
    const int32_t special[] = {0, -1, 1, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()};
    switch (pick(4)) {
      case 0: return special[pick(5)];
      case 1: return static_cast<int32_t>(pick(200)) - 100;
      case 2: return static_cast<int32_t>(static_cast<uint32_t>(rng_()) >> pick(32));
      default: return bits32();
    }
  }

  int32_t real() {
    const uint32_t special[] = {0u, 0xFFFFFFFFu, 0x80000000u, 0x7FC00000u, 0xFFC00000u, 0x7F800001u, 0x7F800000u,
                                0xFF800000u, 0x00000001u, 0x807FFFFFu, 0x2F793096u, 0x7F7FFFFFu, 0xFFFFFFFEu};
    switch (pick(3)) {
      case 0: return static_cast<int32_t>(special[pick(std::size(special))]);
      case 1: {  // a decimal value as a writer of decimal data has it
        const auto x = static_cast<int>(pick(41)) - 20;
        const bool negative = pick(2) != 0;
        const auto m = static_cast<int32_t>(1 + pick(99999999));
        return bits_of(support::decode_real(neutral::make_encoding(neutral::kCodeReal, x, negative, m)));
      }
      default: return bits32();
    }
  }

  Word double_pair() {
    const double special[] = {0.0, -0.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
                              -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::denorm_min(),
                              1e200, 1e-200, 1e96, 1e-90, std::bit_cast<double>(~uint64_t{0}),
                              std::bit_cast<double>(~uint64_t{0} - 1)};
    double value;
    switch (pick(4)) {
      case 0: value = special[pick(std::size(special))]; break;
      case 1: {
        const auto x = static_cast<int>(pick(61)) - 30;
        const bool negative = pick(2) != 0;
        const auto m1 = static_cast<int32_t>(10000000 + pick(90000000));
        const auto m2 = static_cast<int32_t>(pick(10000000));
        value = support::decode_double(neutral::make_encoding(neutral::kCodeDouble, x, negative, m1, m2));
        break;
      }
      case 2: value = std::pow(10.0, -90.0 + 180.0 * static_cast<double>(pick(1u << 30)) * 0x1p-30); break;
      default: value = std::bit_cast<double>(rng_()); break;
    }
    return {low_of(value), high_of(value)};
  }

  int32_t characters() {
    char text[4];
    const uint32_t shape = pick(5);
    for (char& c : text) {
      switch (shape) {
        case 0: c = ' '; break;
        case 1: c = static_cast<char>(rng_()); break;                           // any byte
        case 2: c = pick(4) ? neutral::kStandardAlphabet[pick(64)] : static_cast<char>('a' + pick(26)); break;
        default: c = neutral::kStandardAlphabet[pick(64)]; break;
      }
    }
    return word_of(std::string_view(text, 4));
  }

  std::mt19937_64 rng_;
};

bool has_item_of_its_type(Kind kind, Word word) {
  const auto low = static_cast<uint32_t>(word.w[0]);
  const uint64_t pair = low | uint64_t{static_cast<uint32_t>(word.w[1])} << 32;
  switch (kind) {
    case Kind::kInteger: return true;
    case Kind::kLogical: return word.w[0] == 0 || word.w[0] == -1;
    case Kind::kReal: {
      const auto value = std::bit_cast<float>(low);
      return low == 0 || low == 0xFFFFFFFFu || (!std::isnan(value) && neutral::encode_real(value));
    }
    case Kind::kDouble:
    case Kind::kDoubleX: {
      const auto value = std::bit_cast<double>(pair);
      return pair == 0 || pair == ~uint64_t{0} || (!std::isnan(value) && neutral::encode_double(value));
    }
    case Kind::kCharacters: {
      char text[4];
      std::memcpy(text, &word.w[0], 4);
      for (char c : text) {
        if (neutral::kStandardAlphabet.find(c) == std::string_view::npos) return false;
      }
      return true;
    }
  }
  return false;
}

void write_word(Writer& writer, Kind kind, Word word) {
  switch (kind) {
    case Kind::kInteger: writer.integer(word.w[0]); break;
    case Kind::kLogical: writer.logical(word.w[0]); break;
    case Kind::kReal: writer.real(word.w[0]); break;
    case Kind::kDouble: writer.double_pair(word.w[0], word.w[1], false); break;
    case Kind::kDoubleX: writer.double_pair(word.w[0], word.w[1], true); break;
    case Kind::kCharacters: writer.characters(word.w[0]); break;
  }
}

// The decoder of the family a word's item must belong to: its type's, or integers.
int decode_as_written(neutral::Stream& s, Kind kind, Word word, int32_t* out, int& ndone) {
  const bool typed = has_item_of_its_type(kind, word);
  const bool all_ones = word.w[0] == -1 && word.w[1] == -1;
  switch (typed ? kind : Kind::kInteger) {
    case Kind::kInteger: return neutral::CVTINT(s, kind == Kind::kDouble || kind == Kind::kDoubleX ? 2 : 1, out, ndone);
    case Kind::kLogical: return neutral::CVTLOG(s, 1, out, ndone);
    case Kind::kReal: return neutral::CVTREA(s, 1, out, ndone);
    case Kind::kDouble: return neutral::CVTDBL(s, 1, out, ndone);
    // All bits set have no item of the "X " family: the writer uses the one of the "D " family.
    case Kind::kDoubleX: return all_ones ? neutral::CVTDBL(s, 1, out, ndone) : neutral::CVTDBX(s, 1, out, ndone);
    case Kind::kCharacters: return neutral::CVTCHR(s, 1, out, ndone);
  }
  return -1;
}

class WriterRoundTrip : public ::testing::TestWithParam<KindCase> {};

TEST_P(WriterRoundTrip, RandomWordsReadBackBitForBitInTheirFamily) {
  const Kind kind = GetParam().kind;
  const bool two_words = kind == Kind::kDouble || kind == Kind::kDoubleX;
  constexpr int kWords = 4000;
  constexpr int kWordsPerRecord = 37;
  RandomWords random(static_cast<uint64_t>(kind) + 100);
  std::vector<Word> words;
  for (int i = 0; i < kWords; ++i) words.push_back(random.next(kind));

  StringSink sink;
  Writer writer(sink);
  writer.header(512, 0);
  int typed = 0;
  for (int i = 0; i < kWords; ++i) {
    write_word(writer, kind, words[static_cast<std::size_t>(i)]);
    typed += has_item_of_its_type(kind, words[static_cast<std::size_t>(i)]) ? 1 : 0;
    if (i % kWordsPerRecord == kWordsPerRecord - 1 || i == kWords - 1) writer.end_mark();
  }
  writer.finish();
  // Both kinds of item occur (for integers: every word is typed).
  EXPECT_GT(typed, kWords / 4);
  if (kind != Kind::kInteger) {
    EXPECT_LT(typed, kWords);
  }

  // Whole records through CVTREC.
  Reader records(sink.text);
  for (int first = 0; first < kWords; first += kWordsPerRecord) {
    std::vector<int32_t> expected;
    for (int i = first; i < std::min(first + kWordsPerRecord, kWords); ++i) {
      expected.push_back(words[static_cast<std::size_t>(i)].w[0]);
      if (two_words) expected.push_back(words[static_cast<std::size_t>(i)].w[1]);
    }
    int result = -1;
    ASSERT_EQ(records.record(2 * kWordsPerRecord + 2, &result), expected) << "record from word " << first;
    EXPECT_EQ(result, neutral::kEnded);
  }
  EXPECT_EQ(records.messages.str(), "");

  // Item by item through the decoders of one family.
  Reader items(sink.text);
  for (int i = 0; i < kWords; ++i) {
    const Word word = words[static_cast<std::size_t>(i)];
    int32_t out[2] = {0, 0};
    int ndone = 0;
    ASSERT_EQ(decode_as_written(items.stream, kind, word, out, ndone), neutral::kFilled) << "word " << i;
    EXPECT_EQ(out[0], word.w[0]) << "word " << i;
    if (two_words) {
      EXPECT_EQ(out[1], word.w[1]) << "word " << i;
    }
    if (i % kWordsPerRecord == kWordsPerRecord - 1 || i == kWords - 1) {
      ASSERT_EQ(items.stream.peek(), Writer::kEndMark);
      items.stream.skip();
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Types, WriterRoundTrip,
                         ::testing::Values(KindCase{"Integer", Kind::kInteger}, KindCase{"Logical", Kind::kLogical},
                                           KindCase{"Real", Kind::kReal}, KindCase{"Double", Kind::kDouble},
                                           KindCase{"DoubleX", Kind::kDoubleX},
                                           KindCase{"Characters", Kind::kCharacters}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WriterLines, AreEightyColumnsAndLfAndHandedOverInBuffers) {
  // Enough integers for more than one buffer; one double across every line end it meets.
  std::mt19937 rng(5);
  std::vector<int32_t> expected;
  StringSink sink;
  Writer writer(sink);
  writer.header(1024, 0);
  for (int i = 0; i < 80000; ++i) {
    if (i % 20 == 19) {
      writer.double_pair(low_of(1.5), high_of(1.5), false);
      expected.push_back(low_of(1.5));
      expected.push_back(high_of(1.5));
    } else {
      const auto word = static_cast<int32_t>(rng());
      writer.integer(word);
      expected.push_back(word);
    }
  }
  writer.end_mark();
  writer.finish();

  EXPECT_EQ(writer.bytes_written(), static_cast<int64_t>(sink.text.size()));
  EXPECT_GT(sink.text.size(), 2 * Writer::kBufferBytes);
  EXPECT_GE(sink.sizes.size(), 3u);
  for (std::size_t size : sink.sizes) EXPECT_LE(size, Writer::kBufferBytes);
  ASSERT_EQ(sink.text.size() % kLineBytes, 0u);
  for (std::size_t at = 0; at < sink.text.size(); at += kLineBytes) {
    const std::string_view line(sink.text.data() + at, kLineBytes);
    ASSERT_EQ(line.back(), '\n') << "line at byte " << at;
    if (at == 0) continue;
    ASSERT_EQ(line.front(), ' ') << "line at byte " << at;
    for (char c : line.substr(1, neutral::kValuesPerLine)) {
      ASSERT_NE(neutral::kStandardAlphabet.find(c), std::string_view::npos) << "line at byte " << at;
    }
  }

  Reader reader(sink.text);
  int result = -1;
  EXPECT_EQ(reader.record(static_cast<int32_t>(expected.size()) + 1, &result), expected);
  EXPECT_EQ(result, neutral::kEnded);
  EXPECT_EQ(reader.messages.str(), "");
}

TEST(WriterFinish, PadsTheLastLineAndAddsThreeBlankLines) {
  StringSink sink;
  Writer writer(sink);
  writer.header(1024, 0);
  writer.integer(5);
  writer.end_mark();
  writer.finish();
  const std::string header = sink.text.substr(0, kLineBytes);
  EXPECT_EQ(sink.text, header + " DBF=" + std::string(75, ' ') + "\n" + kBlankLine + kBlankLine + kBlankLine);
  Reader reader(sink.text);
  EXPECT_EQ(reader.record(10), std::vector<int32_t>{5});
}

TEST(WriterFinish, ValuesEndingInColumn80AreFollowedOnlyByTheBlankLines) {
  // 78 one-value items and the end mark fill one line exactly.
  StringSink sink;
  Writer writer(sink);
  writer.header(1024, 0);
  for (int i = 0; i < 78; ++i) writer.integer(0);
  writer.end_mark();
  writer.finish();
  const auto lines = lines_of(sink.text);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[1], " " + std::string(78, 'C') + "=");
  EXPECT_EQ(sink.text.substr(2 * kLineBytes), kBlankLine + kBlankLine + kBlankLine);

  // The reader takes the end mark, fetches the next line, and has the record.
  Reader reader(sink.text);
  int result = -1;
  EXPECT_EQ(reader.record(100, &result), std::vector<int32_t>(78, 0));
  EXPECT_EQ(result, neutral::kEnded);
  EXPECT_EQ(reader.messages.str(), "");
}

TEST(WriterFinish, FileWithoutDataValuesIsLineOneAndTheBlankLines) {
  StringSink sink;
  Writer writer(sink);
  writer.header(1024, 0);
  writer.finish();
  EXPECT_EQ(sink.text.size(), 4 * kLineBytes);
  EXPECT_EQ(sink.text.substr(kLineBytes), kBlankLine + kBlankLine + kBlankLine);
}

TEST(WriterSink, GetsNothingBeforeAFlushAndTheSameBytesWithOrWithoutOne) {
  StringSink flushed, plain;
  Writer a(flushed), b(plain);
  for (Writer* w : {&a, &b}) {
    w->header(1024, 0);
    w->integer(123456);
  }
  EXPECT_TRUE(flushed.sizes.empty());
  a.flush();
  ASSERT_EQ(flushed.sizes.size(), 1u);
  EXPECT_EQ(flushed.text.size(), kLineBytes + 1 + 6);  // line 1, a blank and the item's six values
  a.flush();  // nothing more to hand over
  EXPECT_EQ(flushed.sizes.size(), 1u);
  for (Writer* w : {&a, &b}) {
    w->characters(word_of("ABCD"));
    w->end_mark();
    w->finish();
  }
  EXPECT_EQ(flushed.text, plain.text);
}

TEST(WriterSink, AThrowingSinkLosesOneBufferAndTheWriterGoesOn) {
  struct FailingOnce : StringSink {
    void put(const char* data, std::size_t bytes) override {
      if (!failed) {
        failed = true;
        lost = bytes;
        throw std::runtime_error("device full");
      }
      StringSink::put(data, bytes);
    }
    bool failed = false;
    std::size_t lost = 0;
  } sink;
  Writer writer(sink);
  writer.header(1024, 0);
  int written = 0;
  EXPECT_THROW(
      for (;; ++written) writer.integer(written), std::runtime_error);
  // The rest of the file is made as if nothing had happened.
  for (int i = 0; i < 1000; ++i) writer.integer(i);
  writer.end_mark();
  writer.finish();
  EXPECT_GT(written, 1000);
  EXPECT_EQ(static_cast<int64_t>(sink.lost + sink.text.size()), writer.bytes_written());
  EXPECT_EQ(sink.text.substr(sink.text.size() - 3 * kLineBytes), kBlankLine + kBlankLine + kBlankLine);
  EXPECT_EQ((sink.lost + sink.text.size()) % kLineBytes, 0u);
}

// A whole file of generated blocks: the product's writer makes the same text as the test kit's
// writer (whose line handling is its own), and the reader gives back every block's words.
TEST(WriterFile, GeneratedBlocksMakeTheTestKitsTextAndReadBack) {
  support::GeneratorOptions options;
  options.seed = 23;
  options.large_groups = false;
  support::BlockGenerator generator(options);
  std::vector<support::Block> blocks;
  for (int i = 0; i < 40; ++i) blocks.push_back(generator.next());

  StringSink sink;
  Writer writer(sink);
  writer.header(2048, 1);
  for (const support::Block& block : blocks) {
    const auto key = block.key.words();
    writer.characters(key[0]);
    writer.characters(key[1]);
    for (std::size_t q = 2; q < key.size(); ++q) writer.integer(key[q]);
    writer.integer(block.kind_code);
    for (const support::Item& item : block.body) {
      const auto low = static_cast<int32_t>(static_cast<uint32_t>(item.bits));
      const auto high = static_cast<int32_t>(static_cast<uint32_t>(item.bits >> 32));
      switch (item.type) {
        case support::ItemType::kLogical: writer.logical(item.bits != 0 ? -1 : 0); break;
        case support::ItemType::kInteger: writer.integer(low); break;
        case support::ItemType::kReal:
        case support::ItemType::kRealAllOnes: writer.real(low); break;
        case support::ItemType::kDouble:
        case support::ItemType::kDoubleAllOnes: writer.double_pair(low, high, false); break;
        case support::ItemType::kDoubleX: writer.double_pair(low, high, true); break;
        case support::ItemType::kChars: writer.characters(low); break;
      }
    }
    writer.end_mark();
  }
  writer.end_mark();  // the end of the data where a block would begin
  writer.finish();

  std::ostringstream kit_text;
  support::NeutralWriter kit(kit_text);
  kit.header(2048, 1);
  for (const support::Block& block : blocks) kit.block(block);
  kit.data_end();
  kit.finish();
  EXPECT_EQ(sink.text, kit_text.str());

  Reader reader(sink.text);
  EXPECT_EQ(reader.block_size, 2048);
  EXPECT_EQ(reader.flag, 1);
  for (const support::Block& block : blocks) {
    const auto header = block.header_words();
    int result = -1;
    EXPECT_EQ(reader.record(support::kHeaderWords, &result), std::vector<int32_t>(header.begin(), header.end()))
        << block.key.name;
    EXPECT_EQ(result, neutral::kFilled);
    EXPECT_EQ(reader.record(static_cast<int32_t>(block.word_count()) + 2, &result), block.body_words())
        << block.key.name;
    EXPECT_EQ(result, neutral::kEnded);
  }
  int result = -1;
  EXPECT_TRUE(reader.record(support::kHeaderWords, &result).empty());
  EXPECT_EQ(result, neutral::kEnded);
  EXPECT_EQ(reader.messages.str(), "");
  EXPECT_EQ(reader.stream.error_count(), 0);
}

}  // namespace

namespace {

// A run of integers handed over at once makes the same text as the words one by one, across
// line ends and buffer hand-overs, whatever the run's length and where the line stands.
TEST(WriterIntegers, ARunIsTheSameTextAsItsWordsOneByOne) {
  RandomWords random(7);
  std::vector<int32_t> words(200000);
  for (auto& w : words) w = random.next(Kind::kInteger).w[0];
  words[5] = 0;
  words[6] = -1;
  words[7] = INT32_MIN;
  StringSink one_by_one, in_runs;
  Writer a(one_by_one), b(in_runs);
  a.header(300, 0);
  b.header(300, 0);
  for (int32_t w : words) a.integer(w);
  std::size_t at = 0;
  for (std::size_t run = 1; at < words.size(); run = run * 3 + 1) {
    const std::size_t n = std::min(run, words.size() - at);
    b.integers(words.data() + at, static_cast<int64_t>(n));
    at += n;
  }
  a.end_mark();
  b.end_mark();
  a.finish();
  b.finish();
  EXPECT_TRUE(one_by_one.text == in_runs.text);
}

}  // namespace
