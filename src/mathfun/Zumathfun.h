// Waveform tables: one period of a sine, triangle or rectangle as integer
// samples, laid out byte for byte as the instrument's table memory takes it.
#pragma once

#include <cstdint>
#include <memory>

#include "zugen4/ZuCore.h"

namespace Zu {

class TMathFunction {
 public:
  // The largest count whose table size in bytes fits ReadingsSize at either
  // sample width.
  static constexpr int READINGS_COUNT_TOP = INT32_MAX / 4;

  TMathFunction();
  virtual ~TMathFunction();
  TMathFunction(const TMathFunction&) = delete;
  TMathFunction& operator=(const TMathFunction&) = delete;

  int ReadingsCount() const { return FReadingsCount; }
  // Always the byte size of the buffer Readings points to (0 while there is none).
  int ReadingsSize() const { return FReadingsSize; }
  const uint8_t* Readings() const { return FReadings.get(); }
  bool PropsLoaded() const { return FPropsLoaded; }
  bool AutoUpdate() const { return FAutoUpdate; }
  double CA() const { return FCA; }
  double CB() const { return FCB; }
  double CC() const { return FCC; }
  TMathFuncsTypes FunctionType() const { return FFunctionType; }
  bool DirectRdsBytes() const { return FDirectRdsBytes; }
  TBytesPerReading BytesPerReading() const { return FBytesPerReading; }
  bool DirectRdsOrder() const { return FDirectRdsOrder; }
  bool HalfOfPeriod() const { return FHalfOfPeriod; }

  void SetReadingsCount(int value);
  void SetBytesPerReading(TBytesPerReading value);
  void SetFunctionType(TMathFuncsTypes value);
  void SetDirectRdsBytes(bool value);
  void SetDirectRdsOrder(bool value);
  void SetHalfOfPeriod(bool value);
  void Set_CA(double value);
  void Set_CB(double value);
  void Set_CC(double value);
  void SetAutoUpdate(bool value);
  void SetPropsLoaded(bool value);

  void UpdateReadings();
  void ResizeReadingsMemory();
  void DeleteReadingsMemory();
  void CreateReadings();

 private:
  int BytesPerSample() const { return FBytesPerReading == ZBPR_4bytes ? 4 : 2; }
  double Sample(int i) const;
  void Changed();

  int FReadingsCount = 0;
  int FReadingsSize = 0;
  std::unique_ptr<uint8_t[]> FReadings;
  bool FPropsLoaded = true;
  bool FAutoUpdate = true;
  double FCA = 1.0;
  double FCB = 1.0;
  double FCC = 0.5;
  TMathFuncsTypes FFunctionType = ZMFT_sin;
  bool FDirectRdsBytes = true;
  TBytesPerReading FBytesPerReading = ZBPR_2bytes;
  bool FDirectRdsOrder = true;
  bool FHalfOfPeriod = false;
};

}  // namespace Zu
