// tallyfold-cli: the command-line front end of the search.
//
// What the program does with its arguments is app/CommandLine.h's; main
// fixes the locale's code page, lets Ctrl-C (SIGINT) and SIGTERM stop the
// search instead of killing the program, and returns RunCli's exit status.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "platform/CodePage.h"

namespace {

// Set from the SIGINT and SIGTERM handler, and watched by the search.
std::atomic<bool> g_stop_requested{false};
volatile std::sig_atomic_t g_stop_signal = 0;  // the signal that set it
static_assert(std::atomic<bool>::is_always_lock_free,
              "the signal handler may only touch a lock-free atomic");

void OnStopSignal(int signal) {
  g_stop_signal = signal;
  g_stop_requested.store(true);
}

// Ctrl-C and SIGTERM stop the search instead of killing the program in the
// middle of it. The handler is reset after one signal, so a second Ctrl-C
// ends the program at once should the search be slow to stop (the previous
// report still stays whole: the new one is written beside it and renamed).
// A signal the program was started with ignored (a background job of a
// script) stays ignored.
void InstallStopHandlers() {
  for (const int signal : {SIGINT, SIGTERM}) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    sigaction(signal, &action, nullptr);
  }
}

}  // namespace

int main(int argc, char** argv) {
  tallyfold::InitSystemCodePage();
  InstallStopHandlers();
  tallyfold::CliControl control;
  control.cancel = &g_stop_requested;
  control.stop_signal = &g_stop_signal;
  control.show_progress = isatty(STDERR_FILENO) == 1;
  return tallyfold::RunCli(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr,
                           control);
}
