#include "app/check.h"

#include <algorithm>
#include <exception>

#include "app/poolsize.h"
#include "platform/stop.h"
#include "xdb/close.h"
#include "xdb/database.h"
#include "xdb/open.h"
#include "xdb/poolconfig.h"
#include "xdb/verify.h"

namespace app {

namespace {

constexpr int32_t kUnit = 1;

}  // namespace

int check_xdb(const std::string& name, const CheckOptions& options, platform::Units& units) {
  std::ostream& out = units.msg();
  int32_t filtyp = 0, block_size = 0, ddlsiz = 0;
  const int32_t probe = xdb::XDBPRB(filtyp, block_size, name, static_cast<int32_t>(std::min<std::size_t>(name.size(), 257)), ddlsiz);
  if (probe == 2) {
    out << name << ": no such file\n";
    return 1;
  }
  const PoolSizing pool = size_pool_for_reading(block_size);
  xdb::BlockIo block_io(units);
  xdb::Context ctx(units, block_io.library());
  int32_t ierr = 0;
  xdb::PAGSET(ctx, 0, 1, pool.POOLEN, pool.PAGSIZ, pool.DDLCFG, 0, 0, ierr);
  if (ierr != 0) {
    out << name << ": blocks of " << block_size << " words are too large to check\n";
    return 1;
  }
  try {
    xdb::DBOPEN(ctx, kUnit, 0, 0, ierr, name);
    if (ierr != 0) {
      out << name << ": cannot be opened as an XDB (return code " << ierr << ", probe result " << probe << ")\n";
      return 1;
    }
    const xdb::Verdict verdict = xdb::verify_database(ctx, kUnit, name, out, options.list ? units.output : nullptr);
    // A close that fails has said so in a fatal message: the check does not end as sound then.
    xdb::DBCLOS(ctx, kUnit, 0, ierr);
    if (ierr != 0) {
      xdb::release_after_stop(ctx, kUnit);
      out << name << ": checking stopped: the file could not be closed (return code " << ierr << ")\n";
      return 1;
    }
    if (verdict.problems == 0) {
      out << name << ": sound: " << verdict.data_blocks << " data blocks, " << verdict.blocks << " blocks of "
          << verdict.block_words << " words\n";
    } else {
      out << name << ": " << verdict.problems << " problem" << (verdict.problems == 1 ? "" : "s") << " found in "
          << verdict.data_blocks << " data blocks\n";
    }
    return verdict.problems == 0 ? 0 : 1;
  } catch (const platform::RunStop&) {
    xdb::release_after_stop(ctx, kUnit);
    out << name << ": checking stopped on the fatal error above\n";
    return 1;
  } catch (const std::exception& fault) {
    // A reader that meets a layout it cannot follow stops rather than read past its copy.
    xdb::release_after_stop(ctx, kUnit);
    out << name << ": checking stopped: " << fault.what() << '\n';
    return 1;
  }
}

}  // namespace app
