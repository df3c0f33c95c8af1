// Entry of the dumpxdb program: writes the neutral form of a binary XDB database file.

#include <iostream>

#include "app/dumpxdb.h"
#include "platform/interrupts.h"
#include "platform/process.h"
#include "platform/terminal.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  platform::prepare_standard_streams();
  platform::install_interrupt_handlers(app::kDumperName);
  platform::Units units;
  units.message_terminal = platform::is_terminal(platform::StandardStream::error);
  units.output_terminal = platform::is_terminal(platform::StandardStream::output);
  const int status = app::run_dumpxdb(app::CommandLine::from_process(argc, argv), units, std::cout);
  std::cerr.flush();
  std::cout.flush();
  return status;
}
