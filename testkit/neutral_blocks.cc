#include "testkit/neutral_blocks.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <sstream>

#include "neutral/items.h"
#include "neutral/stream.h"
#include "platform/stop.h"
#include "platform/textinput.h"
#include "platform/units.h"

namespace support {

namespace {

constexpr int32_t kChunkWords = 65535;  // words asked of the reader at a time

}  // namespace

NeutralFile read_neutral_file(const std::string& path) {
  NeutralFile file;
  std::ostringstream messages, output;
  platform::Units units;
  units.message = &messages;
  units.output = &output;
  platform::TextInput input;
  if (input.open_existing(path) != 0) {
    file.failure = "cannot open " + path;
    return file;
  }
  std::vector<int32_t> buffer(kChunkWords + 1);
  try {
    neutral::Stream stream(input, units);
    stream.CVTSTR(0, file.block_size, file.flag);
    for (;;) {
      std::array<int32_t, kHeaderWords + 1> header{};
      int32_t nmax = kHeaderWords, items = 0, words = 0;
      if (neutral::CVTREC(stream, 0, nmax, items, header, &words) == neutral::kEnded) break;
      Block block;
      block.key.name.assign(reinterpret_cast<const char*>(header.data()), kNameChars);
      for (int i = 0; i < kQualifierWords; ++i) block.key.qualifiers[i] = header[2 + i];
      block.kind_code = header[12];
      block.ddl = file.blocks.empty() && block.key.name == kDdlName;
      // A relation's body is read an entry at a time, as the converter reads it: a two-word item
      // that begins in an entry's last word fills one word beyond the entry, and that word is not
      // part of any entry. Other bodies are read in chunks, every word kept.
      const KindCode code = block.code();
      const bool entries = code.kind == BlockKind::kRelation && code.entry_length > 0;
      const int32_t limit = entries ? code.entry_length : kChunkWords;
      for (;;) {
        nmax = limit;
        const bool ended = neutral::CVTREC(stream, 0, nmax, items, buffer, &words) == neutral::kEnded;
        const int32_t kept = ended ? words : std::min(words, limit);
        for (int32_t w = 0; w < kept; ++w) block.body.push_back(Item::integer(buffer[w]));
        if (ended) break;
      }
      file.blocks.push_back(std::move(block));
    }
    stream.CVTEND();
  } catch (const platform::RunStop&) {
    file.failure = "the reader stopped: " + messages.str();
  }
  return file;
}

}  // namespace support
