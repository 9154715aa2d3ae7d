// The instrument at the wire: follows every frame, data block and read the
// way the instrument takes them, keeps what each channel has been told as
// realised values, says what each write means and flags what breaks the
// protocol. Decoding reads the one command table (ZuCommands.h).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Zu::Sim {

// What one channel of the instrument holds.
struct TSimChannelState {
  bool Output = false;
  std::string Mode = "off";  // what the last start command made of the channel
  uint32_t FreqCode = 0;
  std::optional<uint32_t> Freq1Code;  // the sweep's other end, or a keying state
  uint32_t AmplCode = 0;
  uint32_t PhaseCode = 0;
  uint32_t TableBytes = 0;            // internal-modulation table in memory
  uint32_t KeyingBytes = 0;           // keying (user) table in memory
  int Ramps = 0;                      // keying ramps loaded since the reset
  std::optional<unsigned> TuneScale;  // tuning span
  std::string TuneWhat;               // frequency, amplitude or phase
  bool Prepared = false;              // internal modulation waiting for the joint start
};

struct TSimInstrumentState {
  std::array<TSimChannelState, 2> Ch;
  unsigned Multiplier = 16;  // reference multiplier (system clock = multiplier x 25 MHz)
  bool SweepRunning = false;
  bool ExtTimes = false;
  uint32_t LastADC = 0;
  int Updates = 0;  // update and update-sync commands since the start
  int Resets = 0;
};

class TInstrumentModel {
 public:
  static constexpr double kReferenceMHz = 25.0;

  // One write as the driver got it: a command frame, or the data block a
  // frame announced. Returns its meaning as one readable line with realised
  // values ("A freq 0x00A3D70A = 1000.000 kHz").
  std::string Write(const uint8_t* bytes, uint32_t count);
  // What came back from a read.
  std::string Read(const uint8_t* bytes, uint32_t count);

  // Forgets a half-finished exchange (an announced block, a read command).
  void ForgetPending() {
    FPendingBlock = 0;
    FReadAllowed = false;
  }

  const TSimInstrumentState& State() const { return FState; }
  double SystemClockMHz() const { return FState.Multiplier * kReferenceMHz; }
  // Frequency code to kHz at the current system clock.
  double FreqKHz(uint32_t code) const;
  // The state per channel as `zugen4 state` prints it.
  std::string StateText() const;

  // Breaches of the protocol only the model sees (values out of their
  // registers, starts without their tables); the driver flags the framing.
  const std::vector<std::string>& Violations() const { return FViolations; }

 private:
  std::string Frame(const uint8_t* bytes, uint32_t count);

  TSimInstrumentState FState;
  uint32_t FPendingBlock = 0;
  int FPendingChannel = 0;
  bool FPendingKeying = false;
  bool FReadAllowed = false;
  std::vector<std::string> FViolations;
};

}  // namespace Zu::Sim
