// The converter run as a user meets it: parameters, usage, input choice, the neutral header, the
// messages on the message unit and the exit status.

#include "app/loadxdb.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/stop.h"
#include "testkit/end_to_end.h"
#include "tests/neutral/value_lines.h"

namespace {

using testing_neutral::data_lines;
using testing_neutral::header_line;
using testing_neutral::kAlphabet;

const std::string kBanner = " LOADXDB - V2012.2 (06-Jul-2012)\n";
const std::string kUsage =
    "\n"
    "  COMMAND LINE PARAMETERS    DEFAULT\n"
    " -------------------------- -------------\n"
    "  neutral-xdb-file           (none).ndb\n"
    "\n"
    "  output=binary-xdb-file     (none).xdb\n"
    "  verbose=(yes|no)           yes\n";
const std::string kNoInput = " *** USER FATAL MESSAGE (LOADXDB)\n     AN INPUT FILE IS REQUIRED.\n";
std::string invalid(const std::string& arg) {
  return " *** USER FATAL MESSAGE (LOADXDB)\n     INVALID COMMAND LINE PARAMETER: " + arg + "\n";
}

// The listing of a run whose data begin with an end mark: banner, file names, and the header of
// the (empty) block listing.
std::string listing(const std::string& neutral_full, const std::string& xdb) {
  return kBanner + " NEUTRAL FILE:   " + neutral_full + "\n XDB FILE:       " + xdb + "\n" +
         "\n DATA BLOCK   PROJECT     SE ID      PATH   SUBCASE    SET ID  APPROACH    DESIGN    P-ITER\n";
}

// A neutral file whose data begin with an end mark.
const std::string kEmptyDatabase = header_line(kAlphabet, "1024") + data_lines({47});

class Run : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("loadxdb_run_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    old_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_);
  }
  void TearDown() override {
    std::filesystem::current_path(old_);
    std::filesystem::remove_all(dir_);
  }
  void write(const std::string& name, const std::string& text) { std::ofstream(name, std::ios::binary) << text; }

  // Runs loadxdb with the given arguments (and standard input); returns the exit status. Every
  // XDB the run leaves in the directory must be one the checker finds sound.
  int run(std::vector<std::string> args, const std::string& standard_input = "") {
    const support::ConverterRun r = support::run_converter(args, dir_, standard_input);
    out = r.messages;
    EXPECT_EQ(r.unsound(), "");
    return r.status;
  }

  std::string full(const std::string& name) { return (std::filesystem::canonical(dir_) / name).string(); }
  std::vector<int32_t> words(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<int32_t> w(bytes.size() / 4);
    std::memcpy(w.data(), bytes.data(), w.size() * 4);
    return w;
  }

  std::string out;
  std::filesystem::path dir_, old_;
};

TEST_F(Run, NoArgumentsAsksForAnInputFile) {
  EXPECT_EQ(run({}), platform::kExitFatal);
  EXPECT_EQ(out, kBanner + kNoInput + kUsage);
}

TEST_F(Run, InvalidParametersAreAllReportedBeforeTheUsage) {
  EXPECT_EQ(run({"verbose=maybe", "x.ndb", "verbosee=yes", "debug=o", "outputs=x", "=", "verbose=", "o="}),
            platform::kExitFatal);
  EXPECT_EQ(out, invalid("verbose=maybe") + invalid("verbosee=yes") + invalid("debug=o") +
                     invalid("outputs=x") + invalid("=") + invalid("verbose=") + invalid("o=") + kBanner +
                     kUsage);
  EXPECT_EQ(run({"v=maybe"}), platform::kExitFatal);
  EXPECT_EQ(out, invalid("v=maybe") + kBanner + kNoInput + kUsage);
}

TEST_F(Run, HelpAndVersion) {
  EXPECT_EQ(run({"--help"}), platform::kExitClean);
  EXPECT_EQ(out, kBanner + kUsage);
  EXPECT_EQ(run({"x.ndb", "-h"}), platform::kExitClean);
  EXPECT_EQ(out, kBanner + kUsage);
  EXPECT_EQ(run({"--version"}), platform::kExitClean);
  EXPECT_EQ(out, kBanner);
  // A neutral file that is literally named like an option is given with a path.
  write("--help.ndb", kEmptyDatabase);
  EXPECT_EQ(run({"./--help"}), platform::kExitClean);
  EXPECT_EQ(out, listing(full("--help.ndb"), "--help.xdb"));
}

TEST_F(Run, AbbreviatedParametersAreAccepted) {
  write("model.ndb", kEmptyDatabase);
  EXPECT_EQ(run({"V=N", "model"}), platform::kExitClean);
  EXPECT_EQ(out, "");
  EXPECT_TRUE(std::filesystem::exists("model.xdb"));
  EXPECT_EQ(run({"Ver=No", "d=OF", "o=out.xdb", "model.ndb"}), platform::kExitClean);
  EXPECT_EQ(out, "");
  EXPECT_TRUE(std::filesystem::exists("out.xdb"));
  EXPECT_EQ(run({"model", "DEBUG=on", "VERBOSE=YES", "output=debug.xdb"}), platform::kExitClean);
  // Debug mode traces the block services while the XDB is created, before the file names.
  EXPECT_EQ(out.rfind(kBanner + " ACCESS BLKGET CALLED DBNUM, BLOCK NUMBER RETURNED =    1           1\n", 0), 0u);
  EXPECT_NE(out.find(" NEUTRAL FILE:   " + full("model.ndb") + "\n XDB FILE:       debug.xdb\n"), std::string::npos);
  EXPECT_NE(out.find(" ACCESS BLKWRT REQUEST FOR BLOCK NUMBER           1 TO DATA BASE   1  <"), std::string::npos);
}

TEST_F(Run, NamedFileIsCompletedAndListedByDefault) {
  write("model.ndb", kEmptyDatabase);
  EXPECT_EQ(run({"model"}), platform::kExitClean);
  EXPECT_EQ(out, listing(full("model.ndb"), "model.xdb"));
  // A file named exactly as typed wins over the completed name; here it is empty.
  write("model", "");
  EXPECT_EQ(run({"model", "o=other.xdb"}), platform::kExitFatal);
  EXPECT_NE(out.find("NEUTRAL FILE APPEARS TO BE EMPTY."), std::string::npos);
}

TEST_F(Run, LastOfTwoPositionalNamesIsUsed) {
  write("second.ndb", kEmptyDatabase);
  EXPECT_EQ(run({"first", "second"}), platform::kExitClean);
  EXPECT_EQ(out, listing(full("second.ndb"), "second.xdb"));
}

TEST_F(Run, QuotedNameKeepsItsBlank) {
  write("my model.ndb", kEmptyDatabase);
  EXPECT_EQ(run({"\"my model.ndb\""}), platform::kExitClean);
  EXPECT_EQ(out, listing(full("my model.ndb"), "my model.xdb"));
}

TEST_F(Run, MissingFileReportsTheCompletedNameAndSystemStatus) {
  EXPECT_EQ(run({"nosuch"}), platform::kExitFatal);
  EXPECT_EQ(out, kBanner +
                     " *** USER FATAL MESSAGE (LOADXDB)\n"
                     "     ERROR OPENING NEUTRAL FILE 'nosuch.ndb', IOSTAT =     2\n");
  std::filesystem::create_directory("folder.ndb");
  EXPECT_EQ(run({"folder.ndb", "v=n"}), platform::kExitFatal);
  EXPECT_EQ(out, " *** USER FATAL MESSAGE (LOADXDB)\n     ERROR OPENING NEUTRAL FILE 'folder.ndb', IOSTAT =    21\n");
}

TEST_F(Run, StandardInputIsReadWithoutListingUnlessAsked) {
  EXPECT_EQ(run({"-"}, kEmptyDatabase), platform::kExitClean);
  EXPECT_EQ(out, "");
  EXPECT_TRUE(std::filesystem::exists("loadxdb.xdb"));
  EXPECT_EQ(run({"-", "verbose=yes", "o=listed.xdb"}, kEmptyDatabase), platform::kExitClean);
  EXPECT_EQ(out, listing("-", "listed.xdb"));
  EXPECT_EQ(run({"-"}, ""), platform::kExitFatal);
  EXPECT_EQ(out,
            "\n *** SYSTEM FATAL MESSAGE (CVTSTR)\n"
            "     END-OF-FILE CONDITION READING TRANSLATION STRING.\n"
            "     NEUTRAL FILE APPEARS TO BE EMPTY.\n");
}

TEST_F(Run, HeaderFaultsStopWithTheirMessages) {
  write("dup.ndb", header_line("ABCA") + data_lines({47}));
  EXPECT_EQ(run({"dup", "v=n"}), platform::kExitFatal);
  EXPECT_EQ(out, "\n *** SYSTEM FATAL MESSAGE (CVTSTR)\n     ERROR SETTING UP TRANSLATION TABLE AT INDEX =   4\n");

  write("letters.ndb", header_line(kAlphabet, "1O24") + data_lines({47}));
  EXPECT_EQ(run({"letters", "v=n"}), platform::kExitFatal);
  EXPECT_EQ(out,
            "\n *** SYSTEM FATAL MESSAGE (CVTSTR)\n"
            "     BLOCK SIZE FIELD OF LINE 1 (COLUMNS 65-79) IS NOT A VALID INTEGER: '           1O24'\n");
}

TEST_F(Run, TranslationErrorsCompleteWithWarningStatus) {
  // The data end at once (an end mark); the character behind it is not in the alphabet.
  write("bad.ndb", header_line(kAlphabet, "1024") + " " + kAlphabet[47] + "{" + std::string(77, 'v') + "\n" +
                       data_lines({}));
  EXPECT_EQ(run({"bad", "v=n"}), platform::kExitWarnings);
  EXPECT_EQ(out,
            "\n *** SYSTEM INFORMATION MESSAGE LXDB (CVTGET)\n"
            "     ERROR IN TRANSLATING DATA. CHARACTER = '{'\n"
            "\n **** SYSTEM INFORMATION MESSAGE (CVTEND)\n"
            "          1 ERRORS OCCURED DURING TRANSMISSION PROCESS\n");
}

TEST_F(Run, EmptyDataLeaveAnEmptyXdbOfFourBlocks) {
  std::filesystem::create_directory("elsewhere");
  write("elsewhere/in.ndb", header_line(kAlphabet, "300") + data_lines({47}));
  EXPECT_EQ(run({"elsewhere/in", "v=n"}), platform::kExitClean);
  auto w = words("in.xdb");  // in the current directory, not beside the neutral file
  ASSERT_EQ(w.size(), 4u * 300);
  EXPECT_EQ(std::vector<int32_t>(w.begin(), w.begin() + 18),
            (std::vector<int32_t>{300, 16777215, 16777211, 4, 0, 2, 0, 0, 3, 1, 1, 4, 40, 0, 0, 0, 12, 0}));
}

TEST_F(Run, BlockSizeAndFlagShapeTheXdb) {
  write("wide.ndb", header_line(kAlphabet, "-2048", '1') + data_lines({47}));
  EXPECT_EQ(run({"wide", "v=n"}), platform::kExitClean);
  auto w = words("wide.xdb");
  ASSERT_EQ(w.size(), 4u * 2048);
  EXPECT_EQ(w[0], 2048);
  EXPECT_EQ(w[1], 2147483640);
  EXPECT_EQ(w[16], 14);
  write("default.ndb", header_line(kAlphabet, "") + data_lines({47}));
  EXPECT_EQ(run({"default", "v=n"}), platform::kExitClean);
  EXPECT_EQ(words("default.xdb").size(), 4u * 1024);
}

TEST_F(Run, ExistingOutputIsRefusedAndLeftUntouched) {
  write("model.ndb", kEmptyDatabase);
  write("taken.xdb", "precious");
  EXPECT_EQ(run({"model", "o=taken.xdb"}), platform::kExitFatal);
  EXPECT_EQ(out, kBanner +
                     "\n *** USER FATAL MESSAGE (LOADXDB)\n"
                     "     ERROR OPENING XDB FILE 'taken.xdb', RETURN CODE =    4\n"
                     "     NEW XDB FILE ALREADY EXISTS.\n");
  std::ifstream in("taken.xdb");
  std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(content, "precious");
}

TEST_F(Run, PoolAndBlockSizeFailures) {
  write("tiny.ndb", header_line(kAlphabet, "299") + data_lines({47}));
  EXPECT_EQ(run({"tiny", "v=n"}), platform::kExitFatal);
  EXPECT_EQ(out,
            "\n *** SYSTEM FATAL MESSAGE (LOADXDB)\n"
            "     ERROR SETTING UP PAGING POOL. RETURN CODE =    1\n"
            "     INSUFFICIENT MEMORY ALLOCATED FOR PAGING POOL.\n");
  write("huge.ndb", header_line(kAlphabet, "-2147483648") + data_lines({47}));
  EXPECT_EQ(run({"huge", "v=n"}), platform::kExitFatal);
  EXPECT_NE(out.find("ERROR SETTING UP PAGING POOL. RETURN CODE =    1"), std::string::npos);
  // A block of 65537 words fits the pool but no XDB may have it.
  write("over.ndb", header_line(kAlphabet, "65537") + data_lines({47}));
  EXPECT_EQ(run({"over", "v=n"}), platform::kExitFatal);
  EXPECT_EQ(out,
            "\n *** SYSTEM FATAL MESSAGE (LOADXDB)\n"
            "     ERROR OPENING XDB FILE 'over.xdb', RETURN CODE =    8\n"
            "     BLOCK SIZE EXCEEDS PAGE CONFIGURATION.\n");
  EXPECT_FALSE(std::filesystem::exists("over.xdb"));
}

}  // namespace
