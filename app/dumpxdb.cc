#include "app/dumpxdb.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "app/listing.h"
#include "app/loadxdb.h"
#include "app/open_failure.h"
#include "app/poolsize.h"
#include "app/progress.h"
#include "neutral/writer.h"
#include "platform/format.h"
#include "platform/stop.h"
#include "platform/syserror.h"
#include "platform/textoutput.h"
#include "xdb/block_scan.h"
#include "xdb/close.h"
#include "xdb/database.h"
#include "xdb/open.h"
#include "xdb/poolconfig.h"

namespace app {

namespace {

constexpr int32_t kXdbUnit = 1;
constexpr int32_t kDefaultBlockWords = 1024;
constexpr int32_t kStandardDescriptorWords = 12;
constexpr int32_t kSmallBlockLimit = 16777215;  // the block limit the converter gives for F = 0
constexpr int32_t kLongestEntryInKind = 9999;   // L of a kind code: K mod 10000
constexpr int32_t kKindScale = 10000;
constexpr int32_t kRotatedKeyTypes = 10;        // q of a kind code: key type + 10 when rotated
constexpr int32_t kRecordKindCode = 100000;     // q = 10: key type 0, a single record
constexpr const char kDdlName[8] = {'D', 'D', 'L', 'F', 'O', 'R', 'D', 'B'};

// Descriptor words (docs/xdb-format.md, "Dictionary") and kinds.
constexpr int kFirstBlockWord = 4, kLengthWord = 5, kKeyWordsWord = 6;
constexpr int32_t kIntegerKeyed = 1, kGroup = 2, kMultiKey = 3, kSingleRecord = 4;

// Element types the neutral form has items of; every other type is written as integers.
constexpr uint8_t kLogicalType = 1, kRealType = 3, kDoubleType = 4, kCharacterType = 5, kXType = 7;

struct DumpSettings {
  std::string xdb_name;
  std::string neutral_name;  // as typed, or derived; "-" = standard output
  bool parameters_valid = true;
  bool verbose = true;
  bool verbose_given = false;
  std::optional<bool> progress;  // progress=, when given
};

std::string error_text(int status) {
  char text[256];
  const std::size_t n = platform::system_error_text(status, text, sizeof text);
  return std::string(text, n);
}

void print_usage(std::ostream& out) {
  out << "\n"
         "  COMMAND LINE PARAMETERS    DEFAULT\n"
         " -------------------------- -------------\n"
         "  xdb-file                   (none).xdb\n"
         "\n"
         "  output=neutral-file        (none).ndb\n"
         "  verbose=(yes|no)           yes\n"
         "  progress=(yes|no)          yes on a terminal\n";
}

[[noreturn]] void fatal(std::ostream& out, const char* kind, const std::vector<std::string>& lines) {
  out << "\n *** " << kind << " FATAL MESSAGE (" << kDumperName << ")\n";
  for (const auto& line : lines) out << "     " << line << '\n';
  platform::stop_run();
}

void parse_parameters(const CommandLine& cl, DumpSettings& run, std::ostream& out) {
  for (int i = 1; i <= cl.ARGCNT(); ++i) {
    std::string arg = cl.ARGGET(i), keyword, value;
    KEYVAL(arg, keyword, value);
    bool valid = true;
    if (trimmed(value).empty()) {
      valid = false;
    } else if (KEYMAT(keyword, "output", 1)) {
      run.neutral_name = value;
    } else if (KEYMAT(keyword, "verbose", 1)) {
      run.verbose_given = true;
      valid = yes_or_no(value, run.verbose);
    } else if (KEYMAT(keyword, "progress", 1)) {
      bool shown = false;
      valid = yes_or_no(value, shown);
      if (valid) run.progress = shown;
    } else if (trimmed(keyword).empty() && run.xdb_name.empty()) {
      run.xdb_name = value;
    } else {
      valid = false;
    }
    if (!valid) {
      print_invalid_parameter(out, kDumperName, arg);
      run.parameters_valid = false;
    }
  }
}

// Where the neutral text goes: a new file that takes its name at the end, or a stream.
class OutputSink : public neutral::ByteSink {
 public:
  OutputSink(std::ostream& messages, std::string name) : messages_(messages), name_(std::move(name)) {}

  void put(const char* data, std::size_t bytes) override {
    if (stream_) {
      stream_->write(data, static_cast<std::streamsize>(bytes));
      if (!*stream_) failed("the output stream refuses it", 0);
      return;
    }
    if (const int status = file_.write(data, bytes); status != 0) failed("", status);
  }

  void use_stream(std::ostream& stream) { stream_ = &stream; }
  int create() { return file_.create(name_); }
  void commit() {
    if (stream_) {
      stream_->flush();
      if (!*stream_) failed("the output stream refuses it", 0);
      return;
    }
    if (const int status = file_.commit(); status != 0) {
      if (status == platform::kErrorFileExists) {
        fatal(messages_, "USER", {"ERROR CREATING NEUTRAL FILE '" + name_ + "'", "NEUTRAL FILE ALREADY EXISTS."});
      }
      failed("", status);
    }
  }

 private:
  [[noreturn]] void failed(const std::string& why, int status) {
    file_.abandon();
    fatal(messages_, "SYSTEM",
          {"ERROR WRITING NEUTRAL FILE '" + name_ + "'", status != 0 ? error_text(status) : why});
  }

  std::ostream& messages_;
  std::string name_;
  std::ostream* stream_ = nullptr;
  platform::TextOutput file_;
};

// The words of a data block as typed items: each word by the element type that the block's
// DDL object gives its place in an entry, two-word types as pairs. Entries follow each other
// without a break, so the place runs on across the spans a scan hands over.
class TypedWords : public xdb::WordSink {
 public:
  explicit TypedWords(neutral::Writer& writer) : writer_(writer) {}

  // Entries of `period` words typed by `types` (shorter than the period, or empty: integers).
  void start(std::vector<uint8_t> types, int64_t period) {
    types_ = std::move(types);
    period_ = period > 0 ? period : 1;
    place_ = 0;
    pending_ = false;
    // A pair starts at an even distance from the start of its run of one two-word type, and has
    // its second word inside the run.
    pair_first_.assign(types_.size(), 0);
    std::size_t run_start = 0;
    for (std::size_t i = 0; i < types_.size(); ++i) {
      if (i > 0 && types_[i] != types_[i - 1]) run_start = i;
      const bool two_words = types_[i] == kDoubleType || types_[i] == kXType;
      if (two_words && (i - run_start) % 2 == 0 && i + 1 < types_.size() && types_[i + 1] == types_[i]) {
        pair_first_[i] = 1;
      }
    }
  }

  void words(const int32_t* words, int64_t count) override {
    if (types_.empty()) return writer_.integers(words, count);  // nothing describes them
    for (int64_t i = 0; i < count; ++i) word(words[i]);
  }

  // Writes a pair's first word that the data ended behind as the integer it is.
  void finish() {
    if (pending_) writer_.integer(low_);
    pending_ = false;
  }

 private:
  void word(int32_t w) {
    const std::size_t at = static_cast<std::size_t>(place_);
    if (++place_ == period_) place_ = 0;
    if (pending_) {
      pending_ = false;
      writer_.double_pair(low_, w, pending_type_ == kXType);
      return;
    }
    const uint8_t type = at < types_.size() ? types_[at] : 0;
    if (at < pair_first_.size() && pair_first_[at]) {
      pending_ = true;
      pending_type_ = type;
      low_ = w;
      return;
    }
    switch (type) {
      case kLogicalType: writer_.logical(w); break;
      case kRealType: writer_.real(w); break;
      case kCharacterType: writer_.characters(w); break;
      default: writer_.integer(w); break;
    }
  }

  neutral::Writer& writer_;
  std::vector<uint8_t> types_;
  std::vector<uint8_t> pair_first_;
  int64_t period_ = 1;
  int64_t place_ = 0;
  bool pending_ = false;
  uint8_t pending_type_ = 0;
  int32_t low_ = 0;
};

// The first words of the DDL group, V, S2 and Z, as a scan hands them over, and whether the
// converter can load the DDL they describe: it reads 5 words per object and the data words that Z
// counts into a room of a fixed number of each, and stops the whole conversion on a DDL that does
// not fit it.
class DdlSizes : public xdb::WordSink {
 public:
  explicit DdlSizes(bool numbered) : numbered_(numbered) {}

  void words(const int32_t* words, int64_t count) override {
    for (int64_t i = 0; i < count; ++i, ++seen_) {
      if (seen_ < kHead) head_[seen_] = words[i];
      // With extended entries every object's number (its record's word 5) indexes the room.
      const int64_t at = seen_ - kHead;
      if (numbered_ && at >= 0 && at % kRecordWords == kRecordWords - 1 && at / kRecordWords < objects() &&
          (words[i] < 1 || words[i] > room() / kObjectScale)) {
        ++misnumbered_;
      }
    }
  }

  // Empty when a DDL group of `words` data words loads as it is; else why not.
  std::string misfit(int64_t words) const {
    const int64_t room = this->room();
    const int64_t z = head_[kHead - 1];
    if (seen_ < kHead || z < 0) return "ITS DDL HAS NO SIZE WORD";
    const int64_t objects = z / kObjectScale, data = z % kObjectScale;
    if (objects > room / kObjectScale || data > room % kObjectScale) {
      return "ITS DDL OF " + std::to_string(objects) + " OBJECTS AND " + std::to_string(data) +
             " DATA WORDS DOES NOT FIT THE CONVERTER'S ROOM OF " + std::to_string(room / kObjectScale) + " AND " +
             std::to_string(room % kObjectScale);
    }
    if (words != kHead + kRecordWords * objects + data) {
      return "ITS DDL HOLDS " + std::to_string(words - kHead) + " WORDS BEHIND ITS SIZE WORD, WHICH SAYS " +
             std::to_string(kRecordWords * objects + data);
    }
    if (misnumbered_ > 0) return "ITS DDL HAS " + std::to_string(misnumbered_) + " OBJECTS NUMBERED OUTSIDE ITS ROOM";
    return "";
  }

 private:
  static constexpr int kHead = 3;  // V, S2, Z
  static constexpr int64_t kObjectScale = 100000, kRecordWords = 5;
  static int64_t room() { return size_pool(1, 0).DDLCFG; }
  int64_t objects() const { return seen_ >= kHead && head_[kHead - 1] > 0 ? head_[kHead - 1] / kObjectScale : 0; }

  const bool numbered_;
  int32_t head_[kHead] = {};
  int64_t seen_ = 0;
  int64_t misnumbered_ = 0;
};

bool is_ddl_name(const int32_t* key) { return std::memcmp(key, kDdlName, sizeof kDdlName) == 0; }

// The kind code K that makes the converter create a data block like this one, or nothing (with
// the reason) when no code can.
std::optional<int32_t> kind_code(const xdb::DataBlockEntry& e, std::string& why) {
  const int32_t kind = e.descriptor[1], length = e.descriptor[kLengthWord - 1];
  if (kind == kGroup) return 0;
  if (length < 1 || length > kLongestEntryInKind) {
    why = "ITS ENTRIES OF " + std::to_string(length) + " WORDS HAVE NO KIND CODE (1 TO 9999 WORDS)";
    return std::nullopt;
  }
  switch (kind) {
    case kIntegerKeyed: return length;
    case kSingleRecord: return kRecordKindCode + length;
    case kMultiKey: {
      const int64_t signed_k = e.descriptor[kKeyWordsWord - 1];
      const int64_t k = signed_k < 0 ? -signed_k : signed_k;
      if (k < 1 || k > 6) break;
      // The rotation flag is kept for a one-word key too, which it leaves as it is.
      const int64_t q = k + (signed_k < 0 ? kRotatedKeyTypes : 0);
      return static_cast<int32_t>(q * kKindScale + length);
    }
    default: break;
  }
  why = "ITS KIND " + std::to_string(kind) + " HAS NO KIND CODE";
  return std::nullopt;
}

class Dumper {
 public:
  // `progress`, when given, is advanced after each data block: the XDB's `xdb_bytes` in
  // proportion to the data blocks done.
  Dumper(xdb::Context& ctx, neutral::Writer& writer, std::ostream& out, std::ostream* listing,
         Progress* progress = nullptr, int64_t xdb_bytes = 0)
      : ctx_(ctx), writer_(writer), out_(out), listing_(listing), typed_(writer), progress_(progress),
        xdb_bytes_(xdb_bytes) {}

  void run() {
    auto& g = ctx_.grdblk;
    const int32_t ddl_block = xdb::stored_ddl_block(ctx_, kXdbUnit);
    const bool has_ddl = ddl_block > 0;
    const int32_t bufsz = g.BUFSZ[kXdbUnit];
    const bool extended = g.DBDLEN[kXdbUnit] > kStandardDescriptorWords;
    // The block size field: the converter's block size and dictionary entries come from B, and
    // only B != 0 gives it a DDL area.
    block_size_field_ = extended ? -bufsz : (!has_ddl && bufsz == kDefaultBlockWords ? 0 : bufsz);
    writer_.header(block_size_field_, g.MAXBKS[kXdbUnit] > kSmallBlockLimit ? 1 : 0);
    if (listing_) listing_words_ = print_listing_header(*listing_, g.DBDLEN[kXdbUnit]);

    xdb::CreationOrder order(ctx_, kXdbUnit);
    if (!order.problems().empty()) {
      std::vector<std::string> lines = {"THE DICTIONARY OF THE XDB FILE IS DAMAGED:"};
      for (std::size_t i = 0; i < order.problems().size() && i < 5; ++i) lines.push_back(order.problems()[i]);
      if (order.problems().size() > 5) lines.push_back("(and " + std::to_string(order.problems().size() - 5) + " more)");
      fatal(out_, "SYSTEM", lines);
    }
    // The DDL goes first, where the converter looks for it.
    if (has_ddl) {
      order.visit([&](const xdb::DataBlockEntry& e) {
        if (!ddl_written_ && is_ddl_name(e.key.data()) && e.descriptor[1] == kGroup &&
            e.descriptor[kFirstBlockWord - 1] == ddl_block) {
          data_block(e, true);
          ddl_written_ = true;
          ddl_sequence_ = e.descriptor[0];
        }
      });
      if (!ddl_written_) warning("THE DDL THAT THE HEADER NAMES IS NOT IN THE DICTIONARY: THE DUMP HAS NO DDL BLOCK");
    }
    int64_t visited = 0;
    order.visit([&](const xdb::DataBlockEntry& e) {
      if (progress_) {
        const double share = static_cast<double>(visited) / static_cast<double>(std::max<int64_t>(1, order.size()));
        progress_->advance(static_cast<int64_t>(share * static_cast<double>(xdb_bytes_)));
      }
      ++visited;
      if (ddl_written_ && e.descriptor[0] == ddl_sequence_) return;
      data_block(e, false);
    });
    if (progress_) progress_->advance(xdb_bytes_);
    writer_.end_mark();
    writer_.finish();
  }

 private:
  void warning(const std::string& line) {
    out_ << "\n *** SYSTEM WARNING MESSAGE (" << kDumperName << ")\n     " << line << '\n';
    ++ctx_.units.warnings;
  }

  void skipped(const xdb::DataBlockEntry& e, const std::string& why) {
    warning("DATABLOCK " + describe(e) + " SKIPPED: " + why);
  }

  static std::string describe(const xdb::DataBlockEntry& e) {
    std::string text(trimmed(block_name(e.key.data())));
    for (int k = 3; k <= 12; ++k) text += ' ' + std::to_string(e.key[static_cast<std::size_t>(k - 1)]);
    return text;
  }

  void data_block(const xdb::DataBlockEntry& e, bool ddl) {
    std::string why;
    const std::optional<int32_t> K = kind_code(e, why);
    if (!K) return skipped(e, why);
    // With B != 0 the converter takes a first block named "DDLFORDB" for the DDL.
    if (!ddl && written_ == 0 && block_size_field_ != 0 && is_ddl_name(e.key.data())) {
      return skipped(e, "THE CONVERTER WOULD TAKE IT FOR THE DDL, AS THE FIRST DATA BLOCK OF AN XDB WITHOUT ONE");
    }
    DdlSizes sizes(ctx_.grdblk.DBDLEN[kXdbUnit] > kStandardDescriptorWords);
    const xdb::ScanResult checked = xdb::scan_data_block(ctx_, kXdbUnit, e, ddl ? &sizes : nullptr);
    if (!checked.problem.empty()) return skipped(e, "IT CANNOT BE READ: " + checked.problem);
    if (ddl) {
      if (const std::string misfit = sizes.misfit(checked.words); !misfit.empty()) return skipped(e, misfit);
    }

    for (int k = 0; k < 2; ++k) writer_.characters(e.key[static_cast<std::size_t>(k)]);
    for (int k = 2; k < 12; ++k) writer_.integer(e.key[static_cast<std::size_t>(k)]);
    writer_.integer(*K);
    if (ddl) {
      typed_.start({}, 1);
    } else {
      const int32_t length = e.descriptor[1] == kGroup ? 0 : e.descriptor[kLengthWord - 1];
      std::vector<uint8_t> types = xdb::element_types(ctx_, kXdbUnit, checked.object, length);
      const int64_t period = length > 0 ? length : static_cast<int64_t>(types.size());
      typed_.start(std::move(types), period);
    }
    const xdb::ScanResult dumped = xdb::scan_data_block(ctx_, kXdbUnit, e, &typed_);
    typed_.finish();
    if (!dumped.problem.empty() || dumped.words != checked.words) {
      fatal(out_, "SYSTEM", {"DATABLOCK " + describe(e) + " CHANGED WHILE IT WAS WRITTEN: " + dumped.problem});
    }
    writer_.end_mark();
    ++written_;
    if (listing_ && !ddl) print_listing_line(*listing_, e.key.data(), listing_words_);
  }

  xdb::Context& ctx_;
  neutral::Writer& writer_;
  std::ostream& out_;
  std::ostream* listing_;
  TypedWords typed_;
  Progress* progress_;
  const int64_t xdb_bytes_;
  int32_t block_size_field_ = 0;
  int listing_words_ = 10;
  bool ddl_written_ = false;
  int32_t ddl_sequence_ = 0;
  int64_t written_ = 0;
};

void main_program(const CommandLine& cl, platform::Units& units, std::ostream& standard_output,
                  std::optional<Progress>& progress) {
  DumpSettings run;
  parse_parameters(cl, run, units.msg());
  const bool no_input = trimmed(run.xdb_name).empty();
  if (!run.parameters_valid || no_input) {
    std::ostream& out = units.msg();
    print_banner(out, kDumperName);
    if (no_input) out << " *** USER FATAL MESSAGE (" << kDumperName << ")\n     AN INPUT FILE IS REQUIRED.\n";
    print_usage(out);
    platform::stop_run();
  }
  const bool to_standard_output = run.neutral_name == "-";
  // The neutral text on the terminal itself leaves no room for a line below it.
  if (!run.progress && to_standard_output && units.output_terminal) run.progress = false;
  // From here on every message passes the progress line, if there is one.
  if (progress_wanted(run.progress, units)) progress.emplace(units);
  std::ostream& out = units.msg();
  if (!run.verbose_given) run.verbose = !to_standard_output;
  std::ostream* listing = run.verbose ? &out : nullptr;
  if (listing) print_banner(*listing, kDumperName);

  ADDEXT(run.xdb_name, ".xdb");
  const std::string xdb_name(trimmed(run.xdb_name));
  int32_t filtyp = 0, block_size = 0, ddlsiz = 0;
  const int32_t probe =
      xdb::XDBPRB(filtyp, block_size, xdb_name, static_cast<int32_t>(std::min<std::size_t>(xdb_name.size(), 257)), ddlsiz);
  if (probe == 2) fatal(out, "USER", {"ERROR OPENING XDB FILE '" + xdb_name + "'", "OLD XDB FILE DOES NOT EXIST."});

  const PoolSizing pool = size_pool_for_reading(block_size);
  xdb::BlockIo block_io(units);
  xdb::Context ctx(units, block_io.library());
  int32_t status = 0;
  xdb::PAGSET(ctx, 0, 1, pool.POOLEN, pool.PAGSIZ, pool.DDLCFG, 0, 0, status);
  if (status != 0) {
    fatal(out, "SYSTEM", {"ERROR SETTING UP PAGING POOL. RETURN CODE = " + platform::iw(status, 4),
                          "BLOCKS OF " + std::to_string(block_size) + " WORDS ARE TOO LARGE."});
  }
  xdb::DBOPEN(ctx, kXdbUnit, 0, 0, status, xdb_name);
  if (status != 0) {
    std::vector<std::string> lines = {"ERROR OPENING XDB FILE '" + xdb_name + "', RETURN CODE = " + platform::iw(status, 4)};
    if (const char* text = open_failure_text(status)) lines.emplace_back(text);
    fatal(out, "SYSTEM", lines);
  }

  if (!to_standard_output) DEFOUT(run.neutral_name, xdb_name, ".xdb", ".ndb");
  OutputSink sink(out, std::string(trimmed(run.neutral_name)));
  try {
    xdb::load_ddl(ctx, kXdbUnit);
    if (to_standard_output) {
      sink.use_stream(standard_output);
    } else if (const int created = sink.create(); created != 0) {
      const std::string name(trimmed(run.neutral_name));
      if (created == platform::kErrorFileExists) fatal(out, "USER", {"ERROR CREATING NEUTRAL FILE '" + name + "'", "NEUTRAL FILE ALREADY EXISTS."});
      fatal(out, "SYSTEM", {"ERROR CREATING NEUTRAL FILE '" + name + "'", error_text(created)});
    }
    if (listing) {
      *listing << " XDB FILE:       " << xdb_name << '\n'
               << " NEUTRAL FILE:   " << trimmed(run.neutral_name) << '\n';
    }
    neutral::Writer writer(sink);
    int64_t xdb_bytes = -1;
    if (progress) {
      std::error_code failed;
      const auto size = std::filesystem::file_size(xdb_name, failed);
      if (!failed) xdb_bytes = static_cast<int64_t>(size);
      progress->start(xdb_bytes);
    }
    Dumper dumper(ctx, writer, out, listing, progress ? &*progress : nullptr, std::max<int64_t>(0, xdb_bytes));
    dumper.run();
    writer.flush();
    // The XDB is closed before the output takes its name, so that a close that fails (its
    // message is out already) ends the run without an output.
    xdb::DBCLOS(ctx, kXdbUnit, 0, status);
    if (status != 0) platform::stop_run();
    sink.commit();
  } catch (const platform::RunStop&) {
    xdb::release_after_stop(ctx, kXdbUnit);
    throw;
  }
}

}  // namespace

int run_dumpxdb(const CommandLine& command_line, platform::Units& units, std::ostream& standard_output) {
  int status;
  if (answer_information_request(command_line, units.msg(), kDumperName, print_usage, status)) return status;
  std::optional<Progress> progress;
  try {
    main_program(command_line, units, standard_output, progress);
  } catch (const platform::RunStop& stop) {
    return stop.status;
  }
  return units.warnings > 0 ? platform::kExitWarnings : platform::kExitClean;
}

}  // namespace app
