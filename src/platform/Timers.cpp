// Owner-thread timers: each thread that starts a timer gets a queue of its
// own; a process-wide registry maps timer ids to queues so that Stop works
// from any thread. Callbacks run without any lock held, so they may start and
// stop timers, their own included.
#include "zugen4/Timers.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <exception>
#include <map>
#include <mutex>
#include <set>
#include <unordered_map>

#include "platform/SystemPlatform.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#endif

namespace Zu {
namespace {

// Shared, so that a callback stopping its own timer does not destroy the
// function object it is running in.
using TCallbackPtr = std::shared_ptr<const TTimerService::TCallback>;

struct TEntry {
  TCallbackPtr Callback;
  bool Running = false;
  int64_t PeriodNs = 0;  // the timing below is the queue's own; Windows keeps it in the system
  int64_t DueNs = 0;
};

#if !defined(_WIN32)
int64_t NowNs() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}
#endif

#if defined(_WIN32)
LRESULT CALLBACK TimerWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

const wchar_t kWindowClass[] = L"ZuGen4.OwnerThreadTimers";

HINSTANCE ThisModule() {
  static const int anchor = 0;
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&anchor), &module);
  return module;
}

bool RegisterWindowClass() {
  static const bool registered = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = TimerWndProc;
    wc.hInstance = ThisModule();
    wc.lpszClassName = kWindowClass;
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}
#endif

// The timers of one thread.
class TQueue {
 public:
  TQueue() {
#if defined(_WIN32)
    if (RegisterWindowClass())
      FWindow = CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, ThisModule(), nullptr);
#else
    FFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
#endif
  }
  ~TQueue() {
#if defined(_WIN32)
    // Fails harmlessly off the owner thread: the window went with its thread.
    if (FWindow) DestroyWindow(FWindow);
#else
    if (FFd >= 0) close(FFd);
#endif
  }
  TQueue(const TQueue&) = delete;
  TQueue& operator=(const TQueue&) = delete;

#if defined(_WIN32)
  bool Usable() const { return FWindow != nullptr; }
  HWND Window() const { return FWindow; }
#else
  bool Usable() const { return FFd >= 0; }
  int Fd() const { return FFd; }
#endif

  bool Add(uint32_t id, uint32_t periodMs, TCallbackPtr callback) {
    const int64_t period = int64_t{std::max<uint32_t>(periodMs, 1u)} * 1000000;
    {
      std::lock_guard<std::mutex> lock(FLock);
      TEntry& e = FTimers[id];
      e.Callback = std::move(callback);
      e.PeriodNs = period;
#if !defined(_WIN32)
      e.DueNs = NowNs() + period;
      Arm();
#endif
    }
#if defined(_WIN32)
    if (SetTimer(FWindow, id, periodMs, nullptr) == 0) {
      Remove(id);
      return false;
    }
#endif
    return true;
  }

  void Remove(uint32_t id) {
    std::lock_guard<std::mutex> lock(FLock);
    FTimers.erase(id);
#if defined(_WIN32)
    // Off the owner thread this fails; the window procedure then kills the
    // timer at its next tick, finding no entry for it.
    KillTimer(FWindow, id);
#else
    Arm();
#endif
  }

  bool Has(uint32_t id) {
    std::lock_guard<std::mutex> lock(FLock);
    return FTimers.count(id) != 0;
  }

  // True while some timer could still fall due.
  bool Waitable() {
    std::lock_guard<std::mutex> lock(FLock);
    return std::any_of(FTimers.begin(), FTimers.end(), [](const auto& t) { return !t.second.Running; });
  }

  // Marks the timer as running and hands out its callback, or null when it
  // is gone or already running (a tick that falls due inside its own
  // callback is dropped rather than nested).
  TCallbackPtr Enter(uint32_t id) {
    std::lock_guard<std::mutex> lock(FLock);
    const auto it = FTimers.find(id);
    if (it == FTimers.end() || it->second.Running) return nullptr;
    it->second.Running = true;
    return it->second.Callback;
  }

  void Leave(uint32_t id) {
    std::lock_guard<std::mutex> lock(FLock);
    const auto it = FTimers.find(id);
    if (it != FTimers.end()) it->second.Running = false;
#if !defined(_WIN32)
    Arm();
#endif
  }

#if !defined(_WIN32)
  // Picks the earliest timer due at `now` that is not running and moves it to
  // its next period; 0 when none. Missed periods collapse into one call.
  uint32_t TakeDue(int64_t now) {
    std::lock_guard<std::mutex> lock(FLock);
    uint32_t best = 0;
    int64_t bestDue = 0;
    for (auto& [id, e] : FTimers) {
      if (e.DueNs > now) continue;
      if (e.Running) {
        e.DueNs = now + e.PeriodNs;
        continue;
      }
      if (best == 0 || e.DueNs < bestDue) {
        best = id;
        bestDue = e.DueNs;
      }
    }
    if (best != 0) {
      TEntry& e = FTimers[best];
      e.DueNs += e.PeriodNs;
      if (e.DueNs <= now) e.DueNs = now + e.PeriodNs;
    }
    Arm();
    return best;
  }
#endif

 private:
#if !defined(_WIN32)
  // Points the descriptor at the earliest timer that is not running, or
  // disarms it. Setting the timer also clears a readiness already signalled.
  // Called with FLock held.
  void Arm() {
    int64_t next = INT64_MAX;
    for (const auto& [id, e] : FTimers)
      if (!e.Running) next = std::min(next, e.DueNs);
    itimerspec when{};
    if (next != INT64_MAX) {
      next = std::max<int64_t>(next, 1);  // zero would disarm
      when.it_value.tv_sec = static_cast<time_t>(next / 1000000000);
      when.it_value.tv_nsec = static_cast<long>(next % 1000000000);
    }
    timerfd_settime(FFd, TFD_TIMER_ABSTIME, &when, nullptr);
  }
  int FFd = -1;
#else
  HWND FWindow = nullptr;
#endif
  std::mutex FLock;
  std::map<uint32_t, TEntry> FTimers;
};

// The calling thread's queue, created on first need; null when the system
// gives no descriptor or window (a later call tries again).
std::shared_ptr<TQueue> ThreadQueue(bool create) {
  thread_local std::shared_ptr<TQueue> queue;
  if (!queue && create) {
    auto q = std::make_shared<TQueue>();
    if (q->Usable()) queue = std::move(q);
  }
  return queue;
}

std::mutex& RegistryLock() {
  static std::mutex lock;
  return lock;
}
std::unordered_map<uint32_t, std::weak_ptr<TQueue>>& Registry() {
  static std::unordered_map<uint32_t, std::weak_ptr<TQueue>> owners;
  return owners;
}

uint32_t NewId() {
  static std::atomic<uint32_t> last{0};
  uint32_t id = 0;
  do {
    id = ++last;
  } while (id == 0);
  return id;
}

// Runs one timer's callback; the queue is consistent again before an
// exception leaves.
bool RunTimer(TQueue& q, uint32_t id) {
  const TCallbackPtr callback = q.Enter(id);
  if (!callback) return false;
  try {
    (*callback)();
  } catch (...) {
    q.Leave(id);
    throw;
  }
  q.Leave(id);
  return true;
}

#if defined(_WIN32)
// What one ProcessMessages call has seen; nested calls keep their own.
struct TPump {
  int Ran = 0;
  std::exception_ptr Failure;
  // The timer messages taken so far, by window and id.
  std::set<std::pair<HWND, WPARAM>> Seen;
};
thread_local TPump* tPump = nullptr;

LRESULT CALLBACK TimerWndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg != WM_TIMER) return DefWindowProcW(hwnd, msg, wParam, lParam);
  const std::shared_ptr<TQueue> q = ThreadQueue(false);
  const auto id = static_cast<uint32_t>(wParam);
  if (!q || q->Window() != hwnd) return 0;
  if (!q->Has(id)) {
    // Stopped from another thread: only here can the timer be killed.
    KillTimer(hwnd, wParam);
    return 0;
  }
  try {
    if (RunTimer(*q, id) && tPump) ++tPump->Ran;
  } catch (...) {
    // An exception must not unwind through the system's dispatch. Inside
    // ProcessMessages it reaches the caller; under the host's own loop it
    // has already been reported (the link raised OnFTError) and is dropped.
    if (tPump && !tPump->Failure) tPump->Failure = std::current_exception();
  }
  return 0;
}
#endif

class TOwnerThreadTimers final : public TTimerService {
 public:
  uint32_t Start(uint32_t periodMs, TCallback callback) override {
    if (!callback) return 0;
    const std::shared_ptr<TQueue> q = ThreadQueue(true);
    if (!q) return 0;
    const uint32_t id = NewId();
    {
      std::lock_guard<std::mutex> lock(RegistryLock());
      Registry()[id] = q;
    }
    if (q->Add(id, periodMs, std::make_shared<const TCallback>(std::move(callback)))) return id;
    std::lock_guard<std::mutex> lock(RegistryLock());
    Registry().erase(id);
    return 0;
  }

  void Stop(uint32_t id) override {
    std::shared_ptr<TQueue> q;
    {
      std::lock_guard<std::mutex> lock(RegistryLock());
      const auto it = Registry().find(id);
      if (it == Registry().end()) return;
      q = it->second.lock();
      Registry().erase(it);
    }
    if (q) q->Remove(id);
  }
};

}  // namespace

std::shared_ptr<TTimerService> CreateOwnerThreadTimers() { return std::make_shared<TOwnerThreadTimers>(); }

std::shared_ptr<TTimerService> CreateSystemTimers() { return CreateOwnerThreadTimers(); }

#if defined(_WIN32)

int ProcessMessages() {
  TPump pump;
  struct TRestore {
    TPump* outer;
    ~TRestore() { tPump = outer; }
  } restore{tPump};
  tPump = &pump;
  MSG msg;
  while (!pump.Failure && PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Not ours to consume: leave it for the host's own loop.
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    // Each timer once per call: the system makes a new timer message as soon
    // as a period has passed, so a timer whose callback outlasts its period
    // would run again and again (and keep this loop going). The repeat is a
    // missed period: dropped, as one at the next call would be.
    if (msg.message == WM_TIMER && !pump.Seen.emplace(msg.hwnd, msg.wParam).second) break;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (pump.Failure) std::rethrow_exception(pump.Failure);
  return pump.Ran;
}

bool WaitMessages(int timeoutMs) {
  const std::shared_ptr<TQueue> q = ThreadQueue(false);
  if (timeoutMs < 0 && (!q || !q->Waitable())) return false;
  const DWORD wait = timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs);
  return MsgWaitForMultipleObjectsEx(0, nullptr, wait, QS_ALLINPUT, MWMO_INPUTAVAILABLE) == WAIT_OBJECT_0;
}

int MessagesFd() { return -1; }

#else

int ProcessMessages() {
  const std::shared_ptr<TQueue> q = ThreadQueue(false);
  if (!q) return 0;
  // Only what is due now: a short period cannot keep this loop going.
  const int64_t now = NowNs();
  int ran = 0;
  while (const uint32_t id = q->TakeDue(now)) {
    if (RunTimer(*q, id)) ++ran;
  }
  return ran;
}

bool WaitMessages(int timeoutMs) {
  const std::shared_ptr<TQueue> q = ThreadQueue(timeoutMs >= 0);
  if (timeoutMs < 0 && (!q || !q->Waitable())) return false;
  const int64_t deadline = timeoutMs < 0 ? -1 : NowNs() + int64_t{timeoutMs} * 1000000;
  for (;;) {
    int waitMs = -1;
    if (deadline >= 0) {
      const int64_t left = std::max<int64_t>(deadline - NowNs(), 0);
      waitMs = static_cast<int>((left + 999999) / 1000000);
    }
    if (!q) {
      // No descriptor to be had: nothing of ours can fall due; just wait.
      const timespec ts{static_cast<time_t>(waitMs / 1000), static_cast<long>(waitMs % 1000) * 1000000L};
      nanosleep(&ts, nullptr);
      return false;
    }
    pollfd p{q->Fd(), POLLIN, 0};
    const int r = poll(&p, 1, waitMs);
    if (r > 0) return true;
    if (r == 0 || errno != EINTR) return false;
  }
}

int MessagesFd() {
  const std::shared_ptr<TQueue> q = ThreadQueue(true);
  return q ? q->Fd() : -1;
}

#endif

}  // namespace Zu
