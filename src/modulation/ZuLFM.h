// Linear frequency sweep between the channel's frequency and FreqTop.
#pragma once

#include "generator/ZuTypes.h"

namespace Zu {

class ZUGEN_API TZuGen4LFM : public TPersistent {
public:
  explicit TZuGen4LFM(TZuGen4Channel* owner);
  ~TZuGen4LFM() override;

  TZuGen4Channel* Channel() const { return FChannel; }
  int FreqTop() const { return FFreqTop; }
  void SetFreqTop(int v);
  void StartLFM(bool startSweep);

private:
  friend class TZuGen4Channel;  // raises FreqTop along with the channel frequency
  TZuGen4Channel* FChannel;
  int FFreqTop = 0;
};

}  // namespace Zu
