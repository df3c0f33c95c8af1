#include "xdb/poolconfig.h"

#include "dbio/pool.h"
#include "xdb/close.h"
#include "dbio/open_states.h"

namespace xdb {

namespace {

constexpr int32_t kDefaultBlockWords = 1024;
constexpr int32_t kFirstControlWord = 39;  // unit u asks block I/O for control word 39 + u
constexpr int64_t kMinPageWords = 300;
constexpr int64_t kMinPoolWords = 3000;
constexpr int64_t kBookkeepingWordsPerPage = 7;
constexpr int64_t kExchangePages = 2;
constexpr int64_t kMinPoolPages = 7;  // NPOOL must exceed this
constexpr int32_t kPowersOfTwo = 32;
constexpr int64_t kReserveWithoutDdl = 298;
constexpr int64_t kReserveWithDdl = 388;
constexpr int32_t kDdlObjectScale = 100000;

struct ElementType {
  char code[3];
  int32_t words;
};
constexpr ElementType kElementTypes[20] = {
    {"L ", 1}, {"I ", 1}, {"R ", 1}, {"D ", 2}, {"A ", 1}, {"E ", 1}, {"X ", 2},
    {"FK", 1}, {"FL", 1}, {"PC", 1}, {"S ", 0}, {"N ", 1}, {"C ", 4}, {"SK", 1},
    {"FM", 1}, {"K ", 1}, {"CT", 1}, {"NV", 1}, {"ME", 1}, {"IC", 0},
};

// The presets that hold whether or not the pool itself can be configured.
void preset_shared_state(dbio::Context& ctx) {
  auto& g = ctx.grdblk;
  for (int u = 1; u <= dbio::kUnits; ++u) {
    g.BUFSZ[u] = kDefaultBlockWords;
    g.DBOPND[u] = dbio::kUnitClosed;
    g.GRFNUM[u] = kFirstControlWord + u;
  }
  ctx.DBFRST = ctx.DBLAST = 1;
  ctx.DBGFLG.fill(false);
  for (auto& record : ctx.grfist.record) record.fill(0);  // names stay as they are
  ctx.grfist.count = 1;
  for (int t = 1; t <= 20; ++t) {
    ctx.TYPCOD[t] = {kElementTypes[t - 1].code[0], kElementTypes[t - 1].code[1]};
    ctx.TYPLEN[t] = kElementTypes[t - 1].words;
  }
}

}  // namespace

void PAGSET(dbio::Context& ctx, int32_t OUTPUT, int32_t START, int32_t LENGTH, int32_t PAGSIZ,
            int32_t DDLCFG, int32_t NDICT, int32_t /*SPARE*/, int32_t& IERR) {
  preset_shared_state(ctx);
  // A fatal message writes the pool back through the close layer's flush.
  ctx.flush_before_stop = &PAGFLS;
  auto& s = ctx.sysfil;
  auto fail = [&](int32_t code) {
    s.POOLEN = s.PAGSIZ = s.NOFP = 0;
    IERR = code;
  };

  s.OUTPUT = OUTPUT;
  if (OUTPUT < 0) return fail(kBadOutputUnit);
  s.DDLCFG = DDLCFG;
  const int64_t q = DDLCFG > 0 ? DDLCFG / kDdlObjectScale : 0;  // DDL objects
  const int64_t r = DDLCFG > 0 ? DDLCFG % kDdlObjectScale : 0;  // DDL data words
  const int64_t poolen = DDLCFG == 0 ? int64_t{LENGTH} - kReserveWithoutDdl
                                     : int64_t{LENGTH} - 6 * q - r - kReserveWithDdl;
  int64_t pagsiz = PAGSIZ;
  s.POOLEN = static_cast<int32_t>(poolen < 0 ? 0 : poolen);
  s.PAGSIZ = PAGSIZ;
  // The pool must lie inside the program's pool array.
  if (START < 1 || LENGTH < 0 || int64_t{START} - 1 + LENGTH > dbio::kPoolArrayWords) return fail(kPoolTooSmall);
  if (pagsiz < kMinPageWords || poolen < kMinPoolWords) return fail(kPoolTooSmall);
  if (pagsiz % 2 != 0) ++pagsiz;

  int64_t n = poolen / pagsiz;
  while (n > 0 && poolen - n * pagsiz < kBookkeepingWordsPerPage * n) --n;
  if (n <= 1) return fail(kPoolTooSmall);
  const int64_t nofp = n - kExchangePages;
  int64_t npdict = nofp / 10;
  if (NDICT > 0 && 3 * int64_t{NDICT} >= npdict) npdict = 3 * int64_t{NDICT};
  if (NDICT < 0) npdict = -int64_t{NDICT};
  if (npdict <= 3) npdict = 3;
  const int64_t npool = nofp - npdict;
  if (npool <= kMinPoolPages) return fail(kPoolTooSmall);

  // Layout. All indices fit: the whole layout lies inside LENGTH words.
  ctx.set_pool(ctx.array(START), LENGTH);
  s.PAGSIZ = static_cast<int32_t>(pagsiz);
  s.NOFP = static_cast<int32_t>(nofp);
  s.NPDICT = static_cast<int32_t>(npdict);
  s.NPOOL = static_cast<int32_t>(npool);
  s.BASTWO = 0;
  s.BASTRN = -1;
  s.DBASEL = kPowersOfTwo;
  s.DBASEP = kPowersOfTwo + s.NPDICT;
  s.BASELL = 2 * s.NPDICT + kPowersOfTwo;
  s.BASEBL = s.BASELL + s.NOFP;
  s.BASEDB = s.BASEBL + s.NOFP;
  s.BASEBN = s.BASEDB + s.NOFP;
  s.BASEAD = s.BASEBN + s.NOFP;
  int32_t first_buffer = s.BASEAD + s.NOFP + 1;
  if (first_buffer % 2 == 0) ++first_buffer;  // odd index: 8-byte aligned buffers
  dbio::reset_chains(ctx);
  for (int32_t p = 1; p <= s.NOFP; ++p) ctx.W(s.BASEAD + p) = first_buffer + (p - 1) * s.PAGSIZ;
  s.BASEXB = first_buffer + s.NOFP * s.PAGSIZ;
  s.BASEDD = s.BASEXB + 2 * s.PAGSIZ + 1;
  ctx.W(s.BASEDD) = -1;  // no DDL loaded
  s.BASRML = static_cast<int32_t>(s.BASEDD + 5 * q + r + 3);
  s.DICDBB = 0;
  uint32_t power = 1;
  for (int k = 1; k <= kPowersOfTwo; ++k, power <<= 1) ctx.W(s.BASTWO + k) = static_cast<int32_t>(power);
  IERR = 0;
}

}  // namespace xdb
