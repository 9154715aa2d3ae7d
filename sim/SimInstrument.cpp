#include "zugen4/sim/SimInstrument.h"

#include <algorithm>
#include <cstdio>

#include "zugen4/ZuCommands.h"

namespace Zu::Sim {

uint32_t TVirtualClock::GetTickCount() {
  FNow += 1;
  return static_cast<uint32_t>(FNow);
}

void TVirtualClock::Sleep(uint32_t ms) { FNow += ms; }

namespace {

enum class TArg { None, Freq, Code16, Scale, Raw, Block };

struct TCodeInfo {
  uint8_t Code;  // channel A code
  const char* Name;
  TArg Arg;
  bool PerChannel;  // false: generator-wide, the same code on both channels
};

constexpr TCodeInfo kCodes[] = {
    {ZGCmd_Control, "control", TArg::Raw, true},
    {ZGCmd_Ampl, "ampl", TArg::Code16, true},
    {ZGCmd_Freq, "freq", TArg::Freq, true},
    {ZGCmd_Phase, "phase", TArg::Code16, true},
    {ZGCmd_Freq1, "freq1", TArg::Freq, true},
    {ZGCmd_Ramp0, "ramp0", TArg::Raw, true},
    {ZGCmd_Ramp1, "ramp1", TArg::Raw, true},
    {ZGCmd_Ramp2, "ramp2", TArg::Raw, true},
    {ZGCmd_Ramp3, "ramp3", TArg::Raw, true},
    {ZGCmd_IntModTable, "intmod table", TArg::Block, true},
    {ZGCmd_BaseValue, "base value", TArg::Raw, true},
    {ZGCmd_DDSModData, "ddsmod data", TArg::Block, true},
    {ZGCmd_DDSModSelect, "ddsmod select", TArg::Raw, true},
    {ZGCmd_UpdateSync, "update sync", TArg::None, false},
    {ZGCmd_Update, "update", TArg::None, false},
    {ZGCmd_TuneFreq, "tune freq", TArg::Scale, true},
    {ZGCmd_TuneAmpl, "tune ampl", TArg::Scale, true},
    {ZGCmd_LFMRun, "lfm run", TArg::None, false},
    {ZGCmd_TunePhase, "tune phase", TArg::Scale, true},
    {ZGCmd_LFMRiseTime, "lfm rise time", TArg::Raw, false},
    {ZGCmd_LFMFallTime, "lfm fall time", TArg::Raw, false},
    {ZGCmd_IntModStart, "intmod start", TArg::Raw, true},
    {ZGCmd_IntModStop, "intmod stop", TArg::None, true},
    {ZGCmd_ExtModStart, "extmod start", TArg::Raw, true},
    {ZGCmd_ExtModDouble, "extmod double", TArg::Raw, false},
    {ZGCmd_ExtModStartA12, "extmod start A12", TArg::Raw, false},
    {ZGCmd_IntModPrepare, "intmod prepare", TArg::Raw, true},
    {ZGCmd_IntModDoubleStart, "intmod double start", TArg::None, false},
    {ZGCmd_IntModDoubleStop, "intmod double stop", TArg::None, false},
    {ZGCmd_IntModDuplexStart, "intmod duplex start", TArg::Raw, false},
    {ZGCmd_ExtModDuplexStart, "extmod duplex start", TArg::Raw, false},
    {ZGCmd_ExtFreqScale, "ext freq scale", TArg::Scale, false},
    {ZGCmd_DDSModExtTimes, "ddsmod ext times", TArg::None, false},
    {ZGCmd_Reset, "reset", TArg::None, false},
    {ZGCmd_OutputOn, "output on", TArg::None, true},
    {ZGCmd_OutputOff, "output off", TArg::None, true},
    {ZGCmd_ReadADC, "read adc", TArg::None, false},
};

// Finds the command a wire code stands for, and the channel it addresses.
const TCodeInfo* Lookup(uint8_t wire, TZuGen4ChNames& channel) {
  for (const TCodeInfo& info : kCodes) {
    if (info.Code == wire) {
      channel = ZGCN_A;
      return &info;
    }
  }
  for (const TCodeInfo& info : kCodes) {
    if (info.PerChannel && TranslateCommand(ZGCN_B, info.Code) == wire) {
      channel = ZGCN_B;
      return &info;
    }
  }
  return nullptr;
}

uint32_t Be32(const std::vector<uint8_t>& f, size_t at) {
  return (uint32_t{f[at]} << 24) | (uint32_t{f[at + 1]} << 16) | (uint32_t{f[at + 2]} << 8) | f[at + 3];
}

std::string Format(const char* fmt, auto... args) {
  char buf[160];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

}  // namespace

std::string HexBytes(const std::vector<uint8_t>& bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) out += Format(i ? " %02X" : "%02X", bytes[i]);
  return out;
}

std::string DescribeFrame(const std::vector<uint8_t>& frame, double genFreqMHz) {
  if (frame.empty()) return "empty write";
  TZuGen4ChNames ch = ZGCN_A;
  const TCodeInfo* info = Lookup(frame[0], ch);
  if (!info) return "unknown code " + HexBytes(frame);
  std::string line = info->PerChannel ? std::string(ch == ZGCN_A ? "A " : "B ") : std::string();
  line += info->Name;
  if (frame.size() < 6) return line;
  switch (info->Arg) {
    case TArg::None: break;
    case TArg::Freq: {
      const uint32_t code = Be32(frame, 1);
      line += Format(" %u (%.3f kHz)", code, code * genFreqMHz * 1e6 / 4294967296.0 / 1000.0);
      break;
    }
    case TArg::Code16: {
      const unsigned code = (unsigned{frame[1]} << 8) | frame[2];
      if (info->Code == ZGCmd_Ampl)
        line += Format(" %u (%.2f %%)", code, (code + 1.0) * 100.0 / 16384.0);
      else
        line += Format(" %u (%.2f deg)", code, code * 360.0 / 16384.0);
      break;
    }
    case TArg::Scale: line += Format(" %u", unsigned{frame[1]}); break;
    case TArg::Block:
    case TArg::Raw: line += " " + HexBytes(std::vector<uint8_t>(frame.begin() + 1, frame.end())); break;
  }
  return line;
}

TSimDriver::TSimDriver(std::shared_ptr<TVirtualClock> clock) : FClock(std::move(clock)) {}

FT_STATUS TSimDriver::Open(int, FT_HANDLE* handle) {
  FT_STATUS st = FT_OK;
  if (FOpenFault) {
    st = *FOpenFault;
    FOpenFault.reset();
  } else if (FOpen) {
    st = FT_DEVICE_NOT_OPENED;  // the one device is busy
  }
  if (st == FT_OK) {
    FOpen = true;
    ++FOpenCount;
    *handle = this;
  }
  FTrace.push_back({TTraceKind::Open, Now(), {}, st});
  return st;
}

FT_STATUS TSimDriver::Close(FT_HANDLE handle) {
  FT_STATUS st = FT_OK;
  if (FCloseFault) {
    st = *FCloseFault;
    FCloseFault.reset();
  } else if (!FOpen || handle != this) {
    st = FT_INVALID_HANDLE;
  }
  if (st == FT_OK) FOpen = false;
  FTrace.push_back({TTraceKind::Close, Now(), {}, st});
  return st;
}

void TSimDriver::FailWrite(unsigned nth, TFault fault) { FWriteFaults.emplace_back(nth, fault); }
void TSimDriver::FailRead(unsigned nth, TFault fault) { FReadFaults.emplace_back(nth, fault); }

void TSimDriver::ClearFaults() {
  FOpenFault.reset();
  FCloseFault.reset();
  FWriteFaults.clear();
  FReadFaults.clear();
  FUnplugged = false;
}

bool TSimDriver::TakeFault(std::vector<std::pair<unsigned, TFault>>& armed, TFault& out) {
  bool hit = false;
  for (auto it = armed.begin(); it != armed.end();) {
    if (--it->first == 0) {
      out = it->second;
      hit = true;
      it = armed.erase(it);
    } else {
      ++it;
    }
  }
  return hit;
}

void TSimDriver::Check(const uint8_t* bytes, uint32_t count) {
  if (count == 0) return;
  const std::vector<uint8_t> frame(bytes, bytes + count);
  TZuGen4ChNames ch = ZGCN_A;
  const TCodeInfo* info = Lookup(bytes[0], ch);
  if (!info) {
    FViolations.push_back("unknown code " + HexBytes(frame));
    return;
  }
  const uint32_t expected = info->Code == ZGCmd_ReadADC ? 1u : 6u;
  if (count != expected) FViolations.push_back(Format("frame of %u bytes: ", count) + HexBytes(frame));
  FReadAllowed = info->Code == ZGCmd_ReadADC;
  if (info->Arg == TArg::Block && count == 6) {
    // Channel A announces the byte count; channel B the start and end offsets.
    const uint32_t first = (uint32_t{bytes[1]} << 8) | bytes[2];
    const uint32_t last = (uint32_t{bytes[3]} << 8) | bytes[4];
    FPendingBlock = (info->Code == ZGCmd_IntModTable && ch == ZGCN_B) ? last - first : first;
  }
}

FT_STATUS TSimDriver::Write(FT_HANDLE handle, const void* buf, uint32_t count, uint32_t* written) {
  const auto* bytes = static_cast<const uint8_t*>(buf);
  const bool block = FPendingBlock != 0;
  FT_STATUS st = FT_OK;
  uint32_t done = count;
  TFault fault;
  if (!FOpen || handle != this) {
    st = FT_INVALID_HANDLE;
    done = 0;
  } else if (FUnplugged) {
    st = FT_IO_ERROR;
    done = 0;
  } else if (TakeFault(FWriteFaults, fault)) {
    st = fault.Count ? FT_OK : fault.Status;
    done = fault.Count ? std::min(*fault.Count, count) : 0;
  }
  *written = done;
  // The protocol checks judge what the library sent, not what a fault made of
  // it; a failed or short block still ends the wait for it.
  if (block) {
    if (count != FPendingBlock)
      FViolations.push_back(Format("data block of %u bytes, %u announced", count, FPendingBlock));
    FPendingBlock = 0;
  } else if (st == FT_OK) {
    Check(bytes, count);
  }
  FTrace.push_back(
      {block ? TTraceKind::Block : TTraceKind::Frame, Now(), std::vector<uint8_t>(bytes, bytes + count), st});
  return st;
}

FT_STATUS TSimDriver::Read(FT_HANDLE handle, void* buf, uint32_t wanted, uint32_t* got) {
  auto* out = static_cast<uint8_t*>(buf);
  FT_STATUS st = FT_OK;
  uint32_t done = 0;
  TFault fault;
  if (!FOpen || handle != this) {
    st = FT_INVALID_HANDLE;
  } else if (FUnplugged) {
    st = FT_IO_ERROR;
  } else {
    if (!FReadAllowed) FViolations.push_back("read without a preceding read command");
    const uint8_t answer[4] = {static_cast<uint8_t>(FADCValue >> 24), static_cast<uint8_t>(FADCValue >> 16),
                               static_cast<uint8_t>(FADCValue >> 8), static_cast<uint8_t>(FADCValue)};
    done = std::min<uint32_t>(wanted, 4);
    if (TakeFault(FReadFaults, fault)) {
      st = fault.Count ? FT_OK : fault.Status;
      done = fault.Count ? std::min(*fault.Count, done) : 0;
    }
    for (uint32_t i = 0; i < done; ++i) out[i] = answer[i];
  }
  FReadAllowed = false;
  *got = done;
  FTrace.push_back({TTraceKind::Read, Now(), std::vector<uint8_t>(out, out + done), st});
  return st;
}

std::vector<std::vector<uint8_t>> TSimDriver::Frames() const {
  std::vector<std::vector<uint8_t>> frames;
  for (const TTraceEntry& e : FTrace)
    if (e.Kind == TTraceKind::Frame) frames.push_back(e.Bytes);
  return frames;
}

}  // namespace Zu::Sim
