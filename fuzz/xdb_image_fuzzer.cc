// Fuzz target: any bytes as an XDB file.
//
// The bytes are written to a file of the scratch directory, which then goes through the
// header probe, the checker (open read-only, header, released-block chain, dictionary, every
// data block, the DDL) and an open for update followed by a close, which writes the header and
// every block it touched back. Whatever the bytes, each step ends with a status or a fatal
// message that stops it; the sanitizers watch everything in between.
//
// The verdict beyond the sanitizers: a file the checker calls sound must read back completely,
// every key the dictionary walk lists found again by lookup and read without a problem, and an
// open for update followed by a close must leave it sound and holding the same contents.

#include <algorithm>
#include <array>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "app/check.h"
#include "bio/library.h"
#include "dbio/context.h"
#include "dict/walker.h"
#include "fuzz/scratch.h"
#include "platform/stop.h"
#include "platform/units.h"
#include "xdb/close.h"
#include "xdb/open.h"
#include "xdb/poolconfig.h"
#include "xdb/readers.h"

namespace {

constexpr int32_t kUnit = 1;
constexpr int32_t kMinPageWords = 300;
constexpr int32_t kMaxPageWords = 65536;
constexpr int32_t kDdlRoom = 200005000;

// Configures a pool whose pages hold blocks of `block_size` words, with room for a DDL.
void configure_pool(dbio::Context& ctx, int32_t block_size) {
  const int32_t page = std::clamp(block_size, kMinPageWords, kMaxPageWords);
  const int32_t pool_words = static_cast<int32_t>(std::min<int64_t>(17 * int64_t{page} + 17753, dbio::kPoolArrayWords));
  int32_t ierr = 0;
  xdb::PAGSET(ctx, 0, 1, pool_words, page, kDdlRoom, 0, 0, ierr);
  if (ierr != 0) fuzz::finding("the pool cannot be configured", "");
}

// Opens the file for update in a pool whose pages hold its blocks, and closes it again.
void open_for_update(const std::string& name, int32_t block_size) {
  fuzz::NullStream quiet;
  platform::Units units;
  units.message = &quiet;
  units.output = &quiet;
  bio::Library block_io(quiet, quiet);
  dbio::Context ctx(units, block_io);
  configure_pool(ctx, block_size);
  int32_t ierr = 0;
  try {
    xdb::DBOPEN(ctx, kUnit, -1, 0, ierr, name);
    if (ierr == 0) xdb::DBCLOS(ctx, kUnit, 0, ierr);
  } catch (const platform::RunStop&) {
  }
}

// Every data block the dictionary walk lists, looked up by its key and read: keys, kinds and
// contents in walk order. `problem` tells what could not be read.
std::string read_back(const std::string& name, int32_t block_size, std::string& problem) {
  std::ostringstream messages;
  fuzz::NullStream quiet;
  platform::Units units;
  units.message = &messages;
  units.output = &quiet;
  bio::Library block_io(quiet, quiet);
  dbio::Context ctx(units, block_io);
  configure_pool(ctx, block_size);
  int32_t ierr = 0;
  std::string contents;
  try {
    xdb::DBOPEN(ctx, kUnit, 0, 0, ierr, name);
    if (ierr != 0) {
      problem = "the read-only open returned " + std::to_string(ierr);
      return contents;
    }
    std::vector<std::array<int32_t, 12>> keys;
    dict::walk_dictionary(ctx, kUnit, [&](const dict::WalkedEntry& e) {
      std::array<int32_t, 12> key;
      std::copy_n(e.key, key.size(), key.begin());
      keys.push_back(key);
    });
    for (const auto& key : keys) {
      int32_t kind = 0;
      const xdb::Content content = xdb::read_data_block(ctx, kUnit, key.data(), kind);
      if (!content.problems.empty()) {
        problem = dict::describe_key(key.data()) + ": " + content.problems.front();
        break;
      }
      contents.append(reinterpret_cast<const char*>(key.data()), sizeof key);
      contents.append(reinterpret_cast<const char*>(&kind), sizeof kind);
      contents.append(reinterpret_cast<const char*>(content.words.data()), content.words.size() * sizeof(int32_t));
    }
    xdb::DBCLOS(ctx, kUnit, 0, ierr);
  } catch (const platform::RunStop&) {
    problem = "reading stopped:\n" + messages.str();
  }
  return contents;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string name = fuzz::scratch_file("image.xdb");
  if (!fuzz::write_file(name, data, size)) fuzz::finding("the scratch file cannot be written", "");

  int32_t type = 0, block_size = 0, ddl_size = 0;
  xdb::XDBPRB(type, block_size, name, static_cast<int32_t>(name.size()), ddl_size);

  fuzz::NullStream quiet;
  platform::Units units;
  units.message = &quiet;
  units.output = &quiet;
  const bool sound = app::check_xdb(name, app::CheckOptions{true}, units) == 0;
  std::string before, problem;
  if (sound) {
    before = read_back(name, block_size, problem);
    if (!problem.empty()) fuzz::finding("a file the checker calls sound does not read back", problem);
  }

  open_for_update(name, block_size);
  if (sound) {
    const std::string report = fuzz::xdb_problems(name);
    if (!report.empty()) fuzz::finding("an open for update and a close made a sound file unsound", report);
    if (read_back(name, block_size, problem) != before || !problem.empty()) {
      fuzz::finding("an open for update and a close changed what a sound file holds", problem);
    }
  }
  return 0;
}
