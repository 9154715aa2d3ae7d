// Switches that concern both channels.
#pragma once

#include "zugen4/ZuTypes.h"

namespace Zu {

class TZuGen4ChannelHost;

class ZUGEN_API TZuGen4Options : public TPersistent {
 public:
  explicit TZuGen4Options(TZuGen4ChannelHost* owner);
  ~TZuGen4Options() override;

  // The published properties, in settings record order (ZuRegistry.h).
  static const TPropTable& Published();

  bool EnableDuplexIntMod() const { return FEnableDuplexIntMod; }
  // Restarts a running internal-modulation pair in the new form.
  void SetEnableDuplexIntMod(bool v);
  bool OverModulationNotify() const { return FOverModulationNotify; }
  void SetOverModulationNotify(bool v) { FOverModulationNotify = v; }
  void UpdateOptions() {}
  TZuGen4FileStream& WriteDataToFile(TZuGen4FileStream& stream);
  TZuGen4FileStream& ReadDataFromFile(TZuGen4FileStream& stream);

 private:
  TZuGen4ChannelHost* FGenerator;
  bool FEnableDuplexIntMod = false;
  bool FOverModulationNotify = true;
};

}  // namespace Zu
