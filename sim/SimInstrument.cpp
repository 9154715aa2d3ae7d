#include "zugen4/sim/SimInstrument.h"

#include <algorithm>
#include <cstdio>

#include "zugen4/extend/ZuCommands.h"

namespace Zu::Sim {

uint32_t TVirtualClock::GetTickCount() {
  FNow += 1;
  return static_cast<uint32_t>(FNow);
}

void TVirtualClock::Sleep(uint32_t ms) { FNow += ms; }

namespace {

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
  const TZuGen4CmdInfo* info = DecodeCommand(frame[0], &ch);
  if (!info) return "unknown code " + HexBytes(frame);
  std::string line = info->PerChannel() ? std::string(ch == ZGCN_A ? "A " : "B ") : std::string();
  line += info->Name;
  if (frame.size() < 6) return line;
  using A = TZuGen4CmdArgs;
  switch (info->Args) {
    case A::None: break;
    case A::FreqCode: {
      const uint32_t code = GetBigEndian(&frame[1], 4);
      line += Format(" %u (%.3f kHz)", code, code * genFreqMHz * 1e6 / 4294967296.0 / 1000.0);
      break;
    }
    case A::AmplCode: {
      const unsigned code = GetBigEndian(&frame[1], 2);
      line += Format(" %u (%.2f %%)", code, (code + 1.0) * 100.0 / 16384.0);
      break;
    }
    case A::PhaseCode: {
      const unsigned code = GetBigEndian(&frame[1], 2);
      line += Format(" %u (%.2f deg)", code, code * 360.0 / 16384.0);
      break;
    }
    case A::Scale: line += Format(" %u", unsigned{frame[1]}); break;
    case A::Block:
    case A::Raw: line += " " + HexBytes(std::vector<uint8_t>(frame.begin() + 1, frame.end())); break;
  }
  return line;
}

TSimDriver::TSimDriver(std::shared_ptr<TVirtualClock> clock) : FClock(std::move(clock)) {}

FT_STATUS TSimDriver::Open(int index, FT_HANDLE* handle) {
  FT_STATUS st = FT_OK;
  if (index != 0) {
    st = FT_DEVICE_NOT_FOUND;  // one instrument on the bus: device 0
  } else if (FOpenFault) {
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
  AddTrace({TTraceKind::Open, Now(), {}, st});
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
  AddTrace({TTraceKind::Close, Now(), {}, st});
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
  const TZuGen4CmdInfo* info = DecodeCommand(bytes[0], &ch);
  if (!info) {
    FViolations.push_back("unknown code " + HexBytes(frame));
    return;
  }
  if (count != info->Length) FViolations.push_back(Format("frame of %u bytes: ", count) + HexBytes(frame));
  FReadAllowed = info->Code == ZGCmd_ReadADC;
  if (info->Args == TZuGen4CmdArgs::Block && count == 6) FPendingBlock = AnnouncedBlockSize(bytes, count);
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
  // The model follows what reached the instrument; a block always ends the
  // wait for it, as above.
  if (block || st == FT_OK) FModel.Write(bytes, done);
  AddTrace({block ? TTraceKind::Block : TTraceKind::Frame, Now(), std::vector<uint8_t>(bytes, bytes + count), st});
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
    uint8_t answer[4];
    PutBigEndian(answer, FADCValue, 4);
    done = std::min<uint32_t>(wanted, 4);
    if (TakeFault(FReadFaults, fault)) {
      st = fault.Count ? FT_OK : fault.Status;
      done = fault.Count ? std::min(*fault.Count, done) : 0;
    }
    for (uint32_t i = 0; i < done; ++i) out[i] = answer[i];
  }
  FReadAllowed = false;
  *got = done;
  if (st == FT_OK) FModel.Read(out, done);
  AddTrace({TTraceKind::Read, Now(), std::vector<uint8_t>(out, out + done), st});
  return st;
}

void TSimDriver::AddTrace(TTraceEntry entry) {
  // Dropping half at a time keeps the cost per entry constant.
  if (FTraceLimit && FTrace.size() >= 2 * FTraceLimit)
    FTrace.erase(FTrace.begin(), FTrace.end() - static_cast<std::ptrdiff_t>(FTraceLimit));
  FTrace.push_back(std::move(entry));
}

std::vector<std::vector<uint8_t>> TSimDriver::Frames() const {
  std::vector<std::vector<uint8_t>> frames;
  for (const TTraceEntry& e : FTrace)
    if (e.Kind == TTraceKind::Frame) frames.push_back(e.Bytes);
  return frames;
}

}  // namespace Zu::Sim
