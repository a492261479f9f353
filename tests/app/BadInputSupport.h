// Internal to the app tests: runs tallyfold-cli the ways the bad-input tests
// need it run: in the background beside another run, with a time limit so
// that a hang fails the test instead of stalling it, with a limit on the
// size of the files it may write, as an unprivileged user, and with its peak
// memory recorded.
#pragma once

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <thread>
#include <vector>

#include "app/CliRunner.h"
#include "regex/RegexEngine.h"

namespace tallyfold::testing {

// The user and group an unprivileged run takes when the tests run as root:
// nobody and nogroup on Debian.
constexpr uid_t kUnprivilegedId = 65534;

struct CliLaunch {
  CliLaunch(std::vector<std::string> args_, std::string cwd_,
            std::optional<rlim_t> file_size_limit_ = std::nullopt, bool unprivileged_ = false)
      : args(std::move(args_)),
        cwd(std::move(cwd_)),
        file_size_limit(file_size_limit_),
        unprivileged(unprivileged_) {}

  std::vector<std::string> args;
  std::string cwd;
  // When set, the program may write no file longer than this many bytes;
  // SIGXFSZ is ignored, so a write past it fails as on a full disk.
  std::optional<rlim_t> file_size_limit;
  // As root, run as kUnprivilegedId, so that file permissions apply; as any
  // other user, run as that user.
  bool unprivileged = false;
  // When set, the program's address space may grow no larger than this many
  // bytes, so that allocations fail as they do when memory runs out.
  std::optional<rlim_t> memory_limit;
  // Variables set after LC_ALL=C.UTF-8, which they may override.
  std::vector<std::pair<std::string, std::string>> environment;
};

// One run of tallyfold-cli, started when constructed and collected by
// Finish.
class LaunchedCli {
 public:
  explicit LaunchedCli(const CliLaunch& launch) {
    const std::string out_path = capture_ / "stdout";
    const std::string err_path = capture_ / "stderr";
    std::vector<std::string> copies = launch.args;
    copies.insert(copies.begin(), TALLYFOLD_CLI_PATH);
    std::vector<char*> argv;
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);

    pid_ = fork();
    if (pid_ != 0) return;
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0 || chdir(launch.cwd.c_str()) != 0) _exit(127);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    if (launch.file_size_limit) {
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{*launch.file_size_limit, *launch.file_size_limit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(127);
    }
    // A run ended by SIGQUIT or the like leaves no core file in its folder.
    const rlimit no_core{0, 0};
    if (setrlimit(RLIMIT_CORE, &no_core) != 0) _exit(127);
    if (launch.memory_limit) {
      const rlimit limit{*launch.memory_limit, *launch.memory_limit};
      if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(127);
    }
    if (launch.unprivileged && geteuid() == 0 &&
        (setgroups(0, nullptr) != 0 || setgid(kUnprivilegedId) != 0 ||
         setuid(kUnprivilegedId) != 0)) {
      _exit(127);
    }
    setenv("LC_ALL", "C.UTF-8", 1);
    for (const auto& [name, value] : launch.environment) setenv(name.c_str(), value.c_str(), 1);
    execv(argv[0], argv.data());
    _exit(127);
  }
  LaunchedCli(const LaunchedCli&) = delete;
  LaunchedCli& operator=(const LaunchedCli&) = delete;
  ~LaunchedCli() {
    if (pid_ > 0 && !finished_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // Waits for the program to end, killing it after `limit`: a run that
  // blocks (on a FIFO, say) then fails with status -1 instead of hanging
  // the test.
  CliResult Finish(std::chrono::seconds limit = std::chrono::seconds(300)) {
    CliResult result;
    finished_ = true;
    if (pid_ < 0) return result;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    int status = 0;
    pid_t done = 0;
    rusage usage{};
    while ((done = wait4(pid_, &status, WNOHANG, &usage)) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    peak_kilobytes_ = usage.ru_maxrss;
    if (done == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      result.err = "(killed after " + std::to_string(limit.count()) + " s) ";
    } else if (done == pid_ && WIFEXITED(status)) {
      result.status = WEXITSTATUS(status);
    }
    result.out = ReadBytes(capture_ / "stdout");
    result.err += ReadBytes(capture_ / "stderr");
    return result;
  }

  // The program's peak resident memory in kB, once Finish has returned.
  long PeakKilobytes() const { return peak_kilobytes_; }

  pid_t Pid() const { return pid_; }

 private:
  TempFolder capture_;  // the program's stdout and stderr
  pid_t pid_ = -1;
  bool finished_ = false;
  long peak_kilobytes_ = 0;
};

inline CliResult RunCli(const CliLaunch& launch) { return LaunchedCli(launch).Finish(); }

// As root, hands `path` and everything below it to the unprivileged user,
// so that an unprivileged run can work there; otherwise does nothing.
inline void GiveToUnprivileged(const std::string& path) {
  if (geteuid() != 0) return;
  lchown(path.c_str(), kUnprivilegedId, kUnprivilegedId);
  for (const auto& entry : std::filesystem::recursive_directory_iterator(path))
    lchown(entry.path().c_str(), kUnprivilegedId, kUnprivilegedId);
}

// The names in a folder, sorted: to see that a failed write left no
// temporary file behind.
inline std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Gives the tests the engine's message table, whose texts EngineObjectTest
// checks against data of its own.
class MessageTable : public TRegexEngine {
 public:
  using TRegexEngine::ErrorMessage;
};

inline std::string CompileMessage(int code, int position) {
  return MessageTable().ErrorMessage(code) + " (pos " + std::to_string(position) + ")";
}

// Linux takes no single argument longer than 128 KiB with its terminating
// 0 (MAX_ARG_STRLEN): the longest pattern the command line can carry. Longer
// ones are refused by exec before the program starts.
inline constexpr std::size_t kLongestArgument = 128 * 1024 - 1;

}  // namespace tallyfold::testing
