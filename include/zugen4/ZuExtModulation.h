// External modulation: the channel follows a signal at the instrument's
// external inputs.
#pragma once

#include "zugen4/ZuTypes.h"

namespace Zu {

class ZUGEN_API TZuGen4ExtModulation : public TPersistent {
 public:
  explicit TZuGen4ExtModulation(TZuGen4Channel* owner);
  ~TZuGen4ExtModulation() override;

  // The published properties, in settings record order (ZuRegistry.h).
  static const TPropTable& Published();

  TZuGen4Channel* Channel() const { return FChannel; }
  TZuGen4AFPModes Type() const { return FType; }
  void SetType(TZuGen4AFPModes t);
  int Scale() const { return FScale; }
  void SetScale(int s);
  int GetTypeAsInt() const;
  TZuGen4FileStream& WriteDataToFile(TZuGen4FileStream& stream);
  TZuGen4FileStream& ReadDataFromFile(TZuGen4FileStream& stream);

  void SetModeFreqMod(bool start, bool a12);
  void SetModeAmplMod(bool start, bool a12);
  void SetModePhaseMod(bool start, bool a12);
  void StartSingleModulation(bool a12);
  static void StartDoubleModulation(TZuGen4ChannelA* a, TZuGen4ChannelB* b);
  static void StartDuplexModulation(TZuGen4ChannelA* a);

 private:
  // Sends the base value frame, then the single start when asked to.
  void SendBaseValue(const TZuGen4Cmd& frame, bool start, bool a12);

  TZuGen4Channel* FChannel;
  TZuGen4AFPModes FType = ZGAFPms_freq;
  int FScale = 0;
};

}  // namespace Zu
