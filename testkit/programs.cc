#include "testkit/programs.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>
#include <utility>

#include "testkit/system_codes.h"

#ifdef _WIN32
#include <windows.h>
#include <process.h>
#include <stdlib.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;
#endif

namespace support {

namespace {

std::string file_text(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int process_id() {
#ifdef _WIN32
  return static_cast<int>(::GetCurrentProcessId());
#else
  return static_cast<int>(::getpid());
#endif
}

void set_environment(const char* name, const std::string& value) {
#ifdef _WIN32
  // The C library keeps a copy of the environment beside the system's; both must see the value.
  ::SetEnvironmentVariableA(name, value.c_str());
  ::_putenv_s(name, value.c_str());
  if (value.empty()) ::SetEnvironmentVariableA(name, "");  // _putenv_s removes an empty one
#else
  ::setenv(name, value.c_str(), 1);
#endif
}

void unset_environment(const char* name) {
#ifdef _WIN32
  ::_putenv_s(name, "");
  ::SetEnvironmentVariableA(name, nullptr);
#else
  ::unsetenv(name);
#endif
}

std::string make_unique_directory(const std::string& parent, const std::string& prefix) {
  static std::atomic<unsigned> counter{0};
  std::random_device device;
  std::mt19937 random(device() ^ static_cast<unsigned>(process_id()));
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string name = prefix;
    unsigned bits = random() ^ (counter++ * 2654435761u);
    for (int i = 0; i < 6; ++i, bits /= 36) name += kLetters[bits % 36];
    const std::filesystem::path dir = std::filesystem::path(parent) / name;
    std::error_code ec;
    if (std::filesystem::create_directory(dir, ec) && !ec) return dir.string();
  }
  return "";
}

const char* null_device() {
#ifdef _WIN32
  return "NUL";
#else
  return "/dev/null";
#endif
}

std::string program_file(const std::string& directory, const std::string& name) {
#ifdef _WIN32
  return directory + "/" + name + ".exe";
#else
  return directory + "/" + name;
#endif
}

#ifdef _WIN32

namespace {

// One argument as the command line of a child carries it: bare when it has no blank or quote,
// else quoted so that both the C library's rules and the programs' own splitting give it back.
void append_argument(std::string& line, const std::string& arg) {
  if (!line.empty()) line += ' ';
  if (!arg.empty() && arg.find_first_of(" \t\n\"") == std::string::npos) {
    line += arg;
    return;
  }
  line += '"';
  for (char c : arg) {
    if (c == '"') line += '"';  // a doubled quote stands for one
    line += c;
  }
  line += '"';
}

HANDLE open_for_child(const std::string& name, bool write) {
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  return ::CreateFileA(name.empty() ? "NUL" : name.c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inherit,
                       write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildStreams& streams, const std::string& cwd) {
  std::string line;
  for (const auto& arg : argv) append_argument(line, arg);
  HANDLE input = INVALID_HANDLE_VALUE;
  if (streams.input_pipe) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr, write_end = nullptr;
    if (!::CreatePipe(&read_end, &write_end, &inherit, 0)) {
      start_error_ = static_cast<int>(::GetLastError());
      return;
    }
    ::SetHandleInformation(write_end, HANDLE_FLAG_INHERIT, 0);
    input = read_end;
    input_write_ = write_end;
  } else {
    input = open_for_child(streams.input, false);
  }
  if (input == INVALID_HANDLE_VALUE) start_error_ = static_cast<int>(::GetLastError());
  HANDLE output = open_for_child(streams.output, true);
  if (output == INVALID_HANDLE_VALUE && start_error_ == 0) start_error_ = static_cast<int>(::GetLastError());
  HANDLE error = open_for_child(streams.error, true);
  if (error == INVALID_HANDLE_VALUE && start_error_ == 0) start_error_ = static_cast<int>(::GetLastError());
  if (input != INVALID_HANDLE_VALUE && output != INVALID_HANDLE_VALUE && error != INVALID_HANDLE_VALUE) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = error;
    PROCESS_INFORMATION info{};
    if (::CreateProcessA(argv.at(0).c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                         cwd.empty() ? nullptr : cwd.c_str(), &startup, &info)) {
      ::CloseHandle(info.hThread);
      process_ = info.hProcess;
      started_ = true;
    } else {
      start_error_ = static_cast<int>(::GetLastError());
    }
  }
  for (HANDLE h : {input, output, error}) {
    if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
  }
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : started_(other.started_),
      start_error_(other.start_error_),
      waited_(other.waited_),
      status_(other.status_),
      process_(std::exchange(other.process_, nullptr)),
      input_write_(std::exchange(other.input_write_, nullptr)) {
  other.started_ = false;
}

ChildProcess::~ChildProcess() {
  close_input();
  if (started_ && !waited_) {
    kill();
    wait();
  }
  if (process_ != nullptr) ::CloseHandle(process_);
}

bool ChildProcess::write_input(const std::string& bytes) {
  std::size_t done = 0;
  while (input_write_ != nullptr && done < bytes.size()) {
    DWORD written = 0;
    if (!::WriteFile(input_write_, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr)) {
      return false;
    }
    done += written;
  }
  return input_write_ != nullptr;
}

void ChildProcess::close_input() {
  if (input_write_ != nullptr) ::CloseHandle(input_write_);
  input_write_ = nullptr;
}

int ChildProcess::id() const { return started_ ? static_cast<int>(::GetProcessId(process_)) : -1; }

void ChildProcess::kill() {
  if (started_ && !waited_) ::TerminateProcess(process_, kKilledStatus);
}

int ChildProcess::wait() {
  if (!started_) return -1;
  if (!waited_) {
    ::WaitForSingleObject(process_, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess(process_, &code);
    status_ = static_cast<int>(code);
    waited_ = true;
  }
  return status_;
}

#else

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const ChildStreams& streams, const std::string& cwd) {
  int pipe_fds[2] = {-1, -1};
  if (streams.input_pipe) {
    if (::pipe(pipe_fds) != 0) {
      start_error_ = errno;
      return;
    }
    ::fcntl(pipe_fds[1], F_SETFD, FD_CLOEXEC);
    input_write_ = pipe_fds[1];
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());
  if (streams.input_pipe) {
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[0], STDIN_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO,
                                     streams.input.empty() ? "/dev/null" : streams.input.c_str(), O_RDONLY, 0);
  }
  // The names are made absolute first: the child opens them after changing its directory.
  const auto absolute = [](const std::string& name) {
    return name.empty() ? std::string("/dev/null") : std::filesystem::absolute(name).string();
  };
  const std::string output = absolute(streams.output), error = absolute(streams.error);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, error.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = -1;
  start_error_ = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  started_ = start_error_ == 0;
  pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
  if (pipe_fds[0] >= 0) ::close(pipe_fds[0]);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : started_(other.started_),
      start_error_(other.start_error_),
      waited_(other.waited_),
      status_(other.status_),
      pid_(std::exchange(other.pid_, -1)),
      input_write_(std::exchange(other.input_write_, -1)) {
  other.started_ = false;
}

ChildProcess::~ChildProcess() {
  close_input();
  if (started_ && !waited_) {
    kill();
    wait();
  }
}

bool ChildProcess::write_input(const std::string& bytes) {
  std::size_t done = 0;
  while (input_write_ >= 0 && done < bytes.size()) {
    const ssize_t n = ::write(input_write_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return input_write_ >= 0;
}

void ChildProcess::close_input() {
  if (input_write_ >= 0) ::close(input_write_);
  input_write_ = -1;
}

int ChildProcess::id() const { return started_ ? pid_ : -1; }

void ChildProcess::kill() {
  if (started_ && !waited_) ::kill(pid_, SIGKILL);
}

int ChildProcess::wait() {
  if (!started_) return -1;
  if (!waited_) {
    int status = 0;
    if (::waitpid(pid_, &status, 0) != pid_) return -1;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    waited_ = true;
  }
  return status_;
}

#endif

#ifdef _WIN32

StandardInputPipe::StandardInputPipe() {
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!::CreatePipe(&read_end, &write_end, nullptr, 0)) return;
  read_end_ = read_end;
  write_end_ = write_end;
  saved_ = ::GetStdHandle(STD_INPUT_HANDLE);
  ready_ = ::SetStdHandle(STD_INPUT_HANDLE, read_end) != 0;
}

StandardInputPipe::~StandardInputPipe() {
  if (ready_) ::SetStdHandle(STD_INPUT_HANDLE, saved_);
  if (write_end_ != nullptr) ::CloseHandle(write_end_);
  if (read_end_ != nullptr) ::CloseHandle(read_end_);
}

bool StandardInputPipe::write(const std::string& bytes) {
  std::size_t done = 0;
  while (ready_ && done < bytes.size()) {
    DWORD written = 0;
    if (!::WriteFile(write_end_, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr)) {
      return false;
    }
    done += written;
  }
  return ready_;
}

#else

StandardInputPipe::StandardInputPipe() {
  int fds[2];
  if (::pipe(fds) != 0) return;
  read_end_ = fds[0];
  write_end_ = fds[1];
  saved_ = ::dup(STDIN_FILENO);
  ready_ = saved_ >= 0 && ::dup2(read_end_, STDIN_FILENO) == STDIN_FILENO;
}

StandardInputPipe::~StandardInputPipe() {
  if (ready_) ::dup2(saved_, STDIN_FILENO);
  for (int fd : {saved_, read_end_, write_end_}) {
    if (fd >= 0) ::close(fd);
  }
}

bool StandardInputPipe::write(const std::string& bytes) {
  std::size_t done = 0;
  while (ready_ && done < bytes.size()) {
    const ssize_t n = ::write(write_end_, bytes.data() + done, bytes.size() - done);
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return ready_;
}

#endif

ProgramRun run_program(const std::string& program, const std::vector<std::string>& args, const std::string& input,
                       const std::string& cwd) {
  static std::atomic<int> runs{0};
  const std::filesystem::path base =
      std::filesystem::temp_directory_path() /
      ("loadxdb_run_" + std::to_string(process_id()) + "_" + std::to_string(runs++));
  ChildStreams streams;
  streams.input = base.string() + ".in";
  streams.output = base.string() + ".out";
  streams.error = base.string() + ".err";
  std::ofstream(streams.input, std::ios::binary) << input;
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  ProgramRun run;
  {
    ChildProcess child(argv, streams, cwd);
    run.status = child.wait();
  }
  run.out = file_text(streams.output);
  run.err = file_text(streams.error);
  std::error_code ec;
  for (const auto* name : {&streams.input, &streams.output, &streams.error}) std::filesystem::remove(*name, ec);
  return run;
}

int planned_failure_code(int error) {
#ifdef _WIN32
  switch (error) {
    case EIO: return 1117;    // ERROR_IO_DEVICE
    case ENOSPC: return 112;  // ERROR_DISK_FULL
    case EACCES: return 5;    // ERROR_ACCESS_DENIED
    default: return error;
  }
#else
  return error;
#endif
}

std::string system_message(int code) {
#ifdef _WIN32
  char text[512] = {};
  DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(code), 0, text, sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ')) --n;
  return std::string(text, n);
#else
  return std::strerror(code);
#endif
}

std::string text_lines(const std::string& written) {
#ifdef _WIN32
  std::string text;
  text.reserve(written.size());
  for (std::size_t i = 0; i < written.size(); ++i) {
    if (written[i] == '\r' && i + 1 < written.size() && written[i + 1] == '\n') continue;
    text += written[i];
  }
  return text;
#else
  return written;
#endif
}

}  // namespace support
