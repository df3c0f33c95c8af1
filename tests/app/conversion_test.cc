// End to end: generated neutral files converted by the converter, then read back from the XDB
// word for word against the generator's model and checked by the verification tool; the
// complete listing of a run with warnings; a group whose reader chunks split a double. (Damaged
// and cut neutral files are damaged_input_test.cc's.)

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "testkit/block_generator.h"
#include "testkit/end_to_end.h"
#include "testkit/neutral_writer.h"
#include "testkit/scratch_database.h"
#include "testkit/test_directory.h"
#include "xdb/readers.h"

namespace {

class Conversion : public ::testing::Test {
 protected:
  std::string path(const std::string& name) const { return dir_.path(name); }

  // Converts the neutral file; every XDB the run leaves must be one the checker finds sound.
  int convert(const std::string& neutral, const std::string& xdb, std::vector<std::string> extra = {"v=n"}) {
    std::vector<std::string> args{neutral, "output=" + xdb};
    args.insert(args.end(), extra.begin(), extra.end());
    const support::ConverterRun run = support::run_converter(args, dir_.path());
    out = run.messages;
    EXPECT_EQ(run.unsound(), "");
    return run.status;
  }
  int check(const std::string& xdb, std::string* listing = nullptr) {
    const support::CheckedXdb checked = support::check_file(xdb, listing);
    check_out = checked.report;
    return checked.status;
  }

  std::string out, check_out;
  support::TestDirectory dir_{"conversion"};
};

struct GeneratedCase {
  const char* name;
  int32_t block_size;
  int flag;
  bool ddl;
  int blocks;
};

void PrintTo(const GeneratedCase& c, std::ostream* os) { *os << c.name; }

class Generated : public Conversion, public ::testing::WithParamInterface<GeneratedCase> {};

TEST_P(Generated, EveryBlockComesBackWordForWord) {
  const auto& c = GetParam();
  support::DatabaseOptions options;
  options.generator.seed = 17 + c.block_size;
  options.generator.block_words = support::block_words_of(c.block_size);
  options.generator.ddl = c.ddl;
  options.block_size = c.block_size;
  options.flag = c.flag;
  options.max_blocks = c.blocks;
  {
    std::ofstream file(path("gen.ndb"), std::ios::binary);
    support::write_database(file, options);
  }
  ASSERT_EQ(convert(path("gen.ndb"), path("gen.xdb")), platform::kExitClean) << out;
  EXPECT_EQ(out, "");
  std::string listing;
  EXPECT_EQ(check(path("gen.xdb"), &listing), 0) << check_out;

  support::BlockGenerator generator(options.generator);
  const auto comparison = support::compare_with_model(path("gen.xdb"), generator, c.blocks, options.generator.block_words);
  for (const auto& difference : comparison.differences) ADD_FAILURE() << difference;
}

INSTANTIATE_TEST_SUITE_P(BlockSizes, Generated,
                         ::testing::Values(GeneratedCase{"default_no_ddl_room", 0, 0, true, 40},
                                           GeneratedCase{"small_blocks", 300, 0, true, 60},
                                           GeneratedCase{"without_ddl", 1024, 0, false, 60},
                                           GeneratedCase{"with_ddl_flag", 1024, 1, true, 60},
                                           GeneratedCase{"large_blocks", 4096, 0, true, 40},
                                           GeneratedCase{"extended_entries", -2048, 0, true, 40}),
                         [](const auto& info) { return std::string(info.param.name); });

using support::key;

TEST_F(Conversion, ListingWarningsAndTheirExitStatus) {
  std::ofstream file(path("mixed.ndb"), std::ios::binary);
  support::NeutralWriter w(file);
  w.header(1024, 0);
  using support::Item;
  std::vector<Item> two_entries{Item::integer(2), Item::real(1.5f), Item::integer(1), Item::real(2.5f)};
  w.group(key("GROUP", 1), 0, std::vector<Item>{Item::integer(7), Item::chars("ABCD"), Item::dbl(0.25)});
  w.relation(key("REL", 2), 2, two_entries);
  // A relation whose key type 7 cannot be opened: its body is skipped.
  w.relation(key("BADKEY", 3), 70002, two_entries);
  // A record that ends after 2 of its 3 words.
  w.block_header(key("SHORT", 4), 100003);
  w.integer(1);
  w.integer(2);
  w.end_mark();
  // A relation whose last entry is cut short.
  w.block_header(key("CUT", 5), 2);
  w.integer(9);
  w.integer(9);
  w.integer(8);
  w.end_mark();
  w.data_end();
  w.finish();
  file.close();

  EXPECT_EQ(convert(path("mixed.ndb"), path("mixed.xdb"), {"v=y"}), platform::kExitWarnings);
  const std::string warning = "\n *** SYSTEM WARNING MESSAGE (LXDB)\n     ";
  EXPECT_EQ(out, " LOADXDB - V2012.2 (06-Jul-2012)\n"
                 " NEUTRAL FILE:   " + path("mixed.ndb") + "\n"
                 " XDB FILE:       " + path("mixed.xdb") + "\n"
                 "\n DATA BLOCK   PROJECT     SE ID      PATH   SUBCASE    SET ID  APPROACH    DESIGN    P-ITER\n"
                 "   GROUP            1         0         0         0         0         0         0         0\n"
                 "   REL              2         0         0         0         0         0         0         0\n"
                 "   BADKEY           3         0         0         0         0         0         0         0\n" +
                 warning + "OPEN FAILURE FOR DATABLOCK BADKEY   RETURN CODE =   3\n"
                 "   SHORT            4         0         0         0         0         0         0         0\n" +
                 warning + "RECORD OF DATABLOCK SHORT    ENDED AFTER 2 OF 3 WORDS; IT WAS NOT WRITTEN\n"
                 "   CUT              5         0         0         0         0         0         0         0\n" +
                 warning + "LAST ENTRY OF DATABLOCK CUT      ENDED AFTER 1 OF 2 WORDS; IT WAS DROPPED\n");
  EXPECT_EQ(check(path("mixed.xdb")), 0) << check_out;
}

TEST_F(Conversion, GroupChunksKeepDoublesThatStraddleTheirEnd) {
  // 65534 integers and then doubles: the first double fills words 65535 and 65536 of the first
  // chunk, which must reach the group whole.
  std::vector<support::Item> body;
  for (int i = 0; i < 65534; ++i) body.push_back(support::Item::integer(i));
  for (int i = 0; i < 5; ++i) body.push_back(support::Item::dbl(0.5 + i));
  std::ofstream file(path("straddle.ndb"), std::ios::binary);
  support::NeutralWriter w(file);
  w.header(1024, 0);
  w.group(key("BIG"), 0, body);
  w.data_end();
  w.finish();
  file.close();
  ASSERT_EQ(convert(path("straddle.ndb"), path("straddle.xdb")), platform::kExitClean) << out;
  support::ScratchDatabase db;
  int32_t ierr = -1;
  xdb::DBOPEN(db.ctx, 1, 0, 0, ierr, path("straddle.xdb"));
  ASSERT_EQ(ierr, 0);
  int32_t kind = 0;
  auto k = key("BIG").words();
  auto content = xdb::read_data_block(db.ctx, 1, k.data(), kind);
  EXPECT_TRUE(content.words == support::words_of(body));
}

}  // namespace
