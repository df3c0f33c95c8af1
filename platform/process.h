#pragma once
// What a program learns from the system at its start: its command line, where it was found, and
// standard streams fit to carry its data.

#include <optional>
#include <string>

namespace platform {

// The command line exactly as the process received it, for a program that splits it by its own
// rules: GetCommandLineA on Win32. Elsewhere the shell has split it already, and there is none.
std::optional<std::string> raw_command_line();

// The full name of the program file `name` as the executable search path finds it (".exe"
// added when the name has no extension, on Win32), or `name` itself when it is not found.
std::string search_program(const std::string& name);

// Makes standard output carry bytes unchanged (a neutral file written there must equal the one
// written to a file), and leaves standard error the system's text stream (CR LF line ends on
// Win32). Called once, at a program's entry, before anything is written.
void prepare_standard_streams();

}  // namespace platform
