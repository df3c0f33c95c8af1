#pragma once
// The descriptor of a data block: the DBDLEN words behind its key in its dictionary entry, as
// DICRDR returns them, numbered from 1 (docs/xdb-format.md, "Dictionary"). A block that is opened
// starts its logical file's record with words 1-6 and 8-10 (dbio/logical_file.h), and CLOSGR
// writes the descriptor back from that record.
//
//   word   content
//   1      sequence number
//   2      kind: 1 relation keyed by one word, 2 group, 3 relation keyed by several words,
//          4 single record (the codes of record word 2, dbio::logical_file::kGroup, ...)
//   3      root block (relations; kind 3: 0 while there is no index)
//   4      first block (a single record: its shared block)
//   5      entry or record length
//   6      kind 1: entries per block; kind 3: key words, negative when rotated; kind 4: 1 once
//          the record is written
//   7      kind 1: lowest key; kind 3: the append balance; kind 4: the record's word in its
//          shared block; groups: 0
//   8      entry count (groups: data words)
//   9      data blocks (groups: data words plus blocks)
//   10     kind 1: level-2 blocks; kind 3: the index root once built
//   11     highest key (kind 3: of a one-word key)
//   12     last block
//   13-14  date and time of the last change (extended entries only)
//
// Every descriptor has at least kStandardWords words; a reader that uses no word beyond them
// takes that many whatever DBDLEN is.

#include <cstdint>

namespace dict::descriptor {

inline constexpr int32_t kSequence = 1, kKind = 2, kRoot = 3, kFirstBlock = 4, kLength = 5, kPerBlock = 6,
                         kKeyWords = 6, kWritten = 6, kLowest = 7, kBalance = 7, kRecordAt = 7, kEntries = 8,
                         kDataBlocks = 9, kLevel2Blocks = 10, kIndexRoot = 10, kHighest = 11, kLastBlock = 12,
                         kDate = 13, kTime = 14;

inline constexpr int32_t kStandardWords = 12, kExtendedWords = 14;

}  // namespace dict::descriptor
