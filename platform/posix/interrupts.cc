#include "platform/interrupts.h"

#include <csignal>
#include <cstring>
#include <unistd.h>

namespace platform {

namespace {

constexpr std::size_t kPathBytes = 4096;
constexpr std::size_t kProgramBytes = 16;

struct Slot {
  char path[kPathBytes];
  volatile sig_atomic_t used;
};
Slot slots[kInterruptSlots];
char program_name[kProgramBytes];

void put(const char* text) {
  const std::size_t n = std::strlen(text);
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, n);
}

extern "C" void on_interrupt(int signal) {
  for (Slot& slot : slots) {
    if (slot.used) ::unlink(slot.path);
  }
  put("\n *** ");
  put(program_name);
  put(signal == SIGINT ? " INTERRUPTED (SIGINT)" : " TERMINATED (SIGTERM)");
  put(": STOPPED, ITS UNFINISHED OUTPUT REMOVED.\n");
  ::_exit(128 + signal);
}

}  // namespace

void install_interrupt_handlers(const char* program) {
  std::strncpy(program_name, program, kProgramBytes - 1);
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGINT);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int remove_on_interrupt(const std::string& path) {
  if (path.size() >= kPathBytes) return -1;
  for (int i = 0; i < kInterruptSlots; ++i) {
    if (slots[i].used) continue;
    std::memcpy(slots[i].path, path.c_str(), path.size() + 1);
    slots[i].used = 1;
    return i;
  }
  return -1;
}

void forget_on_interrupt(int slot) {
  if (slot >= 0 && slot < kInterruptSlots) slots[slot].used = 0;
}

}  // namespace platform
