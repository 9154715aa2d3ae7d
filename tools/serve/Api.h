// The panel's JSON interface over one generator, without any transport: the
// server calls it on the generator's thread, the tests and the fuzzer call it
// directly.
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "zugen4/Zugen4.hpp"

namespace Zu::Serve {

class TEventHub;
class TFrameLog;

// One answer: status, media type and body; FileName asks the browser to save
// the body under that name.
struct TResult {
  int Status = 200;
  std::string ContentType = "application/json";
  std::string Body;
  std::string FileName;
};

// The deepest nesting of arrays and objects a body may have.
inline constexpr int kMaxJsonDepth = 32;

// Parses one body of POST /api/setup ({"ChA.Frequency": 2000, "ChA.Mode":
// "IntModulation", ...}) and applies it to gen: every value through its
// property's setter with automatic update off, then one update; all or
// nothing. 200 with the updates sent and the new values; 400 for malformed
// JSON, nesting deeper than kMaxJsonDepth (refused before parsing), a body
// that is no object, an unknown path or a value of the wrong
// kind; 422 for a refused value (with property, value and range); 502 for a
// link failure. Never throws for any body.
TResult ApplySetupJson(TZuGen4& gen, std::string_view body, bool previewOnly = false);

// The whole setup file as bytes, and a setup read back from bytes (all or
// nothing: a damaged or truncated file is refused and changes nothing).
std::string SettingsBytes(TZuGen4& gen);

class TPanelApi {
 public:
  // Hooks the generator's events (keeping and calling the handlers already
  // there) and turns them into events of the hub. frames may be null when
  // nothing records the wire. changed runs after every request that changed
  // the setup (the tool saves its state file there).
  TPanelApi(TZuGen4& gen, TEventHub& hub, TFrameLog* frames, std::function<void()> changed = {});
  ~TPanelApi();
  TPanelApi(const TPanelApi&) = delete;
  TPanelApi& operator=(const TPanelApi&) = delete;

  TResult GetSetup() const;
  TResult PostSetup(std::string_view body);
  // What POST /api/setup with this body would send: the plan, nothing changed.
  TResult PostPreview(std::string_view body);
  // The tool's reset: the instrument gets the reset command (when linked) and
  // the setup goes back to the defaults.
  TResult PostReset();
  // path names an engine with a table: "ChA.IntModulation", "ChB.DDSMod".
  TResult GetTable(std::string_view path) const;
  TResult GetSettings(bool form) const;
  TResult PutSettings(std::string_view body, bool form);
  // The frames recorded, decoded, oldest first.
  TResult GetFrames() const;
  // Publishes what went over the wire since the last call as one event.
  void FlushFrames();
  // Where the panel reads what the instrument holds (the simulated one's
  // decoded state); none for a real instrument, which cannot be read back.
  void SetInstrumentState(std::function<std::string()> state) { FInstrumentState = std::move(state); }

 private:
  void PublishValues();
  void PublishModes();
  // What the instrument now does after the link opened or closed: the frames
  // sent since `seq` and the instrument's state where it can be read.
  nlohmann::json InstrumentAfter(uint64_t seq) const;

  TZuGen4& FGen;
  TEventHub& FHub;
  TFrameLog* FFrames;
  std::function<void()> FChanged;
  std::function<std::string()> FInstrumentState;
  // What the link's last closing left the instrument doing, for pages opened
  // (or reloaded) while it stays closed, as JSON text; empty while it is open.
  std::string FClosedInstrument;
  uint64_t FFramesSeen = 0;
  std::vector<std::string> FPendingModes;
  TChModeChangeEvent FOldModeChange;
  TNotifyEvent FOldFTError;
  TChannelEvent FOldADCTimer;
  TNotifyEvent FOldActiveState;
  TOverModulationEvent FOldOverModulation;
};

}  // namespace Zu::Serve
