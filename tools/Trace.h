// --trace: every frame and data block as it goes to the instrument, and every
// reading that comes back, with the time, the bytes and what they mean.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>

#include "zugen4/extend/Platform.h"
#include "zugen4/sim/SimInstrument.h"
#include "zugen4/sim/SimModel.h"

namespace Zu::Tool {

class TFrameTracer {
 public:
  TFrameTracer(std::shared_ptr<TClock> clock, std::ostream& out);
  // Every write goes through here, printed or not: the decoder has to follow
  // the whole conversation to know what a later frame means.
  void Sent(const uint8_t* bytes, uint32_t count, FT_STATUS status, bool print);
  void Received(const uint8_t* bytes, uint32_t count, FT_STATUS status, bool print);

 private:
  uint64_t Now();
  void Print(const std::vector<uint8_t>& bytes, const std::string& meaning, FT_STATUS status);

  std::shared_ptr<TClock> FClock;
  Sim::TVirtualClock* FVirtual;  // the simulator's clock, read without moving it
  std::ostream& FOut;
  uint64_t FStart = 0;
  bool FStarted = false;
  Sim::TInstrumentModel FModel;
};

}  // namespace Zu::Tool
