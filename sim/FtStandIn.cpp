// A stand-in for the bridge vendor's driver library: the same four entry
// points, answered by the simulated instrument, so that a host which knows
// nothing of our C++ classes (a script, another language) can run the real
// library end to end. The ZuSim_ functions let such a host see the frames
// and make the link fail.
//
// There is no virtual clock here: the library waits its real 20 ms after
// each command, and the trace times stay 0.
#include <cstdint>
#include <cstring>
#include <mutex>

#include "zugen4/sim/SimInstrument.h"

#if defined(_WIN32)
#define ZUSIM_EXPORT extern "C" __declspec(dllexport)
#if !defined(_WIN64)
#define ZUSIM_CALL __stdcall
#endif
#else
#define ZUSIM_EXPORT extern "C" __attribute__((visibility("default")))
#endif
#ifndef ZUSIM_CALL
#define ZUSIM_CALL
#endif

namespace {

using Zu::FT_STATUS;
using Zu::Sim::TSimDriver;

// One instrument per process, shared by the library and the controlling host.
// The lock keeps a host thread that watches the frames off a half-made trace.
std::mutex gLock;
TSimDriver& Instrument() {
  static TSimDriver driver;
  return driver;
}
// Violations seen before the last ZuSim_Reset: the driver only ever adds.
size_t gViolationsBefore = 0;

}  // namespace

ZUSIM_EXPORT FT_STATUS ZUSIM_CALL FT_Open(int index, void** handle) {
  std::lock_guard<std::mutex> lock(gLock);
  return Instrument().Open(index, handle);
}

ZUSIM_EXPORT FT_STATUS ZUSIM_CALL FT_Close(void* handle) {
  std::lock_guard<std::mutex> lock(gLock);
  return Instrument().Close(handle);
}

ZUSIM_EXPORT FT_STATUS ZUSIM_CALL FT_Read(void* handle, void* buf, uint32_t wanted, uint32_t* got) {
  std::lock_guard<std::mutex> lock(gLock);
  return Instrument().Read(handle, buf, wanted, got);
}

ZUSIM_EXPORT FT_STATUS ZUSIM_CALL FT_Write(void* handle, const void* buf, uint32_t count, uint32_t* written) {
  std::lock_guard<std::mutex> lock(gLock);
  return Instrument().Write(handle, buf, count, written);
}

// Forgets the trace, the violations and every armed fault, and plugs the
// instrument back in. The open state stays: a host holding a handle goes on.
ZUSIM_EXPORT void ZuSim_Reset(void) {
  std::lock_guard<std::mutex> lock(gLock);
  Instrument().ClearTrace();
  Instrument().ClearFaults();
  gViolationsBefore = Instrument().Violations().size();
}

ZUSIM_EXPORT void ZuSim_SetADCValue(uint32_t value) {
  std::lock_guard<std::mutex> lock(gLock);
  Instrument().SetADCValue(value);
}

// The next open answers status (non-zero) instead of opening.
ZUSIM_EXPORT void ZuSim_FailNextOpen(FT_STATUS status) {
  std::lock_guard<std::mutex> lock(gLock);
  Instrument().FailOpen(status);
}

// The next write answers status and writes nothing (status 0: a write that
// reports success but writes nothing).
ZUSIM_EXPORT void ZuSim_FailNextWrite(FT_STATUS status) {
  std::lock_guard<std::mutex> lock(gLock);
  Instrument().FailWrite(1, Zu::Sim::TFault{status, {}});
}

ZUSIM_EXPORT void ZuSim_Unplug(void) {
  std::lock_guard<std::mutex> lock(gLock);
  Instrument().Unplug();
}

ZUSIM_EXPORT void ZuSim_Replug(void) {
  std::lock_guard<std::mutex> lock(gLock);
  Instrument().Replug();
}

ZUSIM_EXPORT int ZuSim_IsOpen(void) {
  std::lock_guard<std::mutex> lock(gLock);
  return Instrument().IsOpen() ? 1 : 0;
}

ZUSIM_EXPORT uint32_t ZuSim_FrameCount(void) {
  std::lock_guard<std::mutex> lock(gLock);
  return static_cast<uint32_t>(Instrument().Frames().size());
}

// Copies command frame `index` (0 = the oldest since the last reset) into
// out6 and returns its length; 0 when there is no such frame.
ZUSIM_EXPORT uint32_t ZuSim_Frame(uint32_t index, uint8_t* out6) {
  std::lock_guard<std::mutex> lock(gLock);
  const auto frames = Instrument().Frames();
  if (index >= frames.size() || !out6) return 0;
  const auto& frame = frames[index];
  const size_t n = frame.size() < 6 ? frame.size() : 6;
  std::memcpy(out6, frame.data(), n);
  return static_cast<uint32_t>(n);
}

ZUSIM_EXPORT uint32_t ZuSim_ViolationCount(void) {
  std::lock_guard<std::mutex> lock(gLock);
  return static_cast<uint32_t>(Instrument().Violations().size() - gViolationsBefore);
}
