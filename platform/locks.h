#pragma once
// Locks and thread identifiers.
//
// A Mutex is re-entrant: the thread that holds it may take it again, and gives it back as many
// times, so a routine that holds a file's lock can call another that takes the same lock. It is
// a critical section on Win32 and a recursive mutex elsewhere, kept in place inside the object
// so that taking it allocates nothing.

#include <cstddef>
#include <cstdint>

namespace platform {

class Mutex {
 public:
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock();
  void unlock();

 private:
  // Room for the system's lock (a CRITICAL_SECTION is 40 bytes on 64-bit Windows, a
  // std::recursive_mutex 40 on glibc); each implementation checks that its lock fits.
  static constexpr std::size_t kStateBytes = 64;
  alignas(std::max_align_t) unsigned char state_[kStateBytes];
};

// The system's identifier of the calling thread (distinct among the live threads of all
// processes).
std::int32_t current_thread_id();

}  // namespace platform
