#include "zugen4/sim/SimModel.h"

#include "zugen4/ZuCommands.h"
#include "zugen4/sim/SimInstrument.h"

namespace Zu::Sim {

std::string TInstrumentModel::Write(const uint8_t* bytes, uint32_t count) {
  if (FPendingBlock != 0) {
    const uint32_t announced = FPendingBlock;
    FPendingBlock = 0;
    return "data block, " + std::to_string(count) + " bytes (" + std::to_string(announced) + " announced)";
  }
  const std::vector<uint8_t> frame(bytes, bytes + count);
  if (count == 6) {
    const uint8_t code = bytes[0];
    const bool a = code == ZGCmd_IntModTable || code == ZGCmd_DDSModData;
    const bool b =
        code == TranslateCommand(ZGCN_B, ZGCmd_IntModTable) || code == TranslateCommand(ZGCN_B, ZGCmd_DDSModData);
    const uint32_t first = (uint32_t{bytes[1]} << 8) | bytes[2];
    const uint32_t last = (uint32_t{bytes[3]} << 8) | bytes[4];
    if (a) FPendingBlock = first;
    if (b) FPendingBlock = code == TranslateCommand(ZGCN_B, ZGCmd_IntModTable) ? last - first : first;
  }
  return DescribeFrame(frame, FGenFreqMHz);
}

std::string TInstrumentModel::Read(const uint8_t* bytes, uint32_t count) {
  uint32_t v = 0;
  for (uint32_t i = 0; i < count; ++i) v = (v << 8) | bytes[i];
  return "ADC reading " + std::to_string(v) + " (" + std::to_string(count) + " bytes)";
}

}  // namespace Zu::Sim
