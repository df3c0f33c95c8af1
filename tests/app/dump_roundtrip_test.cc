// The round trip through both programs, on databases drawn by our generator: a neutral file N is
// converted (X1), dumped (D1), the dump converted again (X2) and dumped again (D2). For every seed
//   - the dump completes cleanly and the checker finds X2 sound;
//   - X2 lists the same data blocks as X1 (the checker's listing: key, kind, entry length, count)
//     and holds exactly what the generator's model says X1 holds;
//   - D2 is D1 byte for byte: the dump of a database does not depend on how its blocks came to be
//     laid out, so it is the database's one neutral form;
//   - a database with a DDL is also written in the three foreign word layouts, and each of those
//     files dumps to D1 as well.
//
// Block sizes 0, 300, 1024 and 4096 and negative ones (extended entries), with and without DDL,
// every key order, groups, single records and relations of both kinds in every seed.
// LOADXDB_DUMP_SEEDS (default 64) and LOADXDB_DUMP_FIRST_SEED (default 1) choose the seeds.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "testkit/block_generator.h"
#include "testkit/end_to_end.h"
#include "testkit/foreign_writer.h"
#include "testkit/test_directory.h"

namespace {

namespace fs = std::filesystem;
using support::KeyOrder;

constexpr int kShards = 4;
constexpr int kStopAfterFailures = 3;
constexpr int32_t kBlockSizes[] = {0, 300, 1024, 4096, -300, -1024, 777, 2048};
constexpr KeyOrder kOrders[] = {KeyOrder::kAscending, KeyOrder::kDescending, KeyOrder::kRandom,
                                KeyOrder::kClustered, KeyOrder::kDuplicates, KeyOrder::kScattered,
                                KeyOrder::kSplit};
constexpr int32_t kForeignLayouts[] = {support::kBigEndian32, support::kBigEndian64, support::kLittleEndian64};

int64_t environment(const char* name, int64_t fallback) {
  const char* value = std::getenv(name);
  return value && *value ? std::atoll(value) : fallback;
}

support::DatabaseOptions plan(uint64_t seed) {
  constexpr auto sizes = std::size(kBlockSizes);
  support::DatabaseOptions o;
  o.block_size = kBlockSizes[seed % sizes];
  o.generator.seed = seed;
  o.generator.block_words = support::block_words_of(o.block_size);
  // Every other pass over the block sizes goes without DDL.
  o.generator.ddl = (seed / sizes) % 2 == 0;
  o.generator.large_groups = seed % 3 == 0;
  o.generator.mix = support::BlockMix{2, 2, 2, 2};
  o.generator.relations.orders = {kOrders[(seed / 2) % std::size(kOrders)]};
  const int64_t b = o.generator.block_words;
  o.generator.relations.max_words = std::min<int64_t>(2 * b * b / 3, 150000);
  o.generator.relations.min_words = o.generator.relations.max_words / 20;
  o.flag = static_cast<int>(seed % 2);
  o.max_blocks = 10 + (o.generator.ddl ? 1 : 0);
  return o;
}

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class DumpRoundTrip : public ::testing::TestWithParam<int> {
 protected:
  // Runs one seed; returns "" or what went wrong.
  std::string seed_run(uint64_t seed) {
    const support::DatabaseOptions options = plan(seed);
    for (const auto& entry : fs::directory_iterator(dir_.path())) fs::remove_all(entry.path());
    const std::string n = dir_.path("n.ndb"), x1 = dir_.path("x1.xdb"), d1 = dir_.path("d1.ndb"),
                      x2 = dir_.path("x2.xdb"), d2 = dir_.path("d2.ndb");
    {
      std::ofstream file(n, std::ios::binary);
      support::write_database(file, options);
    }
    const auto first = support::run_converter({n, "output=" + x1, "verbose=no"}, dir_.path());
    if (first.status != 0 || !first.unsound().empty()) return "the first conversion failed:\n" + first.messages + first.unsound();

    const auto dump1 = support::run_dumper({x1, "output=" + d1, "verbose=no"});
    if (dump1.status != 0 || !dump1.messages.empty()) {
      return "dumping X1 gave exit status " + std::to_string(dump1.status) + ":\n" + dump1.messages;
    }
    const auto second = support::run_converter({d1, "output=" + x2, "verbose=no"}, dir_.path());
    if (second.status != 0 || !second.messages.empty() || !second.unsound().empty()) {
      return "converting the dump gave exit status " + std::to_string(second.status) + ":\n" + second.messages +
             second.unsound();
    }
    std::string list1, list2;
    support::check_file(x1, &list1);
    support::check_file(x2, &list2);
    if (list1 != list2) return "the listings of X1 and X2 differ:\n" + list1 + "----\n" + list2;
    support::BlockGenerator generator(options.generator);
    const auto comparison = support::compare_with_model(x2, generator, options.max_blocks, options.generator.block_words);
    if (!comparison.differences.empty()) return "X2 differs from the model: " + comparison.differences.front();

    blocks_ += options.max_blocks;
    const auto dump2 = support::run_dumper({x2, "output=" + d2, "verbose=no"});
    if (dump2.status != 0) return "dumping X2 failed:\n" + dump2.messages;
    const std::string text1 = file_text(d1);
    if (text1 != file_text(d2)) return "the dump of X2 differs from the dump of X1";

    // A foreign file must carry a DDL; with B = 0 the converter stores none.
    if (options.generator.ddl && options.block_size != 0) {
      const support::ForeignWriter twin(support::read_native_xdb(x1));
      for (const int32_t layout : kForeignLayouts) {
        const std::string foreign = dir_.path("f" + std::to_string(layout) + ".xdb");
        const std::string dumped = dir_.path("f" + std::to_string(layout) + ".ndb");
        const auto bytes = twin.file(layout);
        std::ofstream(foreign, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                       static_cast<std::streamsize>(bytes.size()));
        const auto dump = support::run_dumper({foreign, "output=" + dumped, "verbose=no"});
        if (dump.status != 0) return "dumping layout " + std::to_string(layout) + " failed:\n" + dump.messages;
        if (file_text(dumped) != text1) return "the dump of layout " + std::to_string(layout) + " differs";
        ++foreign_;
      }
    }
    return "";
  }

  std::string keep(uint64_t seed) const {
    const fs::path kept = fs::path(LOADXDB_BINARY_DIR) / "dump-failures";
    std::error_code ec;
    fs::create_directories(kept, ec);
    const fs::path copy = kept / ("seed-" + std::to_string(seed) + ".ndb");
    fs::copy_file(dir_.path("n.ndb"), copy, fs::copy_options::overwrite_existing, ec);
    return "seed " + std::to_string(seed) + " (neutral file kept as " + copy.string() +
           "); repeat with LOADXDB_DUMP_FIRST_SEED=" + std::to_string(seed) +
           " LOADXDB_DUMP_SEEDS=1 tests/app/app_tests --gtest_filter='Seeds/DumpRoundTrip.*'";
  }

  support::TestDirectory dir_{"dump_roundtrip"};
  int64_t blocks_ = 0;   // data blocks of the seeds that went round, the DDL included
  int64_t foreign_ = 0;  // foreign-layout files whose dump was compared
};

TEST_P(DumpRoundTrip, DumpedDatabasesLoadToTheSameBlocksAndDumpTheSame) {
  const int64_t seeds = environment("LOADXDB_DUMP_SEEDS", 64);
  const auto first = static_cast<uint64_t>(environment("LOADXDB_DUMP_FIRST_SEED", 1));
  int failures = 0;
  int64_t ran = 0;
  for (int64_t i = GetParam(); i < seeds && failures < kStopAfterFailures; i += kShards) {
    const uint64_t seed = first + static_cast<uint64_t>(i);
    ++ran;
    if (const std::string fault = seed_run(seed); !fault.empty()) {
      ADD_FAILURE() << keep(seed) << "\n" << fault;
      ++failures;
    }
  }
  std::cout << "[ seeds    ] " << ran << " run, " << blocks_ << " data blocks round and back, " << foreign_
            << " foreign-layout files dumped the same\n";
}

INSTANTIATE_TEST_SUITE_P(Seeds, DumpRoundTrip, ::testing::Range(0, kShards),
                         [](const auto& info) { return "shard" + std::to_string(info.param); });

}  // namespace
