// Entry of the loadxdb converter: rebuilds a binary XDB database file from its neutral form.

#include <cstdio>
#include <iostream>

#include "app/loadxdb.h"
#include "platform/interrupts.h"
#include "platform/process.h"
#include "platform/terminal.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  platform::prepare_standard_streams();
  platform::install_interrupt_handlers(app::kProgramName);
  platform::Units units;
  units.message_terminal = platform::is_terminal(platform::StandardStream::error);
  units.output_terminal = platform::is_terminal(platform::StandardStream::output);
  platform::TextInput standard_input;
  standard_input.attach_standard_input();
  int status = app::run_loadxdb(app::CommandLine::from_process(argc, argv), units, standard_input);
  std::cerr.flush();
  std::cout.flush();
  return status;
}
