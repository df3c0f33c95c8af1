#include "app/loadxdb.h"

#include <cstdio>
#include <functional>
#include <iostream>
#include <optional>
#include <ostream>
#include <string>

#include "app/conversion_loop.h"
#include "app/listing.h"
#include "app/open_failure.h"
#include "app/poolsize.h"
#include "app/progress.h"
#include "xdb/database.h"
#include "neutral/items.h"
#include "neutral/stream.h"
#include "platform/format.h"
#include "platform/interrupts.h"
#include "platform/publish.h"
#include "platform/syserror.h"
#include "platform/stop.h"
#include "xdb/close.h"
#include "xdb/open.h"
#include "xdb/poolconfig.h"

namespace app {

namespace {

constexpr int32_t kMessageUnit = 0;  // standard error
constexpr int32_t kXdbUnit = 1;      // the database unit of the new XDB

// The settings the main program holds for the run.
struct RunSettings {
  std::string neutral_name;  // as typed, later completed and replaced by the full name; "-" = standard input
  std::string xdb_name;      // as typed, or derived
  bool parameters_valid = true;
  bool verbose = false;
  bool verbose_given = false;
  bool debug = false;
  std::optional<bool> progress;  // progress=, when given
  bool from_standard_input = false;
  std::ostream* listing = nullptr;  // the listing unit; none unless verbose
};

void print_usage(std::ostream& out) {
  out << "\n"
         "  COMMAND LINE PARAMETERS    DEFAULT\n"
         " -------------------------- -------------\n"
         "  neutral-xdb-file           (none).ndb\n"
         "\n"
         "  output=binary-xdb-file     (none).xdb\n"
         "  verbose=(yes|no)           yes\n"
         "  progress=(yes|no)          yes on a terminal\n";
}

void parse_parameters(const CommandLine& cl, RunSettings& run, std::ostream& out) {
  for (int i = 1; i <= cl.ARGCNT(); ++i) {
    std::string arg = cl.ARGGET(i), keyword, value;
    KEYVAL(arg, keyword, value);
    bool valid = true;
    if (trimmed(value).empty()) {
      valid = false;
    } else if (KEYMAT(keyword, "output", 1)) {
      run.xdb_name = value;
    } else if (KEYMAT(keyword, "debug", 1)) {
      LOWCAS(value);
      if (KEYMAT(value, "on", 2)) {
        run.debug = true;
      } else if (KEYMAT(value, "off", 2)) {
        run.debug = false;
      } else {
        valid = false;
      }
    } else if (KEYMAT(keyword, "verbose", 1)) {
      run.verbose_given = true;
      valid = yes_or_no(value, run.verbose);
    } else if (KEYMAT(keyword, "progress", 1)) {
      bool shown = false;
      valid = yes_or_no(value, shown);
      if (valid) run.progress = shown;
    } else if (trimmed(keyword).empty()) {
      run.neutral_name = value;
    } else {
      valid = false;
    }
    if (!valid) {
      print_invalid_parameter(out, kProgramName, arg);
      run.parameters_valid = false;
    }
  }
}

// The XDB a run makes: its temporary name while it is written and the name it takes.
struct Output {
  std::string temporary;    // empty until DBOPEN has made it
  std::string final_name;
  bool closed = false;      // DBCLOS succeeded: the file is whole
  int interrupt_slot = -1;  // its place among the files an interrupt removes
};

constexpr int kNameAttempts = 9;  // further temporary names tried when one is taken

void print_open_failure(std::ostream& out, const std::string& name, int32_t status) {
  out << "\n *** " << (status == xdb::kNewFileExists ? "USER" : "SYSTEM") << " FATAL MESSAGE (LOADXDB)\n"
      << "     ERROR OPENING XDB FILE '" << name << "', RETURN CODE = " << platform::iw(status, 4) << '\n';
  if (const char* text = open_failure_text(status)) out << "     " << text << '\n';
}

// A closed XDB takes its final name; any other is removed. Returns the run's exit status.
int finish_output(Output& output, std::ostream& out, int status) {
  if (output.temporary.empty()) return status;
  int named = 0;
  if (output.closed) named = platform::publish_file(output.temporary, output.final_name);
  if (!output.closed || named != 0) std::remove(output.temporary.c_str());
  platform::forget_on_interrupt(output.interrupt_slot);
  if (named == platform::kErrorFileExists) {
    // Another run made the output meanwhile; it is never replaced.
    print_open_failure(out, output.final_name, xdb::kNewFileExists);
  } else if (named != 0) {
    char text[256];
    const std::size_t n = platform::system_error_text(named, text, sizeof text);
    out << "\n *** SYSTEM FATAL MESSAGE (LOADXDB)\n"
        << "     ERROR NAMING XDB FILE '" << output.final_name << "': " << std::string(text, n) << '\n';
  }
  // A run that could not close or name its XDB has not made it, whatever it reported before.
  if (!output.closed || named != 0) return platform::kExitFatal;
  return status;
}

void main_program(const CommandLine& cl, platform::Units& units, platform::TextInput& standard_input,
                  Output& output, std::optional<Progress>& progress) {
  RunSettings run;

  parse_parameters(cl, run, units.msg());
  bool no_input = trimmed(run.neutral_name).empty();
  if (!run.parameters_valid || no_input) {
    std::ostream& out = units.msg();
    print_banner(out, kProgramName);
    if (no_input) out << " *** USER FATAL MESSAGE (LOADXDB)\n     AN INPUT FILE IS REQUIRED.\n";
    print_usage(out);
    platform::stop_run();
  }
  // From here on every message passes the progress line, if there is one.
  if (progress_wanted(run.progress, units)) progress.emplace(units);
  std::ostream& out = units.msg();

  // Input stream and the verbose default.
  run.from_standard_input = run.neutral_name == "-";
  if (!run.verbose_given) run.verbose = !run.from_standard_input;
  if (run.verbose) {
    run.listing = &out;
    print_banner(*run.listing, kProgramName);
  }

  platform::TextInput named_file;
  platform::TextInput* input = &standard_input;
  if (!run.from_standard_input) {
    ADDEXT(run.neutral_name, ".ndb");
    if (int status = named_file.open_existing(run.neutral_name); status != 0) {
      out << " *** USER FATAL MESSAGE (LOADXDB)\n"
          << "     ERROR OPENING NEUTRAL FILE '" << trimmed(run.neutral_name)
          << "', IOSTAT =" << platform::iw(status, 6) << '\n';
      platform::stop_run();
    }
    if (std::string full = named_file.full_name(); !full.empty()) run.neutral_name = full;
    input = &named_file;
  }

  if (progress) progress->start(input->size());

  neutral::Stream stream(*input, units);
  int32_t B = 0, F = 0;
  stream.CVTSTR(0, B, F);

  // Paging pool.
  const PoolSizing pool = size_pool(B, F);
  xdb::BlockIo block_io(units);
  xdb::Context ctx(units, block_io.library());
  int32_t status = 0;
  xdb::PAGSET(ctx, kMessageUnit, 1, pool.POOLEN, pool.PAGSIZ, pool.DDLCFG, 0, 0, status);
  if (status != 0) {
    out << "\n *** SYSTEM FATAL MESSAGE (LOADXDB)\n"
        << "     ERROR SETTING UP PAGING POOL. RETURN CODE = " << platform::iw(status, 4) << '\n';
    if (status == xdb::kPoolTooSmall) out << "     INSUFFICIENT MEMORY ALLOCATED FOR PAGING POOL.\n";
    platform::stop_run();
  }
  if (run.debug) xdb::trace_blocks(ctx);

  // The XDB.
  if (run.from_standard_input) {
    if (trimmed(run.xdb_name).empty()) run.xdb_name = "loadxdb.xdb";
  } else {
    DEFOUT(run.xdb_name, run.neutral_name, ".ndb", ".xdb");
  }
  // The XDB is made under a temporary name beside the output and takes the output's name once
  // it is closed (see run_loadxdb); an output that exists already is never touched.
  const std::string final_name(trimmed(run.xdb_name));
  if (platform::file_exists(final_name, true)) {
    status = xdb::kNewFileExists;
  } else {
    for (int attempt = 0;; ++attempt) {
      output.temporary = platform::temporary_name(final_name, attempt);
      // Named for removal before it exists: an interrupt at any moment from here on takes it.
      output.interrupt_slot = platform::remove_on_interrupt(output.temporary);
      xdb::DBOPEN(ctx, kXdbUnit, pool.MAXBLK, pool.BLKSIZ, status, output.temporary);
      if (status == 0) break;
      platform::forget_on_interrupt(output.interrupt_slot);
      output.interrupt_slot = -1;
      if (status != xdb::kNewFileExists || attempt == kNameAttempts) break;
    }
  }
  if (status != 0) {
    output.temporary.clear();
    print_open_failure(out, final_name, status);
    platform::stop_run();
  }
  output.final_name = final_name;
  // From here on the XDB exists: an early end of the neutral data closes it before the run stops.
  stream.set_premature_end_action([&ctx, &output] {
    int32_t ierr = 0;
    xdb::DBCLOS(ctx, kXdbUnit, 0, ierr);
    output.closed = ierr == 0;
  });
  if (run.listing) {
    *run.listing << " NEUTRAL FILE:   " << trimmed(run.neutral_name) << '\n'
                 << " XDB FILE:       " << trimmed(run.xdb_name) << '\n';
  }

  try {
    int32_t close_status = -1;
    std::function<void()> poll;
    if (progress) poll = [&progress, input] { progress->advance(input->bytes_read()); };
    const bool completed = CVTDRV(ctx, stream, run.listing, kXdbUnit, pool.DDLCFG, &close_status, poll);
    output.closed = close_status == 0;
    if (!completed || !output.closed) platform::stop_run();
  } catch (const platform::RunStop&) {
    // The XDB stays open after a fatal stop inside the database layer: let its file go.
    xdb::release_after_stop(ctx, kXdbUnit);
    throw;
  }
}

}  // namespace

int run_loadxdb(const CommandLine& command_line, platform::Units& units,
                platform::TextInput& standard_input) {
  int status;
  if (answer_information_request(command_line, units.msg(), kProgramName, print_usage, status)) return status;
  Output output;
  // Outlives the run's last message (finish_output's), then clears its line and gives the units
  // back.
  std::optional<Progress> progress;
  try {
    main_program(command_line, units, standard_input, output, progress);
    status = units.warnings > 0 ? platform::kExitWarnings : platform::kExitClean;
  } catch (const platform::RunStop& stop) {
    status = stop.status;
  }
  return finish_output(output, units.msg(), status);
}

}  // namespace app
