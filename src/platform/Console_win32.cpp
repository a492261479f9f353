// The Windows console services: the wide command line, a UTF-8 console,
// and a console control handler that turns Ctrl+C, Ctrl+Break and the
// console being closed into the stop flag.
//
// The handler runs on a thread the system starts for it. For Ctrl+C and
// Ctrl+Break it sets the flag and returns; the search sees the flag, stops,
// removes what it was writing and the program ends with 130 or 143, as on
// POSIX systems. When the console is closed (or the user logs off, or the
// system shuts down), the system ends the process as soon as the handler
// returns, so the handler waits for StopHandlingDone: for up to
// kCloseGrace, within the five seconds the system allows.
//
// This file's external interface is Console.h; tests/app/CliEndToEndTest.cpp
// covers it through the program.
#include <windows.h>
#include <shellapi.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include <io.h>

#include "platform/Console.h"
#include "platform/Win32Text.h"

namespace tallyfold {

namespace {

constexpr DWORD kCloseGrace = 4000;  // milliseconds

std::atomic<bool>* g_stop = nullptr;
volatile std::sig_atomic_t* g_signal = nullptr;
std::atomic<bool> g_requested{false};
HANDLE g_done = nullptr;  // set by StopHandlingDone

BOOL WINAPI OnConsoleControl(DWORD event) {
  // A second request is the system's to handle: Ctrl+C ends the program.
  if (g_requested.exchange(true)) return FALSE;
  *g_signal = event == CTRL_C_EVENT ? SIGINT : SIGTERM;
  g_stop->store(true);
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT)
    ::WaitForSingleObject(g_done, kCloseGrace);
  return TRUE;
}

}  // namespace

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  wchar_t** wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv + 1, argv + argc);
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(win32::Narrow(wide[i]));
  ::LocalFree(wide);
  return args;
}

void PrepareConsoleOutput() {
  ::SetConsoleOutputCP(CP_UTF8);
  // The C runtime would turn each "\n" into "\r\n"; the program's output is
  // the same bytes as on other systems, which a console shows as well.
  ::_setmode(::_fileno(stdout), _O_BINARY);
  ::_setmode(::_fileno(stderr), _O_BINARY);
}

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

void InstallStopHandlers(std::atomic<bool>& stop, volatile std::sig_atomic_t& signal) {
  g_stop = &stop;
  g_signal = &signal;
  g_done = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  ::SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

void StopHandlingDone() {
  if (g_done != nullptr) ::SetEvent(g_done);
}

}  // namespace tallyfold
