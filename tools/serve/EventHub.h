// The panel's event stream: every change, refusal, link failure, ADC reading
// and frame sent becomes one numbered event that each watching browser reads
// from the number it has seen on.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

namespace Zu::Serve {

struct TEvent {
  uint64_t Id;
  std::string Type;  // the SSE event name: "setup", "mode", "refused", ...
  std::string Data;  // one line of JSON
};

class TEventHub {
 public:
  explicit TEventHub(size_t keep = 512) : FKeep(keep) {}

  // Thread-safe; wakes every waiting reader.
  void Publish(std::string type, std::string data);
  // The number of the newest event (0 before the first).
  uint64_t LastId() const;
  // Events newer than `after`, waiting up to timeoutMs for the first one.
  // Returns at once, empty, once Close was called. A reader that fell behind
  // by more than the hub keeps gets what is left.
  std::vector<TEvent> Wait(uint64_t after, int timeoutMs);
  // Ends every wait for good (the server is stopping).
  void Close();
  bool Closed() const;

 private:
  mutable std::mutex FMutex;
  std::condition_variable FChanged;
  std::deque<TEvent> FEvents;
  uint64_t FLastId = 0;
  size_t FKeep;
  bool FClosed = false;
};

}  // namespace Zu::Serve
