#include "EventHub.h"

#include <chrono>

namespace Zu::Serve {

void TEventHub::Publish(std::string type, std::string data) {
  {
    std::lock_guard lock(FMutex);
    FEvents.push_back({++FLastId, std::move(type), std::move(data)});
    while (FEvents.size() > FKeep) FEvents.pop_front();
  }
  FChanged.notify_all();
}

uint64_t TEventHub::LastId() const {
  std::lock_guard lock(FMutex);
  return FLastId;
}

std::vector<TEvent> TEventHub::Wait(uint64_t after, int timeoutMs) {
  std::unique_lock lock(FMutex);
  FChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return FClosed || FLastId > after; });
  std::vector<TEvent> out;
  if (FClosed) return out;
  for (const TEvent& e : FEvents)
    if (e.Id > after) out.push_back(e);
  return out;
}

void TEventHub::Close() {
  {
    std::lock_guard lock(FMutex);
    FClosed = true;
  }
  FChanged.notify_all();
}

bool TEventHub::Closed() const {
  std::lock_guard lock(FMutex);
  return FClosed;
}

}  // namespace Zu::Serve
