#include "app/cmdline.h"

#include <optional>

#include "app/listing.h"
#include "platform/process.h"
#include "platform/stop.h"
#include "platform/textinput.h"

namespace app {

std::string_view trimmed(std::string_view text) {
  std::size_t end = text.find_last_not_of(' ');
  return end == std::string_view::npos ? std::string_view{} : text.substr(0, end + 1);
}

CommandLine::CommandLine(std::vector<std::string> tokens) : tokens_(std::move(tokens)) {
  if (tokens_.empty()) tokens_.emplace_back();
  if (tokens_.size() > static_cast<std::size_t>(kMaxArguments) + 1) tokens_.resize(kMaxArguments + 1);
}

CommandLine CommandLine::from_argv(int argc, char** argv) {
  std::vector<std::string> tokens;
  for (int i = 0; i < argc; ++i) tokens.emplace_back(argv[i]);
  return CommandLine(std::move(tokens));
}

CommandLine CommandLine::from_process(int argc, char** argv) {
  if (const std::optional<std::string> raw = platform::raw_command_line()) {
    return CommandLine(split_command_line(*raw, platform::search_program));
  }
  return from_argv(argc, argv);
}

namespace {

bool separates(char c) { return c == ' ' || c == '\t' || c == '\n'; }

}  // namespace

std::vector<std::string> split_command_line(std::string_view line,
                                            std::string (*find_program)(const std::string&)) {
  std::size_t at = 0;
  const std::size_t end = line.size();
  auto skip_separators = [&] {
    while (at < end && separates(line[at])) ++at;
  };

  std::vector<std::string> tokens;
  skip_separators();
  std::string program;
  if (at < end && (line[at] == '"' || line[at] == '\'')) {
    const char quote = line[at++];
    const std::size_t close = line.find(quote, at);
    const std::size_t stop = close == std::string_view::npos ? end : close;
    program = std::string(line.substr(at, stop - at));
    at = close == std::string_view::npos ? end : close + 1;
  } else {
    const std::size_t start = at;
    while (at < end && !separates(line[at])) ++at;
    program = std::string(line.substr(start, at - start));
  }
  if (!program.empty() && find_program != nullptr) program = find_program(program);
  tokens.push_back(std::move(program));

  while (static_cast<int>(tokens.size()) <= CommandLine::kMaxArguments) {
    skip_separators();
    if (at >= end) break;
    std::string token;
    if (line[at] != '"') {
      const std::size_t start = at;
      while (at < end && !separates(line[at])) ++at;
      token = std::string(line.substr(start, at - start));
    } else {
      ++at;
      const std::size_t start = at;
      bool closed = false;
      while (at < end) {
        if (line[at] == '"') {
          if (at + 1 < end && line[at + 1] == '"') {
            at += 2;  // a doubled quote stands for one
            continue;
          }
          closed = true;
          break;
        }
        ++at;
      }
      if (closed) {
        while (at < end && !separates(line[at])) ++at;
        token = std::string(line.substr(start, at - start));
        if (!token.empty() && token.back() == '"') token.pop_back();
      } else {
        token = std::string(line.substr(start));
      }
    }
    for (std::size_t pair = token.find("\"\""); pair != std::string::npos; pair = token.find("\"\"", pair + 1)) {
      token.erase(pair, 1);
    }
    tokens.push_back(std::move(token));
  }
  return tokens;
}

std::string CommandLine::ARGGET(int i, int& length) const {
  if (i < 0 || i > ARGCNT()) {
    length = 0;
    return {};
  }
  std::string_view arg = tokens_[i];
  std::size_t first = arg.find_first_not_of(' ');
  arg = first == std::string_view::npos ? std::string_view{} : trimmed(arg.substr(first));
  if (arg.size() >= 2 && (arg.front() == '"' || arg.front() == '\'') && arg.back() == arg.front()) {
    arg = arg.substr(1, arg.size() - 2);
  }
  length = static_cast<int>(arg.size());
  return std::string(arg);
}

void KEYVAL(const std::string& arg, std::string& key, std::string& value) {
  std::size_t p = arg.find('=');
  if (p == std::string::npos) {
    key.clear();
    value = arg;
    return;
  }
  key = p == 0 ? std::string() : arg.substr(0, p);
  LOWCAS(key);
  value = arg.substr(p + 1);
}

bool KEYMAT(std::string_view word, std::string_view keyword, int minlen) {
  std::string_view w = trimmed(word), k = trimmed(keyword);
  int n = static_cast<int>(w.size()), m = static_cast<int>(k.size());
  if (minlen < 1 && n == 0) return true;
  return minlen <= n && n <= m && w == k.substr(0, n);
}

void LOWCAS(std::string& text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
}

void ADDEXT(std::string& name, std::string_view ext) {
  std::string base(trimmed(name));
  if (platform::file_exists(base, /*when_unknown=*/true)) return;
  if (base.size() > ext.size() && std::string_view(base).substr(base.size() - ext.size()) == ext) return;
  name = base + std::string(ext);
}

void DEFOUT(std::string& xdbname, const std::string& neutralname, std::string_view oldext,
            std::string_view newext) {
  if (!trimmed(xdbname).empty()) return;
  std::string_view full = trimmed(neutralname);
  std::size_t slash = full.find_last_of("/\\");
  std::string_view base = slash == std::string_view::npos ? full : full.substr(slash + 1);
  if (base.size() > oldext.size() && base.substr(base.size() - oldext.size()) == oldext) {
    base = base.substr(0, base.size() - oldext.size());
  }
  xdbname = std::string(base) + std::string(newext);
}

InformationRequest information_request(const CommandLine& cl) {
  InformationRequest r;
  for (int i = 1; i <= cl.ARGCNT(); ++i) {
    const std::string arg = cl.ARGGET(i);
    r.help = r.help || arg == "-h" || arg == "--help";
    r.version = r.version || arg == "--version";
  }
  return r;
}

bool answer_information_request(const CommandLine& cl, std::ostream& out, std::string_view program,
                                void (*print_usage)(std::ostream&), int& status) {
  const InformationRequest asked = information_request(cl);
  if (!asked.help && !asked.version) return false;
  print_banner(out, program);
  if (asked.help) print_usage(out);
  status = platform::kExitClean;
  return true;
}

bool yes_or_no(std::string value, bool& flag) {
  LOWCAS(value);
  if (KEYMAT(value, "yes", 1)) {
    flag = true;
  } else if (KEYMAT(value, "no", 1)) {
    flag = false;
  } else {
    return false;
  }
  return true;
}

void print_invalid_parameter(std::ostream& out, std::string_view program, const std::string& arg) {
  out << " *** USER FATAL MESSAGE (" << program << ")\n"
      << "     INVALID COMMAND LINE PARAMETER: " << arg << '\n';
}

}  // namespace app
