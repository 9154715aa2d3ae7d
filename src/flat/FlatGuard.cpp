#include "flat/FlatGuard.h"

namespace Zu::Flat {

std::recursive_mutex& InterfaceLock() {
  static std::recursive_mutex lock;
  return lock;
}

std::string& LastError() {
  thread_local std::string text;
  return text;
}

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
