// What the library tells from outside switches: debug lines (KOVDBG) and the trace file
// (KOV_BIOTRACE).

#include <algorithm>

#include "testkit/system_codes.h"
#include "tests/bio/bio_fixture.h"

namespace {

using namespace testing_bio;
using namespace bio;

constexpr int32_t kRecl = 4;

bool has_line(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

struct LevelCase {
  const char* kovdbg;
  int level;
};

class BioDebugLevels : public BioTest, public ::testing::WithParamInterface<LevelCase> {};

// A line that is printed first at each level, from 1 to 4.
TEST_P(BioDebugLevels, LevelComesFromTheCharacterAfterBio) {
  support::set_environment("KOVDBG", GetParam().kovdbg);
  int32_t cntlwd = open(CREATE, "d", kRecl);
  close(cntlwd);
  auto lines = debug_lines();
  const char* markers[] = {
      "At exit -- iret = 0.", "Maximum allowable record number set to 0x7fffffff.",
      "At exit from closefiledataarea -- iret = 0.", "optnames[14] = SETPARALLEL"};
  for (int level = 1; level <= 4; ++level) {
    EXPECT_EQ(has_line(lines, markers[level - 1]), level <= GetParam().level) << level;
  }
}

INSTANTIATE_TEST_SUITE_P(Kovdbg, BioDebugLevels,
                         ::testing::Values(LevelCase{"xbio3y", 3}, LevelCase{"BIOX", 1},
                                           LevelCase{"bio", 1}, LevelCase{"DEBUG", 0},
                                           LevelCase{"all,BIO2", 2}, LevelCase{"BIO0", 0},
                                           LevelCase{"Bio9", 9}));

class BioDebugLines : public BioTest {};

// Addresses in the debug lines are the C library's "%p": "(nil)" and "0x..." with glibc, sixteen
// hexadecimal digits with the Windows C library.
#ifdef _WIN32
const std::string kNoAddress = "0000000000000000";
const std::string kAddressHead = "";
#else
const std::string kNoAddress = "(nil)";
const std::string kAddressHead = "0x";
#endif

TEST_F(BioDebugLines, EntryAndExitLinesOfEveryRequest) {
  support::set_environment("KOVDBG", "BIO1");
  int32_t cntlwd = 3;
  std::string name = path("nothing/here");
  call(OPENRW, cntlwd, name, nullptr, 0, kRecl);
  close(cntlwd);
  const std::string code = std::to_string(support::kErrorNoDirectory);
  std::vector<std::string> expected = {
      "At entry -- iopt = 2 (OPENRW), cntlwd = 3, charvarleng = " + std::to_string(name.size()) +
          ", A(Intarray) = " + kNoAddress + ", intarrayleng = 0, intvar = 4.",
      "  Parallel operation active flag = 0.",
      "CreateFile failed -- error code = " + code + ".",
      "At exit -- iret = " + code + ".",
      "At entry -- iopt = 6 (CLOSE), cntlwd = 3, charvarleng = 0, A(Intarray) = " + kNoAddress +
          ", intarrayleng = 0, intvar = 0.",
      "  Parallel operation active flag = 0.",
      "At exit -- iret = 0.",
  };
  EXPECT_EQ(debug_lines(), expected);
  EXPECT_EQ(debug_.str().substr(0, 8), "BIOXXX: ");
}

TEST_F(BioDebugLines, DetailsAtLevelsTwoAndThree) {
  support::set_environment("KOVDBG", "BIO3");
  int32_t info_option = 0;
  call(OPENINFO, info_option, "Timing = Yes, raw");
  int32_t cntlwd = open(CREATE, "detail", kRecl);
  std::vector<int32_t> words = {1, 2, 0x7fffffff, -1};
  transfer(WRITE, cntlwd, 1, words);
  auto lines = debug_lines();
  for (const char* line : {
           "charvar = \"Timing = Yes, raw\"",
           "Scanning keyword data, chrvrl = 17, data is \"TIMING = YES, RAW\".",
           "  Keyword found.  Entry is \"TIMING = YES\".",
           "  Keyword part is \"TIMING\", value part is \"YES\".",
           "  Keyword found.  Entry is \"RAW\".",
           "  Calling CreateFile, FlagsAndAttributes = 268435584, 0x10000080.",
           "00000001 00000002 7fffffff ffffffff",
       }) {
    EXPECT_TRUE(has_line(lines, line)) << line;
  }
  const std::string head = "Create/open successful.  cntlwd = 1, area addr = " + kAddressHead;
  const std::string tail = ", flags = 0x40005, filesize = 0 records (0x000000000).";
  EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
    return l.rfind(head, 0) == 0 && l.size() > tail.size() &&
           l.compare(l.size() - tail.size(), tail.size(), tail) == 0;
  })) << ::testing::PrintToString(lines);
  close(cntlwd);
}

class BioTrace : public BioTest {
 protected:
  std::string trace_path() const { return path("trace.csv"); }
  void trace_with(const std::string& flags) {
    support::set_environment("KOV_BIOTRACE", (flags + trace_path()));
  }
  // Six requests on slot 3: create, write block 12, two reads, an unknown slot, close.
  void run_requests() {
    int32_t cntlwd = open(CREATE, "data", kRecl, 3);
    auto words = record_of(12, kRecl);
    transfer(WRITE, cntlwd, 12, words);
    transfer(READ, cntlwd, 12, words);
    int32_t stale = 44;
    transfer(READ, stale, 1, words);
    int32_t keep = 5;
    call(TRUNCATE, cntlwd, "", &keep, 1, kRecl);
    transfer(READ, cntlwd, 12, words);
    call(CLOSE, cntlwd, "closing");
  }
  std::string rows_in_sequence_mode() const {
    return "1,1,0,3,4,,\"" + path("data") +
           "\"\r\n"
           "2,4,0,3,12,,\r\n"
           "3,5,0,3,12,,\r\n"
           "4,5,6002,44,1,,\r\n"
           "5,12,0,3,5,,\r\n"
           "6,5,6007,3,12,,\r\n"
           "7,6,0,3,0,,\"closing\"\r\n";
  }
};

TEST_F(BioTrace, SequenceModeWithHeader) {
  trace_with("*%");
  run_requests();
  EXPECT_EQ(read_file("trace.csv"),
            "\"Seqno\",\"OpCode\",\"RetCode\",\"Cntlwd\",\"BlkNbr/RECL\",\"LogicalName\","
            "\"FileName/Message\"\r\n" +
                rows_in_sequence_mode());
}

TEST_F(BioTrace, AppendKeepsWhatTheFileHeld) {
  write_file("trace.csv", "earlier\r\n");
  trace_with("-+%");
  run_requests();
  EXPECT_EQ(read_file("trace.csv"), "earlier\r\n" + rows_in_sequence_mode());
}

TEST_F(BioTrace, ElapsedTimeModeNumbersRowsByTime) {
  trace_with("*");
  run_requests();
  std::istringstream in(read_file("trace.csv"));
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(line.substr(0, 10), "\"ElpTime\",");
  long previous = -1;
  int rows = 0;
  for (; std::getline(in, line); ++rows) {
    ASSERT_EQ(line.back(), '\r');
    long time = std::stol(line);
    EXPECT_GE(time, previous);
    previous = time;
  }
  EXPECT_EQ(rows, 7);
}

TEST_F(BioTrace, FlagsWithoutANameTraceNothingAndAFailedOpenIsTold) {
  support::set_environment("KOV_BIOTRACE", "+*%");
  support::set_environment("KOVDBG", "BIO2");
  run_requests();
  auto lines = debug_lines();
  EXPECT_TRUE(std::none_of(lines.begin(), lines.end(),
                           [](const std::string& l) { return l.rfind("Trace file", 0) == 0; }));
  support::set_environment("KOV_BIOTRACE", path("no/such/dir"));
  fresh_library();
  int32_t cntlwd = 0;
  call(TRACEBACK, cntlwd);
  EXPECT_TRUE(has_line(debug_lines(), "Trace file \"" + path("no/such/dir") +
                                          "\" open failed (append=0). Error code = " +
                                          std::to_string(support::kErrorNoDirectory) + "."));
}

}  // namespace
