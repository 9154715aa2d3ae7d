// What went to the instrument: a driver that passes every call through to the
// real (or simulated) one and keeps the last writes and reads, so that the
// panel can show the frames sent, decoded, whatever instrument is attached.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "zugen4/extend/Platform.h"

namespace Zu::Serve {

enum class TWireKind { Frame, Block, Read };

struct TWireEntry {
  uint64_t Seq;   // counts every entry since the start
  double TimeMs;  // since the log was made
  TWireKind Kind;
  std::vector<uint8_t> Bytes;  // a block is kept only up to its first bytes
  uint32_t Length;             // the whole length written or read
  FT_STATUS Status;
};

// Used on the generator's thread only, like the driver it wraps.
class TFrameLog final : public TFtDriverFilter {
 public:
  explicit TFrameLog(std::shared_ptr<TFtDriver> inner, size_t keep = 400);

  FT_STATUS Read(FT_HANDLE handle, void* buf, uint32_t wanted, uint32_t* got) override;
  FT_STATUS Write(FT_HANDLE handle, const void* buf, uint32_t count, uint32_t* written) override;

  // Entries with Seq greater than `after`, oldest first.
  std::vector<TWireEntry> Since(uint64_t after) const;
  uint64_t LastSeq() const { return FSeq; }

 private:
  void Add(TWireKind kind, const uint8_t* bytes, uint32_t count, FT_STATUS status);

  size_t FKeep;
  std::deque<TWireEntry> FEntries;
  uint64_t FSeq = 0;
  bool FBlockNext = false;
  std::chrono::steady_clock::time_point FStart = std::chrono::steady_clock::now();
};

}  // namespace Zu::Serve
