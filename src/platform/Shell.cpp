// Opening a document through xdg-open.
//
// This file's external interface is Shell.h.
#include "platform/Shell.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace tallyfold {

void OpenDocument(const std::string& path) {
  // Double fork: the intermediate child exits at once and is reaped here, so
  // the opener is adopted by init and never lingers as a zombie of a
  // long-running window.
  const pid_t child = fork();
  if (child < 0) return;
  if (child == 0) {
    setsid();
    const pid_t opener = fork();
    if (opener == 0) {
      const int null_fd = open("/dev/null", O_RDWR);
      if (null_fd >= 0) {
        dup2(null_fd, STDIN_FILENO);
        dup2(null_fd, STDOUT_FILENO);
        dup2(null_fd, STDERR_FILENO);
        if (null_fd > STDERR_FILENO) close(null_fd);
      }
      execlp("xdg-open", "xdg-open", path.c_str(), static_cast<char*>(nullptr));
    }
    _exit(0);
  }
  while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
  }
}

}  // namespace tallyfold
