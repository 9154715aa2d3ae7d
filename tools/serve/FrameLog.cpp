#include "FrameLog.h"

#include <algorithm>

#include "zugen4/extend/ZuCommands.h"

namespace Zu::Serve {

namespace {

// A frame that announces the data block written next.
bool AnnouncesBlock(uint8_t code) {
  const TZuGen4CmdInfo* info = DecodeCommand(code);
  return info && info->Args == TZuGen4CmdArgs::Block;
}

constexpr uint32_t kBlockBytesKept = 16;

}  // namespace

TFrameLog::TFrameLog(std::shared_ptr<TFtDriver> inner, size_t keep) : TFtDriverFilter(std::move(inner)), FKeep(keep) {}

FT_STATUS TFrameLog::Read(FT_HANDLE handle, void* buf, uint32_t wanted, uint32_t* got) {
  const FT_STATUS st = Inner().Read(handle, buf, wanted, got);
  Add(TWireKind::Read, static_cast<const uint8_t*>(buf), st == FT_OK ? *got : 0, st);
  return st;
}

FT_STATUS TFrameLog::Write(FT_HANDLE handle, const void* buf, uint32_t count, uint32_t* written) {
  const FT_STATUS st = Inner().Write(handle, buf, count, written);
  const auto* bytes = static_cast<const uint8_t*>(buf);
  const bool block = FBlockNext;
  FBlockNext = !block && count == 6 && AnnouncesBlock(bytes[0]);
  Add(block ? TWireKind::Block : TWireKind::Frame, bytes, count, st);
  return st;
}

void TFrameLog::Add(TWireKind kind, const uint8_t* bytes, uint32_t count, FT_STATUS status) {
  const uint32_t kept = kind == TWireKind::Block ? std::min(count, kBlockBytesKept) : count;
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - FStart).count();
  FEntries.push_back({++FSeq, ms, kind, std::vector<uint8_t>(bytes, bytes + kept), count, status});
  while (FEntries.size() > FKeep) FEntries.pop_front();
}

std::vector<TWireEntry> TFrameLog::Since(uint64_t after) const {
  std::vector<TWireEntry> out;
  for (const TWireEntry& e : FEntries)
    if (e.Seq > after) out.push_back(e);
  return out;
}

}  // namespace Zu::Serve
