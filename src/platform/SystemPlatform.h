// Factories of the system implementations behind SystemPlatform().
#pragma once

#include <memory>

#include "platform/Platform.h"

namespace Zu {

std::shared_ptr<TFtDriver> CreateSystemDriver();
std::shared_ptr<TClock> CreateSystemClock();
// May be empty where the platform has no timer service yet.
std::shared_ptr<TTimerService> CreateSystemTimers();

}  // namespace Zu
