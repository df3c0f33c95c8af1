#pragma once
// Opening and creating an XDB: attaching a file to one of the 30 database units.
//
// Header block (block 1) of an XDB, word by word:
//
//    1 BUFSZ   block size in words (1..65536)     10 DICNDB  number of dictionary data blocks
//    2 MAXBKS  maximum number of blocks           11 DICNSI  number of secondary index blocks
//    3 FREBKS  blocks that can still be added     12 DICFSI  first secondary index block
//    4 USDBKS  blocks in the file                 13 GRFNUM  block I/O unit when written
//    5 DEDBKS  first released block, 0 = none     14 DDLVER  DDL version, 0 = none
//    6 DICTPI  dictionary primary index block     15 DDLSIZ  DDL objects * 100000 + data words
//    7 NUMDB   number of dictionary entries       16 DDLBLK  first block of the stored DDL
//    8 INFINU  last entry sequence number         17 DBDLEN  descriptor words per entry (12..14)
//    9 DICFDB  first dictionary data block        18 SRBLK   shared single-record block, 0 = none
//   19..BUFSZ  0
//
// A valid header has MAXBKS = FREBKS + USDBKS, and the file is USDBKS * BUFSZ words long.
// File types: 0 32-bit big-endian, 1 32-bit little-endian (native, written by this program),
// 2 64-bit big-endian, 3 64-bit little-endian, 6 64-bit big-endian from a UNICOS system (refused).

#include <cstdint>
#include <string>

#include "dbio/context.h"

namespace xdb {

// Return codes of DBOPEN.
inline constexpr int32_t kOldFileMissing = 1;
inline constexpr int32_t kUnitOutOfRange = 2;
inline constexpr int32_t kUnitAlreadyOpen = 3;
inline constexpr int32_t kNewFileExists = 4;
inline constexpr int32_t kBadName = 5;
inline constexpr int32_t kHeaderUnreadable = 6;
inline constexpr int32_t kNotAnXdb = 7;
inline constexpr int32_t kBlockTooLarge = 8;
inline constexpr int32_t kForeignWithoutDdl = 9;
inline constexpr int32_t kDdlTooLarge = 10;
inline constexpr int32_t kOpenFailed = 12;
inline constexpr int32_t kUnicosFile = 14;
// An existing file whose header the probe rejects for another reason (block size outside
// 1..65536, a non-positive count or block number, a size that disagrees with the header): it is
// not opened, since reading blocks of it would only run into damage.
inline constexpr int32_t kDamagedHeader = 15;

// Opens unit |DBNUM| on the file NAME (trailing blanks ignored). MAXBLK > 0 creates a new file of
// at most MAXBLK blocks of BLKSIZ words (0 = 1024; negative = -BLKSIZ words with extended
// dictionary entries); a negative DBNUM then makes a file that disappears when it is closed.
// MAXBLK = 0 opens an existing file read-only, MAXBLK < 0 for update.
void DBOPEN(dbio::Context& ctx, int32_t DBNUM, int32_t MAXBLK, int32_t BLKSIZ, int32_t& IERR,
            const std::string& NAME);

// Probes a file's first 160 bytes: FILTYP (-1 when not recognised), BLKSIZ (header word 1) and
// DDLSIZ (header word 15 when the DDL version is usable, else 0). Returns 0 for an XDB of a
// recognised type; 1 LENGTH outside 0..256; 2 no such file; 3 cannot be opened; 4 fewer than 160
// bytes; 5 MAXBKS != FREBKS + USDBKS; 6 size disagrees with the header; 9 UNICOS file; 11 no
// recognised layout or block size outside 1..65536; 12..15 MAXBKS, FREBKS, USDBKS, DEDBKS out of
// range; 16..23 the first of header words 6..13 that is not positive.
int32_t XDBPRB(int32_t& FILTYP, int32_t& BLKSIZ, const std::string& NAME, int32_t LENGTH, int32_t& DDLSIZ);

}  // namespace xdb
