// The simulated instrument: a bridge driver that keeps a trace of everything
// written and read, answers the ADC read, flags protocol violations and fails
// on demand; and a virtual millisecond clock, so that waiting costs nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "zugen4/extend/Platform.h"
#include "zugen4/sim/SimModel.h"
#include "zugen4/sim/SimTimers.h"

namespace Zu::Sim {

// Virtual time. Sleep moves it forward; every GetTickCount moves it by 1 ms,
// so a loop that polls the clock without sleeping also ends.
class TVirtualClock final : public TClock {
 public:
  uint32_t GetTickCount() override;
  void Sleep(uint32_t ms) override;
  // The current virtual time without moving it.
  uint64_t Now() const { return FNow; }
  void Advance(uint64_t ms) { FNow += ms; }

 private:
  uint64_t FNow = 0;
};

enum class TTraceKind { Open, Close, Frame, Block, Read };

struct TTraceEntry {
  TTraceKind Kind;
  uint64_t Time;               // virtual ms when the driver was called
  std::vector<uint8_t> Bytes;  // what was written, or what was read
  FT_STATUS Status;            // what the driver answered
};

// A fault armed for one later driver call.
struct TFault {
  FT_STATUS Status = FT_IO_ERROR;
  // When set, the call reports success with this many bytes instead.
  std::optional<uint32_t> Count;
};

class TSimDriver final : public TFtDriver {
 public:
  explicit TSimDriver(std::shared_ptr<TVirtualClock> clock = nullptr);

  // Device 0 only: the bus holds one instrument.
  FT_STATUS Open(int index, FT_HANDLE* handle) override;
  FT_STATUS Close(FT_HANDLE handle) override;
  FT_STATUS Read(FT_HANDLE handle, void* buf, uint32_t wanted, uint32_t* got) override;
  FT_STATUS Write(FT_HANDLE handle, const void* buf, uint32_t count, uint32_t* written) override;

  // --- what the test sets ---
  void SetADCValue(uint32_t value) { FADCValue = value; }
  void FailOpen(FT_STATUS status) { FOpenFault = status; }
  void FailClose(FT_STATUS status) { FCloseFault = status; }
  // The nth write from now (1 = the next one) fails, or comes out short.
  void FailWrite(unsigned nth, TFault fault);
  void FailRead(unsigned nth, TFault fault);
  // The instrument goes away: every write and read fails until Replug.
  void Unplug() { FUnplugged = true; }
  // It comes back. As a new device (what a real replug gives), handles opened
  // before the unplug are stale, even one whose close was refused, and the
  // device can be opened again; otherwise the old handle just works again.
  void Replug(bool asNewDevice = false) {
    FUnplugged = false;
    if (asNewDevice) FOpen = false;
  }
  void ClearFaults();

  // --- what the test reads ---
  bool IsOpen() const { return FOpen; }
  const std::vector<TTraceEntry>& Trace() const { return FTrace; }
  // Only the command frames, as bytes, in the order written.
  std::vector<std::vector<uint8_t>> Frames() const;
  // Framing breaches: unknown codes, wrong lengths, blocks of another size
  // than announced, reads nobody asked for. What the codes say is judged by
  // Model().Violations().
  std::vector<std::string> Violations() const { return FViolations; }
  // The instrument as the frames left it: per-channel state, realised values.
  const TInstrumentModel& Model() const { return FModel; }
  // Forgets the trace and any half-finished exchange (an announced block, a
  // read command), not the faults armed or the open state.
  void ClearTrace() {
    FTrace.clear();
    FPendingBlock = 0;
    FReadAllowed = false;
    FModel.ForgetPending();
  }
  int OpenCount() const { return FOpenCount; }
  // Keeps only the newest entries of the trace (at least `entries`, older
  // ones dropped in batches), for a process that runs for hours; 0 keeps all.
  void SetTraceLimit(size_t entries) { FTraceLimit = entries; }

 private:
  uint64_t Now() const { return FClock ? FClock->Now() : 0; }
  bool TakeFault(std::vector<std::pair<unsigned, TFault>>& armed, TFault& out);
  void Check(const uint8_t* bytes, uint32_t count);
  void AddTrace(TTraceEntry entry);

  std::shared_ptr<TVirtualClock> FClock;
  bool FOpen = false;
  bool FUnplugged = false;
  int FOpenCount = 0;
  uint32_t FADCValue = 0;
  bool FReadAllowed = false;
  uint32_t FPendingBlock = 0;
  std::optional<FT_STATUS> FOpenFault;
  std::optional<FT_STATUS> FCloseFault;
  std::vector<std::pair<unsigned, TFault>> FWriteFaults;
  std::vector<std::pair<unsigned, TFault>> FReadFaults;
  std::vector<TTraceEntry> FTrace;
  size_t FTraceLimit = 0;
  std::vector<std::string> FViolations;
  TInstrumentModel FModel;
};

// A platform made of a simulated driver and a virtual clock.
struct TSimPlatform {
  std::shared_ptr<TVirtualClock> Clock = std::make_shared<TVirtualClock>();
  std::shared_ptr<TSimDriver> Driver = std::make_shared<TSimDriver>(Clock);
  std::shared_ptr<TSimTimers> Timers = std::make_shared<TSimTimers>(Clock);
  TPlatform Platform() const { return TPlatform{Driver, Clock, Timers}; }
};

// One readable line for a command frame, e.g. "A freq 10737418 (1000.000 kHz)".
// genFreqMHz is the system clock the frequency codes refer to.
std::string DescribeFrame(const std::vector<uint8_t>& frame, double genFreqMHz = 400.0);
// The frame as hex bytes, "04 00 A3 D7 0A 00".
std::string HexBytes(const std::vector<uint8_t>& bytes);

}  // namespace Zu::Sim
