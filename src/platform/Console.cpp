// The POSIX console services: the arguments as given, isatty, and SIGINT
// and SIGTERM handlers that set the stop flag.
//
// This file's external interface is Console.h; tests/app/CliEndToEndTest.cpp
// covers it through the program.
#include "platform/Console.h"

#include <signal.h>
#include <unistd.h>

namespace tallyfold {

namespace {

std::atomic<bool>* g_stop = nullptr;
volatile std::sig_atomic_t* g_signal = nullptr;
static_assert(std::atomic<bool>::is_always_lock_free,
              "the signal handler may only touch a lock-free atomic");

void OnStopSignal(int signal) {
  *g_signal = signal;
  g_stop->store(true);
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

void PrepareConsoleOutput() {}

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

void InstallStopHandlers(std::atomic<bool>& stop, volatile std::sig_atomic_t& signal) {
  g_stop = &stop;
  g_signal = &signal;
  // SA_RESETHAND: the handler goes after one signal, so a second Ctrl+C ends
  // the program at once (the previous report still stays whole: the new one
  // is written beside it and renamed).
  for (const int number : {SIGINT, SIGTERM}) {
    struct sigaction current {};
    if (::sigaction(number, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    ::sigaction(number, &action, nullptr);
  }
}

void StopHandlingDone() {}

}  // namespace tallyfold
