// The flat interface works on one global generator. Every entry point goes
// through one barrier, so no C++ exception reaches a C, Python or Delphi host.
#include "zugen4/Zugenwrapper.h"

#include <exception>
#include <string>

#include "zugen4/Zugen4.hpp"

namespace {

using Zu::TZuGen4;
using Zu::TZuGen4Channel;

TZuGen4* gInstance = nullptr;
std::string gLastError;

constexpr unsigned char kSet = 1;
constexpr unsigned char kGet = 2;

// Runs f; a failure becomes ZUGEN_FAILED and its message is kept.
template <typename F>
unsigned char Barrier(F&& f) {
  try {
    f();
    return ZUGEN_OK;
  } catch (const std::exception& e) {
    gLastError = e.what();
  } catch (...) {
    gLastError = "unknown failure";
  }
  return ZUGEN_FAILED;
}

TZuGen4Channel* Channel(unsigned char channel) {
  if (channel == 0) return gInstance->ChA();
  return gInstance->ChB();
}

// Shared shape of the three channel values: set through the setter, read back.
template <typename Setter, typename Getter>
unsigned char ChannelValue(unsigned char flags, unsigned char channel, double* value, Setter set, Getter get) {
  if (!gInstance) return ZUGEN_NO_INSTANCE;
  if (!(flags & (kSet | kGet))) return ZUGEN_OK;
  if (!value) return ZUGEN_NULL_POINTER;
  TZuGen4Channel* ch = Channel(channel);
  unsigned char rc = ZUGEN_OK;
  if (flags & kSet) rc = Barrier([&] { (ch->*set)(*value); });
  if (flags & kGet) *value = (ch->*get)();
  return rc;
}

}  // namespace

extern "C" {

unsigned char ZUGEN_CALL ZuGenInit(void) {
  if (!gInstance) {
    const unsigned char rc = Barrier([] { gInstance = new TZuGen4(nullptr); });
    if (rc != ZUGEN_OK || !gInstance) return ZUGEN_INIT_FAILED;
  }
  // A generator of the flat interface updates the instrument automatically.
  gInstance->IncludeState(Zu::csLoading);
  return ZUGEN_OK;
}

unsigned char ZUGEN_CALL ZuGenRelease(void) {
  TZuGen4* instance = gInstance;
  gInstance = nullptr;
  delete instance;  // never throws: it resets and closes the device if open
  return ZUGEN_OK;
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
  if (!gInstance) return ZUGEN_NO_INSTANCE;
  if (!(flags & (kSet | kGet))) return ZUGEN_OK;
  if (!active) return ZUGEN_NULL_POINTER;
  unsigned char rc = ZUGEN_OK;
  if (flags & kSet) rc = Barrier([&] { gInstance->SetActive(*active != 0); });
  if (flags & kGet) *active = gInstance->GetActive() ? 1 : 0;
  return rc;
}

unsigned char ZUGEN_CALL ZuGen_SetActivity(unsigned char active) {
  ZuGen_Activity(kSet | kGet, &active);
  return active;
}

unsigned char ZUGEN_CALL ZuGen_SetExtFrequency(unsigned char flags, unsigned char* useExt, double* refFreq,
                                               int* freqScale) {
  if (!gInstance) return ZUGEN_NO_INSTANCE;
  if (!(flags & (kSet | kGet))) return ZUGEN_OK;
  if (!useExt || !refFreq || !freqScale) return ZUGEN_NULL_POINTER;
  unsigned char rc = ZUGEN_OK;
  if (flags & kSet) {
    rc = Barrier([&] {
      gInstance->SetUseExtRefFreq(*useExt != 0);
      gInstance->SetRefFreq(*refFreq);
      gInstance->SetFreqScale(*freqScale);
    });
  }
  if (flags & kGet) {
    *useExt = gInstance->UseExtRefFreq() ? 1 : 0;
    *refFreq = gInstance->RefFreq();
    *freqScale = gInstance->FreqScale();
  }
  return rc;
}

unsigned char ZUGEN_CALL ZuGen_ChMode(unsigned char flags, unsigned char channel, unsigned char* mode) {
  if (!gInstance) return ZUGEN_NO_INSTANCE;
  if (!(flags & (kSet | kGet))) return ZUGEN_OK;
  if (!mode) return ZUGEN_NULL_POINTER;
  TZuGen4Channel* ch = Channel(channel);
  unsigned char rc = ZUGEN_OK;
  if (flags & kSet) rc = Barrier([&] { ch->SetMode(static_cast<Zu::TZuGen4ModesCommon>(*mode)); });
  if (flags & kGet) *mode = ch->Mode();
  return rc;
}

unsigned char ZUGEN_CALL ZuGen_SetChMode(unsigned char channel, unsigned char mode) {
  ZuGen_ChMode(kSet | kGet, channel, &mode);
  return mode;
}

const char* ZUGEN_CALL ZuGen_LastError(void) { return gLastError.c_str(); }

}  // extern "C"
