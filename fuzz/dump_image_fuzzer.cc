// Fuzz target: any bytes as an XDB file, dumped to its neutral form.
//
// The bytes are written to a file of the scratch directory and dumped to standard output
// in-process. Whatever the bytes, the dump ends with an exit status its messages explain, and
// leaves no file behind; the sanitizers watch everything in between.
//
// The verdict beyond the sanitizers: a dump that completes (status 0 or 2) is a neutral file the
// converter reads to the end and turns into a sound XDB; a file the checker calls sound dumps
// without skipping a block.

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include "app/check.h"
#include "app/dumpxdb.h"
#include "app/loadxdb.h"
#include "fuzz/scratch.h"
#include "platform/files.h"
#include "platform/stop.h"
#include "platform/textinput.h"
#include "platform/units.h"

namespace {

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

int files_in(const std::string& directory) {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string image = fuzz::scratch_file("dump.xdb");
  static const std::string reloaded = fuzz::scratch_file("reloaded.xdb");
  if (!fuzz::write_file(image, data, size)) fuzz::finding("the scratch file cannot be written", "");
  std::remove(reloaded.c_str());
  const int files_before = files_in(fuzz::scratch_directory());

  std::ostringstream messages, neutral;
  fuzz::NullStream quiet;
  platform::Units units;
  units.message = &messages;
  units.output = &quiet;
  const int status = app::run_dumpxdb(app::CommandLine({"dumpxdb", image, "output=-", "verbose=yes"}), units, neutral);
  const std::string text = messages.str();
  if (files_in(fuzz::scratch_directory()) != files_before) fuzz::finding("the dump left a file behind", text);
  switch (status) {
    case platform::kExitClean:
      if (contains(text, "***")) fuzz::finding("status 0 after a message", text);
      break;
    case platform::kExitWarnings:
      if (!contains(text, "WARNING")) fuzz::finding("status 2 without a warning", text);
      break;
    case platform::kExitFatal:
      if (!contains(text, "FATAL")) fuzz::finding("status 1 without a fatal message", text);
      return 0;
    default:
      fuzz::finding("exit status " + std::to_string(status), text);
  }

  fuzz::NullStream checker_messages;
  platform::Units check_units;
  check_units.message = &checker_messages;
  check_units.output = &checker_messages;
  if (status != platform::kExitClean && app::check_xdb(image, app::CheckOptions{}, check_units) == 0) {
    fuzz::finding("a file the checker calls sound did not dump cleanly", text);
  }

  // The dump converts back, to the end of its data, into a sound XDB.
  std::ostringstream load_messages;
  platform::Units load_units;
  load_units.message = &load_messages;
  load_units.output = &quiet;
  platform::TextInput input;
  input.attach_memory(neutral.str());
  const int loaded = app::run_loadxdb(app::CommandLine({"loadxdb", "-", "output=" + reloaded}), load_units, input);
  if (loaded == platform::kExitFatal) fuzz::finding("the converter stopped on the dump:\n" + load_messages.str(), text);
  if (const std::string problems = fuzz::xdb_problems(reloaded, true); !problems.empty()) {
    fuzz::finding("the dump converts to an XDB that is not sound or loses blocks:\n" + problems, text);
  }
  std::remove(reloaded.c_str());
  return 0;
}
