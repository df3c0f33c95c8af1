#pragma once
// The header block, block 1 of every XDB: words 1-18 are the unit's control values as /GRDBLK/
// keeps them (context.h), the rest of the block is 0 (docs/xdb-format.md, "Header block").
//
//   word  name    word  name    word  name
//   1     BUFSZ   7     NUMDB   13    GRFNUM
//   2     MAXBKS  8     INFINU  14    DDLVER
//   3     FREBKS  9     DICFDB  15    DDLSIZ
//   4     USDBKS  10    DICNDB  16    DDLBLK
//   5     DEDBKS  11    DICNSI  17    DBDLEN
//   6     DICTPI  12    DICFSI  18    SRBLK

#include <cstdint>

namespace dbio::header_block {

inline constexpr int32_t kBlockSize = 1, kMaxBlocks = 2, kFreeBlocks = 3, kUsedBlocks = 4, kReleased = 5,
                         kPrimaryIndex = 6, kDataBlocks = 7, kSequence = 8, kFirstDictionaryData = 9,
                         kDictionaryData = 10, kSecondaryIndexes = 11, kFirstSecondaryIndex = 12, kUnit = 13,
                         kDdlVersion = 14, kDdlSize = 15, kDdlBlock = 16, kEntryWords = 17, kSharedRecords = 18;
inline constexpr int32_t kHeaderWords = 18;
// Words 1-12 are read back into /GRDBLK/ whenever a file is opened.
inline constexpr int32_t kAlwaysRead = 12;

}  // namespace dbio::header_block
