// The panel's event stream: every change, refusal, link failure, ADC reading
// and frame sent becomes one numbered event that each watching browser reads
// from the number it has seen on.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace Zu::Serve {

struct TEvent {
  uint64_t Id;
  std::string Type;  // the SSE event name: "setup", "mode", "refused", ...
  std::string Data;  // one line of JSON
};

// Used on the generator's thread only, like everything the server runs.
class TEventHub {
 public:
  explicit TEventHub(size_t keep = 512) : FKeep(keep) {}

  // Keeps the event (the oldest one goes beyond `keep`) and hands it to
  // OnPublish.
  void Publish(std::string type, std::string data);
  // The number of the newest event (0 before the first).
  uint64_t LastId() const { return FLastId; }
  // The events kept that are newer than `after`. A reader that fell behind
  // by more than the hub keeps gets what is left.
  std::vector<TEvent> Since(uint64_t after) const;
  size_t Kept() const { return FEvents.size(); }

  // The server's: sends each new event to the watching browsers.
  std::function<void(const TEvent&)> OnPublish;

 private:
  std::deque<TEvent> FEvents;
  uint64_t FLastId = 0;
  size_t FKeep;
};

}  // namespace Zu::Serve
