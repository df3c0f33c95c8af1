#pragma once
// A fresh database layer for a test: its own context with captured messages, a configured pool,
// and a scratch directory for the files it creates (removed afterwards).

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "bio/library.h"
#include "dbio/context.h"
#include "platform/stop.h"
#include "testkit/programs.h"
#include "xdb/close.h"
#include "xdb/open.h"
#include "xdb/poolconfig.h"

namespace support {

class ScratchDatabase {
 public:
  // A pool of `pages` pages of `page_words` words (at least 11 pages: the pool keeps 8 free of the
  // dictionary cache), with room for a DDL of 2000 objects and 5000 words.
  explicit ScratchDatabase(int32_t page_words = 1024, int32_t pages = 15) {
    units.message = &messages;
    units.output = &output;
    dir = std::filesystem::temp_directory_path() /
          ("loadxdb_scratch_" + std::to_string(process_id()) + "_" + std::to_string(counter()++));
    std::filesystem::create_directories(dir);
    // Pool length for `pages + 2` page-sized areas plus bookkeeping, and the DDL room.
    const int32_t n = pages + 2;
    const int32_t length = n * page_words + 7 * n + 6 * 2000 + 5000 + 388;
    int32_t ierr = -1;
    xdb::PAGSET(ctx, 0, 1, length, page_words, 200005000, 0, 0, ierr);
    EXPECT_EQ(ierr, 0);
    EXPECT_EQ(ctx.sysfil.NOFP, pages);
  }
  ~ScratchDatabase() {
    for (int u = 1; u <= dbio::kUnits; ++u) {
      if (ctx.grdblk.DBOPND[u] != 0) {
        int32_t ierr;
        try {
          xdb::DBCLOS(ctx, u, 0, ierr);
        } catch (const platform::RunStop&) {
        }
      }
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }

  std::string path(const std::string& name) const { return (dir / name).string(); }

  // DBOPEN; returns IERR.
  int32_t open(int32_t unit, int32_t maxblk, int32_t blksiz, const std::string& name) {
    int32_t ierr = -1;
    xdb::DBOPEN(ctx, unit, maxblk, blksiz, ierr, path(name));
    return ierr;
  }
  int32_t close(int32_t unit) {
    int32_t ierr = -1;
    xdb::DBCLOS(ctx, unit, 0, ierr);
    return ierr;
  }

  // Runs f and returns the stop status, or -1 when the run did not stop.
  template <typename F>
  int stops(F f) {
    try {
      f();
    } catch (const platform::RunStop& stop) {
      return stop.status;
    }
    return -1;
  }

  std::ostringstream messages, output;
  platform::Units units;
  bio::Library block_io{output, messages};
  dbio::Context ctx{units, block_io};
  std::filesystem::path dir;

 private:
  static int& counter() {
    static int n = 0;
    return n;
  }
};

}  // namespace support
