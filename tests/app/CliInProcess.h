// Internal to the app tests: runs the command line (app/CommandLine.h)
// inside the test, in a given folder, with string streams for its output,
// as the program would run under a UTF-8 locale with no terminal.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/CliResult.h"
#include "app/CommandLine.h"
#include "platform/CodePage.h"

namespace tallyfold::testing {

// The program runs under the locale it is given; the tests give C.UTF-8,
// fixed before anything in the test reads the system code page. (Windows:
// the program's code page is UTF-8 whatever the locale.)
inline const bool kUtf8CodePage = [] {
#ifndef _WIN32
  setenv("LC_ALL", "C.UTF-8", 1);
#endif
  InitSystemCodePage();
  return SystemCodePage().IsUtf8();
}();

// Makes `folder` (UTF-8) the current folder; false when it cannot be.
inline bool EnterFolder(const std::string& folder) {
#ifdef _WIN32
  const std::u16string wide = Utf8Decode(folder);
  return ::SetCurrentDirectoryW(reinterpret_cast<const wchar_t*>(wide.c_str())) != 0;
#else
  return chdir(folder.c_str()) == 0;
#endif
}

// Runs the command line with `args` (no program name) in the folder `cwd`,
// whose relative paths are taken from there, and comes back to the folder
// the test was in. `control` may set the cancel flag.
inline CliResult RunCliInProcess(const std::vector<std::string>& args, const std::string& cwd,
                                 const CliControl& control = {}) {
  if (!kUtf8CodePage) throw std::runtime_error("the system code page is not UTF-8");
  const std::string back = std::filesystem::current_path().string();
  if (!EnterFolder(cwd)) throw std::runtime_error("cannot enter " + cwd);
  std::ostringstream out;
  std::ostringstream err;
  CliResult result;
  result.status = RunCli(args, out, err, control);
  if (!EnterFolder(back)) throw std::runtime_error("cannot go back to " + back);
  result.out = out.str();
  result.err = err.str();
  return result;
}

}  // namespace tallyfold::testing
