// A new text file appears under its name only once it is complete, and never over another file.

#include "platform/textoutput.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/syserror.h"
#include "testkit/programs.h"
#include "testkit/system_codes.h"

namespace {

namespace fs = std::filesystem;

class NewTextFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string made = support::make_unique_directory(fs::temp_directory_path().string(), "textoutput_test_");
    ASSERT_NE(made, "");
    dir_ = made;
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string path(const char* leaf) const { return (dir_ / leaf).string(); }
  std::vector<std::string> names() const {
    std::vector<std::string> all;
    for (const auto& e : fs::directory_iterator(dir_)) all.push_back(e.path().filename().string());
    return all;
  }
  static std::string text(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path dir_;
};

TEST_F(NewTextFile, TakesItsNameOnlyWhenCommitted) {
  platform::TextOutput out;
  ASSERT_EQ(out.create(path("dump.ndb")), 0);
  ASSERT_EQ(out.write("abc\n", 4), 0);
  // Under way: only the temporary file, named after the output, exists.
  ASSERT_EQ(names().size(), 1u);
  EXPECT_EQ(names()[0].rfind("dump.ndb.", 0), 0u) << names()[0];
  EXPECT_EQ(fs::path(names()[0]).extension(), ".part");
  EXPECT_FALSE(fs::exists(path("dump.ndb")));
  ASSERT_EQ(out.write("def\n", 4), 0);
  ASSERT_EQ(out.commit(), 0);
  EXPECT_EQ(names(), std::vector<std::string>{"dump.ndb"});
  EXPECT_EQ(text(path("dump.ndb")), "abc\ndef\n");
}

TEST_F(NewTextFile, LeavesNothingWhenDroppedUncommitted) {
  {
    platform::TextOutput out;
    ASSERT_EQ(out.create(path("dump.ndb")), 0);
    ASSERT_EQ(out.write("abc\n", 4), 0);
  }
  EXPECT_TRUE(names().empty());
}

TEST_F(NewTextFile, NeverReplacesAFile) {
  std::ofstream(path("there.ndb")) << "keep";
  platform::TextOutput early;
  EXPECT_EQ(early.create(path("there.ndb")), platform::kErrorFileExists);
  {
    // A file that appears under the name while the new one is written wins: commit refuses.
    platform::TextOutput late;
    ASSERT_EQ(late.create(path("late.ndb")), 0);
    ASSERT_EQ(late.write("new", 3), 0);
    std::ofstream(path("late.ndb")) << "first";
    EXPECT_EQ(late.commit(), platform::kErrorFileExists);
  }
  EXPECT_EQ(text(path("there.ndb")), "keep");
  EXPECT_EQ(text(path("late.ndb")), "first");
  EXPECT_EQ(names().size(), 2u);  // no temporary file left
}

TEST_F(NewTextFile, ReportsADirectoryThatCannotHoldIt) {
  platform::TextOutput out;
  EXPECT_EQ(out.create(path("missing/dump.ndb")), support::kErrorNoDirectory);
}

}  // namespace
