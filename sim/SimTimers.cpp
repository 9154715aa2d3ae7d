#include "zugen4/sim/SimTimers.h"

#include <algorithm>

#include "zugen4/sim/SimInstrument.h"

namespace Zu::Sim {

TSimTimers::TSimTimers(std::shared_ptr<TVirtualClock> clock) : FClock(std::move(clock)) {}

uint32_t TSimTimers::Start(uint32_t periodMs, TCallback callback) {
  if (FRefuse || !FClock || !callback) return 0;
  const uint64_t period = std::max<uint32_t>(periodMs, 1u);
  const uint32_t id = ++FLastId;
  FTimers[id] = TEntry{std::make_shared<const TCallback>(std::move(callback)), period, FClock->Now() + period};
  return id;
}

void TSimTimers::Stop(uint32_t id) { FTimers.erase(id); }

int TSimTimers::Advance(uint64_t ms) {
  const uint64_t target = FClock->Now() + ms;
  int ran = 0;
  for (;;) {
    // The earliest tick due by the target; a timer inside its own callback
    // is not entered again.
    auto next = FTimers.end();
    for (auto it = FTimers.begin(); it != FTimers.end(); ++it)
      if (!it->second.Running && it->second.Due <= target &&
          (next == FTimers.end() || it->second.Due < next->second.Due))
        next = it;
    if (next == FTimers.end()) break;
    const uint32_t id = next->first;
    TEntry& e = next->second;
    if (e.Due > FClock->Now()) FClock->Advance(e.Due - FClock->Now());
    // Periods missed while a callback kept the clock busy collapse into one.
    e.Due += e.Period;
    if (e.Due <= FClock->Now()) e.Due = FClock->Now() + e.Period;
    e.Running = true;
    const std::shared_ptr<const TCallback> callback = e.Callback;  // survives a Stop from inside
    auto leave = [&] {
      const auto it = FTimers.find(id);
      if (it != FTimers.end()) it->second.Running = false;
    };
    ++ran;
    try {
      (*callback)();
    } catch (...) {
      leave();
      throw;
    }
    leave();
  }
  if (FClock->Now() < target) FClock->Advance(target - FClock->Now());
  return ran;
}

std::vector<uint32_t> TSimTimers::Periods() const {
  std::vector<uint32_t> periods;
  for (const auto& [id, e] : FTimers) periods.push_back(static_cast<uint32_t>(e.Period));
  return periods;
}

}  // namespace Zu::Sim
