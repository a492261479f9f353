// The project's base exception class.
//
// Every failure the core raises is an exception derived from
// tallyfold::Exception. It carries one fixed, formatted message; what()
// returns it as UTF-8, and the front ends show it as it stands (the window in
// its error box, the command line on stderr).
//
//   try { engine.Exec(line); }
//   catch (const tallyfold::Exception& e) { std::cerr << e.what(); }
//
// A long operation that can be stopped takes a `const std::atomic<bool>*`
// (nullptr: it cannot be) and looks at it now and then:
//
//   ThrowIfCancelled(cancel);              // raises ECancelled once it is set
//   if (IsCancelled(cancel)) return;       // or just asks
#pragma once

#include <atomic>
#include <stdexcept>
#include <string>

namespace tallyfold {

class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& utf8_message)
      : std::runtime_error(utf8_message) {}
};

// Raised when the user stops a running search. It is not an error: front
// ends show nothing for it, and no report is written.
class ECancelled : public Exception {
 public:
  ECancelled() : Exception("Search cancelled") {}
};

// Whether the stop flag `cancel` is set; a null flag never is.
inline bool IsCancelled(const std::atomic<bool>* cancel) {
  return cancel != nullptr && cancel->load(std::memory_order_relaxed);
}

// Raises ECancelled once the stop flag `cancel` is set.
inline void ThrowIfCancelled(const std::atomic<bool>* cancel) {
  if (IsCancelled(cancel)) throw ECancelled();
}

}  // namespace tallyfold
