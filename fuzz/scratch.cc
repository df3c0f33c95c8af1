#include "fuzz/scratch.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <unistd.h>

#include "app/check.h"

namespace fuzz {

namespace {

void remove_scratch() {
  std::error_code ec;
  std::filesystem::remove_all(scratch_directory(), ec);
}

}  // namespace

const std::string& scratch_directory() {
  static const std::string dir = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/loadxdb_fuzz_XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::abort();
    }
    return pattern;
  }();
  static const bool registered = std::atexit(remove_scratch) == 0;
  (void)registered;
  return dir;
}

std::string scratch_file(const std::string& name) { return scratch_directory() + "/" + name; }

bool write_file(const std::string& path, const uint8_t* data, std::size_t size) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  file.close();
  return static_cast<bool>(file);
}

std::string xdb_problems(const std::string& name, bool lost_space_counts) {
  std::ostringstream report, listing;
  platform::Units units;
  units.message = &report;
  units.output = &listing;
  const bool sound = app::check_xdb(name, app::CheckOptions{}, units) == 0;
  const bool lost = report.str().find("(wasted space, not damage)") != std::string::npos;
  return sound && !(lost_space_counts && lost) ? std::string() : report.str();
}

void finding(const std::string& what, const std::string& messages) {
  std::cerr << "\n==== fuzz finding: " << what << "\n---- messages of the run:\n" << messages << "\n----\n";
  std::cerr.flush();
  std::abort();
}

}  // namespace fuzz
