#pragma once
// Locks and thread identifiers.
//
// A Mutex is re-entrant: the thread that holds it may take it again, and gives it back as many
// times, so a routine that holds a file's lock can call another that takes the same lock.

#include <unistd.h>

#include <cstdint>
#include <mutex>

namespace platform {

class Mutex {
 public:
  void lock() { m_.lock(); }
  void unlock() { m_.unlock(); }

 private:
  std::recursive_mutex m_;
};

// The system's identifier of the calling thread (distinct among the live threads of all
// processes).
inline std::int32_t current_thread_id() { return static_cast<std::int32_t>(::gettid()); }

}  // namespace platform
