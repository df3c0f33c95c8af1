// Fuzz target: any bytes as the neutral input of a whole conversion.
//
// The bytes are the standard input of one converter run that writes its XDB into the scratch
// directory, with the block listing on. Besides the sanitizers, the run must keep its promises:
//   - the exit status is 0, 1 or 2; 0 only when no message was printed, 2 only after a warning
//     or information message, 1 only after a fatal message;
//   - a run that completes leaves an XDB, and every XDB it leaves is one that the checker
//     finds sound;
//   - the run leaves no file open, however it ends.

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

#include "app/loadxdb.h"
#include "fuzz/scratch.h"
#include "platform/files.h"
#include "platform/stop.h"
#include "platform/textinput.h"
#include "platform/units.h"

namespace {

bool contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

int open_files() {
  int n = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
  return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string xdb = fuzz::scratch_file("out.xdb");
  std::remove(xdb.c_str());

  std::ostringstream messages;
  fuzz::NullStream output;
  platform::Units units;
  units.message = &messages;
  units.output = &output;
  platform::TextInput input;
  input.attach_memory(std::string(reinterpret_cast<const char*>(data), size));
  const int files_before = open_files();
  const int status = app::run_loadxdb(app::CommandLine({"loadxdb", "-", "output=" + xdb, "verbose=yes"}), units, input);
  const std::string text = messages.str();
  if (open_files() != files_before) fuzz::finding("the run left a file open", text);

  switch (status) {
    case platform::kExitClean:
      if (contains(text, "***")) fuzz::finding("status 0 after a message", text);
      break;
    case platform::kExitWarnings:
      if (!contains(text, "WARNING") && !contains(text, "INFORMATION")) fuzz::finding("status 2 without a warning", text);
      break;
    case platform::kExitFatal:
      if (!contains(text, "FATAL")) fuzz::finding("status 1 without a fatal message", text);
      break;
    default:
      fuzz::finding("exit status " + std::to_string(status), text);
  }

  const bool exists = platform::file_exists(xdb, true);
  if (status != platform::kExitFatal && !exists) fuzz::finding("a completed run left no XDB", text);
  if (exists) {
    if (const std::string problems = fuzz::xdb_problems(xdb, true); !problems.empty()) {
      fuzz::finding("the XDB left by the run is not sound or loses blocks:\n" + problems, text);
    }
    std::remove(xdb.c_str());
  }
  return 0;
}
