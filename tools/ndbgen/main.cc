// ndbgen: writes a neutral file of generated blocks (development tool).
//
// The file is fully determined by the options: the same options give the same
// bytes. See usage() for the options.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "testkit/block_generator.h"

namespace {

constexpr double kBytesPerMegabyte = 1024.0 * 1024.0;
constexpr double kDefaultMegabytes = 1.0;

void usage(std::ostream& out) {
  out << "usage: ndbgen [options] OUTPUT\n"
         "Writes a neutral file of generated blocks to OUTPUT (\"-\" for standard output).\n"
         "\n"
         "  --seed N          random seed (default 1)\n"
         "  --size MB         approximate size in megabytes, may be fractional; the file\n"
         "                    ends at the first block boundary past it (default 1)\n"
         "  --blocks N        at most N blocks, the DDL counted (with --size: both apply)\n"
         "  --block-size B    block size in the header line (default 1024); entries and\n"
         "                    records stay shorter than a block of |B| words (1024\n"
         "                    for 0), which must be at least 300\n"
         "  --flag F          flag digit in the header line, 0..9 (default 0)\n"
         "  --ddl, --no-ddl   start with the DDL block or not (default --ddl)\n"
         "  --large-groups, --no-large-groups\n"
         "                    now and then groups beyond 65535 words (default on)\n"
         "  --mix G,R,S,M     weights of groups, relations with an integer key,\n"
         "                    single records and relations with multi-word keys\n"
         "                    (default 3,3,2,2)\n"
         "  --orders LIST     key orders of relations, drawn per relation from the\n"
         "                    comma-separated LIST of ascending, descending, scattered,\n"
         "                    split, random, clustered, duplicates (default: the\n"
         "                    first four, as earlier versions drew them)\n"
         "  --relation-words MIN,MAX\n"
         "                    body words of each relation, drawn from MIN..MAX\n"
         "  --crlf            end lines with CR LF\n"
         "  --no-trailing-lines\n"
         "                    leave out the three blank lines at the end\n"
         "  --help            this text\n"
         "\n"
         "A summary (blocks and bytes written) goes to standard error.\n";
}

template <typename T>
std::optional<T> parse_number(std::string_view text) {
  T value{};
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

std::optional<support::BlockMix> parse_mix(std::string_view text) {
  std::vector<int> weights;
  while (true) {
    size_t comma = text.find(',');
    auto weight = parse_number<int>(text.substr(0, comma));
    if (!weight || *weight < 0) return std::nullopt;
    weights.push_back(*weight);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  if (weights.size() != 4) return std::nullopt;
  return support::BlockMix{.groups = weights[0], .relations = weights[1],
                           .records = weights[2], .multikey = weights[3]};
}

std::optional<std::vector<support::KeyOrder>> parse_orders(std::string_view text) {
  static const std::pair<std::string_view, support::KeyOrder> kNames[] = {
      {"ascending", support::KeyOrder::kAscending}, {"descending", support::KeyOrder::kDescending},
      {"scattered", support::KeyOrder::kScattered}, {"split", support::KeyOrder::kSplit},
      {"random", support::KeyOrder::kRandom},       {"clustered", support::KeyOrder::kClustered},
      {"duplicates", support::KeyOrder::kDuplicates}};
  std::vector<support::KeyOrder> orders;
  while (true) {
    const size_t comma = text.find(',');
    const std::string_view name = text.substr(0, comma);
    const auto* found = std::find_if(std::begin(kNames), std::end(kNames), [&](const auto& n) { return n.first == name; });
    if (found == std::end(kNames)) return std::nullopt;
    orders.push_back(found->second);
    if (comma == std::string_view::npos) break;
    text.remove_prefix(comma + 1);
  }
  return orders;
}

int fail(const std::string& message) {
  std::cerr << "ndbgen: " << message << "\n";
  usage(std::cerr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  support::DatabaseOptions options;
  std::optional<double> megabytes;
  std::optional<std::string> output;

  std::vector<std::string_view> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    auto value = [&]() -> std::optional<std::string_view> {
      if (i + 1 >= args.size()) return std::nullopt;
      return args[++i];
    };
    if (arg == "--help") {
      usage(std::cout);
      return 0;
    } else if (arg == "--seed") {
      auto v = value();
      auto n = v ? parse_number<uint64_t>(*v) : std::nullopt;
      if (!n) return fail("--seed needs a number");
      options.generator.seed = *n;
    } else if (arg == "--size") {
      auto v = value();
      auto n = v ? parse_number<double>(*v) : std::nullopt;
      if (!n || *n < 0) return fail("--size needs a number of megabytes");
      megabytes = *n;
    } else if (arg == "--blocks") {
      auto v = value();
      auto n = v ? parse_number<int64_t>(*v) : std::nullopt;
      if (!n || *n < 0) return fail("--blocks needs a count");
      options.max_blocks = *n;
    } else if (arg == "--block-size") {
      auto v = value();
      auto n = v ? parse_number<int32_t>(*v) : std::nullopt;
      if (!n) return fail("--block-size needs a number");
      options.block_size = *n;
    } else if (arg == "--flag") {
      auto v = value();
      auto n = v ? parse_number<int>(*v) : std::nullopt;
      if (!n || *n < 0 || *n > 9) return fail("--flag needs a digit");
      options.flag = *n;
    } else if (arg == "--ddl" || arg == "--no-ddl") {
      options.generator.ddl = arg == "--ddl";
    } else if (arg == "--large-groups" || arg == "--no-large-groups") {
      options.generator.large_groups = arg == "--large-groups";
    } else if (arg == "--mix") {
      auto v = value();
      auto mix = v ? parse_mix(*v) : std::nullopt;
      if (!mix || mix->groups + mix->relations + mix->records + mix->multikey == 0) {
        return fail("--mix needs four weights, not all 0");
      }
      options.generator.mix = *mix;
    } else if (arg == "--orders") {
      auto v = value();
      auto orders = v ? parse_orders(*v) : std::nullopt;
      if (!orders) return fail("--orders needs a list of key orders");
      options.generator.relations.orders = *orders;
    } else if (arg == "--relation-words") {
      auto v = value();
      const size_t comma = v ? v->find(',') : std::string_view::npos;
      auto low = comma != std::string_view::npos ? parse_number<int64_t>(v->substr(0, comma)) : std::nullopt;
      auto high = comma != std::string_view::npos ? parse_number<int64_t>(v->substr(comma + 1)) : std::nullopt;
      if (!low || !high || *low < 0 || *high < *low) return fail("--relation-words needs MIN,MAX with 0 <= MIN <= MAX");
      options.generator.relations.min_words = *low;
      options.generator.relations.max_words = *high;
    } else if (arg == "--crlf") {
      options.writer.crlf = true;
    } else if (arg == "--no-trailing-lines") {
      options.writer.trailing_lines = false;
    } else if (arg.size() > 1 && arg.front() == '-') {
      return fail("unknown option " + std::string(arg));
    } else if (output) {
      return fail("more than one output");
    } else {
      output = std::string(arg);
    }
  }
  if (!output) return fail("no output given");
  options.generator.block_words = support::block_words_of(options.block_size);
  if (options.generator.block_words < 300) return fail("--block-size below 300 words");
  if (megabytes || options.max_blocks < 0) {
    options.target_bytes =
        static_cast<int64_t>(megabytes.value_or(kDefaultMegabytes) * kBytesPerMegabyte);
  }

  try {
    support::DatabaseSummary summary;
    if (*output == "-") {
      summary = support::write_database(std::cout, options);
    } else {
      std::ofstream file(*output, std::ios::binary | std::ios::trunc);
      if (!file) {
        std::cerr << "ndbgen: cannot open " << *output << "\n";
        return 1;
      }
      summary = support::write_database(file, options);
      file.close();
      if (!file) {
        std::cerr << "ndbgen: writing " << *output << " failed\n";
        return 1;
      }
    }
    std::cerr << "ndbgen: " << summary.blocks << " blocks, " << summary.bytes << " bytes\n";
  } catch (const std::exception& e) {
    std::cerr << "ndbgen: " << e.what() << "\n";
    return 1;
  }
  return 0;
}
