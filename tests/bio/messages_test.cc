// GETERRMSG: the text of a return code, cut or blank-padded to the caller's buffer.

#include <cerrno>

#include "platform/syserror.h"
#include "testkit/system_codes.h"
#include "tests/bio/bio_fixture.h"

namespace {

using namespace testing_bio;

struct MessageCase {
  int32_t code;
  int32_t chrvrl;
  std::string text;  // the whole text; the buffer gets it cut or padded to chrvrl
};

class BioErrorMessages : public BioTest, public ::testing::WithParamInterface<MessageCase> {};

TEST_P(BioErrorMessages, TextIsCutOrPaddedToTheBuffer) {
  const MessageCase& c = GetParam();
  std::string buffer(c.chrvrl, '#');
  std::vector<int32_t> info = {-1, -1, -1, -1};
  int32_t code = c.code, cntlwd = 0, iret = -1;
  bio::BIOXXX(library(), bio::GETERRMSG, cntlwd, buffer.data(), c.chrvrl, info.data(), 4, &code, iret);
  EXPECT_EQ(iret, 0);
  EXPECT_EQ(info, (std::vector<int32_t>{static_cast<int32_t>(c.text.size()), 1, 0, -1}));
  std::string expected = c.text.substr(0, c.chrvrl);
  expected.resize(c.chrvrl, ' ');
  EXPECT_EQ(buffer, expected);
}

// The library's own texts, and the system's for its error numbers: its C library's on POSIX,
// its message table's on Windows.
std::vector<MessageCase> cases() {
  return {MessageCase{6001, 40, "Too many files open concurrently."},
          MessageCase{6007, 10, "Read block number beyond End-of-file."},
          MessageCase{6011, 12, ""},
          MessageCase{6016, 80, "Specified record is beyond maximum for this filesystem."},
          MessageCase{6032, 0, "** Unexpected EOF encountered reading file."},
#ifdef _WIN32
          MessageCase{platform::kErrorFileNotFound, 30, support::system_message(platform::kErrorFileNotFound)},
          MessageCase{support::kErrorHeld, 30, support::system_message(support::kErrorHeld)},
#else
          MessageCase{ENOENT, 30, "No such file or directory"},
          MessageCase{EBUSY, 30, "Device or resource busy"},
#endif
          MessageCase{5999, 60, "Unknown error code (value = 5999 decimal)"},
          MessageCase{-7, 60, "Unknown error code (value = -7 decimal)"}};
}

INSTANTIATE_TEST_SUITE_P(Codes, BioErrorMessages, ::testing::ValuesIn(cases()));

TEST_F(BioErrorMessages, AskingForATextDoesNotStartTheLibrary) {
  support::set_environment("KOVDBG", "BIO2");
  char text[8];
  int32_t code = 6000, cntlwd = 0, iret = -1;
  bio::BIOXXX(library(), bio::GETERRMSG, cntlwd, text, 8, nullptr, 0, &code, iret);
  EXPECT_EQ(iret, 0);
  EXPECT_EQ(debug_.str(), "");  // not initialised: no debug level yet
  EXPECT_EQ(std::string(text, 8), "Invalid ");
  call(bio::TRACEBACK, cntlwd);
  EXPECT_NE(debug_.str(), "");
}

}  // namespace
