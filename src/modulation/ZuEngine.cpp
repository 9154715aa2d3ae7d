#include "zugen4/extend/ZuEngine.h"

#include <cmath>

#include "mathfun/Zumathfun.h"

namespace Zu {

TZuGen4Engine::~TZuGen4Engine() = default;

void TZuGen4Engine::EnterPaired(TZuGen4Engine& b) {
  EnterAlone();
  b.EnterAlone();
}

std::vector<uint32_t> TZuGen4Engine::CodesInPlayOrder(const TMathFunction& f) {
  const int width = f.BytesPerReading() == ZBPR_4bytes ? 4 : 2;
  const int n = f.ReadingsCount();
  const uint8_t* bytes = f.Readings();
  if (!bytes || n <= 0 || f.ReadingsSize() < n * width) return {};
  std::vector<uint32_t> codes(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const uint8_t* p = bytes + static_cast<ptrdiff_t>(i) * width;
    uint32_t v = 0;
    for (int b = 0; b < width; ++b) v |= uint32_t{p[b]} << (8 * (f.DirectRdsBytes() ? b : width - 1 - b));
    codes[static_cast<size_t>(f.DirectRdsOrder() ? i : n - 1 - i)] = v;
  }
  return codes;
}

bool TZuGen4Engine::FitScale(double&) { return false; }

double TZuGen4Engine::ScaleLimit(int scale) { return 100.0 - 100.0 * std::exp2(static_cast<double>(scale) - 21.0); }

void TZuGen4Engine::ReportBeyondClock(double kHz) const {
  if (!FreqFitsClock(kHz * 1000.0, FChannel->GenFreq())) FChannel->ReportParamValueError(ZGPrm_Frequency, kHz);
}

void TZuGen4Engine::UpdateDDSs(bool sync) {
  FChannel->Link().WriteCmd(TZuGen4Cmd(ZGCN_A, sync ? ZGCmd_UpdateSync : ZGCmd_Update));
}

}  // namespace Zu
