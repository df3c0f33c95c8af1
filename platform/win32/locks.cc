#include "platform/locks.h"

#include <windows.h>

#include <new>

namespace platform {

namespace {

CRITICAL_SECTION* held(unsigned char* state) { return std::launder(reinterpret_cast<CRITICAL_SECTION*>(state)); }

}  // namespace

Mutex::Mutex() {
  static_assert(sizeof(CRITICAL_SECTION) <= kStateBytes);
  static_assert(alignof(CRITICAL_SECTION) <= alignof(std::max_align_t));
  InitializeCriticalSection(new (state_) CRITICAL_SECTION);
}

Mutex::~Mutex() { DeleteCriticalSection(held(state_)); }

void Mutex::lock() { EnterCriticalSection(held(state_)); }

void Mutex::unlock() { LeaveCriticalSection(held(state_)); }

std::int32_t current_thread_id() { return static_cast<std::int32_t>(GetCurrentThreadId()); }

}  // namespace platform
