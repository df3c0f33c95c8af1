// fuzz_seeds: writes the seed corpora of the fuzz targets into a directory.
//
//   fuzz_seeds DIR
//
// makes DIR/neutral_reader, DIR/conversion and DIR/xdb_image. The neutral seeds are small files
// of our own generator (every block class, with and without the DDL, several block sizes, CR LF
// line ends) and a few written item by item: an empty database, one block of each kind, a
// damaged header line. The XDB seeds are the databases that the converter makes of the neutral
// seeds with 300-word blocks, so that they stay small enough for the fuzzer to change, and the
// same databases in the word layouts of other platforms.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/loadxdb.h"
#include "platform/textinput.h"
#include "platform/units.h"
#include "testkit/block_generator.h"
#include "testkit/foreign_writer.h"
#include "testkit/neutral_writer.h"

namespace {

namespace fs = std::filesystem;
using support::Item;

struct Seed {
  std::string name;
  std::string text;
  bool make_xdb = false;  // also convert it into an XDB seed
  bool foreign = false;   // and write that XDB in the other platforms' layouts
};

// A generated file of `blocks` blocks. Relations can be long: the first of the generator's seeds
// from `seed` on (in steps of 1000) whose file stays within kSeedBytes is taken, so that the
// fuzzer can work on it.
constexpr std::size_t kSeedBytes = 32768;

std::string generated(uint64_t seed, int32_t block_size, int blocks, bool ddl, support::BlockMix mix, bool crlf = false) {
  std::string smallest;
  for (int attempt = 0; attempt < 50; ++attempt, seed += 1000) {
    support::DatabaseOptions options;
    options.generator.seed = seed;
    options.generator.block_words = support::block_words_of(block_size);
    options.generator.ddl = ddl;
    options.generator.large_groups = false;
    options.generator.mix = mix;
    options.block_size = block_size;
    options.writer.crlf = crlf;
    options.max_blocks = blocks;
    std::ostringstream out;
    support::write_database(out, options);
    if (smallest.empty() || out.str().size() < smallest.size()) smallest = out.str();
    if (smallest.size() <= kSeedBytes) break;
  }
  return smallest;
}

std::string written(int32_t block_size, const std::function<void(support::NeutralWriter&)>& body) {
  std::ostringstream out;
  support::NeutralWriter w(out);
  w.header(block_size, 0);
  body(w);
  w.finish();
  return out.str();
}

support::Key key(const char* name, int32_t q1 = 0) {
  support::Key k;
  k.name = name;
  k.name.resize(8, ' ');
  k.qualifiers[0] = q1;
  k.qualifiers[9] = -q1;
  return k;
}

std::vector<Seed> neutral_seeds() {
  const support::BlockMix groups{1, 0, 0, 0}, relations{0, 1, 0, 0}, records{0, 0, 1, 0}, keyed{0, 0, 0, 1}, all{};
  std::vector<Seed> seeds = {
      {"generated-groups", generated(1, 300, 4, false, groups), true},
      {"generated-relations", generated(2, 300, 4, true, relations), true},
      {"generated-records", generated(3, 300, 6, true, records), true, true},
      {"generated-keyed", generated(4, 300, 3, true, keyed), true},
      {"generated-mixed", generated(5, 300, 6, true, all), true, true},
      {"generated-extended", generated(6, -300, 5, true, all), true},
      {"generated-default-size", generated(7, 0, 4, true, all)},
      {"generated-crlf", generated(8, 1024, 3, false, all, true)},
  };
  const std::vector<Item> items{Item::logical(true), Item::integer(-123456), Item::real(2.5f), Item::dbl(-1.5e-30),
                                Item::dblx(3.25), Item::chars("AB C"), Item::real_all_ones(), Item::dbl_all_ones()};
  seeds.push_back({"empty-database", written(300, [](auto& w) { w.data_end(); }), true});
  seeds.push_back({"one-block-of-each-kind", written(300, [&](auto& w) {
                     w.group(key("GROUP", 1), -5, items);
                     w.relation(key("REL", 2), 2, std::vector<Item>{Item::integer(5), Item::real(1.0f),
                                                                     Item::integer(-7), Item::real(2.0f)});
                     w.single_record(key("RECORD", 3), 100003, std::vector<Item>{Item::integer(1), Item::integer(2),
                                                                                  Item::chars("XYZ ")});
                     w.relation(key("KEYED", 4), 20003, std::vector<Item>{Item::integer(1), Item::integer(2),
                                                                           Item::integer(3), Item::integer(1),
                                                                           Item::integer(1), Item::integer(9)});
                     w.data_end();
                   }), true});
  seeds.push_back({"cut-short-entries", written(300, [&](auto& w) {
                     w.block_header(key("CUT", 1), 3);
                     w.integer(1);
                     w.end_mark();
                     w.block_header(key("SHORT", 2), 100004);
                     w.integer(1);
                     w.end_mark();
                     w.block_header(key("HEAD"), 0);
                     w.end_mark(63);
                   })});
  seeds.push_back({"damaged-header-line", "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 $'()*+,-./=\"#%&;:<>?@![]^_|      12x4   \n =\n"});
  return seeds;
}

bool save(const fs::path& path, const std::string& bytes) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << bytes;
  file.close();
  return static_cast<bool>(file);
}

// Converts the neutral text into DIR/xdb_image/NAME.xdb; false when the converter stops on it.
bool convert(const std::string& text, const fs::path& xdb) {
  std::ostringstream messages, output;
  platform::Units units;
  units.message = &messages;
  units.output = &output;
  platform::TextInput input;
  input.attach_memory(text);
  fs::remove(xdb);
  const int status = app::run_loadxdb(app::CommandLine({"loadxdb", "-", "output=" + xdb.string()}), units, input);
  if (status != 0) std::cerr << "fuzz_seeds: " << xdb.string() << ": converter status " << status << "\n" << messages.str();
  return status != 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: fuzz_seeds DIR\n";
    return 2;
  }
  const fs::path dir = argv[1];
  for (const char* target : {"neutral_reader", "conversion", "xdb_image"}) fs::create_directories(dir / target);
  int written = 0;
  for (const auto& seed : neutral_seeds()) {
    const fs::path xdb = dir / "xdb_image" / (seed.name + ".xdb");
    bool ok = save(dir / "neutral_reader" / seed.name, seed.text) && save(dir / "conversion" / seed.name, seed.text);
    if (ok && seed.make_xdb) ok = convert(seed.text, xdb);
    if (!ok) {
      std::cerr << "fuzz_seeds: cannot make the seed " << seed.name << "\n";
      return 1;
    }
    written += seed.make_xdb ? 3 : 2;
    for (int32_t layout : {support::kBigEndian32, support::kBigEndian64, support::kLittleEndian64}) {
      if (!seed.foreign) break;
      const fs::path foreign = dir / "xdb_image" / (seed.name + ".layout" + std::to_string(layout) + ".xdb");
      try {
        support::write_foreign_xdb(xdb.string(), foreign.string(), layout);
        ++written;
      } catch (const std::exception& e) {
        std::cerr << "fuzz_seeds: " << foreign.string() << " not written: " << e.what() << "\n";
      }
    }
  }
  std::cout << "fuzz_seeds: " << written << " seeds in " << dir.string() << "\n";
  return 0;
}
