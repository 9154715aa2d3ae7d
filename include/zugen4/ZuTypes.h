// Forward declarations and event types shared by the generator, its channels
// and its modulation engines. The enumerations live in the core (ZuCore.h).
#pragma once

#include <cstdint>
#include <functional>

#include "zugen4/Classes.h"
#include "zugen4/ZuCore.h"
#include "zugen4/extend/Platform.h"
#include "zugen4/extend/ZuCommands.h"

namespace Zu {

class TZuGen4;
class TZuGen4FileStream;
class TZuGen4Channel;
class TZuGen4ChannelA;
class TZuGen4ChannelB;
class TZuGen4Options;
class TZuGen4Tuner;
class TZuGen4IntModulation;
class TZuGen4ExtModulation;
class TZuGen4LFM;
class TZuGen4DDSMod;

// value points to the rejected double.
using TParamValueErrorEvent = std::function<void(TZuGen4Channel* ch, TZuGen4Parameters param, void* value)>;
using TChannelEvent = std::function<void(TZuGen4Channel* ch)>;
using TChModeChangeEvent = std::function<void(TZuGen4Channel* ch, bool val)>;
using TOverModulationEvent = std::function<void(TZuGen4Channel* ch, double val)>;

}  // namespace Zu
