#include "zugen4/ZuEngine.h"

#include <cmath>

namespace Zu {

TZuGen4Engine::~TZuGen4Engine() = default;

void TZuGen4Engine::EnterPaired(TZuGen4Engine& b) {
  EnterAlone();
  b.EnterAlone();
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
