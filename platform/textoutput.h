#pragma once
// Text written to a new file, or to standard output, so that a file never appears under its
// name half-written.
//
// A new file is written under a temporary name beside its final one, "<final>.<process>.part"
// (publish.h; so a person who finds one after a crash sees whose it is), named for removal on an
// interrupt (interrupts.h) before it is made, and takes the final name only when it is complete: commit() writes out what is buffered, syncs the file to the disk, links it
// under the final name (never replacing a file that appeared there meanwhile: EEXIST), removes
// the temporary name and syncs the directory. Until then the final name is untouched; a
// TextOutput that is destroyed without commit() removes its temporary file.
//
// Every function returns 0 or the system error number (errno) of the call that failed.

#include <cstddef>
#include <string>

#include "platform/handle.h"

namespace platform {

class TextOutput {
 public:
  TextOutput() = default;
  ~TextOutput();
  TextOutput(const TextOutput&) = delete;
  TextOutput& operator=(const TextOutput&) = delete;

  // Starts a new file that will be named `final_name`; EEXIST when that name exists already.
  int create(const std::string& final_name);
  // Writes to standard output instead; commit() then only flushes.
  void attach_standard_output();

  int write(const char* data, std::size_t bytes);
  int commit();
  // Removes the temporary file (a no-op for standard output or after commit()).
  void abandon();

  const std::string& temporary_name() const { return temporary_; }

 private:
  // Gives the closed, synced temporary file its final name; on success the file is no longer
  // removed by an interrupt. 0 or the system's error.
  int name_closed_file();

  NativeHandle handle_ = kNoHandle;
  bool owns_handle_ = false;
  std::string final_;
  std::string temporary_;  // empty once committed or abandoned
  int interrupt_slot_ = -1;  // its place among the files an interrupt removes
};

}  // namespace platform
