// tallyfold-cli: the command-line front end of the search.
//
// What the program does with its arguments is app/CommandLine.h's; main
// fixes the code page, lets a stop request (Ctrl+C, SIGTERM, a console
// closed) stop the search instead of killing the program, and returns
// RunCli's exit status. The process and console services are
// platform/Console.h's.
#include <atomic>
#include <csignal>
#include <iostream>

#include "app/CommandLine.h"
#include "platform/CodePage.h"
#include "platform/Console.h"

namespace {

// Set by the stop handlers and watched by the search.
std::atomic<bool> g_stop_requested{false};
volatile std::sig_atomic_t g_stop_signal = 0;  // the signal that set it

}  // namespace

int main(int argc, char** argv) {
  tallyfold::InitSystemCodePage();
  tallyfold::PrepareConsoleOutput();
  tallyfold::InstallStopHandlers(g_stop_requested, g_stop_signal);
  tallyfold::CliControl control;
  control.cancel = &g_stop_requested;
  control.stop_signal = &g_stop_signal;
  control.show_progress = tallyfold::StandardErrorIsTerminal();
  const int status = tallyfold::RunCli(tallyfold::ProgramArguments(argc, argv), std::cout,
                                       std::cerr, control);
  std::cout.flush();
  tallyfold::StopHandlingDone();
  return status;
}
