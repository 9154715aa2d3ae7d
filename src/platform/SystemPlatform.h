// Factories of the system implementations behind SystemPlatform().
#pragma once

#include <memory>

#include "zugen4/extend/Platform.h"

namespace Zu {

std::shared_ptr<TFtDriver> CreateSystemDriver();
std::shared_ptr<TClock> CreateSystemClock();
// The owner-thread timer queue (a message-only window on Windows).
std::shared_ptr<TTimerService> CreateSystemTimers();

}  // namespace Zu
