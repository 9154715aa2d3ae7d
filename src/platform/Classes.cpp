#include "zugen4/Classes.h"

#include <algorithm>

namespace Zu {

TObject::~TObject() = default;
TPersistent::~TPersistent() = default;

TComponent::TComponent(TComponent* AOwner) : FOwner(AOwner) {
  if (FOwner) FOwner->FComponents.push_back(this);
}

TComponent::~TComponent() {
  FComponentState.Include(csDestroying);
  // Children unregister themselves while being destroyed, so take them from
  // the back one by one.
  while (!FComponents.empty()) {
    TComponent* child = FComponents.back();
    FComponents.pop_back();
    child->FOwner = nullptr;
    delete child;
  }
  if (FOwner) {
    auto& siblings = FOwner->FComponents;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

void TComponent::Loaded() { FComponentState.Exclude(csLoading); }

Exception::Exception(const std::string& message) : std::runtime_error(message), FMessage(message) {}
Exception::~Exception() = default;
EOutOfResources::~EOutOfResources() = default;
EInOutError::~EInOutError() = default;

}  // namespace Zu
