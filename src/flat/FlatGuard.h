// What every C entry point over the library shares: one lock, so that calls
// from a host's several threads run one at a time and an update's frames are
// never interleaved with another call's; a barrier that turns a C++ exception
// into a result code; and the calling thread's last failure text.
#pragma once

#include <exception>
#include <memory>
#include <mutex>
#include <string>

#include "zugen4/extend/Platform.h"

namespace Zu::Flat {

// Recursive: an entry point may call another one.
std::recursive_mutex& InterfaceLock();

// The calling thread's text of its most recent failure.
std::string& LastError();
#if defined(_WIN32)
// Forgets the calling thread's text; DllMain calls it as the thread ends.
void ForgetThread();
#endif

// Runs f under the lock and returns what it returns.
template <typename F>
auto Locked(F&& f) {
  const std::lock_guard<std::recursive_mutex> lock(InterfaceLock());
  return f();
}

// Runs f under the lock; an exception becomes failed, its message the
// thread's last error, and ok is returned otherwise.
template <typename F>
unsigned char Barrier(unsigned char ok, unsigned char failed, F&& f) {
  const std::lock_guard<std::recursive_mutex> lock(InterfaceLock());
  try {
    f();
    return ok;
  } catch (const std::exception& e) {
    LastError() = e.what();
  } catch (...) {
    LastError() = "unknown failure";
  }
  return failed;
}

// The platform with its timer callbacks run under the lock too: a tuner's
// polling must not cut into a call from another thread.
TPlatform WithGuardedTimers(TPlatform platform);

}  // namespace Zu::Flat
