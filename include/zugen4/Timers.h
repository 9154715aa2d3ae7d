// Owner-thread timers. A timer started on a thread runs its callback on that
// thread only, and only while the thread hands control to the timer queue:
// on Windows through its ordinary message loop (or ProcessMessages below);
// elsewhere through ProcessMessages, which the host calls from its own loop,
// from a WaitMessages loop, or when MessagesFd becomes readable.
#pragma once

#include <memory>

#include "zugen4/extend/Platform.h"

namespace Zu {

// Runs the calling thread's timers that are due, each once, earliest first;
// returns how many ran. A period missed while the thread was busy yields one
// call, not a burst. A timer whose callback is still running (the callback
// dispatched messages itself) is not entered again; that tick is dropped.
// When a callback throws, its timer keeps running, the queue stays
// consistent, and the exception propagates here; timers still due run at the
// next call. On Windows this dispatches all waiting messages of the thread.
ZUGEN_API int ProcessMessages();

// Blocks until one of the calling thread's timers is due or timeoutMs has
// passed; true when something is due (on Windows: any message for the thread).
// A negative timeout waits without limit, except that a thread with no timer
// that could fall due returns false at once instead of hanging for ever.
ZUGEN_API bool WaitMessages(int timeoutMs);

// A descriptor that is readable while one of the calling thread's timers is
// due, for a host's poll/select/epoll loop; ProcessMessages clears it. Owned by
// the library and valid for the thread's life. -1 on Windows, where the
// thread's message queue plays this part, and when the system has none to give.
ZUGEN_API int MessagesFd();

// The timer service behind SystemPlatform().Timers: every timer belongs to
// the thread that started it. Stop may be called from any thread, but off the
// owner thread it does not wait for a callback that is already running: an
// object its callback uses must be destroyed on the owner thread (as a
// generator must be).
std::shared_ptr<TTimerService> CreateOwnerThreadTimers();

}  // namespace Zu
