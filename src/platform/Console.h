// What a command-line program needs of its process and console: its
// arguments as the program's byte strings, output a console shows right,
// whether standard error is a terminal, and a stop request from the user
// (Ctrl+C) or the system turned into a flag the work watches.
//
//   int main(int argc, char** argv) {
//     tallyfold::PrepareConsoleOutput();
//     tallyfold::InstallStopHandlers(g_stop, g_signal);
//     int status = Run(tallyfold::ProgramArguments(argc, argv), ...);
//     tallyfold::StopHandlingDone();
//     return status;
//   }
//
// POSIX: SIGINT and SIGTERM set the flag. Windows: Ctrl+C sets it as SIGINT
// does; Ctrl+Break, closing the console, logging off and shutting down set it
// as SIGTERM does.
#pragma once

#include <atomic>
#include <csignal>
#include <string>
#include <vector>

namespace tallyfold {

// The arguments after the program's name. POSIX: the bytes as given;
// Windows: the wide command line (GetCommandLineW) in UTF-8, the program's
// byte strings there, so that no character outside the ANSI code page is
// lost.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Makes a console show the UTF-8 the program writes (Windows: the
// console's output code page becomes UTF-8); nothing on POSIX systems.
void PrepareConsoleOutput();

// True when standard error is a terminal (a console on Windows).
bool StandardErrorIsTerminal();

// From now on a stop request sets `stop` and puts the signal it stands for
// (SIGINT or SIGTERM) in `signal`, instead of ending the program. The first
// request only: a second Ctrl+C ends the program at once, should the work be
// slow to stop. POSIX: a signal the program was started with ignored (a
// background job of a script) stays ignored. Windows: when the console is
// closed, the system ends the process once the handler returns, so the
// handler waits (a few seconds at most) for StopHandlingDone.
void InstallStopHandlers(std::atomic<bool>& stop, volatile std::sig_atomic_t& signal);

// Says the work is over and whatever a stop request must leave behind is
// in place (Windows: lets a waiting console-close handler return).
void StopHandlingDone();

}  // namespace tallyfold
