#pragma once
// What an interrupt (Ctrl-C: SIGINT; CTRL_C_EVENT on Win32) or a termination request (SIGTERM,
// SIGHUP, a closed pipe: SIGPIPE; Ctrl-Break or a closed console window on Win32) leaves behind:
// never an unfinished output. A program installs the handlers once at its entry and names the
// temporary files it writes while it writes them; the handler removes those files, prints one
// line (not for SIGPIPE: its reader is gone) and ends the process with status 128 + the signal's
// number (130, 143, 129, 141), as shells expect.
//
// The handler can only use what is safe in a signal handler, so the names live in fixed static
// slots: the one state of this module, shared by the process as the signals are.

#include <string>

namespace platform {

inline constexpr int kInterruptSlots = 4;

// Installs the handlers; `program` names the program in the line printed.
void install_interrupt_handlers(const char* program);

// Names a file to remove on an interrupt until it is forgotten; returns its slot, or -1 when the
// name does not fit a slot or every slot is taken (the file is then left on an interrupt).
int remove_on_interrupt(const std::string& path);
void forget_on_interrupt(int slot);

}  // namespace platform
