#pragma once
// Command-line routines of the converter.
//
// Argument 0 is the program, the rest are the tokens (at most kMaxArguments of them; further
// ones are not seen). Where the system hands over the raw command line (Win32), the program
// splits it itself (split_command_line); elsewhere the shell has split it already. Names are
// kept whole: an absolute path often runs past the fixed text fields of older tools, and cutting
// a name would open or create the wrong file.

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace app {

class CommandLine {
 public:
  static constexpr int kMaxArguments = 64;

  // tokens[0] is the program, tokens[1..] its arguments.
  explicit CommandLine(std::vector<std::string> tokens);
  static CommandLine from_argv(int argc, char** argv);
  // The process's own command line: split_command_line of the raw line where the system gives
  // one, else argv.
  static CommandLine from_process(int argc, char** argv);

  // Number of arguments after the program name (0..64).
  int ARGCNT() const { return static_cast<int>(tokens_.size()) - 1; }
  // Argument I with leading and trailing blanks dropped and one matching pair of enclosing
  // quotes (' or ") removed; LENGTH := its length. I outside 0..ARGCNT gives "" and 0.
  std::string ARGGET(int i, int& length) const;
  std::string ARGGET(int i) const {
    int length;
    return ARGGET(i, length);
  }

 private:
  std::vector<std::string> tokens_;
};

// Splits a raw command line into the program and its arguments:
// - Blanks, tabs and newlines separate tokens.
// - The program name runs to the next blank, or, when it begins with a quote (" or '), to the
//   next quote of the same kind; it is then looked up on the executable search path
//   (`find_program`, when given) to become argument 0.
// - An argument that does not begin with a double quote runs to the next blank.
// - One that begins with a double quote starts behind it and runs to the first double quote
//   that is not doubled, then on to the next blank; a double quote that then ends it is dropped.
//   Without a closing quote it runs to the end of the line, blanks and all.
// - In every argument each doubled double quote becomes one.
// At most kMaxArguments arguments are taken.
std::vector<std::string> split_command_line(std::string_view line,
                                            std::string (*find_program)(const std::string&) = nullptr);

// Splits ARG at its first "=": KEY := the part before it in lower case (blank when there is no
// "=" or it stands in the first column), VALUE := the part after it (the whole ARG without "=").
void KEYVAL(const std::string& arg, std::string& key, std::string& value);

// Abbreviation match: true when WORD (up to its last non-blank, n characters) is at least MINLEN
// and at most KEYWORD's length long and equals KEYWORD's first n characters; a blank WORD
// matches when MINLEN < 1.
bool KEYMAT(std::string_view word, std::string_view keyword, int minlen);

// Letters A-Z become a-z; everything else is unchanged.
void LOWCAS(std::string& text);

// Default extension: a NAME that exists as a file, or that already ends in EXT, stays; otherwise
// EXT is written behind it.
void ADDEXT(std::string& name, std::string_view ext);

// Default output name: a non-blank XDBNAME stays as typed; otherwise it becomes the base name of
// NEUTRALNAME (after its last slash or backslash) with a trailing OLDEXT replaced by NEWEXT (or
// NEWEXT added), so the XDB lands in the current directory.
void DEFOUT(std::string& xdbname, const std::string& neutralname, std::string_view oldext,
            std::string_view newext);

// Whether -h or --help, and --version, stand among the arguments as whole arguments.
struct InformationRequest {
  bool help = false;
  bool version = false;
};
InformationRequest information_request(const CommandLine& cl);

// Answers -h/--help and --version before anything else: prints the program's banner (the help
// adds the usage that `print_usage` writes) and returns true with the clean exit status in
// `status`; false when neither was asked for.
bool answer_information_request(const CommandLine& cl, std::ostream& out, std::string_view program,
                                void (*print_usage)(std::ostream&), int& status);

// The value of a yes/no keyword, abbreviated and in any case: true with `flag` set, or false when
// the value is neither.
bool yes_or_no(std::string value, bool& flag);

// The message for an argument a program does not take, tagged with the program's name.
void print_invalid_parameter(std::ostream& out, std::string_view program, const std::string& arg);

// The text up to its last non-blank.
std::string_view trimmed(std::string_view text);

}  // namespace app
