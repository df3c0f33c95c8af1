#pragma once
// What the fuzz targets share: a stream that drops everything, and a scratch directory of the
// process for the files a run makes.

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string>

namespace fuzz {

// An output stream that accepts and drops every character.
class NullStream : public std::ostream {
 public:
  NullStream() : std::ostream(&buffer_) {}

 private:
  struct Drop : std::streambuf {
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
  };
  Drop buffer_;
};

// The process's scratch directory (made on first use under $TMPDIR or /tmp, removed with its
// files when the process ends normally), and a file name in it.
const std::string& scratch_directory();
std::string scratch_file(const std::string& name);

// Replaces the file `path` with the given bytes; false when it cannot be written.
bool write_file(const std::string& path, const uint8_t* data, std::size_t size);

// The verdict of the checker on an XDB: empty when it is sound, else its report. With
// `lost_space_counts`, a sound file that holds blocks neither reachable nor released counts too.
std::string xdb_problems(const std::string& name, bool lost_space_counts = false);

// Prints the text on standard error and aborts: the fuzzer records the input as a crash.
[[noreturn]] void finding(const std::string& what, const std::string& messages);

}  // namespace fuzz
