// Opening a document with the desktop's handler for it.
//
// The search asks the desktop to show the report it wrote; whether that works
// (no desktop, no handler) does not change the search's outcome, so the
// request is fire-and-forget.
//
//   tallyfold::OpenDocument("/home/me/result.htm");
#pragma once

#include <string>

namespace tallyfold {

// Starts `xdg-open path` detached from this process (its own session, no
// terminal, output discarded) and returns at once. Every failure is ignored.
void OpenDocument(const std::string& path);

}  // namespace tallyfold
