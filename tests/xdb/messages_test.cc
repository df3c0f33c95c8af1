// The DBIO message catalog: banners and texts compared in full, warnings that return, fatal
// messages that flush the pool and stop, and the dumps of the shared state.

#include "dbio/messages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "dbio/blocks.h"
#include "dbio/bridge.h"
#include "dbio/pool.h"
#include "testkit/scratch_database.h"
#include "testkit/system_codes.h"

namespace {

TEST(Diomsg, FatalMessageTextsInFull) {
  struct Case {
    int32_t code, a1, a2;
    const char* routine;
    std::string expected;
  } cases[] = {
      {1, 31, 0, "DICRDR", "\n *** USER FATAL MESSAGE 6060 (DBIO) \n *** DIOMSG ERROR MESSAGE     1 FROM SUBROUTINE DICRDR  \n"
                           "     DATA BASE UNIT    31 IS OUT OF RANGE.\n"},
      {3, 17, 2, "BLKRET  ", "\n *** SYSTEM FATAL ERROR 6062 (DBIO) \n *** DIOMSG ERROR MESSAGE     3 FROM SUBROUTINE BLKRET  \n"
                             "     BLOCK           17 REQUESTED FROM DATA BASE UNIT     2, WHICH IS OPEN FOR READONLY\n"},
      {7, 1, 123, "DATMGR  ", "\n *** SYSTEM FATAL ERROR 6062 (DBIO) \n *** DIOMSG ERROR MESSAGE     7 FROM SUBROUTINE DATMGR  \n"
                              "     BUFFER LOCKING PROBLEMS ON POOL FOR DATA BASE UNIT     1, BLOCK          123\n"
                              "     POSSIBLE MULTIPLE LOGICAL FILES ASSIGNED TO THE SAME DATA RELATION\n"},
      {17, 1, 2, "KOVGDM  ", "\n *** SYSTEM FATAL ERROR 6062 (DBIO) \n *** DIOMSG ERROR MESSAGE    17 FROM SUBROUTINE KOVGDM  \n"
                             "     LOGICAL DATA BASE   1 IS MISSING DDL WITH SWAP CONDITION  2\n"},
      {0, 0, 0, "BLKRD", "0*** SYSTEM FATAL MESSAGE 6059 (DIOMSG) \n"
                         "     NO ERROR MESSAGE EXISTS FOR DIOMSG INTERNAL CODE NUMBER        0 CALLED FROM BLKRD   \n"},
      {999, 0, 0, "BLKWRT", "0*** SYSTEM FATAL MESSAGE 6059 (DIOMSG) \n"
                            "     NO ERROR MESSAGE EXISTS FOR DIOMSG INTERNAL CODE NUMBER      999 CALLED FROM BLKWRT  \n"},
  };
  for (const auto& c : cases) {
    support::ScratchDatabase db;
    EXPECT_EQ(db.stops([&] { dbio::DIOMSG(db.ctx, c.code, c.routine, c.a1, c.a2); }), platform::kExitFatal);
    EXPECT_EQ(db.messages.str(), c.expected) << c.code;
    EXPECT_EQ(db.output.str(), " FATAL ERROR DETECTED\n");
  }
}

TEST(Diomsg, WarningReturnsWithoutWritingPages) {
  support::ScratchDatabase db;
  ASSERT_EQ(db.open(1, 100, 1024, "warn.xdb"), 0);
  int32_t key[12];
  std::memcpy(key, "GROUPONE", 8);
  for (int k = 2; k < 12; ++k) key[k] = k - 5;
  EXPECT_EQ(db.stops([&] { dbio::DIOMSG(db.ctx, 15, "PAGDBF  ", key, nullptr); }), -1);
  EXPECT_EQ(db.messages.str(),
            "\n *** USER WARNING MESSAGE 6061 (DBIO) \n *** DIOMSG ERROR MESSAGE    15 FROM SUBROUTINE PAGDBF  \n"
            "     THE FOLLOWING LOGICAL FILE WAS LEFT OPEN AT DATABASE CLOSE, FORCE CLOSING\n"
            "     GROUPONE      -3      -2      -1       0       1       2       3       4       5       6\n");
  EXPECT_EQ(db.units.warnings, 1);
  EXPECT_EQ(std::filesystem::file_size(db.path("warn.xdb")), 0u);  // nothing written yet
}

TEST(Diomsg, FatalMessageFlushesTheDatabaseBeforeStopping) {
  support::ScratchDatabase db;
  ASSERT_EQ(db.open(1, 100, 1024, "flush.xdb"), 0);
  EXPECT_EQ(db.stops([&] { dbio::DIOMSG(db.ctx, 8, "DATMGR  "); }), platform::kExitFatal);
  // Header, dictionary blocks: the database on disk is whole.
  EXPECT_EQ(std::filesystem::file_size(db.path("flush.xdb")), 4u * 1024 * 4);
}

TEST(Diomsg, DumpsComeBetweenMessageAndFatalLineWithFlag22) {
  support::ScratchDatabase db(1024, 11);
  ASSERT_EQ(db.open(1, 100, 1024, "dump.xdb"), 0);
  db.messages.str("");
  dbio::DIOMSG(db.ctx, dbio::kDumpOnly, "TEST    ");
  const std::string dump = db.messages.str();
  EXPECT_EQ(db.output.str(), "");  // a dump alone does not stop
  EXPECT_EQ(dump.rfind("\n /SYSFIL/ \n OUTPUT,POOLEN,PAGSIZ,NOFP,NPDICT,NPOOL,FREE,LOCKED,BASELL,BASEDB\n", 0), 0u);
  EXPECT_NE(dump.find("\n /GRDBLK/ \n BUFSZ,MAXBKS,FREBKS,USDBKS,DEDBKS,DICTPI,NUMDB,INFINU,DICFDB,DICNDB,\n"
                      " DICNSI,DICFSI,GRFNUM,DDLVER,DDLSIZ,DDLBLK,DBDLEN,DBOPND,DBFLTY,DBHNDL\n"
                      "\n /GRDBLK/   1\n"
                      "        1024        100         96          4          0          2          0          0          3          1\n"
                      "           1          4         40          0          0          0         12          2          1         40\n"),
            std::string::npos);
  EXPECT_NE(dump.find("\n Memory Blocks\n Page#  DB     Block       Addr  DLink  ULink     Header\n"), std::string::npos);
  EXPECT_NE(dump.find("\n Dictionary Cache\n Number  Link Index  DB      Block    Header\n"), std::string::npos);
  // Four pages in use (blocks 4, 3, 2, 1 from the head) and at most five never-used pages.
  int page_lines = 0;
  for (std::size_t at = dump.find(">\n"); at != std::string::npos; at = dump.find(">\n", at + 1)) ++page_lines;
  EXPECT_EQ(page_lines, 4 + 5);
  EXPECT_NE(dump.find("\n /GRFIST/   1 <-         \n"), std::string::npos);

  db.messages.str("");
  db.ctx.DBGFLG[dbio::kDumpOnMessage] = true;
  EXPECT_EQ(db.stops([&] { dbio::DIOMSG(db.ctx, 4, "BLKGET  ", 1); }), platform::kExitFatal);
  EXPECT_EQ(db.messages.str().find("INSUFFICIENT SPACE"), db.messages.str().find("     INSUFFICIENT") + 5);
  EXPECT_NE(db.messages.str().find(" /SYSFIL/ "), std::string::npos);
}

TEST(Biomsg, ReadBeyondTheEndOfTheFile) {
  support::ScratchDatabase db;
  ASSERT_EQ(db.open(1, 100, 1024, "short.xdb"), 0);
  db.messages.str("");
  EXPECT_EQ(db.stops([&] { dbio::BLKRD(db.ctx, 1, 123, db.ctx.sysfil.BASEXB, 1024, db.ctx.sysfil.BASEXB); }),
            platform::kExitFatal);
  EXPECT_EQ(db.messages.str(),
            " *** SYSTEM FATAL MESSAGE 1001 (BLKRD)\n"
            "     ERROR ENCOUNTERED READING BLOCK        123, ERROR CODE =  6007.\n"
            "     DATA BASE NUMBER =   1, UNIT =  40, MESSAGE IS --\n"
            "     Read block number beyond End-of-file.\n"
            "0*** SYSTEM FATAL MESSAGE 6059 (DIOMSG) \n"
            "     NO ERROR MESSAGE EXISTS FOR DIOMSG INTERNAL CODE NUMBER      999 CALLED FROM BLKRD   \n");
}

TEST(Biomsg, OpenFailureCarriesTheSystemText) {
  support::ScratchDatabase db;
  db.ctx.grdblk.DBHNDL[1] = 40;
  bool fatal = false;
  dbio::BIOMSG(db.ctx, 1, 2, 1, 0, "DBOPEN", fatal);
  EXPECT_TRUE(fatal);
  EXPECT_EQ(db.messages.str(),
            " *** SYSTEM FATAL MESSAGE 1001 (DBOPEN)\n"
            "     ERROR ENCOUNTERED OPENING FILE, ERROR CODE =     2.\n"
            "     DATA BASE NUMBER =   1, UNIT =  40, MESSAGE IS --\n"
            "     " + support::system_message(2) + "\n");
  db.messages.str("");
  dbio::BIOMSG(db.ctx, 1, dbio::kFileSizeReached, 6, 0, "DBCLOS", fatal);
  EXPECT_EQ(db.messages.str(),
            " *** SYSTEM FATAL MESSAGE 1001 (DBCLOS)\n"
            "     ERROR ENCOUNTERED CLOSING FILE, ERROR CODE = -123456.\n"
            "     DATA BASE NUMBER =   1, UNIT =  40, MESSAGE IS --\n"
            "     THE MAXIMUM ALLOWABLE FILE SIZE LIMIT (2GB) HAS BEEN REACHED.\n");
}

}  // namespace
