// xdbcheck: checks XDB files made by loadxdb (or any XDB of this layout) and lists their data
// blocks.

#include <iostream>
#include <string>
#include <vector>

#include "app/check.h"
#include "platform/process.h"

namespace {

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

}  // namespace

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  platform::prepare_standard_streams();
  app::CheckOptions options;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--list") {
      options.list = true;
    } else if (arg.size() > 1 && arg[0] == '-' && arg.rfind("./", 0) != 0) {
      std::cerr << "xdbcheck: unknown option " << arg << "\n" << kUsage;
      return 2;
    } else {
      files.push_back(arg);
    }
  }
  if (files.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  platform::Units units;
  int status = 0;
  for (const auto& file : files) {
    if (app::check_xdb(file, options, units) != 0) status = 1;
  }
  return status;
}
