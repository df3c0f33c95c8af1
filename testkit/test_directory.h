#pragma once
// A scratch directory for the running test: empty when made, named after the test, removed
// afterwards. A test that runs a program relative to the current directory can enter it.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>

#include "testkit/programs.h"

namespace support {

class TestDirectory {
 public:
  // <temp>/loadxdb_<what>_<process>_<test>, where '/' of a parameterised test's name becomes '_'
  // (the name of no test when none is running).
  explicit TestDirectory(const std::string& what) {
    std::string name = "loadxdb_" + what + "_" + std::to_string(process_id());
    if (const auto* test = ::testing::UnitTest::GetInstance()->current_test_info()) {
      name += "_" + std::string(test->name());
    }
    std::replace(name.begin(), name.end(), '/', '_');
    dir_ = std::filesystem::temp_directory_path() / name;
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  ~TestDirectory() {
    std::error_code ec;
    if (!previous_.empty()) std::filesystem::current_path(previous_, ec);
    std::filesystem::remove_all(dir_, ec);
  }
  TestDirectory(const TestDirectory&) = delete;
  TestDirectory& operator=(const TestDirectory&) = delete;

  const std::filesystem::path& path() const { return dir_; }
  std::string path(const std::string& name) const { return (dir_ / name).string(); }

  // Makes it the current directory until it is removed.
  void enter() {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }

 private:
  std::filesystem::path dir_, previous_;
};

}  // namespace support
