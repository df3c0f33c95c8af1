#pragma once
// A logical file: the record of a data block that is open, record l of /GRFIST/
// (ctx.grfist.record[l][1..39]), with the block's key kept beside it (ctx.grfist.name[l]).
//
// Words 1-6 and 8-10 start as the descriptor words of the block's dictionary entry.
//
//   word   content
//   1      sequence number (0: the record is free); a relation opened write-once: negated
//   2      kind: 1 relation keyed by one word, 2 group, 3 relation keyed by several words,
//          4 single record
//   3      root block (relations; kind 3: 0 until its index is built)
//   4      first block (a single record: its shared block)
//   5      entry or record length
//   6      kinds 1, 3: key words (kind 3: negative when rotated); kind 4: 1 once written
//   7      state: 3 relation, 5 reading, 6 appending, 7 rewriting; kind 4: the record's word in
//          its shared block
//   8      entry count (groups: data words)
//   9      data blocks (groups: data words plus blocks)
//   10     kind 1: level-2 blocks; kind 3: the index root once built
//   11     DDL object
//   12     the word behind the last entry placed (groups: behind the last data word of the
//          current block; kind 3: the word before the last entry placed)
//   13-14  lock slot of the root (groups, records: the current block): pool address, block
//   15-16  lock slot of a level-2 block
//   17-18  lock slot of a data block
//   19     flags: bit n set when the block of lock slot n is marked modified
//   20-21  block and offset of the dictionary entry
//   23     highest key (a one-word key)
//   24     last block
//   25     the block that took the last entry
//   26     unit
//   27     kind 1: lowest key; kind 3: the append balance
//   28-33  kind 3: the highest key
//   34-35  lock slot of index levels below the third
//   36-37  date and time of the last change
//   38-39  lock slot of the third index level

#include <cstdint>

namespace dbio::logical_file {

inline constexpr int kSequence = 1, kKind = 2, kRoot = 3, kFirstBlock = 4, kLength = 5, kKeyLength = 6,
                     kWritten = 6, kState = 7, kRecordAt = 7, kEntries = 8, kDataBlocks = 9, kLevel2Blocks = 10,
                     kIndexRoot = 10, kDdlObject = 11, kBehindLast = 12, kLocated = 12, kFlags = 19,
                     kDicBlock = 20, kDicOffset = 21, kHighest = 23, kLastBlock = 24, kTookLast = 25, kUnit = 26,
                     kLowest = 27, kBalance = 27, kHighestKey = 28, kDate = 36, kTime = 37;

// Word 2.
inline constexpr int32_t kIntegerKeyed = 1, kGroup = 2, kMultiKey = 3, kSingleRecord = 4;
// Word 7.
inline constexpr int32_t kRelationState = 3, kReading = 5, kAppending = 6, kRewriting = 7;

// A lock slot: the record words of its pool address and block number, its bit in the flags.
struct Slot {
  int addr_word, block_word;
  int32_t flag;
};
inline constexpr Slot kRootSlot{13, 14, 1}, kLevel2Slot{15, 16, 2}, kDataSlot{17, 18, 4}, kLevel3Slot{38, 39, 8},
    kDeepSlot{34, 35, 16};
// Every slot, in the order blocks are released when the file is closed.
inline constexpr const Slot* kSlots[] = {&kRootSlot, &kLevel2Slot, &kLevel3Slot, &kDeepSlot, &kDataSlot};

}  // namespace dbio::logical_file
