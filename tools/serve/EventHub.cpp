#include "EventHub.h"

namespace Zu::Serve {

void TEventHub::Publish(std::string type, std::string data) {
  FEvents.push_back({++FLastId, std::move(type), std::move(data)});
  while (FEvents.size() > FKeep) FEvents.pop_front();
  if (OnPublish) OnPublish(FEvents.back());
}

std::vector<TEvent> TEventHub::Since(uint64_t after) const {
  std::vector<TEvent> out;
  for (const TEvent& e : FEvents)
    if (e.Id > after) out.push_back(e);
  return out;
}

}  // namespace Zu::Serve
