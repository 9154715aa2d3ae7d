// Timers on virtual time: nothing runs until the test moves the virtual clock
// forward through the service, and then every tick runs at its own moment.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "zugen4/extend/Platform.h"

namespace Zu::Sim {

class TVirtualClock;

class TSimTimers final : public TTimerService {
 public:
  explicit TSimTimers(std::shared_ptr<TVirtualClock> clock);

  uint32_t Start(uint32_t periodMs, TCallback callback) override;
  void Stop(uint32_t id) override;

  // While set, Start refuses as a system out of timers would.
  void Refuse(bool refuse) { FRefuse = refuse; }
  // Moves virtual time forward by ms, running each tick that falls due on the
  // way at its own time, earliest first; returns how many ran. Time spent in
  // callbacks (the link's waits) counts toward the span. An exception from a
  // callback leaves here with the clock at that tick and its timer running.
  int Advance(uint64_t ms);
  // Runs what is due at the current virtual time, without moving it.
  int RunDue() { return Advance(0); }
  // The periods of the live timers, oldest first.
  std::vector<uint32_t> Periods() const;

 private:
  struct TEntry {
    std::shared_ptr<const TCallback> Callback;
    uint64_t Period;
    uint64_t Due;
    bool Running = false;
  };

  std::shared_ptr<TVirtualClock> FClock;
  std::map<uint32_t, TEntry> FTimers;
  uint32_t FLastId = 0;
  bool FRefuse = false;
};

}  // namespace Zu::Sim
