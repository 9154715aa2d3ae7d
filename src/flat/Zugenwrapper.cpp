// The flat interface works on one default generator of the handle interface.
// Every entry point runs under the interface lock and through one barrier, so
// calls from several threads take turns and no C++ exception reaches a C,
// Python or Delphi host.
#include "zugen4/Zugenwrapper.h"

#include <exception>
#include <memory>
#include <string>

#include "flat/FlatGuard.h"
#include "flat/Handles.h"
#include "zugen4/Zugen4.hpp"

namespace {

using Zu::TZuGen4;
using Zu::TZuGen4Channel;
using Zu::Flat::Locked;

// The default handle; its generator is what the thirteen functions drive.
zg_gen* gDefault = nullptr;
TZuGen4* Instance() { return gDefault ? gDefault->Gen.get() : nullptr; }

constexpr unsigned char kSet = 1;
constexpr unsigned char kGet = 2;

// Runs f; a failure becomes ZUGEN_FAILED and its message is kept.
template <typename F>
unsigned char Barrier(F&& f) {
  return Zu::Flat::Barrier(ZUGEN_OK, ZUGEN_FAILED, std::forward<F>(f));
}

TZuGen4Channel* Channel(unsigned char channel) {
  if (channel == 0) return Instance()->ChA();
  return Instance()->ChB();
}

// Shared shape of the three channel values: set through the setter, read back.
template <typename Setter, typename Getter>
unsigned char ChannelValue(unsigned char flags, unsigned char channel, double* value, Setter set, Getter get) {
  return Locked([&]() -> unsigned char {
    if (!Instance()) return ZUGEN_NO_INSTANCE;
    if (!(flags & (kSet | kGet))) return ZUGEN_OK;
    if (!value) return ZUGEN_NULL_POINTER;
    TZuGen4Channel* ch = Channel(channel);
    unsigned char rc = ZUGEN_OK;
    if (flags & kSet) rc = Barrier([&] { (ch->*set)(*value); });
    if (flags & kGet) *value = (ch->*get)();
    return rc;
  });
}

}  // namespace

extern "C" {

unsigned char ZUGEN_CALL ZuGenInit(void) {
  return Locked([&]() -> unsigned char {
    if (!gDefault) {
      const unsigned char rc = Barrier([] { gDefault = Zu::Flat::CreateHandle(ZG_SYSTEM, 0, true).release(); });
      if (rc != ZUGEN_OK || !gDefault) return ZUGEN_INIT_FAILED;
    }
    // A generator of the flat interface updates the instrument automatically.
    Instance()->IncludeState(Zu::csLoading);
    return ZUGEN_OK;
  });
}

unsigned char ZUGEN_CALL ZuGenRelease(void) {
  return Locked([&]() -> unsigned char {
    std::unique_ptr<zg_gen> instance(gDefault);
    gDefault = nullptr;
    Zu::Flat::DestroyHandle(std::move(instance));  // resets and closes the device if open
    return ZUGEN_OK;
  });
}

unsigned char ZUGEN_CALL ZuGen_Freq(unsigned char flags, unsigned char channel, double* value) {
  return ChannelValue(flags, channel, value, &TZuGen4Channel::Set_sinFrequency, &TZuGen4Channel::Frequency);
}

double ZUGEN_CALL ZuGen_SetFreq(unsigned char channel, double value) {
  ZuGen_Freq(kSet | kGet, channel, &value);
  return value;
}

unsigned char ZUGEN_CALL ZuGen_Ampl(unsigned char flags, unsigned char channel, double* value) {
  return ChannelValue(flags, channel, value, &TZuGen4Channel::Set_sinAmplitude, &TZuGen4Channel::Amplitude);
}

double ZUGEN_CALL ZuGen_SetAmpl(unsigned char channel, double value) {
  ZuGen_Ampl(kSet | kGet, channel, &value);
  return value;
}

unsigned char ZUGEN_CALL ZuGen_Phase(unsigned char flags, unsigned char channel, double* value) {
  return ChannelValue(flags, channel, value, &TZuGen4Channel::SetPhase, &TZuGen4Channel::Phase);
}

double ZUGEN_CALL ZuGen_SetPhase(unsigned char channel, double value) {
  ZuGen_Phase(kSet | kGet, channel, &value);
  return value;
}

unsigned char ZUGEN_CALL ZuGen_Activity(unsigned char flags, unsigned char* active) {
  return Locked([&]() -> unsigned char {
    if (!Instance()) return ZUGEN_NO_INSTANCE;
    if (!(flags & (kSet | kGet))) return ZUGEN_OK;
    if (!active) return ZUGEN_NULL_POINTER;
    unsigned char rc = ZUGEN_OK;
    if (flags & kSet) {
      rc = Barrier([&] { Instance()->SetActive(*active != 0); });
      // A refused open is no failure of the call, but the host can ask why.
      if (rc == ZUGEN_OK && *active != 0 && !Instance()->GetActive())
        Zu::Flat::LastError() = Instance()->LastLinkFailure();
    }
    if (flags & kGet) *active = Instance()->GetActive() ? 1 : 0;
    return rc;
  });
}

unsigned char ZUGEN_CALL ZuGen_SetActivity(unsigned char active) {
  ZuGen_Activity(kSet | kGet, &active);
  return active;
}

unsigned char ZUGEN_CALL ZuGen_SetExtFrequency(unsigned char flags, unsigned char* useExt, double* refFreq,
                                               int* freqScale) {
  return Locked([&]() -> unsigned char {
    if (!Instance()) return ZUGEN_NO_INSTANCE;
    if (!(flags & (kSet | kGet))) return ZUGEN_OK;
    if (!useExt || !refFreq || !freqScale) return ZUGEN_NULL_POINTER;
    unsigned char rc = ZUGEN_OK;
    if (flags & kSet) {
      rc = Barrier([&] {
        Instance()->SetUseExtRefFreq(*useExt != 0);
        Instance()->SetRefFreq(*refFreq);
        Instance()->SetFreqScale(*freqScale);
      });
    }
    if (flags & kGet) {
      *useExt = Instance()->UseExtRefFreq() ? 1 : 0;
      *refFreq = Instance()->RefFreq();
      *freqScale = Instance()->FreqScale();
    }
    return rc;
  });
}

unsigned char ZUGEN_CALL ZuGen_ChMode(unsigned char flags, unsigned char channel, unsigned char* mode) {
  return Locked([&]() -> unsigned char {
    if (!Instance()) return ZUGEN_NO_INSTANCE;
    if (!(flags & (kSet | kGet))) return ZUGEN_OK;
    if (!mode) return ZUGEN_NULL_POINTER;
    TZuGen4Channel* ch = Channel(channel);
    unsigned char rc = ZUGEN_OK;
    if (flags & kSet) rc = Barrier([&] { ch->SetMode(static_cast<Zu::TZuGen4ModesCommon>(*mode)); });
    if (flags & kGet) *mode = ch->Mode();
    return rc;
  });
}

unsigned char ZUGEN_CALL ZuGen_SetChMode(unsigned char channel, unsigned char mode) {
  ZuGen_ChMode(kSet | kGet, channel, &mode);
  return mode;
}

const char* ZUGEN_CALL ZuGen_LastError(void) {
  return Locked([] { return Zu::Flat::LastError().c_str(); });
}

}  // extern "C"
