// Opening a document through xdg-open.
//
// This file's external interface is Shell.h; tests/app/OpenDocumentTest.cpp
// covers it, and tests/app/CliMessagesTest.cpp through the program.
#include "platform/Shell.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tallyfold {

namespace {

// The intermediate child's exit statuses.
constexpr int kOpened = 0;
constexpr int kNotOpened = 1;

// The opener's exit status when it cannot be started at all.
constexpr int kNotStarted = 127;

// How often the intermediate child looks whether the opener has ended.
constexpr long kPollNanoseconds = 10'000'000;

// In the intermediate child: runs the opener and waits for it, at most
// `patience`; exits kOpened or kNotOpened. An opener still running then is
// left behind; with this child gone, init adopts and reaps it.
[[noreturn]] void RunOpener(const std::string& path, std::chrono::milliseconds patience) {
  setsid();
  const pid_t opener = fork();
  if (opener < 0) _exit(kNotOpened);
  if (opener == 0) {
    const int null_fd = open("/dev/null", O_RDWR);
    if (null_fd >= 0) {
      dup2(null_fd, STDIN_FILENO);
      dup2(null_fd, STDOUT_FILENO);
      dup2(null_fd, STDERR_FILENO);
      if (null_fd > STDERR_FILENO) close(null_fd);
    }
    execlp("xdg-open", "xdg-open", path.c_str(), static_cast<char*>(nullptr));
    _exit(kNotStarted);
  }
  const long long polls = patience.count() * 1'000'000LL / kPollNanoseconds + 1;
  for (long long poll = 0; poll < polls; ++poll) {
    int status = 0;
    const pid_t ended = waitpid(opener, &status, WNOHANG);
    if (ended == opener)
      _exit(WIFEXITED(status) && WEXITSTATUS(status) == 0 ? kOpened : kNotOpened);
    if (ended < 0 && errno != EINTR) _exit(kNotOpened);
    const timespec pause{0, kPollNanoseconds};
    nanosleep(&pause, nullptr);
  }
  _exit(kOpened);
}

}  // namespace

bool OpenDocument(const std::string& path, std::chrono::milliseconds patience) {
  // Double fork: the intermediate child waits for the opener and tells its
  // answer by its own exit status; an opener that outlives it is adopted by
  // init, and never lingers as a zombie of a long-running window.
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) RunOpener(path, patience);
  int status = 0;
  pid_t ended;
  while ((ended = waitpid(child, &status, 0)) < 0 && errno == EINTR) {
  }
  return ended == child && WIFEXITED(status) && WEXITSTATUS(status) == kOpened;
}

bool DesktopAvailable() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

}  // namespace tallyfold
