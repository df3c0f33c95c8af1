#pragma once
// A fresh block I/O library for every test: a private directory for its files, the environment
// variables cleared (a test sets those it needs before the first request), the debug lines and
// reports caught in strings.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "bio/requests.h"
#include "bio/library.h"
#include "testkit/programs.h"

namespace testing_bio {

class BioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    support::unset_environment("KOVDBG");
    support::unset_environment("KOV_BIOTRACE");
    fresh_library();
    const std::string made = support::make_unique_directory(std::filesystem::temp_directory_path().string(), "bio_test_");
    ASSERT_NE(made, "");
    dir_ = made;
  }
  void TearDown() override {
    lib_.reset();
    support::unset_environment("KOVDBG");
    support::unset_environment("KOV_BIOTRACE");
    std::filesystem::remove_all(dir_);
  }

  // The library the test's requests go to, and a new one in its place (which reads the
  // environment again at its first request); the old one closes what it still has open.
  bio::Library& library() { return *lib_; }
  void fresh_library() { lib_ = std::make_unique<bio::Library>(debug_, report_); }

  std::string path(const std::string& leaf) const { return (dir_ / leaf).string(); }

  // One request with a name (or "" for none); returns iret.
  int32_t call(int32_t iopt, int32_t& cntlwd, const std::string& name = "",
               int32_t* words = nullptr, int32_t nwords = 0, int32_t intvar = 0) {
    std::string text = name;
    int32_t iret = -1;
    bio::BIOXXX(*lib_, iopt, cntlwd, text.data(), static_cast<int32_t>(text.size()), words, nwords,
                &intvar, iret);
    last_intvar_ = intvar;
    return iret;
  }
  // Opens or creates `leaf` in the test directory; returns the control word (failing the test
  // when the open fails).
  int32_t open(int32_t iopt, const std::string& leaf, int32_t recl, int32_t wanted = 0) {
    int32_t cntlwd = wanted;
    EXPECT_EQ(call(iopt, cntlwd, path(leaf), nullptr, 0, recl), 0) << leaf;
    return cntlwd;
  }
  int32_t transfer(int32_t iopt, int32_t cntlwd, int32_t block, std::vector<int32_t>& words) {
    return call(iopt, cntlwd, "", words.data(), static_cast<int32_t>(words.size()), block);
  }
  int32_t close(int32_t& cntlwd) { return call(bio::CLOSE, cntlwd); }

  std::string read_file(const std::string& leaf) const {
    std::ifstream in(path(leaf), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void write_file(const std::string& leaf, const std::string& bytes) const {
    std::ofstream(path(leaf), std::ios::binary) << bytes;
  }
  std::uintmax_t file_size(const std::string& leaf) const {
    return std::filesystem::file_size(path(leaf));
  }
  // The debug lines printed so far, without the "BIOXXX: " prefix.
  std::vector<std::string> debug_lines() const {
    std::vector<std::string> lines;
    std::istringstream in(debug_.str());
    for (std::string line; std::getline(in, line);) {
      lines.push_back(line.rfind("BIOXXX: ", 0) == 0 ? line.substr(8) : "!" + line);
    }
    return lines;
  }

  std::filesystem::path dir_;
  std::ostringstream debug_;
  std::ostringstream report_;
  int32_t last_intvar_ = 0;
  std::unique_ptr<bio::Library> lib_;
};

// A record of `recl` words whose every word tells its block and place: block*1000 + word.
inline std::vector<int32_t> record_of(int32_t block, int32_t recl) {
  std::vector<int32_t> words(recl);
  for (int32_t i = 0; i < recl; ++i) words[i] = block * 1000 + i;
  return words;
}

}  // namespace testing_bio
