#include "testkit/end_to_end.h"

#include <algorithm>
#include <array>
#include <map>
#include <sstream>
#include <system_error>

#include "app/check.h"
#include "app/dumpxdb.h"
#include "app/loadxdb.h"
#include "bio/library.h"
#include "dbio/context.h"
#include "dbio/pool.h"
#include "dict/dictionary.h"
#include "platform/stop.h"
#include "platform/textinput.h"
#include "xdb/close.h"
#include "xdb/open.h"
#include "xdb/poolconfig.h"
#include "xdb/readers.h"

namespace support {

namespace {

namespace fs = std::filesystem;

// Descriptor word 2 of the data block kinds.
constexpr int32_t kIntegerKeyed = 1, kGroup = 2, kMultiKey = 3, kSingleRecord = 4;
constexpr int kRootPairCountWord = 23;  // root block word: pairs = level-2 blocks
constexpr int32_t kDdlRoom = 200005000;

// The *.xdb files of a directory with what tells a change: size and modification time.
std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> xdb_files(const fs::path& dir) {
  std::map<std::string, std::pair<uintmax_t, fs::file_time_type>> files;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    if (entry.path().extension() != ".xdb" || !entry.is_regular_file(ec)) continue;
    files[entry.path().string()] = {entry.file_size(ec), entry.last_write_time(ec)};
  }
  return files;
}

std::string describe(const Key& key) {
  std::string text = "'" + key.name + "'(";
  for (int i = 0; i < kQualifierWords; ++i) text += (i ? "," : "") + std::to_string(key.qualifiers[i]);
  return text + ")";
}

// A database layer of its own for reading one XDB.
class Reader {
 public:
  explicit Reader(int32_t block_words) {
    units_.message = &messages_;
    units_.output = &output_;
    const int32_t page = std::max(block_words, 1024);
    const int32_t pages = 20;
    const int32_t length = (pages + 2) * page + 7 * (pages + 2) + 6 * 2000 + 5000 + 388;
    int32_t ierr = -1;
    xdb::PAGSET(ctx_, 0, 1, length, page, kDdlRoom, 0, 0, ierr);
    configured_ = ierr == 0;
  }
  ~Reader() {
    if (!open_) return;
    try {
      int32_t ierr = 0;
      xdb::DBCLOS(ctx_, 1, 0, ierr);
    } catch (const platform::RunStop&) {
      xdb::release_after_stop(ctx_, 1);
    }
  }
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // Opens the XDB read-only; "" or what went wrong.
  std::string open(const std::string& xdb) {
    if (!configured_) return "the pool for reading could not be configured";
    int32_t ierr = -1;
    try {
      xdb::DBOPEN(ctx_, 1, 0, 0, ierr, xdb);
    } catch (const platform::RunStop&) {
      xdb::release_after_stop(ctx_, 1);
      return "opening stopped: " + messages_.str();
    }
    if (ierr != 0) return "cannot be opened (return code " + std::to_string(ierr) + ")";
    open_ = true;
    return "";
  }
  dbio::Context& ctx() { return ctx_; }
  std::string messages() const { return messages_.str(); }

  // Level-2 blocks of the relation keyed by word 1 whose root is block `root`.
  int32_t level2_blocks(int32_t root) {
    int32_t addr = 0;
    dbio::PAGFET(ctx_, 1, root, addr);
    return ctx_.W(int64_t{addr} + kRootPairCountWord - 1);
  }

 private:
  std::ostringstream messages_, output_;
  platform::Units units_;
  bio::Library block_io_{output_, messages_};
  dbio::Context ctx_{units_, block_io_};
  bool configured_ = false, open_ = false;
};

// Compares one block with what the XDB holds; adds differences to `result`.
void compare_block(Reader& reader, const Block& block, ModelComparison& result) {
  const auto key = block.key.words();
  int32_t kind = 0;
  const xdb::Content content = xdb::read_data_block(reader.ctx(), 1, key.data(), kind);
  ++result.blocks;
  const std::string name = describe(block.key);
  auto differ = [&](const std::string& what) { result.differences.push_back(name + ": " + what); };
  for (const auto& problem : content.problems) differ(problem);
  if (!content.problems.empty()) return;
  const KindCode code = block.code();
  switch (block.kind()) {
    case BlockKind::kDdl:
    case BlockKind::kGroup:
    case BlockKind::kSingleRecord: {
      const int32_t wanted = block.kind() == BlockKind::kSingleRecord ? kSingleRecord : kGroup;
      if (kind != wanted) return differ("kind " + std::to_string(kind) + ", not " + std::to_string(wanted));
      const std::vector<int32_t> expected = block.body_words();
      if (content.words != expected) {
        const auto at = std::mismatch(content.words.begin(), content.words.end(), expected.begin(), expected.end());
        differ(std::to_string(content.words.size()) + " words, not " + std::to_string(expected.size()) +
               "; first difference at word " + std::to_string(at.first - content.words.begin() + 1));
      }
      return;
    }
    case BlockKind::kRelation: {
      const int32_t wanted = code.key_type == 0 ? kIntegerKeyed : kMultiKey;
      if (kind != wanted) return differ("kind " + std::to_string(kind) + ", not " + std::to_string(wanted));
      const auto expected = block.stored_entries();
      const auto length = static_cast<std::size_t>(code.entry_length);
      std::vector<std::vector<int32_t>> found;
      for (std::size_t at = 0; at + length <= content.words.size(); at += length) {
        found.emplace_back(content.words.begin() + static_cast<std::ptrdiff_t>(at),
                           content.words.begin() + static_cast<std::ptrdiff_t>(at + length));
      }
      if (content.words.size() % length != 0) differ("the entries do not fill whole entries");
      if (kind == kMultiKey) std::sort(found.begin(), found.end());
      if (found != expected) {
        std::size_t i = 0;
        while (i < found.size() && i < expected.size() && found[i] == expected[i]) ++i;
        differ(std::to_string(found.size()) + " entries, not " + std::to_string(expected.size()) +
               "; first difference at entry " + std::to_string(i + 1));
      }
      if (kind == kIntegerKeyed) {
        std::array<int32_t, 14> d{};
        int32_t ierr = 0;
        dict::DICRDR(reader.ctx(), 1, key.data(), d.data(), ierr);
        if (ierr == 0) result.most_level2_blocks = std::max(result.most_level2_blocks, reader.level2_blocks(d[2]));
      }
      return;
    }
  }
}

template <typename Next>
ModelComparison compare(const std::string& xdb, int32_t block_words, int64_t blocks, Next next) {
  ModelComparison result;
  Reader reader(block_words);
  if (std::string failure = reader.open(xdb); !failure.empty()) {
    result.differences.push_back(xdb + ": " + failure);
    return result;
  }
  try {
    for (int64_t i = 0; i < blocks; ++i) compare_block(reader, next(), result);
    const int32_t held = reader.ctx().grdblk.NUMDB[1];
    if (held != blocks) {
      result.differences.push_back(xdb + ": the dictionary holds " + std::to_string(held) + " data blocks, not " +
                                   std::to_string(blocks));
    }
  } catch (const platform::RunStop&) {
    result.differences.push_back(xdb + ": reading stopped: " + reader.messages());
  }
  return result;
}

}  // namespace

std::string ConverterRun::unsound() const {
  std::string text;
  // The converter writes every block it takes into the database: a block the checker finds
  // neither reachable nor released is lost space, which a conversion never leaves.
  for (const auto& c : checked) {
    if (c.status != 0 || c.report.find("(wasted space, not damage)") != std::string::npos) text += c.report;
  }
  return text;
}

CheckedXdb check_file(const std::string& xdb, std::string* listing) {
  std::ostringstream report, list;
  platform::Units units;
  units.message = &report;
  units.output = &list;
  app::CheckOptions options;
  options.list = listing != nullptr;
  CheckedXdb checked;
  checked.path = xdb;
  checked.status = app::check_xdb(xdb, options, units);
  checked.report = report.str();
  if (listing) *listing = list.str();
  return checked;
}

ConverterRun run_converter(const std::vector<std::string>& args, const fs::path& watch,
                           std::string_view standard_input) {
  const auto before = xdb_files(watch);
  std::vector<std::string> command{"loadxdb"};
  command.insert(command.end(), args.begin(), args.end());
  std::ostringstream messages, output;
  platform::Units units;
  units.message = &messages;
  units.output = &output;
  platform::TextInput input;
  input.attach_memory(std::string(standard_input));
  ConverterRun run;
  run.status = app::run_loadxdb(app::CommandLine(command), units, input);
  run.messages = messages.str();
  run.output = output.str();
  for (const auto& [path, stamp] : xdb_files(watch)) {
    const auto old = before.find(path);
    if (old != before.end() && old->second == stamp) continue;
    run.checked.push_back(check_file(path));
  }
  return run;
}

DumperRun run_dumper(const std::vector<std::string>& args) {
  std::vector<std::string> command{"dumpxdb"};
  command.insert(command.end(), args.begin(), args.end());
  std::ostringstream messages, output, neutral;
  platform::Units units;
  units.message = &messages;
  units.output = &output;
  DumperRun run;
  run.status = app::run_dumpxdb(app::CommandLine(command), units, neutral);
  run.messages = messages.str();
  run.output = neutral.str() + output.str();
  return run;
}

ModelComparison compare_with_model(const std::string& xdb, BlockGenerator& generator, int64_t blocks,
                                   int32_t block_words) {
  return compare(xdb, block_words, blocks, [&] { return generator.next(); });
}

ModelComparison compare_with_model(const std::string& xdb, const std::vector<Block>& blocks, int32_t block_words) {
  std::size_t i = 0;
  return compare(xdb, block_words, static_cast<int64_t>(blocks.size()), [&] { return blocks[i++]; });
}

}  // namespace support
