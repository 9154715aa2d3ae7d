// The instrument's commands: codes, the one command table (code, readable
// name, channel-B code, argument layout, frame length) and the command frame.
// Core layer: the link, the simulator's decoder and the frame descriptions
// all read this one table.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "zugen4/ZuCore.h"

namespace Zu {

// Enumerators carry the channel-A code; the frame translates them for channel B.
enum TZuGen4Commands : uint8_t {
  ZGCmd_Control = 0x00,
  ZGCmd_Ampl = 0x02,
  ZGCmd_Freq = 0x04,
  ZGCmd_Phase = 0x05,
  ZGCmd_Freq1 = 0x06,
  ZGCmd_Ramp0 = 0x07,
  ZGCmd_Ramp1 = 0x08,
  ZGCmd_Ramp2 = 0x09,
  ZGCmd_Ramp3 = 0x0A,
  ZGCmd_IntModTable = 0x20,
  ZGCmd_BaseValue = 0x29,
  ZGCmd_DDSModData = 0x30,
  ZGCmd_DDSModSelect = 0x40,
  ZGCmd_UpdateSync = 0x7F,
  ZGCmd_Update = 0x80,
  ZGCmd_TuneFreq = 0x81,
  ZGCmd_TuneAmpl = 0x82,
  ZGCmd_LFMRun = 0x83,
  ZGCmd_TunePhase = 0x84,
  ZGCmd_LFMRiseTime = 0x85,
  ZGCmd_LFMFallTime = 0x86,
  ZGCmd_IntModStart = 0x87,
  ZGCmd_IntModStop = 0x88,
  ZGCmd_ExtModStart = 0x8B,
  ZGCmd_ExtModDouble = 0x8F,
  ZGCmd_ExtModStartA12 = 0x91,
  ZGCmd_IntModPrepare = 0x97,
  ZGCmd_IntModDoubleStart = 0x9A,
  ZGCmd_IntModDoubleStop = 0x9B,
  ZGCmd_IntModDuplexStart = 0xB0,
  ZGCmd_ExtModDuplexStart = 0xB2,
  ZGCmd_ExtFreqScale = 0xE5,
  ZGCmd_DDSModExtTimes = 0xE6,
  ZGCmd_Reset = 0xF0,
  ZGCmd_OutputOn = 0xF1,
  ZGCmd_OutputOff = 0xF2,
  ZGCmd_ReadADC = 0xFD,
};

// What the argument bytes of a command hold.
enum class TZuGen4CmdArgs : uint8_t {
  None,       // nothing
  FreqCode,   // bytes 1-4: a 32-bit frequency code
  AmplCode,   // bytes 1-2: a 14-bit amplitude code
  PhaseCode,  // bytes 1-2: a 14-bit phase code
  Scale,      // byte 1: a scale or multiplier
  Raw,        // register bytes, laid out per command
  Block,      // announces the data block written next (bytes 1-4 give its size)
};

// One row of the command table.
struct TZuGen4CmdInfo {
  TZuGen4Commands Code;  // on channel A, and for commands of the whole instrument
  uint8_t CodeB;         // on channel B; equal to Code for commands of the whole instrument
  const char* Name;      // readable, lower case ("freq", "intmod start")
  TZuGen4CmdArgs Args;
  uint8_t Length;  // bytes on the wire
  constexpr bool PerChannel() const { return CodeB != Code; }
};

// Every command the instrument knows, in code order.
ZUGEN_API std::span<const TZuGen4CmdInfo> CommandTable();
// The row of a channel-A code; nullptr for a code the instrument does not know.
ZUGEN_API const TZuGen4CmdInfo* FindCommand(uint8_t code);
// The row a code on the wire stands for, and the channel it addresses
// (channel A for commands of the whole instrument); nullptr when unknown.
ZUGEN_API const TZuGen4CmdInfo* DecodeCommand(uint8_t wire, TZuGen4ChNames* channel = nullptr);

// The code a command goes out with on the given channel; codes outside the
// table pass unchanged.
ZUGEN_API uint8_t TranslateCommand(TZuGen4ChNames channel, uint8_t code);

// The size of the data block a whole frame announces: channel A gives the
// byte count, channel B's table the start and end offsets. 0 for a frame that
// announces none.
ZUGEN_API uint32_t AnnouncedBlockSize(const uint8_t* frame, size_t count);

// One command frame: Bytes[0] is the code, Bytes[1..5] the arguments; Count of
// them, from Bytes[0] on, are sent.
struct ZUGEN_API TZuGen4Cmd {
  std::array<uint8_t, 6> Bytes{};
  int32_t Count = 6;
  TZuGen4ChNames Channel = ZGCN_A;

  TZuGen4Cmd() = default;
  TZuGen4Cmd(TZuGen4ChNames channel, uint8_t code, uint8_t b1 = 0, uint8_t b2 = 0, uint8_t b3 = 0, uint8_t b4 = 0,
             uint8_t b5 = 0, int32_t count = 6);

  // Builders for the usual argument layouts, most significant byte first.
  static TZuGen4Cmd With32(TZuGen4ChNames channel, uint8_t code, uint32_t value);
  static TZuGen4Cmd With24(TZuGen4ChNames channel, uint8_t code, uint32_t value);
  static TZuGen4Cmd With16(TZuGen4ChNames channel, uint8_t code, uint32_t value);
};

}  // namespace Zu
