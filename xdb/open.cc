#include "xdb/open.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bio/requests.h"
#include "dbio/blocks.h"
#include "dbio/bridge.h"
#include "dbio/pool.h"
#include "platform/filehead.h"
#include "platform/syserror.h"
#include "dbio/open_states.h"
#include "dbio/word_view.h"
#include "dbio/ddl_plan.h"
#include "dbio/header_block.h"
#include "dbio/layouts.h"

namespace xdb {

namespace {

constexpr int32_t kMaxNameLength = 256;
constexpr std::size_t kMaxFileNameLength = 255;
constexpr int32_t kProbeBytes = 160;
constexpr int32_t kDefaultBlockWords = 1024;
constexpr int32_t kMaxBlockWords = 65536;
constexpr int32_t kStandardEntryWords = 12, kExtendedEntryWords = 14;
constexpr int32_t kDeleteOnClose = 2;
constexpr int32_t kUnicosScanLastBlock = 64;
constexpr int32_t kUnicosScanBytes = 288;

// Probe results.
constexpr int32_t kProbeOk = 0, kProbeBadLength = 1, kProbeNoFile = 2, kProbeCannotOpen = 3, kProbeShort = 4,
                  kProbeCounts = 5, kProbeSize = 6, kProbeUnicos = 9, kProbeLayout = 11;

// The caller name that the database layer hands to the block I/O library with every open and close.
const std::array<int32_t, 2>& caller_name() {
  static const std::array<int32_t, 2> name = [] {
    std::array<int32_t, 2> words{};
    std::memcpy(words.data(), "DBC     ", 8);
    return words;
  }();
  return name;
}

bool usable_ddl_version(int64_t v) { return (v >= 620 && v <= 707) || (v >= 20010 && v <= 30000); }

// Recognises the word layout from the first 160 bytes; -1 when none fits.
int32_t classify(const unsigned char* B) {
  auto zero = [&](int from, int to) {
    for (int i = from; i <= to; ++i) {
      if (B[i] != 0) return false;
    }
    return true;
  };
  auto two_or_three = [](unsigned char c) { return c == 2 || c == 3; };
  if (zero(0, 3)) return zero(40, 46) && two_or_three(B[47]) ? 2 : -1;
  if (zero(4, 7)) return zero(41, 47) && two_or_three(B[40]) ? 3 : -1;
  if (B[0] == 0 && B[20] == 0 && B[21] == 0 && B[42] == 0) return two_or_three(B[23]) ? 0 : -1;
  return B[3] == 0 && B[21] == 0 && B[22] == 0 && B[43] == 0 && two_or_three(B[20]) ? 1 : -1;
}

// Header words 1..15 in native order, widened to 64 bits (H[1]..H[15]).
std::array<int64_t, 16> header_words(const unsigned char* B, int32_t type) {
  std::array<int64_t, 16> H{};
  const bool wide = (type & 2) != 0, little = (type & 1) != 0;
  const int width = wide ? 8 : 4;
  for (int k = 1; k <= 15; ++k) {
    const unsigned char* p = B + (k - 1) * width;
    uint64_t v = 0;
    for (int i = 0; i < width; ++i) v |= uint64_t{p[little ? i : width - 1 - i]} << (8 * i);
    H[k] = wide ? static_cast<int64_t>(v) : static_cast<int64_t>(static_cast<int32_t>(static_cast<uint32_t>(v)));
  }
  return H;
}

// A 64-bit big-endian file written on a UNICOS system carries its signature in blocks 2 .. 64.
bool looks_like_unicos(const platform::FileHead& file, int64_t block_words) {
  for (int64_t k = 2; k <= kUnicosScanLastBlock; ++k) {
    unsigned char b[kUnicosScanBytes];
    if (file.read_at(b, sizeof b, static_cast<uint64_t>((k - 1) * block_words * 8)) != kUnicosScanBytes) return false;
    uint64_t word = 0;
    for (int i = 0; i < 8; ++i) word = word << 8 | b[64 + i];
    if (static_cast<int64_t>(word) % 100 == 4 && std::memcmp(b + 32, "PROD    UCT     ", 16) == 0 &&
        std::memcmp(b + 264, "UNIC    OS ", 11) == 0) {
      return true;
    }
  }
  return false;
}

int32_t clamp32(int64_t v) {
  return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : static_cast<int32_t>(v);
}

}  // namespace

namespace {

// The probe itself. With `empty_allowed` the entry count and the last sequence number (header
// words 7 and 8) may be 0, as they are in a database that holds no data block yet.
int32_t probe(int32_t& FILTYP, int32_t& BLKSIZ, const std::string& NAME, int32_t LENGTH, int32_t& DDLSIZ,
              bool empty_allowed) {
  FILTYP = -1;
  BLKSIZ = 0;
  DDLSIZ = 0;
  if (LENGTH < 0 || LENGTH > kMaxNameLength) return kProbeBadLength;
  std::string name = NAME.substr(0, static_cast<std::size_t>(LENGTH));
  while (!name.empty() && name.back() == ' ') name.pop_back();

  if (platform::file_attributes(name) != 0) return kProbeNoFile;
  platform::FileHead file;
  if (file.open(name) != 0) return kProbeCannotOpen;
  unsigned char B[kProbeBytes];
  if (file.read_at(B, kProbeBytes, 0) != kProbeBytes) return kProbeShort;

  const int32_t type = classify(B);
  if (type < 0) return kProbeLayout;
  FILTYP = type;
  auto H = header_words(B, type);
  DDLSIZ = usable_ddl_version(H[14]) && H[15] >= INT32_MIN && H[15] <= INT32_MAX ? static_cast<int32_t>(H[15]) : 0;
  BLKSIZ = clamp32(H[1]);
  if (H[1] < 1 || H[1] > kMaxBlockWords) return kProbeLayout;
  if (H[2] <= 0) return 12;
  if (H[3] < 0) return 13;
  if (H[4] <= 0) return 14;
  if (H[5] < 0) return 15;
  for (int k = 6; k <= 13; ++k) {
    const bool may_be_zero = empty_allowed && (k == 7 || k == 8);
    if (H[k] < 0 || (H[k] == 0 && !may_be_zero)) return 10 + k;
  }
  if (H[2] != H[3] + H[4]) return kProbeCounts;
  const __int128 expected = static_cast<__int128>(H[4]) * H[1] * ((type & 2) ? 8 : 4);
  if (static_cast<__int128>(file.size()) != expected) return kProbeSize;
  if (type == 2 && H[14] >= 20010 && looks_like_unicos(file, H[1])) {
    FILTYP = dbio::kUnicosLayout;
    return kProbeUnicos;
  }
  return kProbeOk;
}

}  // namespace

int32_t XDBPRB(int32_t& FILTYP, int32_t& BLKSIZ, const std::string& NAME, int32_t LENGTH, int32_t& DDLSIZ) {
  return probe(FILTYP, BLKSIZ, NAME, LENGTH, DDLSIZ, false);
}

void DBOPEN(dbio::Context& ctx, int32_t DBNUM, int32_t MAXBLK, int32_t BLKSIZ, int32_t& IERR, const std::string& NAME) {
  auto& g = ctx.grdblk;
  auto& s = ctx.sysfil;
  const int64_t requested_unit = DBNUM < 0 ? -int64_t{DBNUM} : int64_t{DBNUM};
  if (requested_unit < 1 || requested_unit > dbio::kUnits) {
    IERR = kUnitOutOfRange;
    return;
  }
  const int32_t unit = static_cast<int32_t>(requested_unit);
  if (g.DBOPND[unit] != dbio::kUnitClosed) {
    IERR = kUnitAlreadyOpen;
    return;
  }
  int32_t block_size = kDefaultBlockWords, entry_words = kStandardEntryWords;
  if (BLKSIZ != 0) {
    block_size = BLKSIZ > 0 ? BLKSIZ : (BLKSIZ == INT32_MIN ? INT32_MAX : -BLKSIZ);
    entry_words = BLKSIZ > 0 ? kStandardEntryWords : kExtendedEntryWords;
  }
  std::string name = NAME;
  while (!name.empty() && name.back() == ' ') name.pop_back();
  // The block I/O library uses at most 255 characters of a name: a longer one would open or
  // create a file under a cut name, so it is refused here.
  if (name.empty() || name.size() > kMaxFileNameLength) {
    IERR = kBadName;
    return;
  }

  int32_t filtyp = -1, file_block_size = 0, ddlsiz = 0;
  const int32_t length = name.size() > static_cast<std::size_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(name.size());
  int32_t probe = XDBPRB(filtyp, file_block_size, name, length, ddlsiz);
  // An empty database has no entries and has handed out no sequence number, which the probe
  // reports as header word 7 or 8 being 0: such a header is checked again with those words allowed
  // to be 0 (and every later check made).
  if (probe == 17 || probe == 18) probe = xdb::probe(filtyp, file_block_size, name, length, ddlsiz, true);
  if (probe == kProbeNoFile) filtyp = dbio::kNativeLayout;
  if (MAXBLK <= 0 && probe == kProbeNoFile) return void(IERR = kOldFileMissing);
  // A new XDB is never made over any existing file, whatever the probe found in it.
  if (MAXBLK > 0 && probe != kProbeNoFile && probe != kProbeBadLength) return void(IERR = kNewFileExists);
  if (probe == kProbeBadLength) return void(IERR = kBadName);
  if (probe == kProbeShort) return void(IERR = kHeaderUnreadable);
  if (probe == kProbeCounts) return void(IERR = kNotAnXdb);
  if (probe == kProbeUnicos) return void(IERR = kUnicosFile);
  if (MAXBLK <= 0 && probe == kProbeCannotOpen) return void(IERR = kOpenFailed);
  if (MAXBLK <= 0 && probe != kProbeOk) return void(IERR = kDamagedHeader);

  if (probe == kProbeOk) {
    block_size = file_block_size;
    g.BUFSZ[unit] = block_size;
  }
  g.DBFLTY[unit] = filtyp;
  // A block larger than a page, or larger than any XDB may have (the probe refuses such a file,
  // so it could never be opened again), is not created.
  if (block_size > s.PAGSIZ || block_size > kMaxBlockWords) return void(IERR = kBlockTooLarge);
  int32_t record_length = block_size;
  if (filtyp != dbio::kNativeLayout) {
    if (probe == kProbeOk && ddlsiz == 0) return void(IERR = kForeignWithoutDdl);
    if (filtyp & 2) record_length = 2 * block_size;
  }
  if (ddlsiz != 0) {
    if (ddlsiz / dbio::kDdlObjectScale > s.DDLCFG / dbio::kDdlObjectScale || ddlsiz % dbio::kDdlObjectScale > s.DDLCFG % dbio::kDdlObjectScale) {
      return void(IERR = kDdlTooLarge);
    }
  }
  g.DBHNDL[unit] = g.GRFNUM[unit];

  std::vector<char> charvar(name.begin(), name.end());
  auto intarray = caller_name();
  const int32_t charvar_length = static_cast<int32_t>(charvar.size());

  if (MAXBLK > 0) {
    g.BUFSZ[unit] = block_size;
    // The new file is made exclusively: a file of that name that appeared since the probe (another
    // run writing the same XDB) is never replaced. Any other failure (a directory that cannot be
    // written, a missing one) is left to the block I/O CREATE below, which reports it.
    if (platform::create_new_file(name) == platform::kErrorFileExists) return void(IERR = kNewFileExists);
    int32_t option = DBNUM < 0 ? kDeleteOnClose : 0, iret = 0;
    dbio::BIOXXX(ctx, bio::OPENINFO, option, nullptr, 0, nullptr, 0, &MAXBLK, iret);
    int32_t recl = record_length;
    dbio::BIOXXX(ctx, bio::CREATE, g.DBHNDL[unit], charvar.data(), charvar_length, intarray.data(), 2, &recl, iret);
    if (iret != 0) {
      bool fatal = false;
      dbio::BIOMSG(ctx, unit, iret, bio::CREATE, 0, "DBOPEN", fatal);
      std::remove(name.c_str());
      if (fatal) return void(IERR = kBadName);
    }
    g.DBOPND[unit] = dbio::kUnitNewFile;
    g.MAXBKS[unit] = g.FREBKS[unit] = MAXBLK;
    g.USDBKS[unit] = g.DEDBKS[unit] = 0;
    int32_t block = 0, addr = 0;
    dbio::BLKGET(ctx, unit, block, addr);  // block 1: the header
    dbio::PAGMOD(ctx, unit, block);
    dbio::BLKGET(ctx, unit, g.DICTPI[unit], addr);
    dbio::PAGMOD(ctx, unit, g.DICTPI[unit]);
    g.NUMDB[unit] = g.INFINU[unit] = 0;
    dbio::BLKGET(ctx, unit, g.DICFDB[unit], addr);
    dbio::PAGMOD(ctx, unit, g.DICFDB[unit]);
    g.DICNDB[unit] = g.DICNSI[unit] = 1;
    dbio::BLKGET(ctx, unit, g.DICFSI[unit], addr);
    dbio::PAGMOD(ctx, unit, g.DICFSI[unit]);
    g.DDLVER[unit] = g.DDLSIZ[unit] = g.DDLBLK[unit] = 0;
    g.DBDLEN[unit] = entry_words;
    g.SRBLK[unit] = 0;
  } else {
    int32_t iret = 0, recl = record_length, open_state = dbio::kUnitReadOnly;
    if (MAXBLK == 0) {
      dbio::BIOXXX(ctx, bio::OPENRO, g.DBHNDL[unit], charvar.data(), charvar_length, intarray.data(), 2, &recl, iret);
    } else {
      int32_t option = 0;
      dbio::BIOXXX(ctx, bio::OPENINFO, option, nullptr, 0, nullptr, 0, nullptr, iret);
      dbio::BIOXXX(ctx, bio::OPENRW, g.DBHNDL[unit], charvar.data(), charvar_length, intarray.data(), 2, &recl, iret);
      open_state = dbio::kUnitForUpdate;
    }
    if (iret != 0) {
      bool fatal = false;
      dbio::BIOMSG(ctx, unit, iret, MAXBLK == 0 ? bio::OPENRO : bio::OPENRW, 0, "DBOPEN", fatal);
      if (fatal) return void(IERR = kOpenFailed);
    }
    int32_t addr = 0;
    dbio::PAGFET(ctx, unit, 1, addr);
    g.DBOPND[unit] = open_state;
    namespace hb = dbio::header_block;
    const dbio::WordView h(ctx.words(addr, hb::kHeaderWords), hb::kHeaderWords);
    dbio::PerUnit* always_read[hb::kAlwaysRead] = {&g.BUFSZ, &g.MAXBKS, &g.FREBKS, &g.USDBKS, &g.DEDBKS, &g.DICTPI,
                                                   &g.NUMDB, &g.INFINU, &g.DICFDB, &g.DICNDB, &g.DICNSI, &g.DICFSI};
    for (int k = 1; k <= hb::kAlwaysRead; ++k) (*always_read[k - 1])[unit] = h(k);
    g.BUFSZ[unit] = block_size;  // the probe checked this word; keep the geometry the file was opened with
    const int32_t stored_entry_words = h(hb::kEntryWords);
    const bool known_entry_length = stored_entry_words >= kStandardEntryWords && stored_entry_words <= kExtendedEntryWords;
    if (ddlsiz == 0) {
      g.DDLVER[unit] = g.DDLSIZ[unit] = g.DDLBLK[unit] = 0;
      // A database with extended dictionary entries need not carry a DDL: its entry length is
      // taken from the header whenever that word holds one, or its dictionary would be misread.
      g.DBDLEN[unit] = known_entry_length ? stored_entry_words : kStandardEntryWords;
      g.SRBLK[unit] = 0;
    } else {
      g.DDLVER[unit] = h(hb::kDdlVersion);
      g.DDLSIZ[unit] = h(hb::kDdlSize);
      g.DDLBLK[unit] = h(hb::kDdlBlock);
      g.DBDLEN[unit] = known_entry_length ? stored_entry_words : kStandardEntryWords;
      g.SRBLK[unit] = known_entry_length ? h(hb::kSharedRecords) : 0;
    }
  }
  if (unit < ctx.DBFRST) ctx.DBFRST = unit;
  if (unit > ctx.DBLAST) ctx.DBLAST = unit;
  IERR = 0;
}

}  // namespace xdb
