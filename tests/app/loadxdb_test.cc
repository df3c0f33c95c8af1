// The converter run as a user meets it: parameters, usage, input choice, the neutral header, the
// messages on the message unit and the exit status.

#include "app/loadxdb.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/format.h"
#include "platform/stop.h"
#include "platform/syserror.h"
#include "testkit/end_to_end.h"
#include "testkit/foreign_writer.h"
#include "testkit/screen.h"
#include "testkit/test_directory.h"
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
    "  verbose=(yes|no)           yes\n"
    "  progress=(yes|no)          yes on a terminal\n";
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
  void SetUp() override { dir_.enter(); }
  void write(const std::string& name, const std::string& text) { std::ofstream(name, std::ios::binary) << text; }

  // Runs loadxdb with the given arguments (and standard input); returns the exit status. Every
  // XDB the run leaves in the directory must be one the checker finds sound.
  int run(std::vector<std::string> args, const std::string& standard_input = "") {
    const support::ConverterRun r = support::run_converter(args, dir_.path(), standard_input);
    out = r.messages;
    EXPECT_EQ(r.unsound(), "");
    return r.status;
  }

  std::string full(const std::string& name) { return (std::filesystem::canonical(dir_.path()) / name).string(); }

  std::string out;
  support::TestDirectory dir_{"run"};
};

// One run: the files it finds, its parameters and standard input, its exit status and messages.
// "{dir}/" in a message stands for the run's directory; a file name ending in "/" is a directory.
struct RunCase {
  const char* name;
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<std::string> args;
  std::string standard_input;
  int status;
  std::string messages;
  const char* xdb = nullptr;  // an XDB the run must leave
};
void PrintTo(const RunCase& c, std::ostream* os) { *os << c.name; }

class Runs : public Run, public ::testing::WithParamInterface<RunCase> {};

TEST_P(Runs, EndWithTheirStatusAndMessages) {
  const RunCase& c = GetParam();
  for (const auto& [name, text] : c.files) {
    if (name.back() == '/') {
      std::filesystem::create_directory(name);
    } else {
      write(name, text);
    }
  }
  EXPECT_EQ(run(c.args, c.standard_input), c.status);
  std::string expected = c.messages;
  for (std::size_t at; (at = expected.find("{dir}/")) != std::string::npos;) expected.replace(at, 6, full(""));
  EXPECT_EQ(out, expected);
  if (c.xdb) {
    EXPECT_TRUE(std::filesystem::exists(c.xdb)) << c.xdb;
  }
}

const std::pair<std::string, std::string> kModel{"model.ndb", kEmptyDatabase};

INSTANTIATE_TEST_SUITE_P(
    CommandLines, Runs,
    ::testing::Values(
        RunCase{"no_arguments_ask_for_an_input_file", {}, {}, "", platform::kExitFatal, kBanner + kNoInput + kUsage},
        RunCase{"invalid_parameters_are_all_reported_before_the_usage",
                {},
                {"verbose=maybe", "x.ndb", "verbosee=yes", "debug=o", "outputs=x", "=", "verbose=", "o=", "progress=maybe",
                 "progresss=no"},
                "",
                platform::kExitFatal,
                invalid("verbose=maybe") + invalid("verbosee=yes") + invalid("debug=o") + invalid("outputs=x") +
                    invalid("=") + invalid("verbose=") + invalid("o=") + invalid("progress=maybe") +
                    invalid("progresss=no") + kBanner + kUsage},
        RunCase{"invalid_parameter_and_no_input", {}, {"v=maybe"}, "", platform::kExitFatal,
                invalid("v=maybe") + kBanner + kNoInput + kUsage},
        RunCase{"help", {}, {"--help"}, "", platform::kExitClean, kBanner + kUsage},
        RunCase{"help_behind_a_file_name", {}, {"x.ndb", "-h"}, "", platform::kExitClean, kBanner + kUsage},
        RunCase{"version", {}, {"--version"}, "", platform::kExitClean, kBanner},
        RunCase{"file_named_like_an_option_is_given_with_a_path", {{"--help.ndb", kEmptyDatabase}}, {"./--help"}, "",
                platform::kExitClean, listing("{dir}/--help.ndb", "--help.xdb")},
        RunCase{"abbreviated_parameters", {kModel}, {"V=N", "model"}, "", platform::kExitClean, "", "model.xdb"},
        RunCase{"abbreviated_values", {kModel}, {"Ver=No", "d=OF", "o=out.xdb", "P=N", "model.ndb"}, "", platform::kExitClean,
                "", "out.xdb"},
        RunCase{"named_file_is_completed_and_listed_by_default", {kModel}, {"model"}, "", platform::kExitClean,
                listing("{dir}/model.ndb", "model.xdb"), "model.xdb"},
        // A file named exactly as typed wins over the completed name; here it is empty.
        RunCase{"file_named_as_typed_wins", {kModel, {"model", ""}}, {"model", "o=other.xdb", "v=n"}, "",
                platform::kExitFatal,
                "\n *** SYSTEM FATAL MESSAGE (CVTSTR)\n     END-OF-FILE CONDITION READING TRANSLATION STRING.\n"
                "     NEUTRAL FILE APPEARS TO BE EMPTY.\n"},
        RunCase{"last_of_two_positional_names_is_used", {{"second.ndb", kEmptyDatabase}}, {"first", "second"}, "",
                platform::kExitClean, listing("{dir}/second.ndb", "second.xdb")},
        RunCase{"quoted_name_keeps_its_blank", {{"my model.ndb", kEmptyDatabase}}, {"\"my model.ndb\""}, "",
                platform::kExitClean, listing("{dir}/my model.ndb", "my model.xdb")},
        RunCase{"missing_file_reports_the_completed_name_and_system_status", {}, {"nosuch"}, "", platform::kExitFatal,
                kBanner + " *** USER FATAL MESSAGE (LOADXDB)\n     ERROR OPENING NEUTRAL FILE 'nosuch.ndb', IOSTAT =     2\n"},
        RunCase{"directory_is_no_neutral_file", {{"folder.ndb/", ""}}, {"folder.ndb", "v=n"}, "", platform::kExitFatal,
                " *** USER FATAL MESSAGE (LOADXDB)\n     ERROR OPENING NEUTRAL FILE 'folder.ndb', IOSTAT =" +
                    platform::iw(platform::kErrorIsDirectory, 6) + "\n"},
        RunCase{"standard_input_is_read_without_listing", {}, {"-"}, kEmptyDatabase, platform::kExitClean, "",
                "loadxdb.xdb"},
        RunCase{"standard_input_is_listed_when_asked", {}, {"-", "verbose=yes", "o=listed.xdb"}, kEmptyDatabase,
                platform::kExitClean, listing("-", "listed.xdb"), "listed.xdb"},
        // The data end at once (an end mark); the character behind it is not in the alphabet.
        RunCase{"translation_errors_complete_with_warning_status",
                {{"bad.ndb", header_line(kAlphabet, "1024") + " " + kAlphabet[47] + "{" + std::string(77, 'v') + "\n" +
                                 data_lines({})}},
                {"bad", "v=n"},
                "",
                platform::kExitWarnings,
                "\n *** SYSTEM INFORMATION MESSAGE LXDB (CVTGET)\n"
                "     ERROR IN TRANSLATING DATA. CHARACTER = '{'\n"
                "\n **** SYSTEM INFORMATION MESSAGE (CVTEND)\n"
                "          1 ERRORS OCCURED DURING TRANSMISSION PROCESS\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// A run whose standard error is no terminal shows the progress line only when told to; what
// stays on the screen is then the text of the run without it.
TEST_F(Run, ProgressYesDrawsTheLineAndLeavesTheListingAsItWas) {
  write("model.ndb", kEmptyDatabase);
  EXPECT_EQ(run({"model", "output=plain.xdb"}), platform::kExitClean);
  const std::string plain = out;
  EXPECT_EQ(plain.find('\x1b'), std::string::npos);
  EXPECT_EQ(run({"model", "output=shown.xdb", "pro=Y"}), platform::kExitClean);
  EXPECT_NE(out.find("\r0 B of " + std::to_string(kEmptyDatabase.size()) + " B  0%"), std::string::npos) << out;
  support::Screen screen;
  screen.feed(out);
  EXPECT_EQ(screen.text(), listing(full("model.ndb"), "shown.xdb"));
  EXPECT_EQ(plain, listing(full("model.ndb"), "plain.xdb"));
}

TEST_F(Run, DebugModeTracesTheBlockServicesFromTheCreationOfTheXdb) {
  write("model.ndb", kEmptyDatabase);
  EXPECT_EQ(run({"model", "DEBUG=on", "VERBOSE=YES", "output=debug.xdb"}), platform::kExitClean);
  // The trace begins while the XDB is created, before the file names.
  EXPECT_EQ(out.rfind(kBanner + " ACCESS BLKGET CALLED DBNUM, BLOCK NUMBER RETURNED =    1           1\n", 0), 0u);
  EXPECT_NE(out.find(" NEUTRAL FILE:   " + full("model.ndb") + "\n XDB FILE:       debug.xdb\n"), std::string::npos);
  EXPECT_NE(out.find(" ACCESS BLKWRT REQUEST FOR BLOCK NUMBER           1 TO DATA BASE   1  <"), std::string::npos);
}

TEST_F(Run, EmptyDataLeaveAnEmptyXdbOfFourBlocks) {
  std::filesystem::create_directory("elsewhere");
  write("elsewhere/in.ndb", header_line(kAlphabet, "300") + data_lines({47}));
  EXPECT_EQ(run({"elsewhere/in", "v=n"}), platform::kExitClean);
  auto w = support::read_native_xdb("in.xdb");  // in the current directory, not beside the neutral file
  ASSERT_EQ(w.size(), 4u * 300);
  EXPECT_EQ(std::vector<int32_t>(w.begin(), w.begin() + 18),
            (std::vector<int32_t>{300, 16777215, 16777211, 4, 0, 2, 0, 0, 3, 1, 1, 4, 40, 0, 0, 0, 12, 0}));
}

TEST_F(Run, BlockSizeAndFlagShapeTheXdb) {
  write("wide.ndb", header_line(kAlphabet, "-2048", '1') + data_lines({47}));
  EXPECT_EQ(run({"wide", "v=n"}), platform::kExitClean);
  auto w = support::read_native_xdb("wide.xdb");
  ASSERT_EQ(w.size(), 4u * 2048);
  EXPECT_EQ(w[0], 2048);
  EXPECT_EQ(w[1], 2147483640);
  EXPECT_EQ(w[16], 14);
  write("default.ndb", header_line(kAlphabet, "") + data_lines({47}));
  EXPECT_EQ(run({"default", "v=n"}), platform::kExitClean);
  EXPECT_EQ(support::read_native_xdb("default.xdb").size(), 4u * 1024);
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

}  // namespace
