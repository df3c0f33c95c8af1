#pragma once
// End-to-end runs for tests, the soak run and tools: the converter run in-process with its
// messages captured, every XDB it leaves checked by the verification tool, and an XDB compared
// block by block with the model of the neutral blocks it was made from.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "testkit/block_generator.h"
#include "testkit/neutral_model.h"

namespace support {

// The checker's verdict on one XDB.
struct CheckedXdb {
  std::string path;
  int status = -1;     // 0 sound
  std::string report;  // its problem lines and summary
};

struct ConverterRun {
  int status = -1;           // the converter's exit status
  std::string messages;      // standard error
  std::string output;        // standard output
  // Every *.xdb file in the watched directory that the run created or changed, checked.
  std::vector<CheckedXdb> checked;

  // The reports of the checked XDBs that are not sound or hold blocks that nothing reaches and
  // that are not released, one after the other ("" when all are sound and whole).
  std::string unsound() const;
};

// Runs loadxdb with `args` (without the program name) and `standard_input` for "-", then runs
// the checker on every XDB file in `watch` that the run created or changed, so that no test can
// accept a conversion whose result is corrupt without saying so.
ConverterRun run_converter(const std::vector<std::string>& args, const std::filesystem::path& watch,
                           std::string_view standard_input = "");

struct DumperRun {
  int status = -1;       // the dumper's exit status
  std::string messages;  // standard error
  std::string output;    // standard output (the neutral file for output=-)
};

// Runs dumpxdb with `args` (without the program name) in-process.
DumperRun run_dumper(const std::vector<std::string>& args);

// The checker on one XDB, with its listing when `listing` is given.
CheckedXdb check_file(const std::string& xdb, std::string* listing = nullptr);

// What the XDB holds against what the blocks say it should hold.
struct ModelComparison {
  std::vector<std::string> differences;  // empty when the XDB holds exactly the blocks
  int64_t blocks = 0;                    // blocks compared
  int32_t most_level2_blocks = 0;        // largest count of level-2 blocks in a relation keyed by word 1
};

// Reads every block of the model from the XDB through the database layer: groups (the DDL
// among them) and single records must come back word for word, relations keyed by word 1 with
// their stored_entries() in that order, relations with longer keys with the same entries (their
// order is the checker's to judge); the dictionary must hold no other data block.
// `block_words` sizes the reading pool's pages (at least the XDB's block size).
// REQUIRES: the blocks' keys are distinct.
ModelComparison compare_with_model(const std::string& xdb, BlockGenerator& generator, int64_t blocks,
                                   int32_t block_words);
ModelComparison compare_with_model(const std::string& xdb, const std::vector<Block>& blocks, int32_t block_words);

}  // namespace support
