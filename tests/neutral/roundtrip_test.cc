// Writer to reader: the bodies of generated blocks, written by the test-support writer, decode to
// exactly the words the model says they hold, with LF and with CR LF line ends.

#include <gtest/gtest.h>

#include <sstream>

#include "neutral/items.h"
#include "testkit/block_generator.h"
#include "testkit/neutral_writer.h"

namespace {

class RoundTrip : public ::testing::TestWithParam<bool> {};

TEST_P(RoundTrip, GeneratedBodiesDecodeToTheModelsWords) {
  support::GeneratorOptions options;
  options.seed = 11;
  options.large_groups = false;
  support::BlockGenerator generator(options);
  std::vector<support::Block> blocks;
  for (int i = 0; i < 40; ++i) blocks.push_back(generator.next());

  std::ostringstream text;
  support::WriterOptions writer_options;
  writer_options.crlf = GetParam();
  support::NeutralWriter writer(text, writer_options);
  writer.header(1024, 0);
  for (const auto& b : blocks) {
    writer.items(b.body);
    writer.end_mark();
  }
  writer.finish();

  platform::TextInput input;
  input.attach_memory(text.str());
  std::ostringstream messages;
  platform::Units units;
  units.message = &messages;
  neutral::Stream stream(input, units);
  int32_t B, F;
  stream.CVTSTR(0, B, F);
  EXPECT_EQ(B, 1024);
  std::vector<int32_t> buffer(200000);
  for (const auto& b : blocks) {
    int32_t nmax = 199999, nread = 0, words = 0;
    ASSERT_EQ(neutral::CVTREC(stream, 0, nmax, nread, buffer, &words), neutral::kEnded);
    EXPECT_EQ(static_cast<std::size_t>(nread), b.body.size()) << b.key.name;
    std::vector<int32_t> got(buffer.begin(), buffer.begin() + words);
    EXPECT_EQ(got, support::words_of(b.body)) << b.key.name;
  }
  EXPECT_EQ(messages.str(), "");
  EXPECT_EQ(stream.error_count(), 0);
}

INSTANTIATE_TEST_SUITE_P(LineEnds, RoundTrip, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "CrLf" : "Lf"; });

}  // namespace
