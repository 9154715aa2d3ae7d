#include "zugen4/extend/ZuCommands.h"

namespace Zu {

namespace {

using A = TZuGen4CmdArgs;

// Channel B's registers sit at fixed offsets from channel A's: +0x10 for the
// DDS registers, +1 for tables and base values, +2 for modulation starts, +8
// for the output switch, +0x60 for tuning.
constexpr TZuGen4CmdInfo kCommands[] = {
    {ZGCmd_Control, 0x10, "control", A::Raw, 6},
    {ZGCmd_Ampl, 0x12, "ampl", A::AmplCode, 6},
    {ZGCmd_Freq, 0x14, "freq", A::FreqCode, 6},
    {ZGCmd_Phase, 0x15, "phase", A::PhaseCode, 6},
    {ZGCmd_Freq1, 0x16, "freq1", A::FreqCode, 6},
    {ZGCmd_Ramp0, 0x17, "ramp0", A::Raw, 6},
    {ZGCmd_Ramp1, 0x18, "ramp1", A::Raw, 6},
    {ZGCmd_Ramp2, 0x19, "ramp2", A::Raw, 6},
    {ZGCmd_Ramp3, 0x1A, "ramp3", A::Raw, 6},
    {ZGCmd_IntModTable, 0x21, "intmod table", A::Block, 6},
    {ZGCmd_BaseValue, 0x2A, "base value", A::Raw, 6},
    {ZGCmd_DDSModData, 0x31, "ddsmod data", A::Block, 6},
    {ZGCmd_DDSModSelect, 0x50, "ddsmod select", A::Raw, 6},
    {ZGCmd_UpdateSync, 0x7F, "update sync", A::None, 6},
    {ZGCmd_Update, 0x80, "update", A::None, 6},
    {ZGCmd_TuneFreq, 0xE1, "tune freq", A::Scale, 6},
    {ZGCmd_TuneAmpl, 0xE2, "tune ampl", A::Scale, 6},
    {ZGCmd_LFMRun, 0x83, "lfm run", A::None, 6},
    {ZGCmd_TunePhase, 0xE4, "tune phase", A::Scale, 6},
    {ZGCmd_LFMRiseTime, 0x85, "lfm rise time", A::Raw, 6},
    {ZGCmd_LFMFallTime, 0x86, "lfm fall time", A::Raw, 6},
    {ZGCmd_IntModStart, 0x89, "intmod start", A::Raw, 6},
    {ZGCmd_IntModStop, 0x8A, "intmod stop", A::None, 6},
    {ZGCmd_ExtModStart, 0x8D, "extmod start", A::Raw, 6},
    {ZGCmd_ExtModDouble, 0x8F, "extmod double", A::Raw, 6},
    {ZGCmd_ExtModStartA12, 0x91, "extmod start A12", A::Raw, 6},
    {ZGCmd_IntModPrepare, 0x99, "intmod prepare", A::Raw, 6},
    {ZGCmd_IntModDoubleStart, 0x9A, "intmod double start", A::None, 6},
    {ZGCmd_IntModDoubleStop, 0x9B, "intmod double stop", A::None, 6},
    {ZGCmd_IntModDuplexStart, 0xB0, "intmod duplex start", A::Raw, 6},
    {ZGCmd_ExtModDuplexStart, 0xB2, "extmod duplex start", A::Raw, 6},
    {ZGCmd_ExtFreqScale, 0xE5, "ext freq scale", A::Scale, 6},
    {ZGCmd_DDSModExtTimes, 0xE6, "ddsmod ext times", A::None, 6},
    {ZGCmd_Reset, 0xF0, "reset", A::None, 6},
    {ZGCmd_OutputOn, 0xF9, "output on", A::None, 6},
    {ZGCmd_OutputOff, 0xFA, "output off", A::None, 6},
    // The one command answered by a read: a single byte.
    {ZGCmd_ReadADC, 0xFD, "read adc", A::None, 1},
};

}  // namespace

std::span<const TZuGen4CmdInfo> CommandTable() { return kCommands; }

const TZuGen4CmdInfo* FindCommand(uint8_t code) {
  for (const TZuGen4CmdInfo& info : kCommands)
    if (info.Code == code) return &info;
  return nullptr;
}

const TZuGen4CmdInfo* DecodeCommand(uint8_t wire, TZuGen4ChNames* channel) {
  // Channel-A and instrument-wide codes first; no channel-B code is also one of them.
  if (const TZuGen4CmdInfo* info = FindCommand(wire)) {
    if (channel) *channel = ZGCN_A;
    return info;
  }
  for (const TZuGen4CmdInfo& info : kCommands) {
    if (info.PerChannel() && info.CodeB == wire) {
      if (channel) *channel = ZGCN_B;
      return &info;
    }
  }
  return nullptr;
}

uint8_t TranslateCommand(TZuGen4ChNames channel, uint8_t code) {
  if (channel != ZGCN_B) return code;
  const TZuGen4CmdInfo* info = FindCommand(code);
  return info ? info->CodeB : code;
}

uint32_t AnnouncedBlockSize(const uint8_t* frame, size_t count) {
  TZuGen4ChNames ch = ZGCN_A;
  const TZuGen4CmdInfo* info = count == 6 ? DecodeCommand(frame[0], &ch) : nullptr;
  if (!info || info->Args != TZuGen4CmdArgs::Block) return 0;
  const uint32_t first = GetBigEndian(&frame[1], 2);
  const uint32_t last = GetBigEndian(&frame[3], 2);
  return (info->Code == ZGCmd_IntModTable && ch == ZGCN_B) ? last - first : first;
}

TZuGen4Cmd::TZuGen4Cmd(TZuGen4ChNames channel, uint8_t code, uint8_t b1, uint8_t b2, uint8_t b3, uint8_t b4, uint8_t b5,
                       int32_t count)
    : Bytes{TranslateCommand(channel, code), b1, b2, b3, b4, b5}, Count(count), Channel(channel) {}

TZuGen4Cmd TZuGen4Cmd::With32(TZuGen4ChNames channel, uint8_t code, uint32_t value) {
  TZuGen4Cmd frame(channel, code);
  PutBigEndian(&frame.Bytes[1], value, 4);
  return frame;
}

TZuGen4Cmd TZuGen4Cmd::With24(TZuGen4ChNames channel, uint8_t code, uint32_t value) {
  TZuGen4Cmd frame(channel, code);
  PutBigEndian(&frame.Bytes[1], value, 3);
  return frame;
}

TZuGen4Cmd TZuGen4Cmd::With16(TZuGen4ChNames channel, uint8_t code, uint32_t value) {
  TZuGen4Cmd frame(channel, code);
  PutBigEndian(&frame.Bytes[1], value, 2);
  return frame;
}

}  // namespace Zu
