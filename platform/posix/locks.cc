#include "platform/locks.h"

#include <unistd.h>

#include <mutex>
#include <new>

namespace platform {

namespace {

std::recursive_mutex& held(unsigned char* state) {
  return *std::launder(reinterpret_cast<std::recursive_mutex*>(state));
}

}  // namespace

Mutex::Mutex() {
  static_assert(sizeof(std::recursive_mutex) <= kStateBytes);
  static_assert(alignof(std::recursive_mutex) <= alignof(std::max_align_t));
  new (state_) std::recursive_mutex;
}

Mutex::~Mutex() { held(state_).~recursive_mutex(); }

void Mutex::lock() { held(state_).lock(); }

void Mutex::unlock() { held(state_).unlock(); }

std::int32_t current_thread_id() { return static_cast<std::int32_t>(::gettid()); }

}  // namespace platform
