#include "dbio/messages.h"

#include <ostream>
#include <string>

#include "dbio/names.h"
#include "platform/format.h"
#include "platform/stop.h"
#include "dbio/open_states.h"
#include "dbio/logical_file.h"

namespace dbio {

namespace {

using platform::iw;

constexpr int kFieldsPerLine = 10;

std::string a8(std::string_view routine) {
  std::string name(routine.substr(0, 8));
  name.resize(8, ' ');
  return name;
}

int32_t arg(const int32_t* p, int k = 0) { return p ? p[k] : 0; }

// The 8-character name of DDL object k as the DDL area holds it, or blanks when there is none.
std::string ddl_object_name(dbio::Context& ctx, int32_t k, int32_t unit) {
  const auto& s = ctx.sysfil;
  if (k <= 0 || s.BASEDD <= 0 || ctx.W(s.BASEDD) == -1) return std::string(8, ' ');
  int32_t objects = ctx.W(s.BASEDD + 1);
  if (k > objects) return std::string(8, ' ');
  bool extended = unit >= 1 && unit <= dbio::kUnits && ctx.grdblk.DBDLEN[unit] > 12;
  int64_t record = extended ? ctx.W(int64_t{s.BASRML} + k - 1) : int64_t{s.BASEDD} + 5 * int64_t{k} - 2;
  if (record < 1 || record + 1 > ctx.pool_words()) return std::string(8, ' ');
  return dbio::unpack_name(ctx.W(record), ctx.W(record + 1));
}

void values_ten_per_line(std::ostream& out, const int32_t* values, int n) {
  for (int i = 0; i < n; ++i) {
    if (i % kFieldsPerLine == 0) out << (i ? "\n " : " ");
    out << iw(values[i], 11);
  }
  if (n > 0) out << '\n';
}

void key_line(std::ostream& out, const int32_t* key) {
  out << "     " << dbio::name_chars(key[0], key[1]);
  for (int k = 2; k < dbio::kKeyWords; ++k) out << iw(key[k], 8);
  out << '\n';
}

// The catalog text of codes 1..20.
void catalog_text(dbio::Context& ctx, std::ostream& out, int32_t code, const int32_t* a1, const int32_t* a2) {
  const int32_t zero_key[dbio::kKeyWords] = {};
  switch (code) {
    case 1: out << "     DATA BASE UNIT " << iw(arg(a1), 5) << " IS OUT OF RANGE.\n"; break;
    case 2: out << "     BLOCK REQUEST FROM DATA BASE UNIT " << iw(arg(a1), 5) << ", WHICH IS CLOSED.\n"; break;
    case 3:
      out << "     BLOCK " << iw(arg(a1), 12) << " REQUESTED FROM DATA BASE UNIT " << iw(arg(a2), 5)
          << ", WHICH IS OPEN FOR READONLY\n";
      break;
    case 4: out << "     INSUFFICIENT SPACE ALLOCATED FOR DATA BASE UNIT " << iw(arg(a1), 5) << '\n'; break;
    case 5: out << "     DATA BASE " << iw(arg(a1), 5) << " NOT OPENED, NO ACTION TAKEN\n"; break;
    case 6: out << "     OVERFLOW OF DICTIONARY PRIMARY INDEX FOR DATA BASE UNIT " << iw(arg(a1), 5) << '\n'; break;
    case 7:
      out << "     BUFFER LOCKING PROBLEMS ON POOL FOR DATA BASE UNIT " << iw(arg(a1), 5) << ", BLOCK "
          << iw(arg(a2), 12) << "\n     POSSIBLE MULTIPLE LOGICAL FILES ASSIGNED TO THE SAME DATA RELATION\n";
      break;
    case 8:
      out << "     FREE BUFFER POOL SPACE EXHAUSTED, REDUCE NUMBER OF LOGICAL FILES OR INCREASE SPACE\n";
      break;
    case 9:
      out << "     LOGIC ERROR, DICTIONARY PRIMARY BLOCK ON DEAD CHAIN FOR DATA BASE " << iw(arg(a1), 5) << '\n';
      break;
    case 10:
    case 11:
      out << "     UNABLE TO FIND ENTRY " << iw(arg(a1), 12) << (code == 10 ? " ON SI BLOCK " : " ON PI BLOCK ")
          << iw(arg(a2), 12) << ", WHICH HAD BEEN PREVIOUSLY FOUND.\n"
          << "     DISK ERROR OR MEMORY OVER WRITE ASSUMED\n";
      break;
    case 12: out << "     DATA BASE " << iw(arg(a1), 5) << " OPENED FOR READONLY, NO ACTION TAKEN\n"; break;
    case 13:
      out << "     PROGRAMMING ERROR. LENGTH OF DICTIONARY ENTRIES CHANGED, BUT CLOSGR NOT INFORMED\n";
      break;
    case 14:
      out << "     DICTIONARY OR DICTIONARY NAME FOR FILE " << dbio::name_chars(arg(a1), arg(a2))
          << " CORRUPTED.  UNABLE TO CLOSE DATA BLOCK.\n";
      break;
    case 15:
      out << "     THE FOLLOWING LOGICAL FILE WAS LEFT OPEN AT DATABASE CLOSE, FORCE CLOSING\n";
      key_line(out, a1 ? a1 : zero_key);
      break;
    case 16:
      out << "     THE FOLLOWING LOGICAL FILE WAS OPEN AT THE TIME A PURGE WAS REQUESTED\n"
          << "     NO PURGE ACTION WAS TAKEN FOR LOGICAL FILE\n";
      key_line(out, a1 ? a1 : zero_key);
      break;
    case 17:
      out << "     LOGICAL DATA BASE " << iw(arg(a1), 3) << " IS MISSING DDL WITH SWAP CONDITION "
          << iw(arg(a2), 2) << '\n';
      break;
    case 18:
      out << "     LOGICAL DATA BASE " << iw(arg(a1), 3) << " IS MISSING THE BLOCK NUMBER FOR DDL VERSION "
          << iw(arg(a2), 5) << '\n';
      break;
    case 19:
      out << "     OBJECT " << ddl_object_name(ctx, arg(a1), 0)
          << " ENTRY LENGTH AND DATA DEFINITION IS INCONSISTENT FOR HETEROGENOUS OPERATIONS.\n"
          << "     DUMPXDB AND LOADXDB MUST BE USED TO MIGRATE XDB BETWEEN PLATFORMS.\n";
      break;
    case 20:
      // The field after "LOGICAL DATA BASE" shows the DDL object number: no unit is at hand there.
      out << "     LOGICAL DATA BASE " << iw(arg(a1), 3) << " FOR OBJECT " << ddl_object_name(ctx, arg(a1), 0)
          << " DDL LENGTH LESS THAN ENTRY LENGTH.\n"
          << "     DDL LENGTH = " << iw(arg(a2), 5) << ", ENTRY LENGTH = " << iw(arg(a1, 1), 5) << '\n';
      break;
  }
}

bool is_warning(int32_t code) { return code == 5 || code == 12 || code == 15 || code == 16; }

void dump_pages(dbio::Context& ctx, std::ostream& out) {
  const auto& s = ctx.sysfil;
  out << "\n Memory Blocks\n Page#  DB     Block       Addr  DLink  ULink     Header\n";
  int unused_printed = 0;
  for (int32_t p = 1; p <= s.NOFP && unused_printed < 5; ++p) {
    int32_t down = ctx.W(s.BASELL + p);
    int32_t block = ctx.W(s.BASEBN + p);
    int32_t buffer = ctx.W(s.BASEAD + p);
    const int32_t* b = ctx.words(buffer, 6);
    out << ' ' << iw(p, 5) << iw(ctx.W(s.BASEDB + p), 4) << iw(block, 10) << iw(buffer, 11) << iw(down, 7)
        << iw(ctx.W(s.BASEBL + p), 7) << iw(b[0], 9);
    for (int k = 1; k < 5; ++k) out << iw(b[k], 11);
    std::string name(8, ' ');
    if (block > 1) {
      int32_t type = b[0] > 100 ? b[0] % 100 : b[0];
      if (type == 1 || type == 5) name = dbio::name_chars(b[1], b[2]);
      else if (type == 4 && b[2] == 0) name = dbio::name_chars(b[4], b[5]);
      else if (type == 6) name = dbio::name_chars(b[3], b[4]);
      else if (type == 7) name = dbio::name_chars(b[4], b[5]);
    }
    out << " <" << name << ">\n";
    if (down < 0) ++unused_printed;
  }
}

void dump_cache(dbio::Context& ctx, std::ostream& out) {
  const auto& s = ctx.sysfil;
  out << "\n Dictionary Cache\n Number  Link Index  DB      Block    Header\n";
  for (int32_t i = 1; i <= s.NPDICT; ++i) {
    int32_t link = ctx.W(s.DBASEL + i);
    if (link < -1) continue;
    int32_t page = ctx.W(s.DBASEP + i);
    out << ' ' << iw(i, 6) << iw(link, 6) << iw(page, 6);
    if (page >= 1 && page <= s.NOFP) {
      const int32_t* b = ctx.words(ctx.W(s.BASEAD + page), 6);
      out << iw(ctx.W(s.BASEDB + page), 4) << iw(ctx.W(s.BASEBN + page), 11);
      for (int k = 0; k < 6; ++k) out << iw(b[k], 11);
    } else {
      out << iw(0, 4) << iw(0, 11);
    }
    out << '\n';
  }
}

}  // namespace

void dump_shared_state(dbio::Context& ctx) {
  std::ostream& out = ctx.out();
  auto sysfil = ctx.sysfil.values();
  out << "\n /SYSFIL/ \n"
      << " OUTPUT,POOLEN,PAGSIZ,NOFP,NPDICT,NPOOL,FREE,LOCKED,BASELL,BASEDB\n"
      << " BASEAD,BASEBN,DLSTR,DBASEL,DBASEP,BASEDD,DDLCFG,BASTWO,BASTRN,BASEXB\n"
      << " BASELP,BASEBL,BASRML,LSTUSD,DICDBB,DICDBO,IDATEV,ITIMEV\n"
      << "\n /SYSFIL/ \n";
  values_ten_per_line(out, sysfil.data(), dbio::Sysfil::kCount);

  for (int32_t k = 1; k <= ctx.grfist.count && k <= dbio::kLogicalFiles; ++k) {
    const auto& record = ctx.grfist.record[k];
    out << "\n /GRFIST/ " << iw(k, 3) << " <- " << ddl_object_name(ctx, record[logical_file::kDdlObject], record[logical_file::kUnit]) << '\n';
    values_ten_per_line(out, record.data() + 1, dbio::kRecordWords);
  }

  out << "\n /GRDBLK/ \n"
      << " BUFSZ,MAXBKS,FREBKS,USDBKS,DEDBKS,DICTPI,NUMDB,INFINU,DICFDB,DICNDB,\n"
      << " DICNSI,DICFSI,GRFNUM,DDLVER,DDLSIZ,DDLBLK,DBDLEN,DBOPND,DBFLTY,DBHNDL\n";
  const auto& g = ctx.grdblk;
  for (int u = std::max(ctx.DBFRST, 1); u <= std::min(ctx.DBLAST, dbio::kUnits); ++u) {
    if (g.DBOPND[u] == kUnitClosed) continue;
    const int32_t values[20] = {g.BUFSZ[u],  g.MAXBKS[u], g.FREBKS[u], g.USDBKS[u], g.DEDBKS[u],
                                g.DICTPI[u], g.NUMDB[u],  g.INFINU[u], g.DICFDB[u], g.DICNDB[u],
                                g.DICNSI[u], g.DICFSI[u], g.GRFNUM[u], g.DDLVER[u], g.DDLSIZ[u],
                                g.DDLBLK[u], g.DBDLEN[u], g.DBOPND[u], g.DBFLTY[u], g.DBHNDL[u]};
    out << "\n /GRDBLK/ " << iw(u, 3) << '\n';
    values_ten_per_line(out, values, 20);
  }
  if (ctx.sysfil.NOFP > 0) {
    dump_pages(ctx, out);
    dump_cache(ctx, out);
  }
}

namespace {

// Writes every modified page back, unless a fatal message of this context is doing so already: a
// block write that fails in that flush reports a fatal message of its own, which must not flush
// again (the flush would meet the same failure and start over without end) but stop at once.
void flush_once(dbio::Context& ctx) {
  if (ctx.flushing_for_message || !ctx.flush_before_stop) return;
  struct Flushing {
    explicit Flushing(dbio::Context& c) : ctx(c) { ctx.flushing_for_message = true; }
    ~Flushing() { ctx.flushing_for_message = false; }
    dbio::Context& ctx;
  } flushing(ctx);
  ctx.flush_before_stop(ctx);
}

}  // namespace

void DIOMSG(dbio::Context& ctx, int32_t code, std::string_view routine, const int32_t* arg1,
            const int32_t* arg2) {
  std::ostream& out = ctx.out();
  if (code != kDumpOnly) {
    if (code < 1 || code > 20) {
      out << "0*** SYSTEM FATAL MESSAGE 6059 (DIOMSG) \n"
          << "     NO ERROR MESSAGE EXISTS FOR DIOMSG INTERNAL CODE NUMBER " << iw(code, 8) << " CALLED FROM "
          << a8(routine) << '\n';
    } else {
      const char* banner = code == 1            ? " *** USER FATAL MESSAGE 6060 (DBIO) "
                           : is_warning(code) ? " *** USER WARNING MESSAGE 6061 (DBIO) "
                                              : " *** SYSTEM FATAL ERROR 6062 (DBIO) ";
      out << '\n' << banner << "\n *** DIOMSG ERROR MESSAGE " << iw(code, 5) << " FROM SUBROUTINE " << a8(routine) << '\n';
      catalog_text(ctx, out, code, arg1, arg2);
      if (is_warning(code)) {
        ++ctx.units.warnings;
        return;
      }
    }
  }
  if (code == kDumpOnly || ctx.DBGFLG[dbio::kDumpOnMessage]) dump_shared_state(ctx);
  flush_once(ctx);
  if (code == kDumpOnly) return;
  out.flush();
  *ctx.units.output << " FATAL ERROR DETECTED\n";
  ctx.units.output->flush();
  platform::stop_run();
}

void DIOMSG(dbio::Context& ctx, int32_t code, std::string_view routine, int32_t arg1, int32_t arg2) {
  DIOMSG(ctx, code, routine, &arg1, &arg2);
}

}  // namespace dbio
