#pragma once
// Block kinds and the words of each kind's layout. Words are numbered from 1, as W() numbers
// the pool; the file format as a whole is described in docs/xdb-format.md.
//
// Block 1 is the file's header block. Word 1 of every other block is its type code,
// qualifier * 100 + kind:
//
//   kind  block                          qualifier
//   1     relation root                  0
//   2     relation level-2 block         0
//   3     relation data block            DDL object of the entries
//   4     group block                    DDL object of the data
//   5     dictionary primary index       0
//   6     dictionary secondary index     0
//   7     dictionary data block          0
//   8     multi-word-key index node      DDL object * 10 + key words
//   9     multi-word-key data block      DDL object * 10 + key words
//   10    shared single records          0
//
// A dictionary key is 12 words: the 8-character name in words 1-2, ten signed qualifiers in
// words 3-12. An index entry of the dictionary is a key and a block number (13 words).

#include <cstdint>

namespace dbio {

inline constexpr int32_t kRootKind = 1, kLevel2Kind = 2, kDataKind = 3, kGroupKind = 4, kPrimaryIndexKind = 5,
                         kSecondaryIndexKind = 6, kDictionaryDataKind = 7, kKeyIndexKind = 8, kKeyDataKind = 9,
                         kRecordKind = 10;
inline constexpr int32_t kTypeWord = 1;     // of every block but the header
inline constexpr int32_t kKindScale = 100;  // type code = qualifier * 100 + kind
inline constexpr int32_t kObjectScale = 10;  // kinds 8, 9: qualifier = object * 10 + key words

// The kind of a type code (0 for a code that is not positive) and its qualifier.
inline constexpr int32_t kind_of(int32_t code) { return code > 0 ? code % kKindScale : 0; }
inline constexpr int32_t qualifier_of(int32_t code) { return code / kKindScale; }

inline constexpr int32_t kNameWords = 2, kQualifierWords = 10;
inline constexpr int32_t kIndexEntryWords = 13;  // dictionary key + block number
inline constexpr int32_t kIndexBlockWord = kNameWords + kQualifierWords + 1;  // of an index entry

// A pair of a relation root or level-2 block: word 1 the first key of the block it names, word 2
// that block's number.
inline constexpr int32_t kPairWords = 2, kPairKeyWord = 1, kPairBlockWord = 2;

// Relation root (kind 1):
//   1        type code
//   2-13     the relation's key
//   14..     a copy of its descriptor (word 22: data blocks; word 23: pair count c)
//   26..     c pairs: first key of a level-2 block, its number
namespace root_block {
inline constexpr int32_t kKeyWord = 2, kDescriptorWord = 14, kPairCountWord = 23, kFirstPairWord = 26;
}

// Relation level-2 block (kind 2):
//   1        type code
//   2        the root
//   3        pair count m
//   4..      m pairs: first key of a data block, its number
namespace level2_block {
inline constexpr int32_t kRootWord = 2, kPairCountWord = 3, kFirstPairWord = 4, kHeaderWords = 3;
}

// Relation data block (kind 3), dictionary data block (kind 7) and group block (kind 4):
//   1        type code
//   2        next block of the chain (0 = last)
//   3        previous block (0 = first)
//   4        kinds 3 and 7: entry count n; kind 4: words used behind word 4
//   5..      kinds 3 and 7: n entries; kind 4: in a group's first block its key (words 5-16,
//            counted in word 4), then data; in its other blocks data
namespace chain_block {
inline constexpr int32_t kNextWord = 2, kPreviousWord = 3, kCountWord = 4, kFirstEntryWord = 5, kHeaderWords = 4;
inline constexpr int32_t kGroupKeyWords = 12;  // the key in a group's first block
// A group block uses at most BUFSZ - kGroupReserve words behind word 4: its last word stays free.
inline constexpr int32_t kGroupReserve = kHeaderWords + 1;
}

// Dictionary primary index (kind 5): word 1 the type code, from word 2 one index entry per
// secondary index block (DICNSI of them).
namespace primary_index_block {
inline constexpr int32_t kFirstEntryWord = 2;
}

// Dictionary secondary index (kind 6):
//   1        type code
//   2        the primary index block
//   3        count n
//   4..      n index entries, one per dictionary data block
namespace secondary_index_block {
inline constexpr int32_t kPrimaryWord = 2, kCountWord = 3, kFirstEntryWord = 4, kHeaderWords = 3;
}

// Multi-word-key blocks: data blocks (kind 9) and index nodes (kind 8):
//   1        type code
//   2        next block (data blocks: of the chain in arrival order)
//   3        previous block
//   4        words in use, the header included
//   5        entry length L (data) or index entry length S (nodes)
//   6        data: the first entry; nodes: the parent node
//   7        nodes: the child below the first entry
//   8..      nodes: the index entries
namespace key_block {
inline constexpr int32_t kNextWord = 2, kPreviousWord = 3, kInUseWord = 4, kStrideWord = 5, kParentWord = 6,
                         kBelowFirstWord = 7;
inline constexpr int32_t kDataHeaderWords = 5, kNodeHeaderWords = 7;
inline constexpr int32_t kFirstEntryWord = 6;  // of a data block
inline constexpr int32_t kFirstIndexWord = 8;  // of an index node
}

// Shared single records (kind 10):
//   1        type code
//   2        words used, words 1 and 2 included
//   3..      records of 2 + R words: the DDL object number, the length R, the record's words
namespace record_block {
inline constexpr int32_t kUsedWord = 2, kHeaderWords = 2, kRecordHeaderWords = 2;
inline constexpr int32_t kRecordLengthWord = 2;  // of a record: word 1 its DDL object, word 2 R
}

}  // namespace dbio
