// The checker's verdicts. xdbcheck is the oracle of the end-to-end tests, the fuzzers and the
// property test; these tests hold it to its own word:
//
//   - a table of damaged databases, each made from one sound XDB by changing one thing on disk,
//     with the exact problem lines the checker must print for it;
//   - every structural word of a sample of blocks of every kind changed in turn: either the
//     checker reports the damage, or every data block still reads back as it was;
//   - the xdbcheck program run as a user runs it: usage, several files, files that are no XDB,
//     the listing.
//
// The sound database (blocks of 300 words) is converted once from a neutral file written here;
// its layout is pinned by the first test, so that a change in how the converter places blocks
// shows there before the table's block numbers go wrong.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bio/library.h"
#include "dbio/context.h"
#include "platform/files.h"
#include "platform/stop.h"
#include "testkit/end_to_end.h"
#include "testkit/neutral_writer.h"
#include "testkit/programs.h"
#include "testkit/test_directory.h"
#include "testkit/xdb_image.h"
#include "xdb/close.h"
#include "xdb/open.h"
#include "xdb/poolconfig.h"
#include "xdb/readers.h"

namespace {

namespace fs = std::filesystem;
using support::Item;
using support::XdbImage;
using support::XdbMap;

// ---------------------------------------------------------------------------------------------
// The sound database.

using support::key;

std::vector<Item> integers(int32_t from, int32_t count) {
  std::vector<Item> items;
  for (int32_t i = 0; i < count; ++i) items.push_back(Item::integer(from + i));
  return items;
}

support::DdlObject ddl_object(const char* name, int32_t list_offset, int32_t entry_length, int32_t number) {
  const auto packed = support::pack_ddl_name(key(name).name);
  return {packed[0], packed[1], list_offset, entry_length, number};
}

// Blocks of 300 words, in this order:
//   DDLFORDB  the DDL: objects INDEXED (1), KEYED (2), RELATION (3)
//   GROUPA    a group of 700 words (three blocks)
//   GROUPB    a group of 700 words, written again at the end with 10 words: its two later blocks
//             are released then
//   RECORD    300 single records of 5 words (q1 = 1..300), 42 to a shared block: enough
//             dictionary entries for three secondary index blocks
//   RELATION  keyed by word 1, entries of 3 words, 300 entries in scattered order: four data
//             blocks below one level-2 block
//   LONGREL   keyed by word 1, entries of 59 words, 760 entries in ascending order: 152 data
//             blocks below two level-2 blocks
//   KEYED     keyed by two words, rotated, entries of 6 words, 250 entries in scattered order:
//             six data blocks, an index of a root and six lowest-level nodes
//   SMALLA    keyed by three words, entries of 5 words, 10 entries: one data block, no index
//   SMALLB    the same, with keys above SMALLA's
//   INDEXED   keyed by one word, entries of 2 words, so they live in the index: 150 entries, a
//             root and two lowest-level nodes; the data block they filled first is released
void write_sound_database(const std::string& path) {
  std::ofstream file(path, std::ios::binary);
  support::NeutralWriter w(file);
  w.header(300, 0);
  // Each object has one element code (count * 100 + 2: integers) behind the directory, whose
  // three records end at offset 3 + 3 * 5.
  const std::vector<support::DdlObject> objects{ddl_object("INDEXED", 18, 2, 1), ddl_object("KEYED", 19, 6, 2),
                                                ddl_object("RELATION", 20, 3, 3)};
  const std::vector<int32_t> lists{202, 602, 302};
  w.ddl_block(key("DDLFORDB"), 20120, 2012, objects, lists);
  w.group(key("GROUPA"), 0, integers(1000, 700));
  w.group(key("GROUPB"), 0, integers(5000, 700));
  for (int32_t q = 1; q <= 300; ++q) w.single_record(key("RECORD", q), 100005, integers(100 * q, 5));
  std::vector<Item> entries;
  auto add = [&entries](std::initializer_list<int32_t> words) {
    for (int32_t word : words) entries.push_back(Item::integer(word));
  };
  for (int32_t i = 0; i < 300; ++i) {
    const int32_t k = (i * 37) % 300;
    add({10 * k, k, -k});
  }
  w.relation(key("RELATION"), 3, entries);
  entries.clear();
  for (int32_t i = 0; i < 760; ++i) {
    add({2 * i});
    for (int32_t j = 1; j < 59; ++j) add({i + j});
  }
  w.relation(key("LONGREL"), 59, entries);
  entries.clear();
  for (int32_t i = 0; i < 250; ++i) {
    const int32_t unique = (i * 101) % 250;
    add({unique % 4, unique, i, 1, 2, 3});
  }
  w.relation(key("KEYED"), 120006, entries);
  for (int32_t r = 0; r < 2; ++r) {
    entries.clear();
    for (int32_t i = 0; i < 10; ++i) add({r, i, 10 * r + i, 7, 8});
    w.relation(key(r == 0 ? "SMALLA" : "SMALLB"), 30005, entries);
  }
  entries.clear();
  for (int32_t i = 0; i < 150; ++i) add({(i * 53) % 150, i});
  w.relation(key("INDEXED"), 10002, entries);
  w.group(key("GROUPB"), 0, integers(9000, 10));
  w.data_end();
  w.finish();
}

// Converted once for the whole program.
class SoundXdb {
 public:
  static const SoundXdb& get() {
    static const SoundXdb sound;
    return sound;
  }

  const std::string& path() const { return path_; }
  const XdbImage& image() const { return image_; }
  const XdbMap& map() const { return map_; }

 private:
  SoundXdb() : dir_("checker_sound"), path_(convert(dir_.path())), image_(path_), map_(support::map_xdb(image_)) {}

  static std::string convert(const fs::path& dir) {
    const std::string neutral = (dir / "sound.ndb").string(), xdb = (dir / "sound.xdb").string();
    write_sound_database(neutral);
    const auto run = support::run_converter({neutral, "output=" + xdb, "v=n"}, dir);
    if (run.status != 0 || !run.unsound().empty()) {
      throw std::runtime_error("the sound database did not convert sound: " + run.messages + run.unsound());
    }
    return xdb;
  }

  support::TestDirectory dir_;
  std::string path_;
  XdbImage image_;
  XdbMap map_;
};

const support::MappedEntry& entry(const XdbMap& m, const char* name, int32_t q1 = 0) { return m.entry(name, q1); }

// Descriptor word j of a data block, where the dictionary holds it.
int32_t& descriptor(XdbImage& x, const XdbMap& m, const char* name, int j, int32_t q1 = 0) {
  const auto& e = m.entry(name, q1);
  return x.at(e.dictionary_block, e.descriptor_word(j));
}

// Word w (from 1) of the i-th index entry (from 1) of a dictionary index block: the primary
// index's entries start at word 2, a secondary index's at word 4; word 13 is the block number.
int32_t& primary_entry(XdbImage& x, const XdbMap& m, int i, int w) { return x.at(m.primary, 2 + 13 * (i - 1) + w - 1); }
int32_t& secondary_entry(XdbImage& x, int32_t block, int i, int w) { return x.at(block, 4 + 13 * (i - 1) + w - 1); }

// Word w (from 1) of the i-th index entry of a node of a relation keyed by several words (S
// words each, from word 8).
int32_t& node_entry(XdbImage& x, int32_t node, int i, int w) {
  const int32_t S = x.at(node, 5);
  return x.at(node, 8 + S * (i - 1) + w - 1);
}

// ---------------------------------------------------------------------------------------------
// The layout the table is written for.

TEST(SoundXdb, IsSoundAndLaidOutAsTheTableExpects) {
  const auto& sound = SoundXdb::get();
  const auto checked = support::check_file(sound.path());
  EXPECT_EQ(checked.status, 0);
  EXPECT_EQ(checked.report, sound.path() + ": sound: 309 data blocks, 227 blocks of 300 words\n");
  const XdbMap& m = sound.map();
  using V = std::vector<int32_t>;
  EXPECT_EQ(m.primary, 2);
  EXPECT_EQ(m.secondary, (V{4, 53, 41}));
  EXPECT_EQ(m.dictionary_data, (V{3,  52, 13, 14, 15, 17, 18, 19, 20, 22, 23, 24, 26, 27,
                                  28, 29, 31, 32, 33, 35, 36, 37, 38, 40, 42, 43, 45}));
  EXPECT_EQ(m.released, (V{10, 11, 224}));
  EXPECT_EQ(m.entries.size(), 309u);
  EXPECT_EQ(entry(m, "DDLFORDB").chain, V{5});
  EXPECT_EQ(entry(m, "GROUPA").chain, (V{6, 7, 8}));
  EXPECT_EQ(entry(m, "GROUPB").chain, V{9});
  EXPECT_EQ(entry(m, "RECORD", 1).chain, V{12});
  EXPECT_EQ(entry(m, "RECORD", 300).chain, V{44});
  EXPECT_EQ(entry(m, "RECORD", 2).dictionary_block, 3);
  EXPECT_EQ(entry(m, "RECORD", 300).dictionary_block, 45);
  EXPECT_EQ(entry(m, "RELATION").root, 46);
  EXPECT_EQ(entry(m, "RELATION").level2, V{48});
  EXPECT_EQ(entry(m, "RELATION").chain, (V{47, 50, 49, 51}));
  EXPECT_EQ(entry(m, "LONGREL").root, 54);
  EXPECT_EQ(entry(m, "LONGREL").level2, (V{56, 205}));
  EXPECT_EQ(entry(m, "LONGREL").chain.size(), 152u);
  EXPECT_EQ(entry(m, "KEYED").chain, (V{209, 211, 214, 217, 218, 221}));
  EXPECT_EQ(entry(m, "KEYED").levels, (std::vector<V>{{213}, {210, 216, 212, 219, 215, 220}}));
  EXPECT_EQ(entry(m, "KEYED").index_chain, (V{213, 210, 216, 212, 219, 215, 220}));
  EXPECT_EQ(entry(m, "SMALLA").chain, V{222});
  EXPECT_EQ(entry(m, "SMALLB").chain, V{223});
  EXPECT_EQ(entry(m, "INDEXED").levels, (std::vector<V>{{225}, {226, 227}}));
  EXPECT_EQ(entry(m, "INDEXED").chain, V{});
}

// ---------------------------------------------------------------------------------------------
// The table of damaged databases.

constexpr int kAllDataBlocks = 309;
constexpr int kRefused = -1;  // the file is not opened: one line, no summary

struct Damage {
  const char* name;
  std::function<void(XdbImage&, const XdbMap&)> edit;
  std::vector<std::string> problems;  // the lines the checker prints after "<file>: ", in order
  int data_blocks = kAllDataBlocks;   // the summary's count of data blocks checked, or kRefused
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

// Data block names as the checker prints them.
const std::string kDdlGroup = "'DDLFORDB'(0,0,0,0,0,0,0,0,0,0)";
const std::string kGroupA = "'GROUPA  '(0,0,0,0,0,0,0,0,0,0)";
const std::string kGroupB = "'GROUPB  '(0,0,0,0,0,0,0,0,0,0)";
const std::string kRelation = "'RELATION'(0,0,0,0,0,0,0,0,0,0)";
const std::string kLongRel = "'LONGREL '(0,0,0,0,0,0,0,0,0,0)";
const std::string kKeyed = "'KEYED   '(0,0,0,0,0,0,0,0,0,0)";
const std::string kSmallA = "'SMALLA  '(0,0,0,0,0,0,0,0,0,0)";
const std::string kSmallB = "'SMALLB  '(0,0,0,0,0,0,0,0,0,0)";
const std::string kIndexed = "'INDEXED '(0,0,0,0,0,0,0,0,0,0)";
const std::string kRecord1 = "'RECORD  '(1,0,0,0,0,0,0,0,0,0)";
const std::string kRecord300 = "'RECORD  '(300,0,0,0,0,0,0,0,0,0)";

// The lines of the primary index whose count says 24 while it holds 3 entries: entries 4 to 23,
// the capacity of a block of 300 words, hold nothing but zeros.
std::vector<std::string> primary_index_beyond_its_entries() {
  const std::string zeros = "'" + std::string(8, '\0') + "'(0,0,0,0,0,0,0,0,0,0)";
  std::vector<std::string> lines{"dictionary: primary index (DICNSI) holds 24 entries, outside 1..23"};
  for (int i = 4; i <= 23; ++i) {
    const std::string entry = "dictionary: primary index block 2 entry " + std::to_string(i);
    lines.push_back(entry + ": key " + zeros + " is not above " +
                    (i == 4 ? std::string("'RECORD  '(262,0,0,0,0,0,0,0,0,0)") : zeros));
    lines.push_back(entry + " names block 0, outside 2..227");
  }
  lines.push_back("dictionary: DICNSI is 24, but the primary index reaches 3 secondary index blocks");
  return lines;
}

// The lines of KEYED's lowest-level node 215 made to look like a node above node 220.
std::vector<std::string> lowest_node_made_a_parent() {
  // Block 220 still names its own parent, 213, an index node of the relation: a parent word
  // that may be stale is not reported.
  std::vector<std::string> lines{kKeyed + ": index block 220 is a lowest-level node at level 3, others at 2",
                                 kKeyed + ": a key in index block 215 is not above the key before it"};
  for (int i = 1; i <= 32; ++i) {
    lines.push_back(kKeyed + ": index block 215 entry " + std::to_string(i) + " has no child");
  }
  lines.push_back(kKeyed + ": index block 220 is reached twice");
  return lines;
}

std::vector<Damage> damages() {
  using X = XdbImage;
  using M = XdbMap;
  return {
      // Header words the open refuses. (A block size of 0, counts that do not add up and a
      // primary index block other than 2 or 3 are the probe's and DBOPEN's, in open_close_test;
      // the line for a file of no known layout is in FilesThatAreNoXdbAreReportedAndTheRestChecked.)
      {"RefusesAFileShorterThanItsHeaderSays",
       [](X& x, const M&) { x.keep_blocks(x.blocks() - 1); },
       {"cannot be opened as an XDB (return code 15, probe result 6)"},
       kRefused},
      {"RefusesANegativeFirstReleasedBlock",
       [](X& x, const M&) { x.header(5) = -1; },
       {"cannot be opened as an XDB (return code 15, probe result 15)"},
       kRefused},
      {"RefusesANegativeEntryCount",
       [](X& x, const M&) { x.header(7) = -1; },
       {"cannot be opened as an XDB (return code 15, probe result 17)"},
       kRefused},

      // Header words the checker judges.
      // The layout recognition takes DICTPI's low three bytes as 2, 0, 0: only its high byte may differ.
      {"ReportsAPrimaryIndexBlockBeyondTheFile",
       [](X& x, const M&) { x.header(6) += 1 << 24; },
       {"header: DICTPI 16777218 is not a block of the file", "dictionary: DICTPI names block 16777218, outside 2..227",
        "the header names a DDL, but no DDLFORDB group exists",
        "blocks 2-9, 12-43, 45-223, 225-227 are neither reachable nor released (wasted space, not damage)"},
       0},
      {"ReportsAFirstDictionaryDataBlockBeyondTheFile",
       [](X& x, const M&) { x.header(9) = 228; },
       {"header: DICFDB 228 is not a block of the file", "dictionary: the first data block is 3, but DICFDB is 228"}},
      {"ReportsAFirstSecondaryIndexBlockBeyondTheFile",
       [](X& x, const M&) { x.header(12) = 228; },
       {"header: DICFSI 228 is not a block of the file",
        "dictionary: primary index block 2 entry 1 names block 4, but DICFSI is 228"}},
      {"ReportsACurrentSharedRecordBlockBeyondTheFile",
       [](X& x, const M&) { x.header(18) = 228; },
       {"header: SRBLK 228 is not a block of the file"}},
      {"ReportsACurrentSharedRecordBlockThatAGroupHolds",
       [](X& x, const M& m) { x.header(18) = entry(m, "GROUPA").chain[0]; },
       {"block 6 belongs to " + kGroupA + " and to the single records"}},
      {"ReportsAnEmptyDictionaryThatStillHoldsBlocks",
       [](X& x, const M&) { x.header(7) = 0; },
       {"dictionary: empty dictionary with DICNSI 3, expected 1",
        "dictionary: empty dictionary with DICNDB 27, expected 1",
        "the header names a DDL, but no DDLFORDB group exists",
        "blocks 5-9, 12-43, 45-223, 225-227 are neither reachable nor released (wasted space, not damage)"},
       0},

      // The released blocks.
      {"ReportsAReleasedBlockChainThatLeavesTheFile",
       [](X& x, const M&) { x.header(5) = 228; },
       {"released-block chain names block 228, outside the file", "blocks 10-11, 224 are neither reachable nor released (wasted space, not damage)"}},
      {"ReportsAReleasedBlockChainThatComesBack",
       [](X& x, const M& m) { x.at(m.released.back(), 2) = m.released.front(); },
       {"released-block chain returns to block 10"}},
      {"ReportsAReleasedBlockThatAGroupStillHolds",
       [](X& x, const M& m) { x.at(m.released.back(), 2) = entry(m, "GROUPB").chain[0]; },
       {"block 9 belongs to the released blocks and to " + kGroupB}},
      {"ReportsAReleasedRootThatListsABlockOutsideTheFile",
       [](X& x, const M& m) {
         const int32_t root = m.released.back();  // the last released block becomes a released root
         x.at(root, 1) = 1;
         x.at(root, 4) = 0;  // its chain word: the chain ends here
         x.at(root, 23) = 1;
         x.at(root, 27) = 228;
       },
       {"released block 224 lists block 228, outside the file"}},

      // The stored DDL against the header.
      {"ReportsADdlSizeThatDiffersFromTheHeaders",
       [](X& x, const M&) { x.header(15) += 1; },
       {"the DDL group does not start with the header's DDL version and size"}},
      {"ReportsADdlGroupShorterThanItsSize",
       [](X& x, const M& m) {
         x.header(15) += 1;
         x.at(entry(m, "DDLFORDB").chain[0], 4 + 12 + 3) += 1;  // the group's third data word: its size
       },
       {"the DDL group holds 21 words, its size announces 22"}},
      {"ReportsADdlBlockThatIsNotTheDdlGroupsFirst",
       [](X& x, const M&) { x.header(16) += 1; },
       {"the header's DDLBLK is not the DDL group's first block"}},
      {"ReportsAHeaderDdlWithoutItsGroup",
       [](X& x, const M& m) {
         x.at(entry(m, "DDLFORDB").dictionary_block, entry(m, "DDLFORDB").key_word) -= 1 << 24;  // "DDLF" -> "DDLE"
       },
       {"'DDLEORDB'(0,0,0,0,0,0,0,0,0,0): first block 5 of a group does not hold its key",
        "dictionary: secondary index block 4 entry 1: key " + kDdlGroup +
            " differs from the first key "
            "'DDLEORDB'(0,0,0,0,0,0,0,0,0,0) of block 3",
        "the header names a DDL, but no DDLFORDB group exists"}},

      // The dictionary: the primary index.
      {"ReportsAPrimaryIndexBlockOfTheWrongType",
       [](X& x, const M& m) { x.at(m.primary, 1) = 6; },
       {"dictionary: block 2 (named by DICTPI) has type 6, expected 5",
        "the header names a DDL, but no DDLFORDB group exists",
        "blocks 3-9, 12-43, 45-223, 225-227 are neither reachable nor released (wasted space, not damage)"},
       0},
      {"ReportsAPrimaryIndexCountBeyondItsBlock", [](X& x, const M&) { x.header(11) = 24; },
       primary_index_beyond_its_entries()},
      {"ReportsPrimaryIndexKeysOutOfOrder",
       [](X& x, const M& m) { primary_entry(x, m, 3, 3) = 5; },
       {"dictionary: primary index block 2 entry 3: key 'RECORD  '(5,0,0,0,0,0,0,0,0,0) is not above "
        "'RECORD  '(10,0,0,0,0,0,0,0,0,0)",
        "dictionary: primary index block 2 entry 3: key 'RECORD  '(5,0,0,0,0,0,0,0,0,0) differs from the first key "
        "'RECORD  '(262,0,0,0,0,0,0,0,0,0) of block 41"}},
      {"ReportsAPrimaryIndexKeyThatIsNotItsBlocksFirst",
       [](X& x, const M& m) { primary_entry(x, m, 3, 3) -= 1; },
       {"dictionary: primary index block 2 entry 3: key 'RECORD  '(261,0,0,0,0,0,0,0,0,0) differs from the first key "
        "'RECORD  '(262,0,0,0,0,0,0,0,0,0) of block 41"}},
      {"ReportsAPrimaryIndexThatDoesNotStartAtTheFirstSecondaryIndexBlock",
       [](X& x, const M& m) { x.header(12) = m.secondary[1]; },
       {"dictionary: primary index block 2 entry 1 names block 4, but DICFSI is 53"}},

      // The dictionary: secondary index blocks.
      {"ReportsASecondaryIndexBlockOfTheWrongType",
       [](X& x, const M& m) { x.at(m.secondary.back(), 1) = 7; },
       {"dictionary: block 41 (named by primary index block 2 entry 3) has type 7, expected 6",
        "dictionary: data block 38 names next block 40, expected 0",
        "dictionary: NUMDB is 309, but the dictionary holds 267 entries",
        "dictionary: DICNDB is 27, but the index reaches 23 data blocks",
        "dictionary: DICNSI is 3, but the primary index reaches 2 secondary index blocks",
        "blocks 40, 42-43, 45-51, 222-223 are neither reachable nor released (wasted space, not damage)"},
       267},
      {"ReportsASecondaryIndexBlockThatNamesAnotherPrimaryIndex",
       [](X& x, const M& m) { x.at(m.secondary.back(), 2) = 3; },
       {"dictionary: secondary index block 41 names primary index block 3, not 2"}},
      {"ReportsAnEmptySecondaryIndexBlock",
       [](X& x, const M& m) { x.at(m.secondary.back(), 3) = 0; },
       {"dictionary: secondary index block 41 holds 0 entries, outside 1..22",
        "dictionary: data block 38 names next block 40, expected 0",
        "dictionary: NUMDB is 309, but the dictionary holds 267 entries",
        "dictionary: DICNDB is 27, but the index reaches 23 data blocks",
        "blocks 40, 42-43, 45-51, 222-223 are neither reachable nor released (wasted space, not damage)"},
       267},
      {"ReportsSecondaryIndexKeysOutOfOrder",
       [](X& x, const M& m) { secondary_entry(x, m.secondary[1], 3, 3) = 5; },
       {"dictionary: secondary index block 53 entry 3: key 'RECORD  '(5,0,0,0,0,0,0,0,0,0) is not above "
        "'RECORD  '(22,0,0,0,0,0,0,0,0,0)",
        "dictionary: secondary index block 53 entry 3: key 'RECORD  '(5,0,0,0,0,0,0,0,0,0) differs from the first key "
        "'RECORD  '(34,0,0,0,0,0,0,0,0,0) of block 15"}},
      {"ReportsASecondaryIndexKeyThatIsNotItsBlocksFirst",
       [](X& x, const M& m) { secondary_entry(x, m.secondary[0], 2, 3) += 1; },
       {"dictionary: secondary index block 4 entry 2: key 'RECORD  '(4,0,0,0,0,0,0,0,0,0) differs from the first key "
        "'RECORD  '(3,0,0,0,0,0,0,0,0,0) of block 52"}},
      {"ReportsADictionaryThatReachesNoDataBlock",
       [](X& x, const M& m) {
         x.header(11) = 1;  // one secondary index block, and that one empty
         x.at(m.secondary[0], 3) = 0;
       },
       {"dictionary: secondary index block 4 holds 0 entries, outside 1..22",
        "dictionary: the dictionary reaches no data block",
        "dictionary: NUMDB is 309, but the dictionary holds 0 entries",
        "dictionary: DICNDB is 27, but the index reaches 0 data blocks",
        "the header names a DDL, but no DDLFORDB group exists",
        "blocks 3, 5-9, 12-43, 45-223, 225-227 are neither reachable nor released (wasted space, not damage)"},
       0},
      {"ReportsADictionaryBlockReachedTwice",
       [](X& x, const M& m) { secondary_entry(x, m.secondary.back(), 4, 13) = 3; },
       {"dictionary: secondary index block 41 entry 4 names block 3, which the walk has already reached",
        "dictionary: data block 43 names next block 45, expected 0",
        "dictionary: NUMDB is 309, but the dictionary holds 303 entries",
        "dictionary: DICNDB is 27, but the index reaches 26 data blocks",
        "blocks 45-51, 222-223 are neither reachable nor released (wasted space, not damage)"},
       303},
      {"ReportsADictionaryBlockBeyondTheFile",
       [](X& x, const M& m) { secondary_entry(x, m.secondary.back(), 4, 13) = 228; },
       {"dictionary: secondary index block 41 entry 4 names block 228, outside 2..227",
        "dictionary: data block 43 names next block 45, expected 0",
        "dictionary: NUMDB is 309, but the dictionary holds 303 entries",
        "dictionary: DICNDB is 27, but the index reaches 26 data blocks",
        "blocks 45-51, 222-223 are neither reachable nor released (wasted space, not damage)"},
       303},

      // The dictionary: data blocks and their entries.
      {"ReportsADictionaryDataBlockOfTheWrongType",
       [](X& x, const M& m) { x.at(m.dictionary_data.back(), 1) = 6; },
       {"dictionary: block 45 (named by secondary index block 41 entry 4) has type 6, expected 7",
        "dictionary: data block 43 names next block 45, expected 0",
        "dictionary: NUMDB is 309, but the dictionary holds 303 entries",
        "dictionary: DICNDB is 27, but the index reaches 26 data blocks",
        "blocks 46-51, 222-223 are neither reachable nor released (wasted space, not damage)"},
       303},
      {"ReportsADictionaryDataBlockWithoutEntries",
       [](X& x, const M& m) { x.at(m.dictionary_data.back(), 4) = 0; },
       {"dictionary: data block 45 holds 0 entries, outside 1..12",
        "dictionary: NUMDB is 309, but the dictionary holds 303 entries",
        "blocks 46-51, 222-223 are neither reachable nor released (wasted space, not damage)"},
       303},
      {"ReportsDictionaryEntriesOutOfOrder",
       [](X& x, const M& m) { x.at(entry(m, "RECORD", 2).dictionary_block, entry(m, "RECORD", 2).key_word + 2) = 1; },
       {"dictionary: data block 3 entry 8: key " + kRecord1 + " is not above " + kRecord1}},
      {"ReportsASequenceNumberBeyondTheLastHandedOut",
       [](X& x, const M& m) { descriptor(x, m, "DDLFORDB", 1) = 310; },
       {"dictionary: data block 3 entry 1: sequence number 310 outside 1..309"}},
      {"ReportsASequenceNumberUsedTwice",
       [](X& x, const M& m) { descriptor(x, m, "RECORD", 1, 2) = 4; },
       {"dictionary: data block 3 entry 8: sequence number 4 used twice"}},
      {"ReportsAFirstDictionaryDataBlockOtherThanTheHeaders",
       [](X& x, const M& m) { x.header(9) = m.dictionary_data[1]; },
       {"dictionary: the first data block is 3, but DICFDB is 52"}},
      {"ReportsADictionaryDataBlockThatNamesTheWrongNext",
       [](X& x, const M& m) { x.at(m.dictionary_data[0], 2) = m.dictionary_data[2]; },
       {"dictionary: data block 3 names next block 13, expected 52"}},
      {"ReportsADictionaryDataBlockThatNamesTheWrongPrevious",
       [](X& x, const M& m) { x.at(m.dictionary_data[1], 3) = 0; },
       {"dictionary: data block 52 names previous block 0, expected 3"}},
      {"ReportsAnEntryCountThatDiffersFromTheHeaders",
       [](X& x, const M&) { x.header(7) -= 1; },
       {"dictionary: NUMDB is 308, but the dictionary holds 309 entries"}},
      {"ReportsADictionaryDataBlockCountThatDiffersFromTheHeaders",
       [](X& x, const M&) { x.header(10) -= 1; },
       {"dictionary: DICNDB is 26, but the index reaches 27 data blocks"}},
      {"ReportsBlocksTooSmallForADictionaryEntry",
       [](X& x, const M&) { x.cut_blocks(27); },
       {"dictionary: blocks of 27 words cannot hold a dictionary entry of 24 words",
        "the header names a DDL, but no DDLFORDB group exists",
        "blocks 2-9, 12-43, 45-223, 225-227 are neither reachable nor released (wasted space, not damage)"},
       0},
      {"ReportsAKindOfDataBlockItCannotRead",
       [](X& x, const M& m) { descriptor(x, m, "GROUPB", 2) = 5; },
       {kGroupB + ": kind 5 is not a kind of data block this tool reads", "block 9 is neither reachable nor released (wasted space, not damage)"}},

      // Groups.
      {"ReportsAGroupBlockOfTheWrongType",
       [](X& x, const M& m) { x.at(entry(m, "GROUPA").chain[1], 1) = 3; },
       {kGroupA + ": block 7 of a group has type 3"}},
      {"ReportsAGroupBlockThatNamesTheWrongPrevious",
       [](X& x, const M& m) { x.at(entry(m, "GROUPA").chain[2], 3) = 6; },
       {kGroupA + ": block 8 names 6 as previous, not 7"}},
      {"ReportsAGroupBlockThatClaimsMoreWordsThanItHolds",
       [](X& x, const M& m) { x.at(entry(m, "GROUPA").chain[1], 4) = 296; },
       {kGroupA + ": block 7 claims 296 used words"}},
      {"ReportsAGroupWhoseFirstBlockHoldsAnotherKey",
       [](X& x, const M& m) { x.at(entry(m, "GROUPA").chain[0], 5 + 2) = 1; },
       {kGroupA + ": first block 6 of a group does not hold its key"}},
      {"ReportsAGroupChainThatComesBack",
       [](X& x, const M& m) { x.at(entry(m, "GROUPA").chain[2], 2) = 6; },
       {kGroupA + ": group chain returns to block 6"}},
      {"ReportsAGroupChainThatLeavesTheFile",
       [](X& x, const M& m) { x.at(entry(m, "GROUPA").chain[2], 2) = 228; },
       {kGroupA + ": group block 228 lies outside the file (227 blocks)"}},
      {"ReportsAGroupWordCountThatDiffersFromItsDescriptor",
       [](X& x, const M& m) { descriptor(x, m, "GROUPA", 8) -= 1; },
       {kGroupA + ": group holds 700 words, its descriptor says 699",
        kGroupA + ": group word 9 of the descriptor is 703, not words plus blocks"}},
      {"ReportsAGroupDescriptorWord9ThatIsNotWordsPlusBlocks",
       [](X& x, const M& m) { descriptor(x, m, "GROUPA", 9) += 1; },
       {kGroupA + ": group word 9 of the descriptor is 704, not words plus blocks"}},
      {"ReportsAGroupThatEndsElsewhereThanItsDescriptorSays",
       [](X& x, const M& m) { descriptor(x, m, "GROUPA", 12) = 7; },
       {kGroupA + ": group ends in block 8, its descriptor says 7"}},
      {"ReportsTwoGroupsThatShareABlock",
       [](X& x, const M& m) { x.at(entry(m, "GROUPA").chain[2], 2) = entry(m, "GROUPB").chain[0]; },
       {kGroupA + ": block 9 names 0 as previous, not 8", kGroupA + ": group holds 722 words, its descriptor says 700",
        kGroupA + ": group ends in block 9, its descriptor says 8",
        kGroupA + ": group word 9 of the descriptor is 703, not words plus blocks",
        "block 9 belongs to " + kGroupA + " and to " + kGroupB}},

      // Single records.
      {"ReportsASharedRecordBlockBeyondTheFile",
       [](X& x, const M& m) { descriptor(x, m, "RECORD", 4, 1) = 228; },
       {kRecord1 + ": shared record block 228 lies outside the file (227 blocks)"}},
      {"ReportsARecordWhoseSharedBlockIsAGroupBlock",
       [](X& x, const M& m) { descriptor(x, m, "RECORD", 4, 1) = entry(m, "GROUPA").chain[0]; },
       {kRecord1 + ": shared block 6 has type 4",
        kRecord1 + ": single record at word 3 of 5 words does not lie inside the used part of block 6",
        "block 6 belongs to " + kGroupA + " and to the single records"}},
      {"ReportsARecordBeyondTheUsedPartOfItsBlock",
       [](X& x, const M& m) { descriptor(x, m, "RECORD", 7, 300) += 1; },
       {kRecord300 + ": single record at word 39 of 5 words does not lie inside the used part of block 44"}},
      {"ReportsARecordHeaderThatDisagreesWithItsDescriptor",
       [](X& x, const M& m) { x.at(entry(m, "RECORD", 1).chain[0], 4) = 6; },
       {kRecord1 + ": single record header says 6 words, its descriptor 5"}},

      // Relations keyed by word 1: the root.
      {"ReportsAnEntryLengthThatNoBlockHolds",
       [](X& x, const M& m) { descriptor(x, m, "RELATION", 5) = 297; },
       {kRelation + ": relation entry length 297 does not fit a block", "blocks 46-51 are neither reachable nor released (wasted space, not damage)"}},
      {"ReportsARootBeyondTheFile",
       [](X& x, const M& m) { descriptor(x, m, "RELATION", 3) = 228; },
       {kRelation + ": root block 228 lies outside the file (227 blocks)",
        kRelation + ": data block 47 has no index pair", kRelation + ": data block 50 has no index pair",
        kRelation + ": data block 49 has no index pair", kRelation + ": data block 51 has no index pair",
        kRelation + ": the index names 0 data blocks, the chain has 4", "blocks 46, 48 are neither reachable nor released (wasted space, not damage)"}},
      {"ReportsARootOfTheWrongType",
       [](X& x, const M& m) { x.at(entry(m, "RELATION").root, 1) = 2; },
       {kRelation + ": root block 46 has type 2"}},
      {"ReportsARootThatHoldsAnotherKey",
       [](X& x, const M& m) { x.at(entry(m, "RELATION").root, 2 + 2) = 1; },
       {kRelation + ": root does not hold its key"}},
      {"ReportsARootWithMorePairsThanItsBlockHolds",
       [](X& x, const M& m) { x.at(entry(m, "RELATION").root, 23) = 138; },
       {kRelation + ": root claims 138 pairs", kRelation + ": data block 47 has no index pair",
        kRelation + ": data block 50 has no index pair", kRelation + ": data block 49 has no index pair",
        kRelation + ": data block 51 has no index pair", kRelation + ": the index names 0 data blocks, the chain has 4",
        "block 48 is neither reachable nor released (wasted space, not damage)"}},
      {"ReportsARootPairThatNamesNoBlockOfTheFile",
       [](X& x, const M& m) { x.at(entry(m, "RELATION").root, 23) = 2; },
       {kRelation + ": level-2 block 0 lies outside the file (227 blocks)"}},
      {"ReportsARootPairWhoseKeyIsNotItsLevel2BlocksFirst",
       [](X& x, const M& m) { x.at(entry(m, "LONGREL").root, 26 + 2) += 1; },
       {kLongRel + ": root pair key 1481 differs from the first key of level-2 block 205"}},

      // Relations keyed by word 1: level-2 blocks.
      {"ReportsALevel2BlockOfTheWrongType",
       [](X& x, const M& m) { x.at(entry(m, "RELATION").level2[0], 1) = 3; },
       {kRelation + ": level-2 block 48 has type 3 and root 46"}},
      {"ReportsALevel2BlockThatNamesAnotherRoot",
       [](X& x, const M& m) { x.at(entry(m, "LONGREL").level2[1], 2) = entry(m, "RELATION").root; },
       {kLongRel + ": level-2 block 205 has type 2 and root 46"}},
      {"ReportsALevel2BlockWithoutPairs",
       [](X& x, const M& m) { x.at(entry(m, "RELATION").level2[0], 3) = 0; },
       {kRelation + ": level-2 block 48 claims 0 pairs", kRelation + ": data block 47 has no index pair",
        kRelation + ": data block 50 has no index pair", kRelation + ": data block 49 has no index pair",
        kRelation + ": data block 51 has no index pair",
        kRelation + ": the index names 0 data blocks, the chain has 4"}},
      {"ReportsALevel2PairThatNamesTheWrongDataBlock",
       [](X& x, const M& m) { x.at(entry(m, "RELATION").level2[0], 5 + 2) = entry(m, "RELATION").chain[2]; },
       {kRelation + ": index pair 2 does not name data block 50 with its first key"}},
      {"ReportsALevel2PairWhoseKeyIsNotItsDataBlocksFirst",
       [](X& x, const M& m) { x.at(entry(m, "RELATION").level2[0], 4 + 2) += 1; },
       {kRelation + ": index pair 2 does not name data block 50 with its first key"}},
      {"ReportsADataBlockWithoutAnIndexPair",
       [](X& x, const M& m) { x.at(entry(m, "RELATION").level2[0], 3) = 3; },
       {kRelation + ": data block 51 has no index pair",
        kRelation + ": the index names 3 data blocks, the chain has 4"}},

      // Relations keyed by word 1: data blocks and the descriptor.
      {"ReportsARelationDataChainThatComesBack",
       [](X& x, const M& m) { x.at(entry(m, "RELATION").chain.back(), 2) = entry(m, "RELATION").chain[0]; },
       {kRelation + ": data chain returns to block 47"}},
      {"ReportsARelationDataChainThatLeavesTheFile",
       [](X& x, const M& m) { x.at(entry(m, "RELATION").chain.back(), 2) = 228; },
       {kRelation + ": data block 228 lies outside the file (227 blocks)"}},
      {"ReportsARelationDataBlockOfTheWrongType",
       [](X& x, const M& m) { x.at(entry(m, "RELATION").chain[1], 1) += 1; },
       {kRelation + ": data block 50 has type 304"}},
      {"ReportsARelationDataBlockWithAWrongBackLink",
       [](X& x, const M& m) { x.at(entry(m, "RELATION").chain[1], 3) = 0; },
       {kRelation + ": data block 50 has a wrong back link"}},
      {"ReportsARelationDataBlockWithMoreEntriesThanItHolds",
       [](X& x, const M& m) { x.at(entry(m, "RELATION").chain.back(), 4) = 99; },
       {kRelation + ": data block 51 claims 99 entries", kRelation + ": the index names 4 data blocks, the chain has 3",
        kRelation + ": relation holds 224 entries, its descriptor says 300",
        kRelation + ": relation ends in block 49, its descriptor says 51",
        kRelation + ": relation's lowest or highest key in its descriptor is wrong"}},
      {"ReportsRelationKeysOutOfOrder",
       [](X& x, const M& m) { x.at(entry(m, "RELATION").chain[0], 5 + 3) = -5; },
       {kRelation + ": key -5 in data block 47 is not above 0"}},
      {"ReportsARelationEntryCountThatDiffersFromItsDescriptor",
       [](X& x, const M& m) { descriptor(x, m, "RELATION", 8) -= 1; },
       {kRelation + ": relation holds 300 entries, its descriptor says 299"}},
      {"ReportsARelationDataBlockCountThatDiffersFromItsDescriptor",
       [](X& x, const M& m) { descriptor(x, m, "RELATION", 9) += 1; },
       {kRelation + ": relation has 4 data blocks, its descriptor says 5"}},
      {"ReportsARelationThatEndsElsewhereThanItsDescriptorSays",
       [](X& x, const M& m) { descriptor(x, m, "RELATION", 12) = entry(m, "RELATION").chain[2]; },
       {kRelation + ": relation ends in block 51, its descriptor says 49"}},
      {"ReportsAWrongLowestKeyInTheDescriptor",
       [](X& x, const M& m) { descriptor(x, m, "RELATION", 7) = 1; },
       {kRelation + ": relation's lowest or highest key in its descriptor is wrong"}},
      {"ReportsAWrongHighestKeyInTheDescriptor",
       [](X& x, const M& m) { descriptor(x, m, "RELATION", 11) -= 10; },
       {kRelation + ": relation's lowest or highest key in its descriptor is wrong"}},

      // Relations keyed by several words: the descriptor.
      {"ReportsAKeyLongerThanItsEntries",
       [](X& x, const M& m) { descriptor(x, m, "KEYED", 5) = 1; },
       {kKeyed + ": relation of entries of 1 words keyed by 2 words does not fit blocks of 300 words",
        "blocks 209-221 are neither reachable nor released (wasted space, not damage)"}},
      {"ReportsAnIndexRootNamedByARelationWithoutAnIndex",
       [](X& x, const M& m) { descriptor(x, m, "SMALLA", 10) = 5; },
       {kSmallA + ": descriptor word 10 is 5 but the relation has no index"}},
      {"ReportsADescriptorWord10ThatNamesNoIndexNode",
       [](X& x, const M& m) { descriptor(x, m, "KEYED", 10) = entry(m, "KEYED").chain[0]; },
       {kKeyed + ": descriptor word 10 names 209, not an index node"}},
      {"ReportsAKeyedEntryCountThatDiffersFromItsDescriptor",
       [](X& x, const M& m) { descriptor(x, m, "KEYED", 8) -= 1; },
       {kKeyed + ": relation holds 250 entries, its descriptor says 249"}},
      {"ReportsAWrongHighestKeyOfAOneWordKey",
       [](X& x, const M& m) { descriptor(x, m, "INDEXED", 11) -= 1; },
       {kIndexed + ": highest key in the descriptor is 148, the last entry's key 149"}},
      {"ReportsAnAppendBalanceOutOfBounds",
       [](X& x, const M& m) { descriptor(x, m, "KEYED", 7) = 151; },
       {kKeyed + ": append balance 151 is out of bounds"}},
      {"ReportsAKeyedDataChainThatEndsElsewhereThanItsDescriptorSays",
       [](X& x, const M& m) { descriptor(x, m, "KEYED", 12) = entry(m, "KEYED").chain[4]; },
       {kKeyed + ": data chain ends in block 221, its descriptor says 218"}},

      // Relations keyed by several words: data blocks.
      {"ReportsAKeyedDataBlockOfTheWrongType",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").chain[1], 1) -= 1; },
       {kKeyed + ": data block 211 has type 2208, expected 209 modulo 1000"}},
      {"ReportsAKeyedDataBlockOfAnotherDdlObject",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").chain[2], 1) += 1000; },
       {kKeyed + ": data block 214 names DDL object 3, others 2"}},
      {"ReportsAKeyedDataChainThatComesBack",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").chain.back(), 2) = entry(m, "KEYED").chain[0]; },
       {kKeyed + ": data chain returns to block 209"}},
      {"ReportsAKeyedDataChainThatLeavesTheFile",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").chain.back(), 2) = 228; },
       {kKeyed + ": data block 228 lies outside the file (227 blocks)"}},
      {"ReportsAKeyedDataBlockThatNamesTheWrongPrevious",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").chain[2], 3) = entry(m, "KEYED").chain[0]; },
       {kKeyed + ": data block 214 names 209 as previous, not 211"}},
      {"ReportsAKeyedDataBlockWithAnotherEntryLength",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").chain[2], 5) = 7; },
       {kKeyed + ": data block 214 has entry length 7, not 6"}},
      {"ReportsAKeyedDataBlockThatClaimsTooFewWords",
       [](X& x, const M& m) { x.at(entry(m, "SMALLA").chain[0], 4) = 4; },
       {kSmallA + ": data block 222 claims 4 words in use",
        kSmallA + ": data chain ends in block 0, its descriptor says 222",
        kSmallA + ": relation holds 0 entries, its descriptor says 10"}},
      {"ReportsARelationWithoutAnIndexThatRunsIntoAnothersDataBlock",
       [](X& x, const M& m) { x.at(entry(m, "SMALLA").chain[0], 2) = entry(m, "SMALLB").chain[0]; },
       {kSmallA + ": data block 223 names 0 as previous, not 222",
        kSmallA + ": data chain ends in block 223, its descriptor says 222",
        kSmallA + ": a relation without an index has 2 data blocks",
        kSmallA + ": relation holds 20 entries, its descriptor says 10",
        "block 223 belongs to " + kSmallA + " and to " + kSmallB}},
      {"ReportsKeysOutOfOrderInARelationWithoutAnIndex",
       [](X& x, const M& m) { x.at(entry(m, "SMALLA").chain[0], 6 + 4 * 5 + 1) = 1; },
       {kSmallA + ": a key in data block is not above the key before it"}},
      {"ReportsDataBlocksOfARelationWhoseEntriesLiveInTheIndex",
       [](X& x, const M& m) { descriptor(x, m, "INDEXED", 4) = m.released.back(); },
       {kIndexed + ": data chain ends in block 224, its descriptor says 0",
        kIndexed + ": entries live in the index, yet there are data blocks",
        "block 224 belongs to the released blocks and to " + kIndexed}},

      // Relations keyed by several words: index nodes.
      {"ReportsAnIndexBlockOfTheWrongType",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").levels[1][1], 1) = 209; },
       {kKeyed + ": index block 216 has type 209, expected 208"}},
      {"ReportsAnIndexBlockOfAnotherDdlObject",
       [](X& x, const M& m) { x.at(entry(m, "INDEXED").levels[1][1], 1) += 1000; },
       {kIndexed + ": index block 227 names DDL object 2, others 1"}},
      {"ReportsIndexBlocksMissingFromTheirChain",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").index_chain[5], 2) = 0; },
       {kKeyed + ": the chain of index blocks (6 blocks) and the index (7 nodes) hold different blocks"}},
      {"ReportsAChainOfIndexBlocksThatComesBack",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").index_chain.back(), 2) = entry(m, "KEYED").root; },
       {kKeyed + ": chain of index blocks returns to block 213"}},
      {"ReportsAChainOfIndexBlocksThatLeavesTheFile",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").index_chain.back(), 2) = 228; },
       {kKeyed + ": index block 228 lies outside the file (227 blocks)",
        kKeyed + ": the chain of index blocks (8 blocks) and the index (7 nodes) hold different blocks"}},
      {"ReportsAnIndexBlockThatNamesTheWrongPrevious",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").levels[1][1], 3) = 0; },
       {kKeyed + ": index block 216 names 0 as previous, not 210"}},
      {"ReportsAnIndexNodeReachedTwice",
       [](X& x, const M& m) { node_entry(x, entry(m, "KEYED").root, 1, 5) = entry(m, "KEYED").levels[1][0]; },
       {kKeyed + ": index block 210 is reached twice",
        kKeyed + ": the chain of index blocks (7 blocks) and the index (6 nodes) hold different blocks",
        kKeyed + ": 57 data entries are named by no index entry",
        kKeyed + ": relation holds 193 entries, its descriptor says 250"}},
      {"ReportsAnIndexBlockWithAnotherIndexEntryLength",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").levels[1][1], 5) = 6; },
       {kKeyed + ": index block 216 has index entry length 6, not 5"}},
      {"ReportsAnIndexBlockThatClaimsTooFewWords",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").levels[1][1], 4) = 6; },
       {kKeyed + ": index block 216 claims 6 words in use", kKeyed + ": 57 data entries are named by no index entry",
        kKeyed + ": relation holds 193 entries, its descriptor says 250"}},
      // 7 header words and 59 entries of 5 words: a whole number of entries, but beyond the block.
      {"ReportsAnIndexBlockThatClaimsMoreWordsThanTheBlockHolds",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").levels[1][1], 4) = 7 + 59 * 5; },
       {kKeyed + ": index block 216 claims 302 words in use", kKeyed + ": 57 data entries are named by no index entry",
        kKeyed + ": relation holds 193 entries, its descriptor says 250"}},
      {"ReportsAnIndexNodeThatNamesTheWrongParent",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").levels[1][1], 6) = 0; },
       {kKeyed + ": index block 216 names 0 as its parent, not 213"}},
      {"ReportsLowestLevelNodesAtTwoDepths",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").levels[1][4], 7) = entry(m, "KEYED").levels[1][5]; },
       lowest_node_made_a_parent()},
      {"ReportsALowestLevelNodeWhoseEntriesHaveChildren",
       [](X& x, const M& m) { x.at(entry(m, "KEYED").root, 7) = 0; },
       {kKeyed + ": index block 213 is in the lowest level, yet entry 1 has a child",
        kKeyed + ": index block 213 is in the lowest level, yet entry 2 has a child",
        kKeyed + ": index block 213 is in the lowest level, yet entry 3 has a child",
        kKeyed + ": index block 213 is in the lowest level, yet entry 4 has a child",
        kKeyed + ": index block 213 is in the lowest level, yet entry 5 has a child",
        kKeyed + ": the chain of index blocks (7 blocks) and the index (1 nodes) hold different blocks",
        kKeyed + ": 245 data entries are named by no index entry",
        kKeyed + ": descriptor word 10 names 210, not an index node",
        kKeyed + ": relation holds 5 entries, its descriptor says 250"}},
      {"ReportsAnUpperNodeEntryWithoutAChild",
       [](X& x, const M& m) { node_entry(x, entry(m, "KEYED").root, 3, 5) = 0; },
       {kKeyed + ": index block 213 entry 3 has no child",
        kKeyed + ": the chain of index blocks (7 blocks) and the index (6 nodes) hold different blocks",
        kKeyed + ": 32 data entries are named by no index entry",
        kKeyed + ": relation holds 218 entries, its descriptor says 250"}},
      {"ReportsAnIndexEntryThatNamesNoDataEntry",
       [](X& x, const M& m) { node_entry(x, entry(m, "KEYED").levels[1][1], 1, 4) += 1; },
       {kKeyed + ": index block 216 names word 79 of block 217, not a data entry",
        kKeyed + ": 1 data entries are named by no index entry",
        kKeyed + ": relation holds 249 entries, its descriptor says 250"}},
      {"ReportsTwoIndexEntriesThatNameOneDataEntry",
       [](X& x, const M& m) {
         const int32_t node = entry(m, "KEYED").levels[1][1];
         node_entry(x, node, 6, 4) = node_entry(x, node, 1, 4);  // entries 1 and 6 lie in one data block
       },
       {kKeyed + ": index block 216 names an entry of data block 217 named before",
        kKeyed + ": 1 data entries are named by no index entry",
        kKeyed + ": relation holds 249 entries, its descriptor says 250"}},
      {"ReportsAnIndexKeyThatDiffersFromItsDataEntrys",
       [](X& x, const M& m) { node_entry(x, entry(m, "KEYED").levels[1][1], 1, 2) -= 1; },
       {kKeyed + ": index block 216 holds a key that differs from its data entry's"}},
  };
}

class DamagedXdb : public ::testing::TestWithParam<Damage> {
 protected:
  support::TestDirectory dir_{"checker_damaged"};
};

TEST_P(DamagedXdb, IsReportedWithItsProblemLines) {
  const Damage& damage = GetParam();
  const auto& sound = SoundXdb::get();
  XdbImage image = sound.image();
  damage.edit(image, sound.map());
  ASSERT_FALSE(image == sound.image()) << "the damage changed nothing";
  const std::string path = dir_.path("damaged.xdb");
  image.save(path);

  const auto checked = support::check_file(path);
  std::string expected;
  for (const auto& line : damage.problems) expected += path + ": " + line + "\n";
  if (damage.data_blocks != kRefused) {
    const auto n = std::count_if(damage.problems.begin(), damage.problems.end(), [](const std::string& line) {
      return line.find("(wasted space, not damage)") == std::string::npos;
    });
    expected += path + ": " + std::to_string(n) + (n == 1 ? " problem" : " problems") + " found in " +
                std::to_string(damage.data_blocks) + " data blocks\n";
  }
  EXPECT_EQ(checked.report, expected);
  EXPECT_EQ(checked.status, 1);
}

INSTANTIATE_TEST_SUITE_P(Table, DamagedXdb, ::testing::ValuesIn(damages()),
                         [](const auto& info) { return std::string(info.param.name); });

// A released root lists released level-2 blocks, and a released level-2 block its data blocks:
// blocks the released-block chain holds although no chain word names them.
TEST(ReleasedBlocks, ListedByAReleasedRootOrLevel2BlockAreHeldByTheChain) {
  const auto& sound = SoundXdb::get();
  const support::TestDirectory dir("checker_listed");
  XdbImage image = sound.image();
  const auto& released = sound.map().released;  // 10 -> 11 -> 224
  image.header(5) = released[1];
  image.at(released[1], 1) = 1;  // a released root: its chain word (4) ends the chain
  image.at(released[1], 4) = 0;
  image.at(released[1], 23) = 1;
  image.at(released[1], 27) = released[2];
  image.at(released[2], 1) = 2;  // its level-2 block, which lists block 10
  image.at(released[2], 3) = 1;
  image.at(released[2], 5) = released[0];
  const std::string path = dir.path("listed.xdb");
  image.save(path);
  const auto checked = support::check_file(path);
  EXPECT_EQ(checked.report, path + ": sound: 309 data blocks, 227 blocks of 300 words\n");
  EXPECT_EQ(checked.status, 0);
}

// A block that nothing reaches and that is not released holds no data: the file is sound, and
// the lost space is told in a line of its own.
TEST(WastedSpace, BlocksThatNothingHoldsAreToldButTheFileIsSound) {
  const auto& sound = SoundXdb::get();
  const support::TestDirectory dir("checker_wasted");
  XdbImage image = sound.image();
  image.header(5) = sound.map().released[1];  // the released chain no longer begins with block 10
  const std::string path = dir.path("wasted.xdb");
  image.save(path);
  const auto checked = support::check_file(path);
  EXPECT_EQ(checked.report, path + ": block 10 is neither reachable nor released (wasted space, not damage)\n" + path +
                                ": sound: 309 data blocks, 227 blocks of 300 words\n");
  EXPECT_EQ(checked.status, 0);
}

// Parent words of index nodes go stale when a split moves a node under a new parent: the split
// does not visit the moved nodes, and only a later descent through them refreshes their word 6.
// A node that names another index node of its relation is therefore sound; one that names a data
// block, a block of another relation, itself, or names a parent while being the root is not.
TEST(StaleParentWords, NamingAnotherIndexNodeOfTheRelationIsSound) {
  const auto& sound = SoundXdb::get();
  const support::TestDirectory dir("checker_stale");
  const auto& keyed = entry(sound.map(), "KEYED");
  const auto& lowest = keyed.levels[1];
  ASSERT_GE(lowest.size(), 3u);
  struct Case {
    const char* what;
    int32_t node, names;
    std::string problem;  // "" when sound
  };
  const int32_t other = entry(sound.map(), "SMALLA").chain[0];
  const Case cases[] = {
      {"a lowest node naming its left neighbour", lowest[1], lowest[0], ""},
      {"a lowest node naming the last node", lowest[0], lowest.back(), ""},
      {"a lowest node naming a data block of its relation", lowest[1], keyed.chain[0],
       "index block " + std::to_string(lowest[1]) + " names " + std::to_string(keyed.chain[0]) + " as its parent, not " +
           std::to_string(keyed.root)},
      {"a lowest node naming a block of another relation", lowest[1], other,
       "index block " + std::to_string(lowest[1]) + " names " + std::to_string(other) + " as its parent, not " +
           std::to_string(keyed.root)},
      {"a lowest node naming itself", lowest[1], lowest[1],
       "index block " + std::to_string(lowest[1]) + " names " + std::to_string(lowest[1]) + " as its parent, not " +
           std::to_string(keyed.root)},
      {"the root naming a node", keyed.root, lowest[0],
       "index block " + std::to_string(keyed.root) + " names " + std::to_string(lowest[0]) + " as its parent, not 0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    XdbImage image = sound.image();
    image.at(c.node, 6) = c.names;
    const std::string path = dir.path("stale.xdb");
    image.save(path);
    const auto checked = support::check_file(path);
    if (c.problem.empty()) {
      EXPECT_EQ(checked.report, path + ": sound: 309 data blocks, 227 blocks of 300 words\n");
      EXPECT_EQ(checked.status, 0);
    } else {
      EXPECT_EQ(checked.report, path + ": " + kKeyed + ": " + c.problem + "\n" + path +
                                    ": 1 problem found in 309 data blocks\n");
      EXPECT_EQ(checked.status, 1);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Mutations: every structural word of a sample of blocks changed in turn.

// What a database holds: each data block's kind and words, in dictionary order; or why it could
// not be read.
struct Holdings {
  std::string failure;
  std::vector<std::pair<int32_t, std::vector<int32_t>>> blocks;
  bool operator==(const Holdings&) const = default;
};

Holdings read_every_data_block(const std::string& path, const std::vector<std::array<int32_t, 12>>& keys) {
  std::ostringstream messages, output;
  platform::Units units;
  units.message = &messages;
  units.output = &output;
  bio::Library block_io(output, messages);
  dbio::Context ctx(units, block_io);
  int32_t ierr = 0;
  xdb::PAGSET(ctx, 0, 1, 17 * 300 + 17753, 300, 200005000, 0, 0, ierr);
  Holdings holdings;
  if (ierr != 0) return {"the pool could not be configured", {}};
  try {
    xdb::DBOPEN(ctx, 1, 0, 0, ierr, path);
    if (ierr != 0) return {"the open returned " + std::to_string(ierr), {}};
    for (const auto& key : keys) {
      int32_t kind = 0;
      const xdb::Content content = xdb::read_data_block(ctx, 1, key.data(), kind);
      if (!content.problems.empty()) holdings.failure += content.problems.front() + "\n";
      holdings.blocks.emplace_back(kind, content.words);
    }
    xdb::DBCLOS(ctx, 1, 0, ierr);
  } catch (const platform::RunStop&) {
    xdb::release_after_stop(ctx, 1);
    holdings.failure += "reading stopped: " + messages.str();
  }
  return holdings;
}

// The words of a block whose values the format gives a meaning that a reader relies on: headers,
// links, counts, lengths, index words and the keys that are stored twice (a group's and a root's
// key, the first key of a data block of a relation keyed by word 1, a keyed relation's data keys,
// which its index repeats). Left out are data words and keys stored once (a record's or a keyed
// relation's dictionary key, the keys of entries in a data block of a relation keyed by word 1
// other than its first, entries that live in the index): any other value of those is another
// sound database.
std::vector<int32_t> structural_words(const XdbImage& x, const XdbMap& m, int32_t block, const std::string& kind) {
  std::vector<int32_t> words;
  auto span = [&words](int32_t from, int32_t to) {
    for (int32_t k = from; k <= to; ++k) words.push_back(k);
  };
  if (kind == "header") {
    span(1, 18);
  } else if (kind == "primary index") {
    span(1, 1 + 13 * x.header(11));
  } else if (kind == "secondary index") {
    span(1, 3 + 13 * x.at(block, 3));
  } else if (kind == "dictionary data") {
    span(1, 4);
    for (const auto& e : m.entries) {
      if (e.dictionary_block != block) continue;
      if (e.kind() == 1 || e.kind() == 2) span(e.key_word, e.key_word + 11);
      span(e.descriptor_word(1), e.descriptor_word(12));
    }
  } else if (kind == "DDL group") {
    span(1, 16);
    words.push_back(17);  // the DDL version and size, which the header repeats
    words.push_back(19);
  } else if (kind == "group") {
    span(1, x.at(block, 3) == 0 ? 16 : 4);
  } else if (kind == "released") {
    span(1, 2);
  } else if (kind == "shared record") {
    span(1, 2);
    for (int32_t at = 3; at + 1 <= x.at(block, 2); at += 2 + x.at(block, at + 1)) span(at, at + 1);
  } else if (kind == "root") {
    span(1, 25 + 2 * x.at(block, 23));
  } else if (kind == "level-2") {
    span(1, 3 + 2 * x.at(block, 3));
  } else if (kind == "relation data") {
    span(1, 5);
  } else if (kind == "index node" || kind == "index node holding entries") {
    span(1, 7);
    const int32_t S = x.at(block, 5);
    for (int32_t at = 8; at + S - 1 <= x.at(block, 4); at += S) {
      span(kind == "index node" ? at : at + S - 1, at + S - 1);  // in the index: the child only
    }
  } else if (kind == "keyed data") {  // of KEYED, whose key is two words
    span(1, 5);
    for (int32_t at = 6; at + 5 <= x.at(block, 4); at += 6) span(at, at + 1);
  } else if (kind == "keyed data without an index") {
    span(1, 5);
  }
  return words;
}

TEST(Mutations, AreReportedOrLeaveEveryDataBlockAsItWas) {
  const auto& sound = SoundXdb::get();
  const XdbMap& m = sound.map();
  const XdbImage& image = sound.image();
  const support::TestDirectory dir("checker_mutations");
  const std::string path = dir.path("mutated.xdb");

  std::vector<std::array<int32_t, 12>> keys;
  for (const auto& e : m.entries) keys.push_back(e.key);
  const Holdings before = read_every_data_block(sound.path(), keys);
  ASSERT_EQ(before.failure, "");

  const auto& keyed = entry(m, "KEYED");
  const auto& indexed = entry(m, "INDEXED");
  const auto& longrel = entry(m, "LONGREL");
  const auto& relation = entry(m, "RELATION");
  const std::vector<std::pair<std::string, std::vector<int32_t>>> sample{
      {"header", {1}},
      {"primary index", {m.primary}},
      {"secondary index", {m.secondary[0], m.secondary[2]}},
      {"dictionary data", {m.dictionary_data[0], m.dictionary_data[1], m.dictionary_data.back()}},
      {"DDL group", {entry(m, "DDLFORDB").chain[0]}},
      {"group",
       {entry(m, "GROUPA").chain[0], entry(m, "GROUPA").chain[1], entry(m, "GROUPA").chain[2],
        entry(m, "GROUPB").chain[0]}},
      {"released", m.released},
      {"shared record",
       {entry(m, "RECORD", 1).chain[0], entry(m, "RECORD", 200).chain[0], entry(m, "RECORD", 300).chain[0]}},
      {"root", {relation.root, longrel.root}},
      {"level-2", {relation.level2[0], longrel.level2[0], longrel.level2[1]}},
      {"relation data",
       {relation.chain[0], relation.chain[2], relation.chain.back(), longrel.chain[0], longrel.chain.back()}},
      {"index node", {keyed.root, keyed.levels[1][0], keyed.levels[1][3], keyed.levels[1].back()}},
      {"index node holding entries", {indexed.root, indexed.levels[1][0], indexed.levels[1][1]}},
      {"keyed data", {keyed.chain[0], keyed.chain[3], keyed.chain.back()}},
      {"keyed data without an index", {entry(m, "SMALLA").chain[0], entry(m, "SMALLB").chain[0]}},
  };

  // One file, each mutation written into it and taken back again.
  XdbImage mutated = image;
  mutated.save(path);
  struct Verdict {
    bool caught = false;
    Holdings after;
  };
  // Caught: the checker calls the file unsound, or tells of blocks it finds neither reachable nor
  // released (a released chain cut short loses its blocks but no data).
  auto judge = [&]() -> Verdict {
    const auto checked = support::check_file(path);
    if (checked.status != 0 || checked.report.find("(wasted space, not damage)") != std::string::npos) {
      return {true, {}};
    }
    return {false, read_every_data_block(path, keys)};
  };
  struct Tally {
    int tried = 0, caught = 0, harmless = 0;
    int stale_parents = 0;  // harmless: an index node's parent word naming another node of its relation
  };
  std::map<std::string, Tally> tallies;
  Tally all;
  for (const auto& [kind, blocks] : sample) {
    for (int32_t block : blocks) {
      for (int32_t k : structural_words(image, m, block, kind)) {
        const int32_t was = image.at(block, k);
        auto plus = [was](uint32_t n) { return static_cast<int32_t>(static_cast<uint32_t>(was) + n); };
        for (int32_t value : {plus(1), plus(UINT32_MAX), plus(1u << 30), 0}) {
          if (value == was) continue;
          mutated.at(block, k) = value;
          mutated.save_word(path, block, k);
          const Verdict verdict = judge();
          mutated.at(block, k) = was;
          mutated.save_word(path, block, k);
          Tally& t = tallies[kind];
          ++t.tried;
          ++all.tried;
          if (verdict.caught) {
            ++t.caught;
            ++all.caught;
          } else if (verdict.after == before) {
            ++t.harmless;
            ++all.harmless;
            if (kind.rfind("index node", 0) == 0 && k == 6) ++t.stale_parents;
          } else {
            ADD_FAILURE() << kind << " block " << block << " word " << k << ": " << was << " -> " << value
                          << " is not reported, yet the data blocks read back differently"
                          << (verdict.after.failure.empty() ? "" : ": " + verdict.after.failure);
          }
        }
      }
    }
  }
  for (const auto& [kind, t] : tallies) {
    std::cout << "[ mutated  ] " << kind << ": " << t.tried << " tried, " << t.caught << " caught, " << t.harmless
              << " harmless" << (t.stale_parents ? " (" + std::to_string(t.stale_parents) + " stale parent words)" : "")
              << "\n";
  }
  std::cout << "[ mutated  ] all: " << all.tried << " tried, " << all.caught << " caught by the checker, "
            << all.harmless << " harmless\n";
  EXPECT_EQ(all.caught + all.harmless, all.tried);

  // Every change of a link, count, length, type, index word or twice-stored key is caught, but
  // in the blocks that also hold words no reader takes: the header's GRFNUM, and values the
  // open takes as "none" (DDL version and size 0, SRBLK 0, an entry length it does not know)
  // or that stay sound (INFINU above every sequence number); descriptor words a kind does not
  // use; a root's copy of its descriptor; a single record's DDL object number and a shared
  // block's count of used words that grows; the type word of a released block, where it
  // keeps the chain word in place. An index node's parent word may name any other index node of
  // its relation: parent words go stale when a split moves a node, and only a later descent
  // refreshes them.
  const std::map<std::string, double> least_caught{
      {"header", 0.8}, {"dictionary data", 0.65}, {"root", 0.55}, {"shared record", 0.55}, {"released", 0.45}};
  for (const auto& [kind, t] : tallies) {
    const auto least = least_caught.find(kind);
    const double share = least == least_caught.end() ? 1.0 : least->second;
    EXPECT_GE(t.caught, share * (t.tried - t.stale_parents)) << kind;
  }
  EXPECT_EQ(tallies.size(), sample.size());
}

// ---------------------------------------------------------------------------------------------
// The xdbcheck program, run as a user runs it.

// Runs build/xdbcheck with `args` in directory `cwd`; standard error comes back with "\n" line
// ends (Windows writes it as a text stream), standard output as written.
support::ProgramRun run_xdbcheck(const std::vector<std::string>& args, const fs::path& cwd) {
  support::ProgramRun run =
      support::run_program(support::program_file(LOADXDB_BINARY_DIR, "xdbcheck"), args, "", cwd.string());
  run.err = support::text_lines(run.err);
  return run;
}

const char kUsage[] =
    "usage: xdbcheck [--list] FILE...\n"
    "\n"
    "Checks each XDB file: its header, released-block chain, dictionary, every data block\n"
    "(group chains, single records, relation trees and key order) and the stored DDL. Every\n"
    "problem is one line; each file ends with a one-line summary.\n"
    "\n"
    "  --list   also print one line per data block, in dictionary order, on standard output:\n"
    "           name, ten qualifiers, kind, entry length, entry count (words for a group)\n"
    "  --help   print this text\n"
    "\n"
    "Exit status: 0 every file is sound, 1 a problem was found, 2 usage error.\n";

// A small XDB of every kind of data block, in a directory of its own.
class Program : public ::testing::Test {
 protected:
  void SetUp() override {
    std::ofstream file(dir_ / "small.ndb", std::ios::binary);
    support::NeutralWriter w(file);
    w.header(300, 0);
    w.group(key("NOTES"), 0, integers(1, 3));
    w.single_record(key("POINT", 1), 100003, integers(10, 3));
    w.relation(key("TABLE"), 2, integers(20, 6));
    w.relation(key("PAIRS"), 20003, integers(30, 6));
    w.data_end();
    w.finish();
    file.close();
    const auto run =
        support::run_converter({(dir_ / "small.ndb").string(), "output=" + (dir_ / "sound.xdb").string(), "v=n"}, dir_);
    ASSERT_EQ(run.status, 0) << run.messages;
    ASSERT_EQ(run.unsound(), "");
    // A copy whose group NOTES counts one word too many in descriptor word 9, and one whose name
    // starts with a dash.
    XdbImage image((dir_ / "sound.xdb").string());
    const XdbMap map = support::map_xdb(image);
    image.at(map.entry("NOTES").dictionary_block, map.entry("NOTES").descriptor_word(9)) += 1;
    image.save((dir_ / "damaged.xdb").string());
    fs::copy_file(dir_ / "sound.xdb", dir_ / "-sound.xdb");
  }
  support::TestDirectory scratch_{"checker_program"};
  const fs::path& dir_ = scratch_.path();
};

// The summary of the sound copy, the problem of the damaged one, and the listing of either.
const std::string kSoundSummary = ": sound: 4 data blocks, 10 blocks of 300 words\n";
const std::string kDamagedReport =
    "damaged.xdb: 'NOTES   '(0,0,0,0,0,0,0,0,0,0): group word 9 of the descriptor is 5, not words plus blocks\n"
    "damaged.xdb: 1 problem found in 4 data blocks\n";
std::string small_listing() {
  const std::string zero = "           0", none = zero + zero + zero + zero + zero + zero + zero + zero + zero;
  return "NOTES   " + zero + none + "  group         0          3\n" + "PAIRS   " + zero + none +
         "  keyed         3          2\n" + "POINT              1" + none + "  record        3          3\n" +
         "TABLE   " + zero + none + "  relation      2          3\n";
}

struct ProgramCase {
  const char* name;
  std::vector<std::string> args;
  int status;
  std::string out, err;
};
void PrintTo(const ProgramCase& c, std::ostream* os) { *os << c.name; }

class Programs : public Program, public ::testing::WithParamInterface<ProgramCase> {};

TEST_P(Programs, PrintTheirVerdictsAndExitStatus) {
  const ProgramCase& c = GetParam();
  const auto run = run_xdbcheck(c.args, dir_);
  EXPECT_EQ(run.status, c.status);
  EXPECT_EQ(run.out, c.out);
  EXPECT_EQ(run.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, Programs,
    ::testing::Values(
        ProgramCase{"without_arguments_the_usage_is_an_error", {}, 2, "", kUsage},
        // Help checks nothing, wherever it stands.
        ProgramCase{"help", {"sound.xdb", "--help", "missing.xdb"}, 0, kUsage, ""},
        ProgramCase{"short_help", {"sound.xdb", "-h", "missing.xdb"}, 0, kUsage, ""},
        ProgramCase{"unknown_option_is_refused_before_any_file_is_checked", {"sound.xdb", "--lists"}, 2, "",
                    std::string("xdbcheck: unknown option --lists\n") + kUsage},
        ProgramCase{"a_sound_file_is_summed_up_in_one_line", {"sound.xdb"}, 0, "", "sound.xdb" + kSoundSummary},
        ProgramCase{"every_file_is_checked_and_any_unsound_one_fails",
                    {"sound.xdb", "damaged.xdb", "missing.xdb", "sound.xdb"}, 1, "",
                    "sound.xdb" + kSoundSummary + kDamagedReport + "missing.xdb: no such file\n" + "sound.xdb" +
                        kSoundSummary},
        ProgramCase{"a_name_that_starts_with_a_dash_is_an_option", {"-sound.xdb"}, 2, "",
                    std::string("xdbcheck: unknown option -sound.xdb\n") + kUsage},
        ProgramCase{"a_name_that_starts_with_a_dash_is_named_from_the_current_directory", {"./-sound.xdb"}, 0, "",
                    "./-sound.xdb" + kSoundSummary},
        // The option applies to every file, wherever it stands; a damaged file is listed as well.
        ProgramCase{"list_shows_every_data_block_of_every_file_in_dictionary_order",
                    {"sound.xdb", "damaged.xdb", "--list"}, 1, small_listing() + small_listing(),
                    "sound.xdb" + kSoundSummary + kDamagedReport}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Program, FilesThatAreNoXdbAreReportedAndTheRestChecked) {
  fs::create_directories(dir_ / "folder");
  std::ofstream(dir_ / "short.txt") << "not an XDB\n";
  std::ofstream(dir_ / "text.txt") << std::string(400, 'x');
#ifdef _WIN32
  // A file that another process holds without sharing it cannot be opened, whoever runs the
  // test: this process holds one while the checker runs.
  const fs::path unreadable = dir_ / "held.xdb";
  fs::copy_file(dir_ / "sound.xdb", unreadable);
  platform::File holder;
  ASSERT_EQ(holder.open(unreadable.string().c_str(), platform::Access::kReadWrite, platform::Share::kNone,
                        platform::Disposition::kOpenExisting, platform::kFileNormal),
            0);
  const auto run = run_xdbcheck({"folder", "short.txt", "text.txt", unreadable.string(), "sound.xdb"}, dir_);
  holder.close();
#else
  // A socket cannot be opened for reading, whoever runs the test (a file without read permission
  // can be read by the superuser that runs CI). Its name stays within the length a socket
  // address can hold.
  const fs::path unreadable = fs::temp_directory_path() / ("xdbcheck_" + std::to_string(support::process_id()) + ".sock");
  fs::remove(unreadable);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(unreadable.string().size(), sizeof address.sun_path);
  std::strcpy(address.sun_path, unreadable.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);

  const auto run = run_xdbcheck({"folder", "short.txt", "text.txt", unreadable.string(), "sound.xdb"}, dir_);
  ::close(fd);
  fs::remove(unreadable);
#endif
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  // A folder opens for reading on POSIX and is found no file of blocks; on Windows it does not
  // open at all.
#ifdef _WIN32
  const std::string folder = "folder: cannot be opened as an XDB (return code 12, probe result 3)\n";
#else
  const std::string folder = "folder: cannot be opened as an XDB (return code 6, probe result 4)\n";
#endif
  EXPECT_EQ(run.err,
            folder +
            "short.txt: cannot be opened as an XDB (return code 6, probe result 4)\n"
            "text.txt: cannot be opened as an XDB (return code 15, probe result 11)\n" +
                unreadable.string() +
                ": cannot be opened as an XDB (return code 12, probe result 3)\n"
                "sound.xdb: sound: 4 data blocks, 10 blocks of 300 words\n");
}

}  // namespace
