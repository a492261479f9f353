// Internal to the app tests: runs the real tallyfold-cli binary in a folder
// and collects its exit status and both output streams; a run can also be
// started in the background and sent signals. For what needs no process of
// its own, app/CliInProcess.h runs the command line inside the test.
//
// On Windows the program is started with CreateProcessW (there is no fork),
// in a process group of its own, so that Ctrl+Break can be sent to it
// alone.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "app/AppTestSupport.h"
#include "app/CliResult.h"

#ifndef TALLYFOLD_CLI_PATH
#error "TALLYFOLD_CLI_PATH must name the tallyfold-cli binary"
#endif

namespace tallyfold::testing {

#ifdef _WIN32

// An argument quoted for CommandLineToArgvW (and the C runtime): in double
// quotes, a run of backslashes doubled before a quote or the closing quote,
// a quote escaped.
inline std::wstring QuotedArgument(const std::string& arg) {
  const std::u16string wide = Utf8Decode(arg);
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const char16_t unit : wide) {
    if (unit == u'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(unit == u'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted.push_back(static_cast<wchar_t>(unit));
  }
  quoted.append(backslashes * 2, L'\\');
  quoted.push_back(L'"');
  return quoted;
}

class CliProcess {
 public:
  CliProcess(const std::vector<std::string>& args, const std::string& cwd) {
    std::wstring command = QuotedArgument(TALLYFOLD_CLI_PATH);
    for (const std::string& arg : args) command += L" " + QuotedArgument(arg);
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const auto open = [&](const std::string& path, DWORD access, DWORD disposition) {
      const std::u16string wide = Utf8Decode(path);
      return ::CreateFileW(reinterpret_cast<const wchar_t*>(wide.c_str()), access,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, disposition,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE in = open("NUL", GENERIC_READ, OPEN_EXISTING);
    HANDLE out = open(capture_ / "stdout", GENERIC_WRITE, CREATE_ALWAYS);
    HANDLE err = open(capture_ / "stderr", GENERIC_WRITE, CREATE_ALWAYS);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = in;
    startup.hStdOutput = out;
    startup.hStdError = err;
    const std::u16string folder = Utf8Decode(cwd);
    if (in != INVALID_HANDLE_VALUE && out != INVALID_HANDLE_VALUE && err != INVALID_HANDLE_VALUE &&
        ::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE,
                         CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT, nullptr,
                         reinterpret_cast<const wchar_t*>(folder.c_str()), &startup, &process_)) {
      ::CloseHandle(process_.hThread);
    } else {
      process_.hProcess = nullptr;
    }
    for (HANDLE handle : {in, out, err})
      if (handle != INVALID_HANDLE_VALUE) ::CloseHandle(handle);
  }
  ~CliProcess() {
    if (process_.hProcess != nullptr) {
      if (!waited_) {
        ::TerminateProcess(process_.hProcess, 1);
        ::WaitForSingleObject(process_.hProcess, INFINITE);
      }
      ::CloseHandle(process_.hProcess);
    }
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // Sends Ctrl+Break to the program's process group, which it takes as
  // SIGTERM. False when the system would not send it.
  bool SendCtrlBreak() const {
    return ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, process_.dwProcessId) != 0;
  }

  CliResult Wait() {
    CliResult result;
    DWORD status = 0;
    if (process_.hProcess != nullptr &&
        ::WaitForSingleObject(process_.hProcess, INFINITE) == WAIT_OBJECT_0 &&
        ::GetExitCodeProcess(process_.hProcess, &status))
      result.status = static_cast<int>(status);
    waited_ = true;
    result.out = ReadBytes(capture_ / "stdout");
    result.err = ReadBytes(capture_ / "stderr");
    return result;
  }

 private:
  TempFolder capture_;
  PROCESS_INFORMATION process_{};
  bool waited_ = false;
};

#else

// A tallyfold-cli process started in the background, with its output going
// to files until it has ended.
class CliProcess {
 public:
  // Starts tallyfold-cli with `args` in the folder `cwd`, under a UTF-8
  // locale, with stdin, stdout and stderr not terminals.
  CliProcess(const std::vector<std::string>& args, const std::string& cwd) {
    std::vector<char*> argv;
    std::string program = TALLYFOLD_CLI_PATH;
    argv.push_back(program.data());
    std::vector<std::string> copies = args;
    for (std::string& arg : copies) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string out_path = capture_ / "stdout";
    const std::string err_path = capture_ / "stderr";

    pid_ = fork();
    if (pid_ == 0) {
      const int in = open("/dev/null", O_RDONLY);
      const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (in < 0 || out < 0 || err < 0 || chdir(cwd.c_str()) != 0) _exit(127);
      dup2(in, STDIN_FILENO);
      dup2(out, STDOUT_FILENO);
      dup2(err, STDERR_FILENO);
      setenv("LC_ALL", "C.UTF-8", 1);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~CliProcess() {
    if (pid_ > 0 && !waited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  pid_t Pid() const { return pid_; }

  // True once the program has a handler of its own for `signal`, which it
  // installs before it starts searching.
  bool Catches(int signal) const {
    std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.starts_with("SigCgt:")) {
        const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
        return (mask >> (signal - 1)) & 1U;
      }
    }
    return false;
  }

  // Waits for the end. `status` is the exit status, -1 when the program did
  // not exit normally.
  CliResult Wait() {
    CliResult result;
    int status = 0;
    if (pid_ > 0 && waitpid(pid_, &status, 0) == pid_ && WIFEXITED(status)) {
      result.status = WEXITSTATUS(status);
    }
    waited_ = true;
    result.out = ReadBytes(capture_ / "stdout");
    result.err = ReadBytes(capture_ / "stderr");
    return result;
  }

 private:
  TempFolder capture_;
  pid_t pid_ = -1;
  bool waited_ = false;
};

#endif

// Runs tallyfold-cli with `args` in the folder `cwd` to its end.
inline CliResult RunCli(const std::vector<std::string>& args, const std::string& cwd) {
  return CliProcess(args, cwd).Wait();
}

}  // namespace tallyfold::testing
