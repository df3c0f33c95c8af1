// Opening, creating and closing XDB files: the header block a new database leaves on disk, every
// return code of DBOPEN (damaged and foreign headers built as byte images) and DBCLOS.

#include <gtest/gtest.h>

#include <array>
#include <fstream>
#include <vector>

#include "testkit/foreign_writer.h"
#include "testkit/scratch_database.h"
#include "xdb/close.h"
#include "xdb/open.h"

namespace {

using support::read_native_xdb;

// A header of 18 words in the given layout (0 BE32, 1 LE32, 2 BE64, 3 LE64), written as a whole
// file of `blocks` blocks of `bufsz` words.
void write_image(const std::string& path, int layout, std::array<int64_t, 18> header, int32_t bufsz,
                 int64_t blocks, int64_t extra_bytes = 0) {
  const int width = (layout & 2) ? 8 : 4;
  const bool little = layout & 1;
  std::vector<unsigned char> bytes(static_cast<std::size_t>(blocks * bufsz * width + extra_bytes), 0);
  for (int k = 0; k < 18 && (k + 1) * width <= static_cast<int>(bytes.size()); ++k) {
    uint64_t v = static_cast<uint64_t>(header[k]);
    for (int i = 0; i < width; ++i) bytes[k * width + (little ? i : width - 1 - i)] = static_cast<unsigned char>(v >> (8 * i));
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A header of a database that holds one data block.
std::array<int64_t, 18> valid_header(int32_t bufsz = 1024, int64_t used = 4, int64_t ddlver = 0, int64_t ddlsiz = 0) {
  return {bufsz, 100, 100 - used, used, 0, 2, 1, 1, 3, 1, 1, 4, 40, ddlver, ddlsiz, ddlver ? 5 : 0, 12, 0};
}

TEST(CreateXdb, EmptyDatabaseHasFourBlocksAndItsHeader) {
  support::ScratchDatabase db;
  ASSERT_EQ(db.open(1, 16777215, 300, "empty.xdb"), 0);
  EXPECT_EQ(db.ctx.grdblk.DBOPND[1], 2);
  EXPECT_EQ(db.ctx.grdblk.USDBKS[1], 4);
  EXPECT_EQ(db.ctx.grdblk.DICTPI[1], 2);
  EXPECT_EQ(db.ctx.grdblk.DICFDB[1], 3);
  EXPECT_EQ(db.ctx.grdblk.DICFSI[1], 4);
  ASSERT_EQ(db.close(1), 0);
  auto words = read_native_xdb(db.path("empty.xdb"));
  ASSERT_EQ(words.size(), 4u * 300);
  const std::vector<int32_t> header(words.begin(), words.begin() + 18);
  EXPECT_EQ(header, (std::vector<int32_t>{300, 16777215, 16777211, 4, 0, 2, 0, 0, 3, 1, 1, 4, 40, 0, 0, 0, 12, 0}));
  for (int k = 18; k < 300; ++k) ASSERT_EQ(words[k], 0) << k;
  EXPECT_EQ(db.close(1), xdb::kCloseUnitNotOpen);  // a second close writes nothing
  EXPECT_EQ(read_native_xdb(db.path("empty.xdb")), words);
}

TEST(CreateXdb, BlockSizeZeroAndNegative) {
  support::ScratchDatabase db(2048);
  ASSERT_EQ(db.open(1, 100, 0, "default.xdb"), 0);
  EXPECT_EQ(db.ctx.grdblk.BUFSZ[1], 1024);
  EXPECT_EQ(db.ctx.grdblk.DBDLEN[1], 12);
  ASSERT_EQ(db.open(2, 100, -2048, "extended.xdb"), 0);
  EXPECT_EQ(db.ctx.grdblk.BUFSZ[2], 2048);
  EXPECT_EQ(db.ctx.grdblk.DBDLEN[2], 14);
  EXPECT_EQ(db.ctx.DBFRST, 1);
  EXPECT_EQ(db.ctx.DBLAST, 2);
  ASSERT_EQ(db.close(2), 0);
  ASSERT_EQ(db.close(1), 0);
  EXPECT_EQ(read_native_xdb(db.path("extended.xdb"))[16], 14);
  // Opened again, without a DDL, it keeps its extended entries.
  ASSERT_EQ(db.open(2, 0, 0, "extended.xdb"), 0);
  EXPECT_EQ(db.ctx.grdblk.DBDLEN[2], 14);
  EXPECT_EQ(db.open(3, 100, 4096, "big.xdb"), xdb::kBlockTooLarge);
}

TEST(CreateXdb, RefusesUnitsNamesAndExistingFiles) {
  support::ScratchDatabase db;
  EXPECT_EQ(db.open(31, 100, 1024, "a.xdb"), xdb::kUnitOutOfRange);
  EXPECT_EQ(db.open(-31, 100, 1024, "a.xdb"), xdb::kUnitOutOfRange);
  EXPECT_EQ(db.open(0, 100, 1024, "a.xdb"), xdb::kUnitOutOfRange);
  int32_t ierr = -1;
  xdb::DBOPEN(db.ctx, 1, 100, 1024, ierr, "    ");
  EXPECT_EQ(ierr, xdb::kBadName);
  xdb::DBOPEN(db.ctx, 1, 100, 1024, ierr, std::string(300, 'x'));
  EXPECT_EQ(ierr, xdb::kBadName);
  xdb::DBOPEN(db.ctx, 1, 100, 1024, ierr, db.path(std::string(256 - db.path("").size(), 'y')));
  EXPECT_EQ(ierr, xdb::kBadName);  // the block I/O library would cut it to 255 characters

  ASSERT_EQ(db.open(1, 100, 1024, "a.xdb"), 0);
  EXPECT_EQ(db.open(1, 100, 1024, "b.xdb"), xdb::kUnitAlreadyOpen);
  ASSERT_EQ(db.close(1), 0);
  EXPECT_EQ(db.open(2, 100, 1024, "a.xdb"), xdb::kNewFileExists);  // an XDB
  std::ofstream(db.path("text.xdb")) << "not a database";
  EXPECT_EQ(db.open(2, 100, 1024, "text.xdb"), xdb::kNewFileExists);  // any file, however short
  std::ofstream(db.path("long.xdb")) << std::string(4096, 'x');
  EXPECT_EQ(db.open(2, 100, 1024, "long.xdb"), xdb::kNewFileExists);
  EXPECT_EQ(db.open(2, 0, 0, "missing.xdb"), xdb::kOldFileMissing);
  EXPECT_EQ(db.ctx.grdblk.DBOPND[2], 0);
}

TEST(CreateXdb, TemporaryDatabaseDisappearsAtClose) {
  support::ScratchDatabase db;
  ASSERT_EQ(db.open(-1, 100, 1024, "scratch.xdb"), 0);
  EXPECT_EQ(db.close(1), 0);
  EXPECT_FALSE(std::filesystem::exists(db.path("scratch.xdb")));
}

TEST(OpenXdb, ExistingDatabaseReadOnlyAndForUpdate) {
  support::ScratchDatabase db;
  ASSERT_EQ(db.open(1, 500, 1024, "old.xdb"), 0);
  ASSERT_EQ(db.close(1), 0);
  auto before = read_native_xdb(db.path("old.xdb"));

  ASSERT_EQ(db.open(1, 0, 0, "old.xdb"), 0);
  EXPECT_EQ(db.ctx.grdblk.DBOPND[1], 1);
  EXPECT_EQ(db.ctx.grdblk.MAXBKS[1], 500);
  EXPECT_EQ(db.ctx.grdblk.USDBKS[1], 4);
  EXPECT_LT(db.ctx.grdblk.DBHNDL[1], 0);  // read-only control word
  ASSERT_EQ(db.close(1), 0);
  EXPECT_EQ(read_native_xdb(db.path("old.xdb")), before);

  ASSERT_EQ(db.open(1, -1, 0, "old.xdb"), 0);
  EXPECT_EQ(db.ctx.grdblk.DBOPND[1], 3);
  ASSERT_EQ(db.close(1), 0);
  EXPECT_EQ(read_native_xdb(db.path("old.xdb")), before);
}

TEST(OpenXdb, ProbeRecognisesLayoutsAndRejectsDamage) {
  support::ScratchDatabase db;
  struct Case {
    const char* what;
    int layout;
    std::array<int64_t, 18> header;
    int64_t blocks, extra;
    int32_t probe, filtyp;
  } cases[] = {
      {"native", 1, valid_header(), 4, 0, 0, 1},
      {"32-bit big-endian", 0, valid_header(), 4, 0, 0, 0},
      {"64-bit big-endian", 2, valid_header(), 4, 0, 0, 2},
      {"64-bit little-endian", 3, valid_header(), 4, 0, 0, 3},
      {"empty database (no entry yet)", 1, {1024, 100, 96, 4, 0, 2, 0, 0, 3, 1, 1, 4, 40}, 4, 0, 17, 1},
      {"64-bit with a partial block", 3, valid_header(), 4, 8, 6, 3},
      {"counts disagree", 1, {1024, 100, 90, 4, 0, 2, 1, 1, 3, 1, 1, 4, 40}, 4, 0, 5, 1},
      {"block size zero (looks 64-bit, fits no layout)", 1, {0, 100, 96, 4, 0, 2}, 4, 0, 11, -1},
      {"primary index not 2 or 3", 1, {1024, 100, 96, 4, 0, 9, 1, 1, 3, 1, 1, 4, 40}, 4, 0, 11, -1},
      {"negative released block", 1, {1024, 100, 96, 4, -1, 2, 1, 1, 3, 1, 1, 4, 40}, 4, 0, 15, 1},
      {"no dictionary data block", 1, {1024, 100, 96, 4, 0, 2, 1, 1, 0, 1, 1, 4, 40}, 4, 0, 19, 1},
  };
  for (const auto& c : cases) {
    write_image(db.path("probe.xdb"), c.layout, c.header, static_cast<int32_t>(c.header[0] ? c.header[0] : 1024),
                c.blocks, c.extra);
    int32_t filtyp = 99, blksiz = 99, ddlsiz = 99;
    std::string name = db.path("probe.xdb");
    EXPECT_EQ(xdb::XDBPRB(filtyp, blksiz, name, static_cast<int32_t>(name.size()), ddlsiz), c.probe) << c.what;
    EXPECT_EQ(filtyp, c.filtyp) << c.what;
  }
  std::ofstream(db.path("short.xdb")) << "short";
  int32_t filtyp, blksiz, ddlsiz;
  EXPECT_EQ(xdb::XDBPRB(filtyp, blksiz, db.path("short.xdb"), 200, ddlsiz), 4);
  EXPECT_EQ(xdb::XDBPRB(filtyp, blksiz, db.path("nothing.xdb"), 200, ddlsiz), 2);
  EXPECT_EQ(xdb::XDBPRB(filtyp, blksiz, "x", 257, ddlsiz), 1);
}

TEST(OpenXdb, DbopenReturnCodesForExistingFiles) {
  support::ScratchDatabase db;
  write_image(db.path("counts.xdb"), 1, {1024, 100, 90, 4, 0, 2, 1, 1, 3, 1, 1, 4, 40}, 1024, 4);
  EXPECT_EQ(db.open(1, 0, 0, "counts.xdb"), xdb::kNotAnXdb);
  std::ofstream(db.path("short.xdb")) << "short";
  EXPECT_EQ(db.open(1, 0, 0, "short.xdb"), xdb::kHeaderUnreadable);
  write_image(db.path("damaged.xdb"), 1, valid_header(), 1024, 4, 100);
  EXPECT_EQ(db.open(1, 0, 0, "damaged.xdb"), xdb::kDamagedHeader);
  write_image(db.path("be.xdb"), 0, valid_header(1024, 4, 800, 100010), 1024, 4);
  EXPECT_EQ(db.open(1, 0, 0, "be.xdb"), xdb::kForeignWithoutDdl);
  write_image(db.path("bigddl.xdb"), 1, valid_header(1024, 4, 700, 300000010), 1024, 4);
  EXPECT_EQ(db.open(1, 0, 0, "bigddl.xdb"), xdb::kDdlTooLarge);
  write_image(db.path("bigblock.xdb"), 1, valid_header(4096), 4096, 4);
  EXPECT_EQ(db.open(1, 0, 0, "bigblock.xdb"), xdb::kBlockTooLarge);
  EXPECT_EQ(db.ctx.grdblk.DBOPND[1], 0);
  // An empty database whose counts disagree is damaged too.
  write_image(db.path("empty_bad.xdb"), 1, {1024, 100, 90, 4, 0, 2, 0, 0, 3, 1, 1, 4, 40}, 1024, 4);
  EXPECT_EQ(db.open(1, 0, 0, "empty_bad.xdb"), xdb::kNotAnXdb);
}

TEST(CloseXdb, ChecksTheUnit) {
  support::ScratchDatabase db;
  EXPECT_EQ(db.close(0), xdb::kCloseUnitOutOfRange);
  EXPECT_EQ(db.close(31), xdb::kCloseUnitOutOfRange);
  EXPECT_EQ(db.close(5), xdb::kCloseUnitNotOpen);
}

TEST(CloseXdb, ClosingTheOnlyDatabaseReturnsThePoolToItsFirstState) {
  support::ScratchDatabase db(1024, 12);
  ASSERT_EQ(db.open(1, 100, 1024, "pool.xdb"), 0);
  ASSERT_EQ(db.close(1), 0);
  auto& s = db.ctx.sysfil;
  EXPECT_EQ(s.FREE, 1);
  EXPECT_EQ(s.LSTUSD, 0);
  EXPECT_EQ(s.LOCKED, 0);
  for (int32_t p = 1; p <= s.NOFP; ++p) {
    EXPECT_EQ(db.ctx.W(s.BASELL + p), p == s.NOFP ? -1 : -(p + 1));
    EXPECT_EQ(db.ctx.W(s.BASEDB + p), 0);
  }
}

}  // namespace
