// Enumerations and event types shared by the generator, its channels and
// its modulation engines.
#pragma once

#include <cstdint>
#include <functional>

#include "zugen4/Classes.h"
#include "zugen4/Platform.h"
#include "zugen4/ZuCommands.h"

namespace Zu {

enum TZuGen4ModesCommon : uint8_t {
  ZGMdC_off = 0,
  ZGMdC_gen = 1,
  ZGMdC_tuning = 2,
  ZGMdC_IntModulation = 3,
  ZGMdC_ExtModulation = 4,
  ZGMdC_ExtModulationA12 = 5,
  ZGMdC_ExtModulationAB1 = 6,
  ZGMdC_LFM = 7,
  ZGMdC_DDSMod = 8,
};

enum TZuGen4AFPModes : uint8_t { ZGAFPms_freq = 0, ZGAFPms_ampl = 1, ZGAFPms_phase = 2 };
enum TMathFuncsTypes : uint8_t { ZMFT_sin = 0, ZMFT_triangle = 1, ZMFT_rect = 2 };
enum TBytesPerReading : uint8_t { ZBPR_2bytes = 0, ZBPR_4bytes = 1 };
enum TZuGen4DDSmodModes : uint8_t { ZGTMs_BxSK = 0, ZGTMs_QxSK = 1, ZGTMs_User = 2 };

enum TZuGen4Parameters : uint8_t {
  ZGPrm_Frequency = 2,
  ZGPrm_Phase = 3,
  ZGPrm_LFMTime = 11,
  ZGPrm_DDSModTime = 24,
};

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
