#pragma once
// The converter's main program: command line, input, neutral header, pool sizing, and the run
// sequence that follows.

#include "app/cmdline.h"
#include "platform/textinput.h"
#include "platform/units.h"

namespace app {

inline constexpr const char* kProgramName = "LOADXDB";
inline constexpr const char* kProgramVersion = "2012.2";
inline constexpr const char* kProgramDate = "06-Jul-2012";

// Runs one conversion and returns the exit status: 0 completed cleanly, 1 stopped on a fatal
// condition, 2 completed with warnings or translation errors. `standard_input` is the input
// used for the neutral name "-".
int run_loadxdb(const CommandLine& command_line, platform::Units& units,
                platform::TextInput& standard_input);

}  // namespace app
