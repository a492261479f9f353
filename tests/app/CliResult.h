// Internal to the app tests: what one run of the command line gave, run as a
// process (app/CliRunner.h) or inside the test (app/CliInProcess.h).
#pragma once

#include <string>

namespace tallyfold::testing {

struct CliResult {
  int status = -1;  // exit status; -1 when the program did not exit normally
  std::string out;  // what it wrote to stdout
  std::string err;  // what it wrote to stderr
};

}  // namespace tallyfold::testing
