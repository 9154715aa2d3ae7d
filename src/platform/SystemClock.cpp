#include <cerrno>
#include <ctime>

#include "platform/SystemPlatform.h"

#if defined(_WIN32)
#include <windows.h>
#endif

namespace Zu {
namespace {

#if defined(_WIN32)
class TWinClock final : public TClock {
 public:
  uint32_t GetTickCount() override { return ::GetTickCount(); }
  void Sleep(uint32_t ms) override { ::Sleep(ms); }
};
using TSystemClock = TWinClock;
#else
class TMonotonicClock final : public TClock {
 public:
  uint32_t GetTickCount() override {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    // Wraps like the Windows tick count; callers use unsigned differences.
    const uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
  }
  void Sleep(uint32_t ms) override {
    timespec req{static_cast<time_t>(ms / 1000u), static_cast<long>(ms % 1000u) * 1000000L};
    while (nanosleep(&req, &req) != 0 && errno == EINTR) {
    }
  }
};
using TSystemClock = TMonotonicClock;
#endif

}  // namespace

std::shared_ptr<TClock> CreateSystemClock() { return std::make_shared<TSystemClock>(); }

}  // namespace Zu
