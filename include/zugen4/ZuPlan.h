// The plan of an update: every command frame and data block an update sends,
// in order, worked out whole before the first of them goes out. The link
// builds one while it captures (engines write to it as to the instrument) and
// sends one; the generator plans on a copy of its setup, so planning touches
// neither the instrument nor the setup. Preview, recording, replay and the
// tables every face shows read the same plan.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zugen4/ZuExport.h"
#include "zugen4/extend/Platform.h"

namespace Zu {

enum class TZuGen4StepKind : uint8_t {
  Command,  // a command frame, followed by the instrument's settle time
  Block,    // the data block the command before it announced
};

struct TZuGen4PlanStep {
  TZuGen4StepKind Kind = TZuGen4StepKind::Command;
  std::vector<uint8_t> Bytes;
  // Its meaning in realised values ("A freq 0x00A3D70A = 1000.000 kHz");
  // filled by the generator's planning, empty in a plan captured for sending.
  std::string Text;
};

// A table an engine downloads: what its codes stand for, and how fast the
// instrument plays it.
struct TZuGen4PlanTable {
  std::string Path;      // the engine: "ChA.IntModulation", "ChB.DDSMod"
  std::string Quantity;  // "frequency", "amplitude" or "phase"
  std::string Unit;      // of Values: "kHz", "%", "deg"
  std::vector<uint32_t> Codes;
  std::vector<double> Values;  // the codes as realised values, in play order
  double StepSeconds = 0.0;    // time each reading is played
  uint32_t Divider = 0;        // the engine's timer word (La, or Tau in 10 ns ticks)
  std::string DividerText;     // the same in words
};

// How sending a plan ended.
struct TZuGen4SendOutcome {
  bool Sent = true;
  size_t FailedStep = 0;     // the step that failed, when !Sent
  FT_STATUS Status = FT_OK;  // the driver's answer to it
  std::string Failure;       // the link's account of the failure
};

class ZUGEN_API TZuGen4Plan {
 public:
  static constexpr uint32_t CMD_WAIT_MS = 20;

  std::vector<TZuGen4PlanStep> Steps;
  std::vector<TZuGen4PlanTable> Tables;

  void AddCommand(const uint8_t* bytes, size_t count);
  void AddBlock(const uint8_t* bytes, size_t count);
  bool Empty() const { return Steps.empty(); }
  size_t Commands() const;
  // What the update takes on the wire: each command's settle time.
  double DurationMs() const { return static_cast<double>(Commands()) * CMD_WAIT_MS; }
  // The table of an engine ("ChA.IntModulation"); nullptr when the plan
  // downloads none for it.
  const TZuGen4PlanTable* TableOf(const std::string& path) const;
  // One line a step: the time it goes out at, the bytes (a long block cut
  // after 12 of them) and its meaning; then the total.
  std::string Text() const;
  bool operator==(const TZuGen4Plan& other) const;
};

// The bytes as hex pairs, "04 00 A3 D7 0A 00"; a positive `limit` shows only
// that many and adds " ...".
ZUGEN_API std::string HexText(const std::vector<uint8_t>& bytes, size_t limit = 0);

}  // namespace Zu
