#include "Api.h"

#include <stdlib.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <utility>
#include <vector>

#include "EventHub.h"
#include "FrameLog.h"
#include "zugen4/ZuModeRules.h"
#include "zugen4/ZuRecording.h"
#include "zugen4/ZuRegistry.h"
#include "zugen4/ZuSettingsFile.h"
#include "zugen4/ZuTextForm.h"
#include "zugen4/sim/SimInstrument.h"

namespace Zu::Serve {

using nlohmann::json;

namespace {

// Messages may quote what the client sent, which need not be UTF-8: such
// bytes are replaced rather than letting the serializer throw.
TResult Json(int status, const json& body) {
  return {status, "application/json", body.dump(-1, ' ', false, json::error_handler_t::replace), {}};
}

TResult Error(int status, const std::string& error, const std::string& message, json extra = json::object()) {
  extra["error"] = error;
  extra["message"] = message;
  return Json(status, extra);
}

json Value(const TZuGen4& gen, const TPropInfo& info) {
  switch (info.Kind) {
    case TPropKind::Double: {
      const double v = GetPropDouble(gen, info.Path);
      return std::isfinite(v) ? json(v) : json(nullptr);
    }
    case TPropKind::Int: return GetPropInt(gen, info.Path);
    case TPropKind::Bool: return GetPropBool(gen, info.Path);
    case TPropKind::Enum: return GetPropText(gen, info.Path);
  }
  return nullptr;
}

json Values(const TZuGen4& gen) {
  json values = json::object();
  for (const TPropInfo& info : ListProperties(gen)) values[info.Path] = Value(gen, info);
  return values;
}

json LinkState(const TZuGen4& gen) {
  return {{"active", gen.Active()}, {"status", gen.Status()}, {"lastFailure", gen.LastLinkFailure()}};
}

const char* ChannelName(const TZuGen4Channel* ch) { return ch->ChannelType() == ZGCN_A ? "A" : "B"; }

// The JSON value as the registry's text: numbers so that they read back
// exactly, booleans as true/false, strings as they are.
bool ValueText(const json& v, std::string& text) {
  if (v.is_string()) {
    text = v.get<std::string>();
    return true;
  }
  if (v.is_boolean()) {
    text = v.get<bool>() ? "true" : "false";
    return true;
  }
  if (v.is_number_integer()) {
    text = v.is_number_unsigned() ? std::to_string(v.get<uint64_t>()) : std::to_string(v.get<int64_t>());
    return true;
  }
  if (v.is_number_float()) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v.get<double>());
    text.assign(buf, r.ptr);
    return true;
  }
  return false;
}

// How deep arrays and objects nest, counted without parsing (brackets inside
// strings do not count); stops as soon as the limit is passed.
bool NestedDeeperThan(std::string_view text, int limit) {
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (inString) {
      if (c == '\\')
        ++i;
      else if (c == '"')
        inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > limit) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

// Counts the update cycles sent while it lives, keeping the handler in place.
class TUpdateCounter {
 public:
  explicit TUpdateCounter(TZuGen4& gen) : FGen(gen), FOld(gen.AfterUpdate) {
    gen.AfterUpdate = [this](TObject* sender) {
      ++FCount;
      if (FOld) FOld(sender);
    };
  }
  ~TUpdateCounter() { FGen.AfterUpdate = FOld; }
  int Count() const { return FCount; }

 private:
  TZuGen4& FGen;
  TNotifyEvent FOld;
  int FCount = 0;
};

// A file in a private directory of its own, so that the generator's file
// routines read and write settings bytes without touching any file of the
// user's; gone with the object.
class TPrivateFile {
 public:
  TPrivateFile() {
    std::string dir = (std::filesystem::temp_directory_path() / "zugen4-panel-XXXXXX").string();
    if (!mkdtemp(dir.data()))
      throw EInOutError("no private directory for the settings: " + std::string(strerror(errno)));
    FDir = dir;
  }
  ~TPrivateFile() {
    std::error_code ec;
    std::filesystem::remove_all(FDir, ec);
  }
  std::string Path() const { return (FDir / "settings.zg4").string(); }
  std::string Read() const {
    std::ifstream in(Path(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  void Write(std::string_view bytes) const {
    std::ofstream out(Path(), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush()) throw EInOutError("cannot keep the uploaded settings aside");
  }

 private:
  std::filesystem::path FDir;
};

// A generator that only computes: simulated instrument, no events.
struct TScratch {
  Sim::TSimPlatform Sim;
  TZuGen4 Gen;
  TScratch() { Gen.SetPlatform(Sim.Platform()); }
};

// Reads settings bytes into gen. False when the bytes are no complete
// settings file: a wrong signature, or a record that does not write back
// byte for byte (cut short, or holding values no property takes).
bool LoadSettings(TZuGen4& gen, std::string_view bytes) {
  TPrivateFile file;
  file.Write(bytes);
  bool wrong = false;
  const TNotifyEvent old = gen.OnErrorFile;
  gen.OnErrorFile = [&](TObject*) { wrong = true; };
  try {
    gen.LoadFromFile(file.Path());
  } catch (...) {
    gen.OnErrorFile = old;
    throw;
  }
  gen.OnErrorFile = old;
  return !wrong;
}

bool IsCompleteSettings(std::string_view bytes) {
  TScratch scratch;
  return LoadSettings(scratch.Gen, bytes) && SettingsBytes(scratch.Gen) == bytes;
}

// The value of each mode and the engine sub-object it plays.
// The engine a mode plays, as the channel's engines say (none for off and gen).
std::string EngineOf(const TZuGen4& gen, TZuGen4ModesCommon mode) {
  for (const auto& engine : gen.ChA()->Engines())
    if (engine->Serves(mode)) return engine->EngineName();
  return "";
}

std::string ModeName(const TZuGen4& gen, TZuGen4ModesCommon mode) {
  for (const TPropEnumerator& e : DescribeProperty(gen, "ChA.Mode").Enumerators)
    if (e.Value == mode) return e.Name;
  return std::to_string(int{mode});
}

const char* ActionName(TZuGen4ModeAction action) {
  switch (action) {
    case TZuGen4ModeAction::Keep: return "keep";
    case TZuGen4ModeAction::ForceOff: return "forceOff";
    case TZuGen4ModeAction::PullIn: return "pullIn";
    case TZuGen4ModeAction::Refuse: return "refuse";
  }
  return "";
}

// Per channel, every mode with what setting it would do to the other channel
// in its present mode, and the rule that says so.
json Modes(const TZuGen4& gen) {
  json modes = json::object();
  for (const TZuGen4Channel* ch : {static_cast<TZuGen4Channel*>(gen.ChA()), static_cast<TZuGen4Channel*>(gen.ChB())}) {
    json list = json::array();
    for (const TPropEnumerator& e : DescribeProperty(gen, "ChA.Mode").Enumerators) {
      const TZuGen4ModeChange c =
          ApplyModeRules(ch->ChannelType(), static_cast<TZuGen4ModesCommon>(e.Value), ch->GetOtherCh()->Mode());
      list.push_back({{"name", e.Name},
                      {"available", c.Action != TZuGen4ModeAction::Refuse},
                      {"action", ActionName(c.Action)},
                      {"rule", c.Rule}});
    }
    modes[std::string("Ch") + ChannelName(ch)] = list;
  }
  return modes;
}

// Whether the assignments, refused as they are, would be taken with Force.
bool Forceable(const TZuGen4& gen, const std::vector<std::pair<std::string, std::string>>& assignments) {
  try {
    PreviewProps(gen, assignments, TSetOptions{.Force = true});
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

json Engines(const TZuGen4& gen) {
  json engines = json::object();
  for (const TPropEnumerator& e : DescribeProperty(gen, "ChA.Mode").Enumerators)
    engines[e.Name] = EngineOf(gen, static_cast<TZuGen4ModesCommon>(e.Value));
  return engines;
}

}  // namespace

std::string SettingsBytes(TZuGen4& gen) {
  TPrivateFile file;
  gen.SaveToFile(file.Path());
  return file.Read();
}

TResult ApplySetupJson(TZuGen4& gen, std::string_view body, bool previewOnly) {
  // Checked before anything is built: what is built from the body (copies,
  // messages quoting a value) recurses once per level.
  if (NestedDeeperThan(body, kMaxJsonDepth))
    return Error(400, "too deeply nested",
                 "the body nests arrays or objects more than " + std::to_string(kMaxJsonDepth) +
                     " deep; a setup is one object of paths and plain values");
  json request;
  try {
    request = json::parse(body);
  } catch (const json::exception& e) {
    // Syntax errors, and numbers no double holds (1e400).
    return Error(400, "malformed JSON", e.what());
  }
  if (!request.is_object()) return Error(400, "not an object", "the body must be one JSON object of paths and values");
  std::vector<std::pair<std::string, std::string>> assignments;
  // Active is no setter's business: the link opens and closes by activation,
  // after every other value of the request is in place.
  std::optional<bool> activate;
  // "Force": true enters a mode whose engine holds a value outside its range.
  bool force = false;
  for (const auto& [path, v] : request.items()) {
    if (path == "Force") {
      if (!v.is_boolean())
        return Error(400, "bad value", "Force: " + v.dump() + " is no boolean", {{"property", path}, {"value", v}});
      force = v.get<bool>();
      continue;
    }
    if (path == "Active") {
      if (!v.is_boolean())
        return Error(400, "bad value", "Active: " + v.dump() + " is no boolean", {{"property", path}, {"value", v}});
      activate = v.get<bool>();
      continue;
    }
    std::string text;
    if (!ValueText(v, text))
      return Error(400, "bad value", path + ": " + v.dump() + " is no number, boolean or name",
                   {{"property", path}, {"value", v}});
    assignments.emplace_back(path, std::move(text));
  }
  if (activate == gen.Active()) activate.reset();
  TUpdateCounter updates(gen);
  try {
    if (previewOnly) {
      // What the change would send, worked out on a copy: nothing changes.
      const TZuGen4Plan plan = PreviewProps(gen, assignments, TSetOptions{.Force = force});
      json steps = json::array();
      for (const TZuGen4PlanStep& step : plan.Steps)
        steps.push_back({{"kind", step.Kind == TZuGen4StepKind::Block ? "block" : "frame"},
                         {"hex", HexText(step.Bytes, 12)},
                         {"bytes", step.Bytes.size()},
                         {"text", step.Text}});
      return Json(200, {{"steps", steps}, {"durationMs", plan.DurationMs()}, {"text", plan.Text()}});
    }
    if (!assignments.empty()) SetProps(gen, assignments, TSetOptions{.Update = !activate, .Force = force});
    if (activate) {
      gen.SetActive(*activate);
      if (*activate && !gen.Active())
        return Error(502, "no instrument", "the link could not be opened", {{"link", LinkState(gen)}});
      // A generator that does not update by itself still owes the newly
      // opened instrument its setup.
      if (*activate && updates.Count() == 0) gen.UpdateMode();
    }
  } catch (const EUnknownProperty& e) {
    return Error(400, "unknown property", e.what(), {{"property", e.Path()}});
  } catch (const EBadValue& e) {
    return Error(400, "bad value", e.what(), {{"property", e.Path()}, {"value", e.Value()}});
  } catch (const ERefusedValue& e) {
    json extra = {{"property", e.Path()}, {"value", e.Value()}, {"range", e.Range()}};
    // A mode refused for a value outside its engine's range may still be
    // sent as it is when asked to: the page offers that.
    if (!force && dynamic_cast<const EConflictingValues*>(&e)) extra["forceable"] = Forceable(gen, assignments);
    return Error(422, "refused", e.what(), extra);
  } catch (const Exception& e) {
    return Error(502, "link failure", e.what(), {{"link", LinkState(gen)}});
  }
  return Json(200, {{"updates", updates.Count()}, {"values", Values(gen)}, {"modes", Modes(gen)}});
}

// --- the panel ---

TPanelApi::TPanelApi(TZuGen4& gen, TEventHub& hub, TFrameLog* frames, std::function<void()> changed)
    : FGen(gen),
      FHub(hub),
      FFrames(frames),
      FChanged(std::move(changed)),
      FOldModeChange(gen.OnChModeChange),
      FOldFTError(gen.OnFTError),
      FOldADCTimer(gen.OnADCTimer),
      FOldActiveState(gen.OnChangeActiveState),
      FOldOverModulation(gen.OnOverModulation) {
  if (FFrames) FFramesSeen = FFrames->LastSeq();
  gen.OnChModeChange = [this](TZuGen4Channel* ch, bool forced) {
    json e = {{"channel", ChannelName(ch)}, {"mode", ModeName(FGen, ch->Mode())}, {"forced", forced}};
    if (forced) {
      e["by"] = ModeName(FGen, ch->GetOtherCh()->Mode());
      e["rule"] = FGen.LastModeChange().Rule;
    }
    // Published once the request stands: a refused request puts modes back.
    FPendingModes.push_back(e.dump());
    if (FOldModeChange) FOldModeChange(ch, forced);
  };
  gen.OnFTError = [this](TObject* sender) {
    FHub.Publish("link", json{{"failure", true}, {"link", LinkState(FGen)}}.dump());
    if (FOldFTError) FOldFTError(sender);
  };
  gen.OnADCTimer = [this](TZuGen4Channel* ch) {
    // The path lets the page show the reading in its field too.
    const std::string path = std::string("Ch") + ChannelName(ch) + ".Tuner.ADCValue";
    FHub.Publish("adc", json{{"channel", ChannelName(ch)}, {"value", ch->Tuner()->ADCValue()}, {"path", path}}.dump());
    if (FOldADCTimer) FOldADCTimer(ch);
  };
  gen.OnChangeActiveState = [this](TObject* sender) {
    FHub.Publish("link", json{{"failure", false}, {"link", LinkState(FGen)}}.dump());
    if (FOldActiveState) FOldActiveState(sender);
  };
  gen.OnOverModulation = [this](TZuGen4Channel* ch, double limit) {
    FHub.Publish("overmodulation", json{{"channel", ChannelName(ch)}, {"limit", limit}}.dump());
    if (FOldOverModulation) FOldOverModulation(ch, limit);
  };
}

TPanelApi::~TPanelApi() {
  FGen.OnChModeChange = FOldModeChange;
  FGen.OnFTError = FOldFTError;
  FGen.OnADCTimer = FOldADCTimer;
  FGen.OnChangeActiveState = FOldActiveState;
  FGen.OnOverModulation = FOldOverModulation;
}

TResult TPanelApi::GetSetup() const {
  json props = json::array();
  for (const TPropInfo& info : ListProperties(FGen)) {
    json p = {{"path", info.Path},
              {"kind", PropKindName(info.Kind)},
              {"unit", info.Unit},
              {"range", RangeText(info)},
              {"stored", info.Stored},
              {"readOnly", info.ReadOnly},
              {"hostOption", info.HostOption},
              {"description", info.Description},
              {"value", Value(FGen, info)}};
    if (info.HasRange) {
      // An open end (at least 0 ms) has no number.
      if (std::isfinite(info.Min)) p["min"] = info.Min;
      if (std::isfinite(info.Max)) p["max"] = info.Max;
      p["minExcluded"] = info.MinExcluded;
      p["maxExcluded"] = info.MaxExcluded;
    }
    if (!info.RangeNote.empty()) p["rangeNote"] = info.RangeNote;
    if (info.Kind == TPropKind::Enum) {
      json en = json::array();
      for (const TPropEnumerator& e : info.Enumerators)
        en.push_back({{"value", e.Value}, {"name", e.Name}, {"short", e.ShortName}, {"aliases", e.Aliases}});
      p["enumerators"] = en;
    }
    props.push_back(std::move(p));
  }
  json answer = {{"properties", props},      {"link", LinkState(FGen)},   {"modes", Modes(FGen)},
                 {"engines", Engines(FGen)}, {"genFreq", FGen.GenFreq()}, {"lastEvent", FHub.LastId()}};
  if (!FGen.Active() && !FClosedInstrument.empty()) answer["instrument"] = json::parse(FClosedInstrument);
  return Json(200, answer);
}

void TPanelApi::PublishModes() {
  for (std::string& e : FPendingModes) FHub.Publish("mode", std::move(e));
  FPendingModes.clear();
}

void TPanelApi::PublishValues() {
  if (FChanged) {
    try {
      FChanged();
    } catch (const std::exception& e) {
      FHub.Publish("notice", json{{"message", e.what()}}.dump());
    }
  }
  FHub.Publish("setup", json{{"values", Values(FGen)}, {"modes", Modes(FGen)}}.dump());
}

TResult TPanelApi::PostSetup(std::string_view body) {
  FPendingModes.clear();
  const bool wasActive = FGen.Active();
  const uint64_t seq = FFrames ? FFrames->LastSeq() : 0;
  TResult r = ApplySetupJson(FGen, body);
  if (r.Status == 200) {
    if (FGen.Active() != wasActive) {
      json answer = json::parse(r.Body);
      answer["instrument"] = InstrumentAfter(seq);
      FClosedInstrument = FGen.Active() ? std::string() : answer["instrument"].dump();
      r = Json(200, answer);
      // Every page shows it, not only the one that switched.
      FHub.Publish("instrument", answer["instrument"].dump());
    }
    PublishModes();
    PublishValues();
  } else if (r.Status == 422) {
    FHub.Publish("refused", r.Body);
  }
  FPendingModes.clear();
  FlushFrames();
  return r;
}

TResult TPanelApi::GetTable(std::string_view path) const {
  // The library plans the table on a copy of the setup, as every face does;
  // the instrument sees nothing of it.
  const std::string p(path);
  TZuGen4PlanTable t;
  try {
    t = FGen.PlanTable(p);
  } catch (const EUnknownProperty& e) {
    return Error(404, "no table", e.what());
  } catch (const ENoTable& e) {
    return Error(422, "no table", e.what());
  } catch (const ERefusedValue& e) {
    return Error(422, "no table", e.what());
  }
  const char* quantity = t.Quantity == "frequency" ? "freq" : t.Quantity == "amplitude" ? "ampl" : "phase";
  json out = {{"path", p},
              {"length", t.Codes.size()},
              {"codes", t.Codes},
              {"values", t.Values},
              {"unit", t.Unit},
              {"quantity", quantity},
              {"divider", t.Divider},
              {"dividerText", t.DividerText},
              {"stepTimeUs", t.StepSeconds * 1e6}};
  return Json(200, out);
}

TResult TPanelApi::PostPreview(std::string_view body) { return ApplySetupJson(FGen, body, true); }

TResult TPanelApi::PostReset() {
  FPendingModes.clear();
  const uint64_t seq = FFrames ? FFrames->LastSeq() : 0;
  try {
    ResetToDefaults(FGen);
  } catch (const Exception& e) {
    // The defaults are in place by now: every page and the state file
    // learn of them, though the instrument did not.
    PublishModes();
    PublishValues();
    FlushFrames();
    return Error(502, "link failure", e.what() + std::string("; the setup is back to its defaults, not sent"),
                 {{"link", LinkState(FGen)}});
  }
  PublishModes();
  PublishValues();
  json answer = {{"values", Values(FGen)}, {"modes", Modes(FGen)}, {"instrument", InstrumentAfter(seq)}};
  FlushFrames();
  return Json(200, answer);
}

TResult TPanelApi::GetSettings(bool form) const {
  if (form) {
    return {200, "text/plain; charset=utf-8", WriteTextForm(FGen), "ZuGen4.txt"};
  }
  return {200, "application/octet-stream", SettingsBytes(FGen), "ZuGen4.zg4"};
}

TResult TPanelApi::PutSettings(std::string_view body, bool form) {
  FPendingModes.clear();
  TUpdateCounter updates(FGen);
  try {
    // What cannot be sent (a record's values beyond every range, a form's
    // modes that cannot run together) changes nothing: tried on a copy first.
    if (form) {
      PreviewChange(FGen, [&](TZuGen4& copy) { ReadTextForm(copy, body); });
      ReadTextForm(FGen, body);
    } else {
      if (!IsCompleteSettings(body)) {
        const std::string fault = SettingsRecordFault(body);  // where a cut one ends, and the size of a whole one
        return Error(422, "not a settings file",
                     "the upload is no complete settings file of this generator: " +
                         (fault.empty() ? std::string("it holds values no property takes") : fault) +
                         "; nothing was changed");
      }
      PreviewChange(FGen, [&](TZuGen4& copy) { LoadSettings(copy, body); });
      LoadSettings(FGen, body);
    }
    // A generator without automatic update (the tool's) sends the loaded
    // setup here, once.
    if (updates.Count() == 0 && FGen.Active()) FGen.UpdateMode();
  } catch (const ETextFormError& e) {
    return Error(422, "form error", e.what(), {{"line", e.Line()}});
  } catch (const ERefusedValue& e) {
    return Error(422, "refused", e.what() + std::string("; nothing was changed"),
                 {{"property", e.Path()}, {"value", e.Value()}, {"range", e.Range()}});
  } catch (const Exception& e) {
    FlushFrames();
    return Error(502, "link failure", e.what(), {{"link", LinkState(FGen)}});
  }
  PublishModes();
  PublishValues();
  FlushFrames();
  return Json(200, {{"updates", updates.Count()}, {"values", Values(FGen)}, {"modes", Modes(FGen)}});
}

namespace {

json WireJson(const TWireEntry& e, double genFreq) {
  const char* kinds[] = {"frame", "block", "read"};
  json j = {{"seq", e.Seq},
            {"ms", std::round(e.TimeMs * 10.0) / 10.0},
            {"kind", kinds[static_cast<int>(e.Kind)]},
            {"hex", Sim::HexBytes(e.Bytes)},
            {"length", e.Length},
            {"ok", e.Status == FT_OK}};
  switch (e.Kind) {
    case TWireKind::Frame: j["meaning"] = Sim::DescribeFrame(e.Bytes, genFreq); break;
    case TWireKind::Block: j["meaning"] = "data block of " + std::to_string(e.Length) + " bytes"; break;
    case TWireKind::Read: j["meaning"] = "adc reading"; break;
  }
  return j;
}

}  // namespace

json TPanelApi::InstrumentAfter(uint64_t seq) const {
  std::string sent;
  json frames = json::array();
  if (FFrames)
    for (const TWireEntry& e : FFrames->Since(seq)) {
      if (e.Kind == TWireKind::Read) continue;
      frames.push_back(WireJson(e, FGen.GenFreq())["meaning"]);
      if (frames.size() <= 3) sent += (sent.empty() ? "" : "; ") + frames.back().get<std::string>();
    }
  if (frames.size() > 3) sent += " and " + std::to_string(frames.size() - 3) + " more";
  const bool active = FGen.Active();
  std::string summary;
  if (active)
    summary = "The link is open; sent: " + (frames.empty() ? std::string("nothing") : sent) + ".";
  else if (frames.empty())
    summary = "The link is closed. Nothing was sent on closing: the instrument keeps running what it was sent last.";
  else
    summary = "The link is closed; sent on closing: " + sent + ". Nothing more is sent until the link opens again.";
  json out = {{"active", active}, {"sent", frames}, {"summary", summary}};
  if (FInstrumentState) out["state"] = "The simulated instrument now:\n" + FInstrumentState();
  return out;
}

TResult TPanelApi::GetFrames() const {
  json list = json::array();
  if (FFrames)
    for (const TWireEntry& e : FFrames->Since(0)) list.push_back(WireJson(e, FGen.GenFreq()));
  return Json(200, {{"frames", list}});
}

void TPanelApi::FlushFrames() {
  if (!FFrames || FFrames->LastSeq() == FFramesSeen) return;
  json list = json::array();
  for (const TWireEntry& e : FFrames->Since(FFramesSeen)) list.push_back(WireJson(e, FGen.GenFreq()));
  FFramesSeen = FFrames->LastSeq();
  FHub.Publish("frames", json{{"frames", list}}.dump());
}

}  // namespace Zu::Serve
