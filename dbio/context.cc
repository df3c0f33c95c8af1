#include "dbio/context.h"

#include "platform/stop.h"

namespace dbio {

Context::Context(platform::Units& u, bio::Library& io)
    : units(u), block_io(io), pool_array_(new int32_t[kPoolArrayWords]()) {}

void Context::pool_index_fault(int64_t k, int64_t n) {
  out() << "\n *** SYSTEM FATAL ERROR 6062 (DBIO) \n"
        << "     POOL WORDS " << k << " TO " << (k + n - 1) << " LIE OUTSIDE THE PAGING POOL OF "
        << pool_words_ << " WORDS.\n"
        << "     A DAMAGED BLOCK OR AN INTERNAL ERROR IS ASSUMED.\n";
  platform::stop_run();
}

}  // namespace dbio
