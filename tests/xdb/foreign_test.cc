// XDB files written on other platforms: native databases made by the converter are written out
// in each foreign layout by the test-side foreign writer, then opened through the database
// layer. Every block must read as the native words it came from, the checking tool must see the
// same database, blocks written back must be the writer's bytes exactly (updates included), and
// damaged foreign files must stop with a message.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "dbio/pool.h"
#include "testkit/block_generator.h"
#include "testkit/end_to_end.h"
#include "testkit/foreign_writer.h"
#include "testkit/neutral_writer.h"
#include "testkit/programs.h"
#include "testkit/scratch_database.h"
#include "xdb/datablocks.h"

namespace {

using support::Item;
using support::Key;
using Bytes = std::vector<unsigned char>;
using Words = std::vector<int32_t>;

constexpr int32_t kBlockWords = 300;
constexpr int32_t kUnit = 1;

Bytes file_bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void put_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Key key(const std::string& name, int32_t qualifier = 1) {
  Key k;
  k.name = name;
  k.name.resize(8, ' ');
  k.qualifiers[0] = qualifier;
  return k;
}

constexpr int32_t group_code(int32_t form, int32_t items, int32_t r) { return -(r * 10000 + items * 100 + form); }

// The DDL of the custom database: an object per entry layout, with every element class and
// every group form among them.
struct ObjectLayout {
  const char* name;
  int32_t length;
  Words list;
};
const ObjectLayout kObjects[] = {
    {"GRPSTRM", 7, {103, 105, 104, 107, 102}},                 // group entries: R A D X I
    {"KEYDATA", 10, {102, 103, 205, 104, 107, 203}},           // key 1 word, entries in data blocks
    {"KEYIDX", 5, {302, 105, 103}},                            // key 3 words, entries in the index
    {"LIMITS", 6, {202, 103, 105, 107}},                       // key 2 words
    {"RECORDS", 5, {103, 205, 107}},                           // single records
    {"RELALL", 10, {102, 103, 205, 104, 107, 101, 106}},       // every class
    {"RELFORM", 16, {102, group_code(1, 2, 2), 103, 105, group_code(3, 3, 2), 103, 107, 205, group_code(4, 0, 2), 105,
                     104, group_code(5, 0, 0), group_code(2, 1, 0), 103}},
};

float some_real(int i) { return static_cast<float>(i) * 1.25f - 40.0f; }
std::string some_chars(int i) {
  return std::string(1, static_cast<char>('A' + i % 26)) + "B/" + std::to_string(i % 10);
}

// A neutral file whose DDL describes groups, relations of both kinds and single records.
void write_custom_neutral(const std::string& path, int32_t block_size) {
  std::ofstream out(path, std::ios::binary);
  support::NeutralWriter w(out);
  w.header(block_size);
  std::vector<support::DdlObject> directory;
  Words data;
  const auto q = static_cast<int32_t>(std::size(kObjects));
  for (int32_t i = 0; i < q; ++i) {
    const auto& o = kObjects[i];
    const auto packed = support::pack_ddl_name(key(o.name).name);
    directory.push_back({packed[0], packed[1], 3 + 5 * q + static_cast<int32_t>(data.size()), o.length, i + 1});
    data.insert(data.end(), o.list.begin(), o.list.end());
  }
  w.ddl_block(key("DDLFORDB"), 20120, 2012, directory, data);

  std::vector<Item> items;
  auto block_items = [&] {
    std::vector<Item> v;
    v.swap(items);
    return v;
  };
  // A group of 7-word entries over several blocks: entries and pairs cross block ends.
  for (int i = 0; i < 150; ++i) {
    items.insert(items.end(), {Item::real(some_real(i)), Item::chars(some_chars(i)),
                               i % 9 == 0 ? Item::dbl_all_ones() : Item::dbl(i * 1.5 + 0.5),
                               Item::dblx(-(i + 1) * 0.25), Item::integer(i * 1000)});
  }
  w.group(key("GRPSTRM"), 0, block_items());
  for (int i = 0; i < 400; ++i) items.push_back(i % 3 ? Item::integer(-i) : Item::chars(some_chars(i)));
  w.group(key("GPLAIN"), 0, block_items());
  for (int i = 0; i < 100; ++i) {
    items.insert(items.end(), {Item::integer(i * 7), Item::real(some_real(i)), Item::chars(some_chars(i)),
                               Item::chars("WXYZ"), Item::dbl(i * 0.125), Item::dblx(i * 2.0),
                               Item::logical(i % 2 == 0), Item::integer(-i)});
  }
  w.relation(key("RELALL"), 10, block_items());
  for (int i = 0; i < 40; ++i) {
    items.insert(items.end(), {Item::integer(100 - i), Item::real(some_real(i)), Item::chars(some_chars(i)),
                               Item::real(7.0f - some_real(i)), Item::chars("MNOP"), Item::dblx(i), Item::chars("QRST"),
                               Item::dbl(i), Item::chars("UVWX"), Item::dbl(-i - 1.0), Item::real(1.5f),
                               i % 5 ? Item::real(2.5f) : Item::real_all_ones(), Item::real(3.5f)});
  }
  w.relation(key("RELFORM"), 16, block_items());
  for (int i = 0; i < 50; ++i) items.insert(items.end(), {Item::integer(i), Item::chars("NODL"), Item::real(1.0f)});
  w.relation(key("NODDL"), 3, block_items());
  for (int i = 0; i < 200; ++i) {
    items.insert(items.end(), {Item::integer(1000 - i * 3), Item::real(some_real(i)), Item::chars(some_chars(i)),
                               Item::chars("KDAT"), Item::dbl(i * 0.5), Item::dblx(i), Item::real(0.5f),
                               Item::real(-0.5f)});
  }
  w.relation(key("KEYDATA"), 1 * support::kKindStep + 10, block_items());
  for (int i = 0; i < 300; ++i) {
    items.insert(items.end(), {Item::integer(i % 4), Item::integer(i / 4), Item::integer(i), Item::chars(some_chars(i)),
                               Item::real(some_real(i))});
  }
  w.relation(key("KEYIDX"), 3 * support::kKindStep + 5, block_items());
  for (int i = 0; i < 60; ++i) {
    items.insert(items.end(), {Item::integer(i / 6), Item::integer(i % 6), Item::real(some_real(i)),
                               Item::chars(some_chars(i)), Item::dblx(i * 9.0)});
  }
  w.relation(key("LIMITS"), 2 * support::kKindStep + 6, block_items());
  for (int i = 0; i < 300; ++i) {
    w.single_record(key("RECORDS", i), 10 * support::kKindStep + 5,
                    std::vector<Item>{Item::real(some_real(i)), Item::chars(some_chars(i)), Item::chars("REC "),
                                      Item::dblx(i * 0.25)});
  }
  // A record longer than its object's entry: its last words are integers.
  w.single_record(key("RECORDS", 999), 10 * support::kKindStep + 8,
                  std::vector<Item>{Item::real(2.0f), Item::chars("LONG"), Item::chars("REC "), Item::dblx(8.0),
                                    Item::integer(1), Item::integer(2), Item::integer(3)});
  w.data_end();
  w.finish();
}

void write_generated_neutral(const std::string& path) {
  support::DatabaseOptions options;
  options.generator.seed = 4;
  options.generator.block_words = kBlockWords;
  options.block_size = kBlockWords;
  options.max_blocks = 60;
  std::ofstream out(path, std::ios::binary);
  support::write_database(out, options);
}

// The checker's verdict, problem lines (with "FILE" for the file's name) and listing.
struct CheckResult {
  int status;
  std::string messages, listing;
};
CheckResult check(const std::string& xdb) {
  CheckResult result;
  const support::CheckedXdb checked = support::check_file(xdb, &result.listing);
  result.status = checked.status;
  result.messages = checked.report;
  for (size_t at; (at = result.messages.find(xdb)) != std::string::npos;) result.messages.replace(at, xdb.size(), "FILE");
  return result;
}

// The native databases, made once for all tests.
class NativeDatabases {
 public:
  static NativeDatabases& get() {
    static NativeDatabases databases;
    return databases;
  }
  ~NativeDatabases() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  const std::string& path(const std::string& sample) { return paths_.at(sample); }

 private:
  NativeDatabases() {
    dir_ = std::filesystem::temp_directory_path() / ("loadxdb_foreign_" + std::to_string(support::process_id()));
    std::filesystem::create_directories(dir_);
    for (const char* sample : {"custom", "generated", "extended"}) {
      const std::string neutral = (dir_ / (std::string(sample) + ".ndb")).string();
      const std::string xdb = (dir_ / (std::string(sample) + ".xdb")).string();
      // "extended": the custom database with extended dictionary entries, whose DDL objects are
      // found through the object index.
      if (std::string(sample) == "custom" || std::string(sample) == "extended") {
        write_custom_neutral(neutral, std::string(sample) == "extended" ? -kBlockWords : kBlockWords);
      } else {
        write_generated_neutral(neutral);
      }
      const support::ConverterRun run = support::run_converter({neutral, "output=" + xdb, "v=n"}, dir_);
      EXPECT_EQ(run.status, platform::kExitClean) << sample << run.messages;
      EXPECT_EQ(run.messages, "") << sample;
      paths_[sample] = xdb;
    }
  }
  std::filesystem::path dir_;
  std::map<std::string, std::string> paths_;
};

class ForeignFiles : public ::testing::TestWithParam<std::tuple<const char*, int32_t>> {
 protected:
  void SetUp() override {
    native_path = NativeDatabases::get().path(std::get<0>(GetParam()));
    filtyp = std::get<1>(GetParam());
    native = support::read_native_xdb(native_path);
    foreign_path = db.path("foreign.xdb");
    support::write_foreign_xdb(native_path, foreign_path, filtyp);
  }
  Words native_block(int32_t b) const {
    return Words(native.begin() + (b - 1) * kBlockWords, native.begin() + b * kBlockWords);
  }
  Words pool_block(int32_t b) {
    int32_t addr = 0;
    dbio::PAGFET(db.ctx, kUnit, b, addr);
    const int32_t* w = db.ctx.words(addr, kBlockWords);
    return Words(w, w + kBlockWords);
  }
  int32_t blocks() const { return static_cast<int32_t>(native.size()) / kBlockWords; }

  support::ScratchDatabase db{512, 20};
  std::string native_path, foreign_path;
  int32_t filtyp = 0;
  Words native;
};

TEST_P(ForeignFiles, EveryBlockReadsAsItsNativeWords) {
  ASSERT_EQ(db.open(kUnit, 0, 0, "foreign.xdb"), 0);
  EXPECT_EQ(db.ctx.grdblk.DBFLTY[kUnit], filtyp);
  // Last block first: a group block is read before the blocks in front of it in its chain.
  for (int32_t b = blocks(); b >= 1; --b) ASSERT_EQ(pool_block(b), native_block(b)) << "block " << b;
  for (int32_t b = 1; b <= blocks(); ++b) ASSERT_EQ(pool_block(b), native_block(b)) << "block " << b;
}

TEST_P(ForeignFiles, TheCheckingToolSeesTheSameDatabase) {
  const CheckResult on_native = check(native_path), on_foreign = check(foreign_path);
  // Both sound, and the same words to the checker.
  EXPECT_EQ(on_native.status, 0) << on_native.messages;
  EXPECT_EQ(on_foreign.status, 0) << on_foreign.messages;
  EXPECT_EQ(on_foreign.messages, on_native.messages);
  EXPECT_EQ(on_foreign.listing, on_native.listing);
  EXPECT_GT(std::count(on_native.listing.begin(), on_native.listing.end(), '\n'), 40);
}

TEST_P(ForeignFiles, BlocksWrittenBackAreTheFileBytesExactly) {
  const Bytes before = file_bytes(foreign_path);
  ASSERT_EQ(db.open(kUnit, -1, 0, "foreign.xdb"), 0);
  for (int32_t b = 1; b <= blocks(); ++b) {
    pool_block(b);
    dbio::PAGMOD(db.ctx, kUnit, b);
  }
  ASSERT_EQ(db.close(kUnit), 0);
  EXPECT_TRUE(file_bytes(foreign_path) == before);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ForeignFiles,
                         ::testing::Combine(::testing::Values("custom", "generated", "extended"),
                                            ::testing::Values(support::kBigEndian32, support::kBigEndian64,
                                                              support::kLittleEndian64)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param)) + "_type" +
                                  std::to_string(std::get<1>(info.param));
                         });

// The same changes made to a native database and to its foreign copy leave files that the
// foreign writer turns one into the other.
class ForeignUpdates : public ForeignFiles {
 protected:
  void update(const std::string& name) {
    ASSERT_EQ(db.open(kUnit, -1, 0, name), 0);
    int32_t lfn = 0, ierr = 0;
    // Entries appended to the described group: the new words continue its entry stream.
    const auto group = key("GRPSTRM").words();
    xdb::OPENGR(db.ctx, kUnit, group.data(), 2, lfn, 0, ierr);
    ASSERT_EQ(ierr, 0);
    for (int i = 0; i < 120; ++i) {
      const float r = static_cast<float>(i);
      const int32_t entry[7] = {std::bit_cast<int32_t>(r), 0x41424344, i, -i, 0x3FF00000, i * 3, i};
      xdb::WRITGR(db.ctx, lfn, entry, 7, ierr);
      ASSERT_EQ(ierr, 0);
    }
    xdb::CLOSGR(db.ctx, lfn);
    // Entries of every class into a relation, and a new record.
    const auto relation = key("RELALL", 2).words();
    xdb::OPENRL(db.ctx, kUnit, relation.data(), 10, lfn, 0, 0, 0, ierr);
    ASSERT_EQ(ierr, 0);
    for (int i = 0; i < 80; ++i) {
      const int32_t entry[10] = {i,  std::bit_cast<int32_t>(0.5f * i), 0x20202020, 0x41414141, i, 0x40000000,
                                 -i, i, 1, 2};
      xdb::WRITRL(db.ctx, lfn, entry, ierr);
      ASSERT_EQ(ierr, 0);
    }
    xdb::CLOSGR(db.ctx, lfn);
    const auto record = key("RECORDS", 5000).words();
    xdb::OPENRC(db.ctx, kUnit, record.data(), 5, lfn, 0, ierr);
    ASSERT_EQ(ierr, 0);
    const int32_t words[5] = {std::bit_cast<int32_t>(9.75f), 0x44434241, 0x48474645, 1, 2};
    xdb::WRITRC(db.ctx, lfn, words, ierr);
    xdb::CLOSGR(db.ctx, lfn);
    ASSERT_EQ(db.close(kUnit), 0);
  }
};

TEST_P(ForeignUpdates, LeaveTheForeignFileOfTheUpdatedNativeOne) {
  std::filesystem::copy_file(native_path, db.path("native.xdb"));
  update("native.xdb");
  update("foreign.xdb");
  const auto expected = support::ForeignWriter(support::read_native_xdb(db.path("native.xdb"))).file(filtyp);
  EXPECT_TRUE(file_bytes(foreign_path) == expected);
  EXPECT_EQ(check(foreign_path).listing, check(db.path("native.xdb")).listing);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ForeignUpdates,
                         ::testing::Combine(::testing::Values("custom"),
                                            ::testing::Values(support::kBigEndian32, support::kBigEndian64,
                                                              support::kLittleEndian64)),
                         [](const auto& info) { return "type" + std::to_string(std::get<1>(info.param)); });

// Damage in a foreign file stops the run with a message when the block is read; nothing crashes.
// (Every check of BLKFIX, in both directions, is convert_test.cc's; these are the checks met
// through the pool, a group's among them, whose walk reads the blocks in front of it.)
struct Damage {
  const char* name;
  int32_t code;      // the block to damage: the first one with this type code
  int32_t word;      // the word to overwrite (an integer word)
  int32_t value;
  const char* message;
};
void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

class DamagedForeignFiles : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedForeignFiles, StopWithAMessageWhenTheBlockIsRead) {
  const Damage& d = GetParam();
  support::ScratchDatabase db(512, 20);
  Words native = support::read_native_xdb(NativeDatabases::get().path("custom"));
  const int32_t blocks = static_cast<int32_t>(native.size()) / kBlockWords;
  int32_t target = 0;
  for (int32_t b = 2; b <= blocks && target == 0; ++b) {
    if (native[static_cast<size_t>((b - 1) * kBlockWords)] == d.code) target = b;
  }
  ASSERT_NE(target, 0);
  Bytes foreign = support::ForeignWriter(native).file(support::kBigEndian64);
  // Overwrite the integer word in the foreign bytes.
  const size_t at = (static_cast<size_t>(target - 1) * kBlockWords + static_cast<size_t>(d.word - 1)) * 8;
  const auto v = static_cast<uint64_t>(static_cast<int64_t>(d.value));
  for (int k = 0; k < 8; ++k) foreign[at + static_cast<size_t>(k)] = static_cast<unsigned char>(v >> (8 * (7 - k)));
  put_bytes(db.path("damaged.xdb"), foreign);

  ASSERT_EQ(db.open(kUnit, 0, 0, "damaged.xdb"), 0);
  int32_t addr = 0;
  EXPECT_EQ(db.stops([&] { dbio::PAGFET(db.ctx, kUnit, target, addr); }), platform::kExitFatal);
  EXPECT_NE(db.messages.str().find(d.message), std::string::npos) << db.messages.str();
  EXPECT_EQ(db.output.str(), " FATAL ERROR DETECTED\n");
}

// Object numbers in the custom DDL: 1 GRPSTRM, 4 LIMITS, 5 RECORDS.
INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedForeignFiles,
    ::testing::Values(
        Damage{"record_length_negative", 10, 4, -3,
               "OBJECT RECORDS  ENTRY LENGTH AND DATA DEFINITION IS INCONSISTENT FOR HETEROGENOUS OPERATIONS."},
        Damage{"group_words_past_the_block", 104, 4, 400, "OBJECT GRPSTRM  ENTRY LENGTH"},
        Damage{"key_block_words_past_the_block", 4209, 4, 9999, "OBJECT LIMITS   ENTRY LENGTH"},
        Damage{"record_object_not_in_the_ddl", 10, 3, 77, "*** DIOMSG ERROR MESSAGE    19 FROM SUBROUTINE BLKFIX"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DamagedForeignDdl, AnElementListOutsideTheDdlStopsWithCode20) {
  support::ScratchDatabase db(512, 20);
  const Words native = support::read_native_xdb(NativeDatabases::get().path("custom"));
  // The DDL group's first block holds the DDL from word 17: version, second word, size, then
  // the directory; word 3 of RELALL's record (the sixth) is its list offset.
  const int32_t ddl_block = native[15];
  const size_t offset_word = static_cast<size_t>(ddl_block - 1) * kBlockWords + 16 + 3 + 5 * 5 + 2;
  int32_t target = 0;
  for (int32_t b = 2; target == 0; ++b) {
    if (native[static_cast<size_t>((b - 1) * kBlockWords)] == 603) target = b;
  }
  // The writer would refuse the damaged DDL: write the file from the sound one, then patch it.
  Bytes foreign = support::ForeignWriter(native).file(support::kBigEndian32);
  const uint32_t v = 99999;
  for (size_t k = 0; k < 4; ++k) foreign[offset_word * 4 + k] = static_cast<unsigned char>(v >> (8 * (3 - k)));
  put_bytes(db.path("damaged.xdb"), foreign);

  ASSERT_EQ(db.open(kUnit, 0, 0, "damaged.xdb"), 0);
  int32_t addr = 0;
  EXPECT_EQ(db.stops([&] { dbio::PAGFET(db.ctx, kUnit, target, addr); }), platform::kExitFatal);
  EXPECT_NE(db.messages.str().find(" *** DIOMSG ERROR MESSAGE    20 FROM SUBROUTINE BLKFIX  \n"
                                   "     LOGICAL DATA BASE   6 FOR OBJECT RELALL   DDL LENGTH LESS THAN ENTRY LENGTH.\n"
                                   "     DDL LENGTH =     0, ENTRY LENGTH =    10\n"),
            std::string::npos)
      << db.messages.str();
}

}  // namespace
