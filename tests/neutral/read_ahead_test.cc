// The stream decoded ahead on a second thread must be indistinguishable from the stream itself:
// the same records, counts and results for any sequence of record limits, the same messages at
// the same moments between the records, the same end, and a reader that can always be stopped.

#include "neutral/read_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "neutral/items.h"
#include "neutral/stream.h"
#include "platform/stop.h"
#include "testkit/block_generator.h"
#include "testkit/programs.h"
#include "tests/neutral/value_lines.h"

namespace {

using testing_neutral::header_line;
using testing_neutral::kAlphabet;

// One way of reading: CVTREC on the stream itself, or through a ReadAhead.
enum class Reader { kStream, kAhead };

// Reads `text` record after record with limits drawn from `seed` until the run stops (the data
// always end where a further line is needed, since the reading goes on past the data's end mark)
// or `calls` records were read. Everything observable goes into one transcript, in order: each
// record's result, NMAX, NREAD, words and buffer, the messages, the premature-end action, the
// stop and the warnings.
std::string transcript(Reader reader, const std::string& text, uint32_t seed, int calls = 1 << 30) {
  platform::TextInput input;
  input.attach_memory(text);
  std::ostringstream out;
  platform::Units units;
  units.message = &out;
  neutral::Stream stream(input, units);
  std::mt19937 rng(seed);
  const int32_t limits[] = {0, 1, 1, 2, 3, 5, 12, 13, 13, 24, 61, 200, 1023, 65535};
  try {
    int32_t B = 0, F = 0;
    stream.CVTSTR(0, B, F);
    stream.set_premature_end_action([&] { out << "[premature-end action]\n"; });
    std::unique_ptr<neutral::ReadAhead> ahead;
    if (reader == Reader::kAhead) ahead = std::make_unique<neutral::ReadAhead>(stream);
    std::vector<int32_t> buf;
    for (int call = 0; call < calls; ++call) {
      int32_t nmax = limits[rng() % std::size(limits)];
      // Now and then a buffer one word short of NMAX + 1: a two-word item that begins in word
      // NMAX loses its second word.
      buf.assign(static_cast<std::size_t>(nmax) + (rng() % 4 == 0 ? 0 : 1), 0x5A5A5A5A);
      int32_t nread = -1, words = -1;
      const int result = ahead ? ahead->CVTREC(0, nmax, nread, buf, &words)
                               : neutral::CVTREC(stream, 0, nmax, nread, buf, &words);
      out << "record " << result << " nmax " << nmax << " nread " << nread << " words " << words << ':';
      // The words filled and the two behind them, which must be left alone.
      const std::size_t shown = std::min(buf.size(), static_cast<std::size_t>(words) + 2);
      for (std::size_t i = 0; i < shown; ++i) out << ' ' << buf[i];
      out << '\n';
    }
    ahead.reset();
    stream.CVTEND();
  } catch (const platform::RunStop& stop) {
    out << "[stop " << stop.status << "]\n";
  }
  out << "[warnings " << units.warnings << " errors " << stream.error_count() << "]\n";
  return out.str();
}

std::string generated(uint64_t seed, int32_t block_size, bool crlf, bool trailing_lines, int64_t blocks) {
  support::DatabaseOptions options;
  options.generator.seed = seed;
  options.generator.block_words = support::block_words_of(block_size);
  options.generator.large_groups = false;
  options.block_size = block_size;
  options.writer.crlf = crlf;
  options.writer.trailing_lines = trailing_lines;
  options.max_blocks = blocks;
  std::ostringstream text;
  support::write_database(text, options);
  return text.str();
}

// Characters outside the alphabet, a line cut short and a file cut in the middle.
std::string damaged(std::string text, uint32_t seed) {
  std::mt19937 rng(seed);
  const std::size_t first_data = text.find('\n') + 1;
  for (int k = 0; k < 6; ++k) text[first_data + rng() % (text.size() - first_data)] = k % 2 ? '~' : '\x80';
  const std::size_t line = text.find('\n', first_data + rng() % (text.size() - first_data));
  if (line != std::string::npos && line > 30) text.erase(line - 30, 30);
  text.resize(first_data + (text.size() - first_data) * (50 + rng() % 50) / 100);
  return text;
}

TEST(ReadAhead, GivesTheRecordsAndMessagesOfTheStreamItself) {
  int runs = 0;
  for (uint64_t seed = 1; seed <= 12; ++seed) {
    const int32_t block_size = seed % 3 == 0 ? 300 : 1024;
    const std::string text = generated(seed, block_size, seed % 4 == 1, seed % 5 != 2, 20 + static_cast<int64_t>(seed) * 7);
    for (const std::string& input : {text, damaged(text, static_cast<uint32_t>(seed))}) {
      for (uint32_t limits = 1; limits <= 3; ++limits) {
        const std::string expected = transcript(Reader::kStream, input, limits);
        ASSERT_NE(expected.find("[stop 1]"), std::string::npos) << "the reading ends at the end of the data";
        ASSERT_EQ(transcript(Reader::kAhead, input, limits), expected) << "seed " << seed << ", limits " << limits;
        ++runs;
      }
    }
  }
  EXPECT_EQ(runs, 72);
}

TEST(ReadAhead, TheEventsOfAMarkComeWithTheMark) {
  // Each data line ends with a record end mark, whose consumption reads the next line: one with
  // a character outside the alphabet, then none at all.
  auto line = [](char last, char odd = 0) {
    std::string text = " " + std::string(78, kAlphabet[2]) + last + "\n";
    if (odd) text[5] = odd;
    return text;
  };
  const char mark = kAlphabet[47], mark15 = kAlphabet[15];
  const std::string text = header_line(kAlphabet, "300") + line(mark) + line(mark15, '~') + line(mark, '\x80');
  for (uint32_t limits = 1; limits <= 4; ++limits) {
    const std::string expected = transcript(Reader::kStream, text, limits);
    ASSERT_NE(expected.find("TRANSLATING"), std::string::npos);
    ASSERT_NE(expected.find("END-OF-FILE"), std::string::npos);
    EXPECT_EQ(transcript(Reader::kAhead, text, limits), expected) << limits;
  }
}

TEST(ReadAhead, ReportsWhatItMetOnlyWhenTheRecordsGetThere) {
  // Damage far behind the records that are taken: the decoder has met it (its queue reaches
  // that far), but nothing of it may be reported, and the stream closes cleanly.
  std::string text = generated(3, 1024, false, true, 200);
  text[text.size() - 2000] = '~';
  const std::string expected = transcript(Reader::kStream, text, 9, 40);
  EXPECT_EQ(expected.find("TRANSLATING"), std::string::npos);
  EXPECT_EQ(transcript(Reader::kAhead, text, 9, 40), expected);
}

TEST(ReadAhead, StopsWhileItsWriterStillHoldsThePipeOpen) {
  // Standard input is a pipe whose writer sends a header and a few lines and then keeps it open:
  // a reader made to wait for more input must still stop at once when it is no longer needed.
  support::StandardInputPipe pipe;
  ASSERT_TRUE(pipe.ready());
  const std::string text = generated(5, 1024, false, true, 3);
  const std::string part = text.substr(0, text.find('\n', 3 * 81) + 1);  // line 1 and three data lines
  ASSERT_TRUE(pipe.write(part));
  {
    platform::TextInput input;
    input.attach_standard_input();
    std::ostringstream out;
    platform::Units units;
    units.message = &out;
    neutral::Stream stream(input, units);
    int32_t B = 0, F = 0;
    stream.CVTSTR(0, B, F);
    const auto start = std::chrono::steady_clock::now();
    {
      neutral::ReadAhead ahead(stream);
      std::vector<int32_t> header(14);
      int32_t nmax = 13, nread = 0;
      EXPECT_EQ(ahead.CVTREC(0, nmax, nread, header), neutral::kFilled);  // the DDL block's header
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(header.data()), 8), "DDLFORDB");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    stream.CVTEND();
  }
}

}  // namespace
