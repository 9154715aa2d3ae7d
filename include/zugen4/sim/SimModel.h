// The instrument at the wire: follows every frame, data block and read the
// way the instrument takes them, and says what each one means.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace Zu::Sim {

class TInstrumentModel {
 public:
  // One write as the driver got it: a command frame, or the data block a
  // frame announced. Returns its meaning as one readable line.
  std::string Write(const uint8_t* bytes, uint32_t count);
  // What came back from a read.
  std::string Read(const uint8_t* bytes, uint32_t count);

 private:
  uint32_t FPendingBlock = 0;
  double FGenFreqMHz = 400.0;
};

}  // namespace Zu::Sim
