// Throughput of the neutral reader: decodes a neutral file record by record (chunks of at most
// 65535 words, as the conversion loop reads a group) and reports megabytes of neutral text per
// second.
//
//   reader_bench FILE            decode an existing neutral file
//   reader_bench --size MB       generate a file of about MB megabytes first (removed afterwards)
//
// The decoding pass is run three times; the best time is reported.

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "neutral/items.h"
#include "neutral/stream.h"
#include "platform/stop.h"
#include "testkit/block_generator.h"
#include "testkit/neutral_writer.h"

namespace {

std::string generate(int64_t megabytes) {
  std::string path = (std::filesystem::temp_directory_path() / "reader_bench.ndb").string();
  std::ofstream out(path, std::ios::binary);
  support::NeutralWriter writer(out, support::WriterOptions{});
  support::GeneratorOptions options;
  options.seed = 7;
  support::BlockGenerator generator(options);
  writer.header(1024, 0);
  const int64_t target = megabytes << 20;
  while (out.tellp() < target) writer.block(generator.next());
  writer.data_end();
  writer.finish();
  return path;
}

// Decodes the whole file; returns the number of items read.
int64_t decode(const std::string& path) {
  platform::TextInput input;
  if (input.open_existing(path) != 0) {
    std::cerr << "cannot open " << path << "\n";
    std::exit(1);
  }
  std::ostringstream messages;
  platform::Units units;
  units.message = &messages;
  neutral::Stream stream(input, units);
  int32_t B, F;
  stream.CVTSTR(0, B, F);
  std::vector<int32_t> buffer(65536);
  int64_t items = 0;
  try {
    for (;;) {
      int32_t nmax = 65535, nread = 0;
      neutral::CVTREC(stream, 0, nmax, nread, buffer);
      items += nread;
    }
  } catch (const platform::RunStop&) {
    // the end of the data: the reader needs one more line than there is
  }
  return items;
}

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  bool generated = false;
  if (argc == 3 && std::string(argv[1]) == "--size") {
    path = generate(std::stoll(argv[2]));
    generated = true;
  } else if (argc == 2) {
    path = argv[1];
  } else {
    std::cerr << "usage: reader_bench FILE | reader_bench --size MB\n";
    return 2;
  }
  const double bytes = static_cast<double>(std::filesystem::file_size(path));
  double best = 1e30;
  int64_t items = 0;
  for (int run = 0; run < 3; ++run) {
    auto start = std::chrono::steady_clock::now();
    items = decode(path);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (seconds < best) best = seconds;
  }
  std::printf("%.1f MB of neutral text, %lld items: %.3f s, %.1f MB/s, %.1f million items/s\n", bytes / 1e6,
              static_cast<long long>(items), best, bytes / 1e6 / best, items / 1e6 / best);
  if (generated) std::filesystem::remove(path);
  return 0;
}
