#include "zugen4/ZuExtModulation.h"

#include <cstdint>

#include "modulation/PropCommon.h"
#include "platform/PropTable.h"
#include "platform/RecordFields.h"

namespace Zu {

TZuGen4ExtModulation::TZuGen4ExtModulation(TZuGen4EngineHost* owner) : TZuGen4Engine(owner) {}
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
  const uint32_t code = FreqToRegisterCode(ScaleValue(FChannel->Frequency(), 1000.0, 1.0), FChannel->GenFreq());
  SendBaseValue(TZuGen4Cmd::With32(FChannel->ChannelType(), ZGCmd_BaseValue, code), start, a12);
}

void TZuGen4ExtModulation::SetModeAmplMod(bool start, bool a12) {
  const uint32_t code = AmplToRegisterCode(FChannel->Amplitude());
  SendBaseValue(TZuGen4Cmd::With16(FChannel->ChannelType(), ZGCmd_BaseValue, code), start, a12);
}

void TZuGen4ExtModulation::SetModePhaseMod(bool start, bool a12) {
  const int code = PhaseToCode(FChannel->Phase());
  SendBaseValue(TZuGen4Cmd::With16(FChannel->ChannelType(), ZGCmd_BaseValue, static_cast<uint32_t>(code)), start, a12);
}

void TZuGen4ExtModulation::StartSingleModulation(bool a12) {
  TZuGen4Cmd frame(FChannel->ChannelType(), ZGCmd_ExtModStart, ByteOf(FScale, 0));
  if (a12) {
    // Both inputs feed channel A: the code is the same whatever the channel,
    // so it replaces the translated one.
    frame.Bytes[0] = ZGCmd_ExtModStartA12;
    const auto* other = static_cast<const TZuGen4ExtModulation*>(FChannel->OtherEngine(this));
    frame.Bytes[2] = other ? ByteOf(other->Scale(), 0) : 0;
    frame.Bytes[3] = ByteOf(GetTypeAsInt(), 0);
  } else {
    frame.Bytes[2] = ByteOf(GetTypeAsInt(), 0);
  }
  FChannel->Link().WriteCmd(frame);
}

void TZuGen4ExtModulation::StartDouble(const TZuGen4ExtModulation& ma, const TZuGen4ExtModulation& mb) {
  ma.FChannel->Link().WriteCmd(TZuGen4Cmd(ma.FChannel->ChannelType(), ZGCmd_ExtModDouble, ByteOf(ma.Scale(), 0),
                                          ByteOf(ma.GetTypeAsInt(), 0), ByteOf(mb.Scale(), 0),
                                          ByteOf(mb.GetTypeAsInt(), 0)));
}

void TZuGen4ExtModulation::StartDuplex() {
  FChannel->Link().WriteCmd(
      TZuGen4Cmd(FChannel->ChannelType(), ZGCmd_ExtModDuplexStart, ByteOf(FScale, 0), ByteOf(GetTypeAsInt(), 0)));
}

// --- the engine interface ---

bool TZuGen4ExtModulation::Serves(TZuGen4ModesCommon mode) const {
  return mode == ZGMdC_ExtModulation || mode == ZGMdC_ExtModulationA12 || mode == ZGMdC_ExtModulationAB1;
}

void TZuGen4ExtModulation::Enter(bool start) {
  FChannel->NotifyOverModulation(FType);
  FChannel->SetOpened(true);
  FChannel->WriteAFPtoGen();
  const bool a12 = FChannel->Mode() == ZGMdC_ExtModulationA12;
  switch (FType) {
    case ZGAFPms_freq: SetModeFreqMod(start, a12); break;
    case ZGAFPms_ampl: SetModeAmplMod(start, a12); break;
    case ZGAFPms_phase: SetModePhaseMod(start, a12); break;
  }
}

void TZuGen4ExtModulation::EnterDouble(TZuGen4ExtModulation& second) {
  Enter(false);
  second.Enter(false);
  // The pair is always A and B; the joint start takes them in that order.
  const bool firstIsA = FChannel->ChannelType() == ZGCN_A;
  StartDouble(firstIsA ? *this : second, firstIsA ? second : *this);
}

// A12 and AB1 are channel A's modes: channel B follows A in them and enters
// nothing of its own.
void TZuGen4ExtModulation::EnterAlone() {
  const TZuGen4ModesCommon mode = FChannel->Mode();
  const bool onA = FChannel->ChannelType() == ZGCN_A;
  if (mode == ZGMdC_ExtModulation || (onA && mode == ZGMdC_ExtModulationA12)) {
    Enter(true);
  } else if (onA && mode == ZGMdC_ExtModulationAB1) {
    TZuGen4EngineHost* b = FChannel->OtherHost();
    if (b) {
      b->SetOpened(true);
      b->WriteAFPtoGen();
    }
    Enter(false);
    StartDuplex();
  }
}

// Both in plain external modulation: the joint start. Otherwise channel B's
// plain one (if any) goes first, then channel A's A12 or AB1.
void TZuGen4ExtModulation::EnterPaired(TZuGen4Engine& b) {
  auto& mb = static_cast<TZuGen4ExtModulation&>(b);
  if (FChannel->Mode() == ZGMdC_ExtModulation && mb.FChannel->Mode() == ZGMdC_ExtModulation) {
    EnterDouble(mb);
    return;
  }
  mb.EnterAlone();
  EnterAlone();
}

bool TZuGen4ExtModulation::FitScale(double& limit) {
  if (FScale < 7 || FScale > 20) SetScale(20);
  limit = ScaleLimit(FScale);
  return true;
}

// --- its part of the settings record ---

TZuGen4FileStream& TZuGen4ExtModulation::WriteDataToFile(TZuGen4FileStream& stream) {
  return stream.WriteByte(FType).WriteInt(FScale);
}

TZuGen4FileStream& TZuGen4ExtModulation::ReadDataFromFile(TZuGen4FileStream& stream) {
  ReadField(stream, FType) && ReadField(stream, FScale);
  return stream;
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
