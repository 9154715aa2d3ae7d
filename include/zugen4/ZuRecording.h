// Previews, recordings and replays of plans (ZuPlan.h).
//
// A preview is the plan a change would send, worked out on a copy of the
// setup. A recording appends every plan a generator sends to a text file,
// one block a plan:
//
//   # ZuGen4 recording 1
//   plan 2026-12-07T19:58:01.123Z sent
//   C F0 00 00 00 00 00
//   B 26 65 26 CA ...
//   end
//   plan 2026-12-07T19:58:02.456Z failed at 3: sending the command frame ... failed: ...
//   ...
//
// `C` is a command frame, `B` a data block, both as hex bytes; the outcome is
// `sent`, or `failed at K: ACCOUNT` with the step that failed (counted from
// 0) and the link's account. Lines starting with `#` are comments. A replay
// plays the steps that went out (all of a sent plan; those before the failed
// step of a failed one).
#pragma once

#include <cstdint>
#include <functional>
#include <istream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "zugen4/ZuExport.h"
#include "zugen4/ZuPlan.h"
#include "zugen4/ZuRegistry.h"

namespace Zu {

class TZuGen4;

// The plan the generator would send after `change` (applied to a copy of its
// setup, with automatic updates held); nothing is sent, nothing changes.
// Whatever `change` raises leaves as it is; a setup that cannot be sent
// raises EUnsendableSetup (CheckSendable). A face that loads a settings file
// previews the load first, so that such a file changes nothing.
ZUGEN_API TZuGen4Plan PreviewChange(const TZuGen4& gen, const std::function<void(TZuGen4&)>& change);
// The same for a request of values, as SetProps takes it.
ZUGEN_API TZuGen4Plan PreviewProps(const TZuGen4& gen,
                                   const std::vector<std::pair<std::string, std::string>>& assignments,
                                   const TSetOptions& options = {});

// One plan of a recording.
struct TRecordedPlan {
  std::string Time;  // UTC, ISO 8601 with milliseconds
  bool Sent = true;
  size_t FailedStep = 0;
  std::string Failure;
  TZuGen4Plan Plan;
  // The steps that reached the instrument.
  size_t StepsOut() const { return Sent ? Plan.Steps.size() : FailedStep; }
};

// Appends every plan the generator sends (TZuGen4::OnPlanSent) to a file,
// each written and flushed whole as it is sent. The generator must outlive
// the recorder; the recorder takes OnPlanSent while it lives.
class ZUGEN_API TZuGen4Recorder {
 public:
  // EInOutError naming the file and the system's reason when it cannot be
  // opened for appending.
  TZuGen4Recorder(TZuGen4& gen, const std::string& path);
  ~TZuGen4Recorder();
  TZuGen4Recorder(const TZuGen4Recorder&) = delete;
  TZuGen4Recorder& operator=(const TZuGen4Recorder&) = delete;
  size_t Plans() const { return FPlans; }

 private:
  struct TFile;
  TZuGen4& FGen;
  std::unique_ptr<TFile> FFile;
  size_t FPlans = 0;
};

// The text of one recorded plan, as the recorder writes it.
ZUGEN_API std::string RecordText(const TRecordedPlan& recorded);
// Reads a recording. EBadValue naming the line and what was wrong for a text
// that is no recording.
ZUGEN_API std::vector<TRecordedPlan> ReadRecording(std::istream& in, const std::string& name);

// A recording played into a simulated instrument.
struct TReplayResult {
  size_t Plans = 0;
  size_t Steps = 0;
  std::string State;                    // the instrument's decoded state per channel
  std::vector<std::string> Violations;  // every protocol violation the model found
};
ZUGEN_API TReplayResult ReplayOnSimulator(const std::vector<TRecordedPlan>& recording);

}  // namespace Zu
