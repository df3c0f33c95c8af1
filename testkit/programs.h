#pragma once
// What a test needs of the system around the program under test, alike on every system: this
// process's number, environment variables set and cleared, fresh directories, and the programs
// the build made, run as child processes with their standard streams taken from and sent to
// files (posix_spawn on POSIX, CreateProcessA on Windows).

#include <string>
#include <vector>

namespace support {

// The number of the running process (to name files no other running test names).
int process_id();

// Sets or clears an environment variable of this process, for the code under test to read.
void set_environment(const char* name, const std::string& value);
void unset_environment(const char* name);

// Makes a new directory "<parent>/<prefix>XXXXXX" with a unique ending and returns its name, or
// "" when none could be made.
std::string make_unique_directory(const std::string& parent, const std::string& prefix);

// The name of the device that reads as empty and swallows what is written to it.
const char* null_device();

// The file of the program `name` that the build made in `directory`: "<directory>/<name>", with
// ".exe" on Windows.
std::string program_file(const std::string& directory, const std::string& name);

// The exit status a killed child reports: 128 + SIGKILL on POSIX, the code TerminateProcess is
// given on Windows (the same number).
inline constexpr int kKilledStatus = 137;

// A program run as a child process. Its standard input comes from a file, from a pipe the test
// writes (input_pipe), or from the null device; its standard output and error go to files (or
// the null device, for an empty name).
struct ChildStreams {
  std::string input;   // a file to read; "" for the null device
  bool input_pipe = false;
  std::string output;  // "" for the null device
  std::string error;   // "" for the null device
};

class ChildProcess {
 public:
  // Starts argv[0] with the arguments argv[1...] in directory `cwd` ("" for the current one).
  ChildProcess(const std::vector<std::string>& argv, const ChildStreams& streams, const std::string& cwd = "");
  ~ChildProcess();
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ChildProcess& operator=(ChildProcess&&) = delete;

  bool started() const { return started_; }
  // Why the child did not start: the system's error number (0 when it started).
  int start_error() const { return start_error_; }
  // The system's number of the child process.
  int id() const;
  // Writes to the input pipe; false when it is closed or the write fails.
  bool write_input(const std::string& bytes);
  void close_input();
  // Ends the child at once, as SIGKILL does (TerminateProcess on Windows).
  void kill();
  // Waits for the end of the child: its exit status, or 128 + the signal that ended it; -1 when
  // it never started. A child waited for once reports the same status again.
  int wait();

 private:
  bool started_ = false;
  int start_error_ = 0;
  bool waited_ = false;
  int status_ = -1;
#ifdef _WIN32
  void* process_ = nullptr;      // HANDLE of the process
  void* input_write_ = nullptr;  // HANDLE of the pipe's write end
#else
  int pid_ = -1;
  int input_write_ = -1;
#endif
};

// A run of a program to its end: its exit status and what it wrote to its standard output and
// error, byte for byte.
struct ProgramRun {
  int status = -1;
  std::string out, err;
};

// Runs `program` with `args` in `cwd` ("" for the current directory), `input` as its standard
// input.
ProgramRun run_program(const std::string& program, const std::vector<std::string>& args, const std::string& input = "",
                       const std::string& cwd = "");

// Makes this process's standard input the read end of a pipe that the test writes, until the
// object is gone; the standard input of before is then restored.
class StandardInputPipe {
 public:
  StandardInputPipe();
  ~StandardInputPipe();
  StandardInputPipe(const StandardInputPipe&) = delete;
  StandardInputPipe& operator=(const StandardInputPipe&) = delete;

  bool ready() const { return ready_; }
  // Writes all of `bytes` to the pipe; false when that fails.
  bool write(const std::string& bytes);

 private:
  bool ready_ = false;
#ifdef _WIN32
  void* saved_ = nullptr;  // HANDLEs
  void* read_end_ = nullptr;
  void* write_end_ = nullptr;
#else
  int saved_ = -1;
  int read_end_ = -1;
  int write_end_ = -1;
#endif
};

// Text a program wrote to its standard error, with the line ends of the system's text streams
// (CR LF on Windows) made "\n".
std::string text_lines(const std::string& written);

}  // namespace support
