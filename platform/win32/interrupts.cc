#include "platform/interrupts.h"

#include <windows.h>

#include <atomic>
#include <cstring>

namespace platform {

namespace {

constexpr std::size_t kPathBytes = 4096;
constexpr std::size_t kProgramBytes = 16;

// The handler runs on a thread of its own that the system starts for the event; a slot's name is
// written before the slot is marked used, and read only after.
struct Slot {
  char path[kPathBytes];
  std::atomic<bool> used;
};
Slot slots[kInterruptSlots];
char program_name[kProgramBytes];

void put(const char* text) {
  const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
  if (err == nullptr || err == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(err, text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
}

// Ctrl-C stands for SIGINT (status 130), Ctrl-Break and closing the console for a termination
// request (143). The files were opened sharing their deletion: a name that an open handle holds
// goes when the process ends. Standard error is a text stream here, with CR LF line ends.
BOOL WINAPI on_console_event(DWORD event) {
  const char* what = nullptr;
  UINT status = 143;
  switch (event) {
    case CTRL_C_EVENT:
      what = " INTERRUPTED (CTRL-C)";
      status = 130;
      break;
    case CTRL_BREAK_EVENT: what = " TERMINATED (CTRL-BREAK)"; break;
    case CTRL_CLOSE_EVENT: what = " TERMINATED (CLOSE)"; break;
    default: return FALSE;  // logoff and shutdown: the system's own handling
  }
  for (Slot& slot : slots) {
    if (slot.used.load(std::memory_order_acquire)) DeleteFileA(slot.path);
  }
  put("\r\n *** ");
  put(program_name);
  put(what);
  put(": STOPPED, ITS UNFINISHED OUTPUT REMOVED.\r\n");
  ExitProcess(status);
}

}  // namespace

void install_interrupt_handlers(const char* program) {
  std::strncpy(program_name, program, kProgramBytes - 1);
  SetConsoleCtrlHandler(on_console_event, TRUE);
}

int remove_on_interrupt(const std::string& path) {
  if (path.size() >= kPathBytes) return -1;
  for (int i = 0; i < kInterruptSlots; ++i) {
    if (slots[i].used.load(std::memory_order_relaxed)) continue;
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    slots[i].used.store(true, std::memory_order_release);
    return i;
  }
  return -1;
}

void forget_on_interrupt(int slot) {
  if (slot >= 0 && slot < kInterruptSlots) slots[slot].used.store(false, std::memory_order_release);
}

}  // namespace platform
