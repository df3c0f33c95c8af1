#pragma once
// The run's text units.
//
// Every message, the usage text and the verbose listing go to the message unit (standard error
// in a real run); the block I/O debug lines go to the output unit (standard output). A run gets
// its units from its caller, so a test can hand in string streams and read back every line.
// While a progress line is shown the message unit (and a terminal output unit) is a stream that
// clears that line before each line of text and draws it again after.

#include <iostream>

namespace platform {

struct Units {
  std::ostream* message = &std::cerr;  // unit 0: messages and listing
  std::ostream* output = &std::cout;   // standard output
  // Warnings and information messages printed during the run (translation errors, blocks
  // that could not be created or written). A run that completes with any of them exits with
  // kExitWarnings, so that a script can tell it from a clean conversion.
  int warnings = 0;
  // Whether the message unit and the output unit are terminals. The program's entry tells
  // (platform/terminal.h); a run that a test starts has none, so its text is never decorated.
  // A terminal message unit gets the progress line at its bottom.
  bool message_terminal = false;
  bool output_terminal = false;

  std::ostream& msg() { return *message; }
};

}  // namespace platform
