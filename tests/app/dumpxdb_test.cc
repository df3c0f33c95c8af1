// The dumper as its users meet it: which kind code and items it writes for what a database holds,
// what it does with damage, and its command line. The round trip over generated databases is
// dump_roundtrip_test.cc.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "testkit/block_generator.h"
#include "testkit/end_to_end.h"
#include "testkit/neutral_writer.h"
#include "testkit/test_directory.h"
#include "testkit/xdb_image.h"

namespace {

namespace fs = std::filesystem;
using support::Item;
using support::Key;

Key key(const std::string& name, int32_t q1 = 0) {
  Key k;
  k.name = name;
  k.name.resize(8, ' ');
  k.qualifiers[0] = q1;
  return k;
}

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A neutral file read back item by item, apart from the product's reader: the type code of each
// item and, for integers, the value.
struct Token {
  int code;
  int64_t value;  // integers (codes 2, 3, 10)
};
struct NeutralBlock {
  std::vector<Token> header;  // 13 items
  std::vector<Token> body;
  std::vector<int> codes() const {
    std::vector<int> c;
    for (const Token& t : body) c.push_back(t.code);
    return c;
  }
  int64_t kind_code() const { return header.at(12).value; }
};
struct NeutralText {
  int32_t block_size = 0;
  int flag = 0;
  std::vector<NeutralBlock> blocks;
  bool ended = false;  // an end mark where a header was expected
};

NeutralText parse(const std::string& text) {
  NeutralText out;
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  const std::string alphabet = line.substr(0, 64);
  out.block_size = std::stoi(line.substr(64, 15));
  out.flag = line[79] - '0';
  std::vector<int> v;
  while (std::getline(in, line)) {
    EXPECT_EQ(line.size(), 80u) << "a line of " << line.size() << " columns";
    for (std::size_t c = 1; c < line.size(); ++c) v.push_back(static_cast<int>(alphabet.find(line[c])));
  }
  std::size_t at = 0;
  auto next = [&](Token& t) {
    t.code = v.at(at);
    t.value = 0;
    int length = 1;
    if (t.code == 3) {
      const int h = v.at(at + 1);
      length = 2 + h % 16;
      for (int i = 0; i < h % 16; ++i) t.value = t.value * 32 + v.at(at + 2 + static_cast<std::size_t>(i));
      if (h >= 16) t.value = -t.value;
    } else if (t.code == 10) {
      t.value = -1;
    } else if (t.code == 5) {
      length = 10;
    } else if (t.code == 7 || t.code == 14) {
      length = 17;
    } else if (t.code == 9) {
      length = 5;
    }
    at += static_cast<std::size_t>(length);
  };
  for (;;) {
    NeutralBlock block;
    Token t;
    next(t);
    if (t.code >= 15) {
      out.ended = true;
      return out;
    }
    block.header.push_back(t);
    while (block.header.size() < 13) {
      next(t);
      block.header.push_back(t);
    }
    for (next(t); t.code < 15; next(t)) block.body.push_back(t);
    out.blocks.push_back(block);
  }
}

class Dumping : public ::testing::Test {
 protected:
  // Converts the neutral file and returns the XDB's path.
  std::string convert(const std::string& neutral, int expected_status = 0) {
    const std::string xdb = dir_.path("db.xdb");
    const auto run = support::run_converter({neutral, "output=" + xdb, "verbose=no"}, dir_.path());
    EXPECT_EQ(run.status, expected_status) << run.messages;
    EXPECT_EQ(run.unsound(), "");
    return xdb;
  }
  std::string listing(const std::string& xdb) {
    std::string list;
    const auto checked = support::check_file(xdb, &list);
    EXPECT_EQ(checked.status, 0) << checked.report;
    return list;
  }
  std::vector<std::string> leftovers() const {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir_.path())) {
      if (e.path().extension() == ".part") names.push_back(e.path().filename().string());
    }
    return names;
  }

  support::TestDirectory dir_{"dumping"};
};

// Every kind of data block comes back with the kind code that makes it again; the header line
// gives the block size (negative: extended entries) and the flag of the large block limit.
TEST_F(Dumping, EachKindGetsTheCodeThatMakesItAgain) {
  const std::string neutral = dir_.path("kinds.ndb");
  {
    std::ofstream out(neutral, std::ios::binary);
    support::NeutralWriter w(out);
    w.header(-300, 1);
    w.group(key("GROUP"), 0, std::vector<Item>{Item::integer(1), Item::integer(2)});
    w.group(key("EMPTY"), -5, std::vector<Item>{});
    std::vector<Item> entries;
    for (int32_t k : {30, 10, 20}) {
      entries.push_back(Item::integer(k));
      for (int i = 1; i < 24; ++i) entries.push_back(Item::integer(k + i));
    }
    w.relation(key("R24"), 24, entries);
    w.relation(key("K1"), 10024, entries);
    w.relation(key("K3"), 30024, entries);
    w.relation(key("K3ROT"), 130024, entries);
    w.relation(key("K1ROT"), 110024, entries);
    w.single_record(key("REC"), 100003, std::vector<Item>{Item::integer(7), Item::integer(8), Item::integer(9)});
    w.single_record(key("REC20"), 200002, std::vector<Item>{Item::integer(5), Item::integer(6)});
    // A record whose body ends early: the block exists without its record.
    w.block_header(key("NOREC"), 100010);
    w.integer(1);
    w.end_mark();
    w.data_end();
    w.finish();
  }
  const std::string xdb = convert(neutral, 2);
  const auto run = support::run_dumper({xdb, "output=" + dir_.path("d.ndb"), "verbose=no"});
  ASSERT_EQ(run.status, 0) << run.messages;
  const NeutralText dump = parse(file_text(dir_.path("d.ndb")));
  EXPECT_EQ(dump.block_size, -300);
  EXPECT_EQ(dump.flag, 1);
  EXPECT_TRUE(dump.ended);
  std::vector<int64_t> codes;
  for (const auto& b : dump.blocks) codes.push_back(b.kind_code());
  // q = 20 is a single record as q = 10 is; the dump says it the one way.
  EXPECT_EQ(codes, (std::vector<int64_t>{0, 0, 24, 10024, 30024, 130024, 110024, 100003, 100002, 100010}));
  // Relations keyed by word 1 in key order; the others as they arrived (one data block: in key
  // order too); the record that was never written has no words.
  for (int i : {2, 3, 4}) {
    ASSERT_EQ(dump.blocks[static_cast<std::size_t>(i)].body.size(), 72u);
    EXPECT_EQ(dump.blocks[static_cast<std::size_t>(i)].body[0].value, 10);
    EXPECT_EQ(dump.blocks[static_cast<std::size_t>(i)].body[24].value, 20);
  }
  EXPECT_TRUE(dump.blocks[9].body.empty());

  // Loaded again, it lists the same blocks.
  const std::string again = dir_.path("again.xdb");
  const auto reload = support::run_converter({dir_.path("d.ndb"), "output=" + again, "verbose=no"}, dir_.path());
  EXPECT_EQ(reload.status, 2) << reload.messages;  // the record that ends early, as before
  EXPECT_EQ(listing(again), listing(xdb));
}

// The words of a described entry come as the items of their element types, in the shortest
// form; a word that its type's item cannot carry exactly is an integer, and so is every word of a
// block whose name the DDL does not know.
TEST_F(Dumping, WordsAreItemsOfTheirElementTypesWhenThatIsExact) {
  const std::string neutral = dir_.path("typed.ndb");
  {
    std::ofstream out(neutral, std::ios::binary);
    support::NeutralWriter w(out);
    w.header(300);
    // One object: I L R D A X, 8 words.
    const auto packed = support::pack_ddl_name("TYPED   ");
    const std::vector<support::DdlObject> directory = {{packed[0], packed[1], 3 + 5, 8, 1}};
    w.ddl_block(key("DDLFORDB"), 20120, 11, directory, std::vector<int32_t>{102, 101, 103, 104, 105, 107});
    auto bits = [](uint32_t b) { return Item::integer(static_cast<int32_t>(b)); };
    const std::vector<Item> entries = {
        Item::integer(1), Item::logical(true), Item::real(1.5f), Item::dbl(2.25), Item::chars("ABCD"), Item::dblx(0.5),
        Item::integer(2), Item::logical(false), Item::real(0.0f), Item::dbl(0.0), Item::chars("    "), Item::dblx(0.0),
        Item::integer(3), Item::integer(5), Item::real_all_ones(), Item::dbl_all_ones(), bits(0x64636261),
        bits(0xFFFFFFFF), bits(0xFFFFFFFF),
        // -0.0 real, a NaN double (low word 1), "AB|C", an X of -0.0
        Item::integer(4), Item::logical(true), bits(0x80000000), bits(1), bits(0x7FF00000), Item::chars("AB|C"),
        bits(0), bits(0x80000000)};
    w.relation(key("TYPED"), 8, entries);
    // The same object for a group: its data are entries back to back, the last one cut short.
    std::vector<Item> group(entries.begin(), entries.begin() + 12);
    group.insert(group.end(), {Item::integer(9), Item::logical(false), Item::real(3.0f), bits(7)});
    w.group(key("TYPED", 2), 0, group);
    w.relation(key("PLAIN"), 2, std::vector<Item>{Item::integer(1), Item::real(1.5f)});
    w.data_end();
    w.finish();
  }
  const std::string xdb = convert(neutral);
  const auto run = support::run_dumper({xdb, "output=-"});
  ASSERT_EQ(run.status, 0) << run.messages;
  EXPECT_EQ(run.messages, "");  // verbose is off when the dump goes to standard output
  const NeutralText dump = parse(run.output);
  ASSERT_EQ(dump.blocks.size(), 4u);
  EXPECT_EQ(dump.block_size, 300);
  EXPECT_EQ(dump.flag, 0);
  // The DDL first, all integers: V, S2, Z, the directory and the element list.
  EXPECT_EQ(dump.blocks[0].header[12].value, 0);
  EXPECT_EQ(dump.blocks[0].body.size(), 3u + 5u + 6u);
  EXPECT_EQ(dump.blocks[0].body[2].value, 100006);
  EXPECT_EQ(dump.blocks[1].codes(), (std::vector<int>{3, 0, 5, 7, 9, 14,     //
                                                      3, 1, 4, 6, 8, 13,     //
                                                      3, 3, 11, 12, 3, 12,   //
                                                      3, 0, 3, 3, 3, 9, 2, 3}));
  // The group's cut entry: I L R and a lone first word of a D, which is an integer.
  EXPECT_EQ(dump.blocks[2].codes(), (std::vector<int>{3, 0, 5, 7, 9, 14, 3, 1, 4, 6, 8, 13, 3, 1, 5, 3}));
  EXPECT_EQ(dump.blocks[3].codes(), (std::vector<int>{3, 3}));

  // Every word comes back: the dump loads to the same database, and dumps the same.
  std::ofstream(dir_.path("d.ndb"), std::ios::binary) << run.output;
  const auto reload = support::run_converter({dir_.path("d.ndb"), "output=" + dir_.path("again.xdb"), "v=n"}, dir_.path());
  ASSERT_EQ(reload.status, 0) << reload.messages;
  EXPECT_EQ(support::run_dumper({dir_.path("again.xdb"), "output=-"}).output, run.output);
  EXPECT_EQ(listing(dir_.path("again.xdb")), listing(xdb));
}

support::DatabaseOptions small_database(bool ddl) {
  support::DatabaseOptions o;
  o.block_size = 300;
  o.generator.seed = 11;
  o.generator.block_words = 300;
  o.generator.ddl = ddl;
  o.generator.mix = support::BlockMix{3, 1, 1, 1};
  o.generator.relations.max_words = 3000;
  o.max_blocks = 12;
  return o;
}

// A data block that cannot be read is named, skipped, and the dump goes on: the dump loads to a
// database of every other block. Damage to the dictionary or the header stops the dump, and no
// output is left behind.
TEST_F(Dumping, DamageSkipsTheBlockOrStopsTheDump) {
  const std::string neutral = dir_.path("n.ndb");
  {
    std::ofstream out(neutral, std::ios::binary);
    support::write_database(out, small_database(true));
  }
  const std::string xdb = convert(neutral);
  const std::string sound_listing = listing(xdb);
  support::XdbImage image(xdb);
  const support::XdbMap map = support::map_xdb(image);
  const auto group = std::find_if(map.entries.begin(), map.entries.end(),
                                  [](const support::MappedEntry& e) { return e.kind() == 2 && e.name != "DDLFORDB"; });
  ASSERT_NE(group, map.entries.end());

  support::XdbImage broken = image;
  broken.at(group->chain.front(), 2) = image.blocks() + 5;  // the chain runs out of the file
  broken.save(dir_.path("chain.xdb"));
  const auto run = support::run_dumper({dir_.path("chain.xdb"), "output=" + dir_.path("chain.ndb"), "verbose=no"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.messages.find(" *** SYSTEM WARNING MESSAGE (DUMPXDB)\n     DATABLOCK " + group->name + " "), std::string::npos)
      << run.messages;
  EXPECT_NE(run.messages.find("lies outside the file"), std::string::npos) << run.messages;
  const auto reload = support::run_converter({dir_.path("chain.ndb"), "output=" + dir_.path("rest.xdb"), "v=n"}, dir_.path());
  EXPECT_EQ(reload.status, 0) << reload.messages;
  // Every line of the listing but the skipped group's.
  std::istringstream sound_lines(sound_listing), rest_lines(listing(dir_.path("rest.xdb")));
  std::vector<std::string> missing;
  std::string sound_line, rest_line;
  std::getline(rest_lines, rest_line);
  while (std::getline(sound_lines, sound_line)) {
    if (sound_line == rest_line) {
      std::getline(rest_lines, rest_line);
    } else {
      missing.push_back(sound_line);
    }
  }
  ASSERT_EQ(missing.size(), 1u);
  EXPECT_EQ(missing[0].rfind(group->name, 0), 0u) << missing[0];

  // The dictionary: a count that disagrees with its blocks.
  support::XdbImage counted = image;
  counted.header(7) += 1;
  counted.save(dir_.path("dictionary.xdb"));
  const auto stopped = support::run_dumper({dir_.path("dictionary.xdb"), "output=" + dir_.path("dictionary.ndb"), "v=n"});
  EXPECT_EQ(stopped.status, 1);
  EXPECT_NE(stopped.messages.find("THE DICTIONARY OF THE XDB FILE IS DAMAGED"), std::string::npos) << stopped.messages;
  EXPECT_FALSE(fs::exists(dir_.path("dictionary.ndb")));

  // The header: a block count that the file's size contradicts.
  support::XdbImage header = image;
  header.header(4) += 1;
  header.header(3) -= 1;
  header.save(dir_.path("header.xdb"));
  const auto refused = support::run_dumper({dir_.path("header.xdb"), "output=" + dir_.path("header.ndb"), "v=n"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.messages.find("ERROR OPENING XDB FILE"), std::string::npos) << refused.messages;
  EXPECT_FALSE(fs::exists(dir_.path("header.ndb")));
  EXPECT_TRUE(leftovers().empty());
}

// A DDL group whose size word the converter could not load (more than its room, or other than
// the words the group holds) would stop the whole conversion of the dump: it is left out, and
// said, and the dump converts.
TEST_F(Dumping, ADdlTheConverterCannotLoadIsLeftOut) {
  const std::string neutral = dir_.path("n.ndb");
  {
    std::ofstream out(neutral, std::ios::binary);
    support::write_database(out, small_database(true));
  }
  const support::XdbImage image(convert(neutral));
  const support::XdbMap map = support::map_xdb(image);
  const support::MappedEntry& ddl = map.entry("DDLFORDB");
  constexpr int kSizeWord = 19;  // behind the header (4 words), the key (12), V and S2
  const int32_t z = image.at(ddl.chain.front(), kSizeWord);
  for (const auto& [size, why] : {std::pair{58301, "DOES NOT FIT THE CONVERTER'S ROOM OF 2000 AND 5000"},
                                   std::pair{z + 1, "WORDS BEHIND ITS SIZE WORD, WHICH SAYS"}}) {
    support::XdbImage changed = image;
    changed.at(ddl.chain.front(), kSizeWord) = size;
    changed.save(dir_.path("ddl.xdb"));
    const auto run = support::run_dumper({dir_.path("ddl.xdb"), "output=-"});
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.messages.find("DATABLOCK DDLFORDB 0 0 0 0 0 0 0 0 0 0 SKIPPED: ITS DDL"), std::string::npos) << run.messages;
    EXPECT_NE(run.messages.find(why), std::string::npos) << run.messages;
    std::ofstream(dir_.path("ddl.ndb"), std::ios::binary) << run.output;
    fs::remove(dir_.path("again.xdb"));
    const auto reload = support::run_converter({dir_.path("ddl.ndb"), "output=" + dir_.path("again.xdb"), "v=n"}, dir_.path());
    EXPECT_EQ(reload.status, 0) << reload.messages;
  }
}

// A database without a DDL whose first block is named like the DDL: with a block size other
// than the default the converter would take that block for the DDL, so it is left out, and said.
TEST_F(Dumping, AFirstBlockNamedLikeTheDdlIsLeftOutWhenItWouldBeTakenForIt) {
  const std::string neutral = dir_.path("n.ndb");
  {
    std::ofstream out(neutral, std::ios::binary);
    support::write_database(out, small_database(true));
  }
  support::XdbImage image(convert(neutral));
  // No DDL: the group named DDLFORDB is a group like any other.
  for (int k : {14, 15, 16}) image.header(k) = 0;
  image.save(dir_.path("noddl.xdb"));
  const auto run = support::run_dumper({dir_.path("noddl.xdb"), "output=-"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.messages.find("DATABLOCK DDLFORDB 0 0 0 0 0 0 0 0 0 0 SKIPPED: THE CONVERTER WOULD TAKE IT FOR THE DDL"),
            std::string::npos)
      << run.messages;
  const NeutralText dump = parse(run.output);
  EXPECT_EQ(dump.block_size, 300);
  EXPECT_EQ(dump.blocks.size(), 11u);
}

// The converter stores a DDL whatever its version, and the dump gives it back first, as the DDL,
// also when the database layer does not use a DDL of that version to describe entries.
TEST_F(Dumping, ADdlOfAnyVersionComesBackAsTheDdl) {
  const std::string neutral = dir_.path("n.ndb");
  {
    std::ofstream out(neutral, std::ios::binary);
    support::NeutralWriter w(out);
    w.header(400);
    const auto packed = support::pack_ddl_name("GRP     ");
    const std::vector<support::DdlObject> directory = {{packed[0], packed[1], 3 + 5, 1, 1}};
    w.ddl_block(key("DDLFORDB"), 7, 11, directory, std::vector<int32_t>{103});
    w.group(key("GRP"), 0, std::vector<Item>{Item::real(1.5f), Item::real(2.5f)});
    w.data_end();
    w.finish();
  }
  const std::string xdb = convert(neutral);
  const auto run = support::run_dumper({xdb, "output=" + dir_.path("d.ndb"), "v=n"});
  ASSERT_EQ(run.status, 0) << run.messages;
  const NeutralText dump = parse(file_text(dir_.path("d.ndb")));
  EXPECT_EQ(dump.block_size, 400);
  ASSERT_EQ(dump.blocks.size(), 2u);
  EXPECT_EQ(dump.blocks[0].body.at(0).value, 7);
  EXPECT_EQ(dump.blocks[1].codes(), (std::vector<int>{3, 3}));  // a version-7 DDL describes nothing
  const auto reload = support::run_converter({dir_.path("d.ndb"), "output=" + dir_.path("again.xdb"), "v=n"}, dir_.path());
  ASSERT_EQ(reload.status, 0) << reload.messages;
  const support::XdbImage before(xdb), after(dir_.path("again.xdb"));
  for (int k : {14, 15, 16}) EXPECT_EQ(after.header(k), before.header(k)) << "header word " << k;
}

// The command line as loadxdb has it: keyword abbreviations, the default name in the current
// directory, "-", and an output that exists is never replaced.
TEST_F(Dumping, CommandLine) {
  const std::string neutral = dir_.path("n.ndb");
  {
    std::ofstream out(neutral, std::ios::binary);
    support::write_database(out, small_database(false));
  }
  const std::string xdb = convert(neutral);
  fs::create_directories(dir_.path("elsewhere"));
  fs::rename(xdb, dir_.path("elsewhere/base.xdb"));
  dir_.enter();

  // ".xdb" is added, and the dump lands in the current directory under the base name.
  const auto run = support::run_dumper({"elsewhere/base"});
  ASSERT_EQ(run.status, 0) << run.messages;
  EXPECT_EQ(run.messages.substr(0, run.messages.find('\n')), " DUMPXDB - V2012.2 (06-Jul-2012)");
  EXPECT_NE(run.messages.find(" XDB FILE:       elsewhere/base.xdb\n NEUTRAL FILE:   base.ndb\n"), std::string::npos)
      << run.messages;
  EXPECT_NE(run.messages.find("\n DATA BLOCK   PROJECT     SE ID      PATH   SUBCASE"), std::string::npos);
  ASSERT_TRUE(fs::exists("base.ndb"));
  const std::string first = file_text("base.ndb");
  EXPECT_EQ(first, support::run_dumper({"elsewhere/base.xdb", "o=-", "v=n"}).output);

  // An existing output stays as it is.
  const auto again = support::run_dumper({"elsewhere/base.xdb", "v=n"});
  EXPECT_EQ(again.status, 1);
  EXPECT_NE(again.messages.find("ERROR CREATING NEUTRAL FILE 'base.ndb'\n     NEUTRAL FILE ALREADY EXISTS."),
            std::string::npos)
      << again.messages;
  EXPECT_EQ(file_text("base.ndb"), first);

  // What is not an XDB, or not there.
  std::ofstream("text.xdb") << "not a database\n";
  const auto not_xdb = support::run_dumper({"text.xdb", "v=n"});
  EXPECT_EQ(not_xdb.status, 1);
  EXPECT_FALSE(fs::exists("text.ndb"));
  const auto missing = support::run_dumper({"nothing", "v=n"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.messages.find("ERROR OPENING XDB FILE 'nothing.xdb'\n     OLD XDB FILE DOES NOT EXIST."),
            std::string::npos)
      << missing.messages;

  // Parameters it does not know, a second input, no input.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"elsewhere/base.xdb", "debug=on"}, {"elsewhere/base.xdb", "verbose=maybe"}, {"elsewhere/base.xdb", "progress=maybe"},
           {"a.xdb", "b.xdb"}}) {
    const auto bad = support::run_dumper(args);
    EXPECT_EQ(bad.status, 1);
    EXPECT_NE(bad.messages.find(" *** USER FATAL MESSAGE (DUMPXDB)\n     INVALID COMMAND LINE PARAMETER: "),
              std::string::npos)
        << bad.messages;
  }
  const auto none = support::run_dumper({});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.messages.find("AN INPUT FILE IS REQUIRED."), std::string::npos);
  EXPECT_NE(none.messages.find("output=neutral-file"), std::string::npos);
  const auto help = support::run_dumper({"--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.messages.find("xdb-file"), std::string::npos);
  EXPECT_TRUE(leftovers().empty());
}

}  // namespace
