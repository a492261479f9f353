// Internal to the app tests: runs the real tallyfold-cli binary in a folder
// and collects its exit status and both output streams.
#pragma once

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "app/AppTestSupport.h"

#ifndef TALLYFOLD_CLI_PATH
#error "TALLYFOLD_CLI_PATH must name the tallyfold-cli binary"
#endif

namespace tallyfold::testing {

struct CliResult {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;  // what it wrote to stdout
  std::string err;  // what it wrote to stderr
};

// Runs tallyfold-cli with `args` in the folder `cwd`, under a UTF-8 locale,
// with stdin, stdout and stderr not terminals.
inline CliResult RunCli(const std::vector<std::string>& args, const std::string& cwd) {
  TempFolder capture;
  const std::string out_path = capture / "stdout";
  const std::string err_path = capture / "stderr";
  std::vector<char*> argv;
  std::string program = TALLYFOLD_CLI_PATH;
  argv.push_back(program.data());
  std::vector<std::string> copies = args;
  for (std::string& arg : copies) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const pid_t child = fork();
  if (child == 0) {
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
  CliResult result;
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status)) {
    result.status = WEXITSTATUS(status);
  }
  result.out = ReadBytes(out_path);
  result.err = ReadBytes(err_path);
  return result;
}

}  // namespace tallyfold::testing
