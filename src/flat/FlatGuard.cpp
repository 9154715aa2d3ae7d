#include "flat/FlatGuard.h"

#if defined(_WIN32)
#include <map>
#include <thread>
#endif

namespace Zu::Flat {

std::recursive_mutex& InterfaceLock() {
  static std::recursive_mutex lock;
  return lock;
}

#if defined(_WIN32)
// Not a thread_local std::string on Windows: the C++ runtime keeps a DLL with
// thread-local destructors loaded while such a thread lives, so FreeLibrary
// could not unload Zugen.dll (nor could its unload release a generator the
// host forgot). DllMain drops a thread's text when the thread ends.
namespace {
std::mutex gTextsLock;
std::map<std::thread::id, std::string>& Texts() {
  static std::map<std::thread::id, std::string> texts;
  return texts;
}
}  // namespace

std::string& LastError() {
  const std::lock_guard<std::mutex> lock(gTextsLock);
  return Texts()[std::this_thread::get_id()];  // map elements never move
}

void ForgetThread() {
  const std::lock_guard<std::mutex> lock(gTextsLock);
  Texts().erase(std::this_thread::get_id());
}
#else
std::string& LastError() {
  thread_local std::string text;
  return text;
}
#endif

namespace {

class TGuardedTimers final : public TTimerService {
 public:
  explicit TGuardedTimers(std::shared_ptr<TTimerService> inner) : FInner(std::move(inner)) {}
  uint32_t Start(uint32_t periodMs, TCallback callback) override {
    return FInner->Start(periodMs, [cb = std::move(callback)] { Locked(cb); });
  }
  // Off the owner thread Stop does not wait for a running callback, so
  // holding the lock here cannot deadlock with one waiting for it.
  void Stop(uint32_t id) override { FInner->Stop(id); }

 private:
  std::shared_ptr<TTimerService> FInner;
};

}  // namespace

TPlatform WithGuardedTimers(TPlatform platform) {
  platform.Timers = std::make_shared<TGuardedTimers>(std::move(platform.Timers));
  return platform;
}

}  // namespace Zu::Flat
