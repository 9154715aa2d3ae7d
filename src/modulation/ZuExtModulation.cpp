#include "zugen4/ZuExtModulation.h"

#include <cstdint>

#include "modulation/PropCommon.h"
#include "platform/PropTable.h"
#include "zugen4/Zugen4.hpp"

namespace Zu {

TZuGen4ExtModulation::TZuGen4ExtModulation(TZuGen4Channel* owner) : FChannel(owner) {}
TZuGen4ExtModulation::~TZuGen4ExtModulation() = default;

void TZuGen4ExtModulation::SetType(TZuGen4AFPModes t) {
  if (t == FType) return;
  FType = t;
  FChannel->UpdateMode();
}

void TZuGen4ExtModulation::SetScale(int s) {
  if (s == FScale) return;
  FScale = s;
  FChannel->UpdateMode();
}

int TZuGen4ExtModulation::GetTypeAsInt() const {
  switch (FType) {
    case ZGAFPms_freq: return 3;
    case ZGAFPms_ampl: return 1;
    case ZGAFPms_phase: return 2;
  }
  return 0;
}

void TZuGen4ExtModulation::SendBaseValue(const TZuGen4Cmd& frame, bool start, bool a12) {
  FChannel->Link().WriteCmd(frame);
  if (start) StartSingleModulation(a12);
}

void TZuGen4ExtModulation::SetModeFreqMod(bool start, bool a12) {
  const TZuGen4& gen = *FChannel->Generator();
  const uint32_t code = gen.FreqToRegister(TZuGen4::Conv_Value(FChannel->Frequency(), 1000.0, 1.0));
  SendBaseValue(TZuGen4Cmd::With32(FChannel->ChannelType(), ZGCmd_BaseValue, code), start, a12);
}

void TZuGen4ExtModulation::SetModeAmplMod(bool start, bool a12) {
  const uint32_t code = TZuGen4::AmplToRegister(FChannel->Amplitude());
  SendBaseValue(TZuGen4Cmd::With16(FChannel->ChannelType(), ZGCmd_BaseValue, code), start, a12);
}

void TZuGen4ExtModulation::SetModePhaseMod(bool start, bool a12) {
  const int code = TZuGen4::Conv_PhaseToCode(FChannel->Phase());
  SendBaseValue(TZuGen4Cmd::With16(FChannel->ChannelType(), ZGCmd_BaseValue, static_cast<uint32_t>(code)), start, a12);
}

void TZuGen4ExtModulation::StartSingleModulation(bool a12) {
  TZuGen4Cmd frame(FChannel->ChannelType(), ZGCmd_ExtModStart, ByteOf(FScale, 0));
  if (a12) {
    // Both inputs feed channel A: the code is the same whatever the channel,
    // so it replaces the translated one.
    frame.Bytes[0] = ZGCmd_ExtModStartA12;
    const TZuGen4Channel* other = FChannel->GetOtherCh();
    frame.Bytes[2] = other ? ByteOf(other->ExtModulation()->Scale(), 0) : 0;
    frame.Bytes[3] = ByteOf(GetTypeAsInt(), 0);
  } else {
    frame.Bytes[2] = ByteOf(GetTypeAsInt(), 0);
  }
  FChannel->Link().WriteCmd(frame);
}

void TZuGen4ExtModulation::StartDoubleModulation(TZuGen4ChannelA* a, TZuGen4ChannelB* b) {
  if (!a || !b) return;
  const TZuGen4ExtModulation& ma = *a->ExtModulation();
  const TZuGen4ExtModulation& mb = *b->ExtModulation();
  a->Link().WriteCmd(TZuGen4Cmd(a->ChannelType(), ZGCmd_ExtModDouble, ByteOf(ma.Scale(), 0),
                                ByteOf(ma.GetTypeAsInt(), 0), ByteOf(mb.Scale(), 0), ByteOf(mb.GetTypeAsInt(), 0)));
}

void TZuGen4ExtModulation::StartDuplexModulation(TZuGen4ChannelA* a) {
  if (!a) return;
  const TZuGen4ExtModulation& ma = *a->ExtModulation();
  a->Link().WriteCmd(
      TZuGen4Cmd(a->ChannelType(), ZGCmd_ExtModDuplexStart, ByteOf(ma.Scale(), 0), ByteOf(ma.GetTypeAsInt(), 0)));
}

// --- published properties ---

const TPropTable& TZuGen4ExtModulation::Published() {
  using C = TZuGen4ExtModulation;
  static const TPropTable table({
      Prop<&C::Type, &C::SetType>("Type", "modulated quantity").Names(AFPModeNames()),
      Prop<&C::Scale, &C::SetScale>("Scale", "modulation scale, sent as one byte (7 to 20 is the usual band)"),
  });
  return table;
}

}  // namespace Zu
