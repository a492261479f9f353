// Opening a document with the desktop's handler for it.
//
// The search asks the desktop to show the report it wrote. Whether that
// works (no desktop, no handler) does not change the search's outcome, but
// the caller is told, so that it can say the report was not opened:
//
//   if (!tallyfold::OpenDocument("/home/me/result.htm")) ...  // say so
//
// The opener is xdg-open, looked up on PATH. It hands the document over and
// exits: 0 when it did, non-zero when nothing took it (3 when no handler
// takes the document, 4 when the handler it started failed). An opener that
// cannot be started (none on PATH) fails the same way. One that is still
// running after `patience` is taken to have started a handler that is in
// use (some handlers keep xdg-open waiting until they close): that counts
// as opened, and it is left to run. Never raises.
#pragma once

#include <chrono>
#include <string>

namespace tallyfold {

// How long OpenDocument waits for the opener's answer by default.
inline constexpr std::chrono::milliseconds kOpenPatience{8000};

// Runs `xdg-open path` detached from this process (its own session, no
// terminal, output discarded) and waits for its exit status, at most
// `patience`. Returns whether the document was handed over. The opener
// never lingers as a child of this process, however long it runs.
bool OpenDocument(const std::string& path, std::chrono::milliseconds patience = kOpenPatience);

// Whether there is a desktop to show a window on: POSIX systems need
// QT_QPA_PLATFORM, DISPLAY or WAYLAND_DISPLAY set; Windows always has one.
bool DesktopAvailable();

}  // namespace tallyfold
