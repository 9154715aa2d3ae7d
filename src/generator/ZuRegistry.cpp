// Generic access to the generator's published properties by dotted path.
//
// A write goes through the property's own setter. Whether it was taken is
// judged by reading the property back: a setter refuses silently, cuts a value
// to its range (FreqScale) or ignores it in some state (RefFreq with the
// internal reference), and all of these read back something else.
//
// Putting back what a refused write changed: the setup is snapshot as the
// settings record (in memory, through the same code that writes the file) and
// read back from it. Reading the record stores fields directly, so no
// setter's side effect (the mode rules forcing the other channel, the sweep's
// top following the frequency) runs again; with csLoading lifted meanwhile no
// update reaches the instrument either.
#include "zugen4/ZuRegistry.h"

#include <algorithm>
#include <array>

#include "platform/PropTable.h"
#include "platform/ZuFileStream.h"
#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

namespace Zu {

namespace {

struct TSetupSnapshot {
  std::vector<uint8_t> Record;
  bool AutoUpdate = true;
};

TSetupSnapshot TakeSnapshot(TZuGen4& gen) {
  TZuGen4FileStream stream;
  stream.OpenMemoryForWriting();
  gen.WriteDataToFile(stream);
  return {stream.MemoryBytes(), gen.AutoUpdate()};
}

// What the tuner's polling timer depends on among the stored fields.
struct TTimerState {
  bool Enabled;
  int Interval;
  TZuGen4ModesCommon Mode;
  bool operator==(const TTimerState&) const = default;
};

TTimerState TimerState(const TZuGen4Channel& ch) {
  return {ch.Tuner()->ADCTimerEnabled(), ch.Tuner()->ADCTimerInterval(), ch.Mode()};
}

// Runs fn with csLoading lifted: TryUpdateMode then sends nothing, whatever
// the setters or the automatic update ask for.
template <typename Fn>
void WithoutUpdates(TZuGen4& gen, Fn fn) {
  const bool loading = gen.ComponentState().Contains(csLoading);
  gen.ExcludeState(csLoading);
  try {
    fn();
  } catch (...) {
    if (loading) gen.IncludeState(csLoading);
    throw;
  }
  if (loading) gen.IncludeState(csLoading);
}

// Puts the setup back as the snapshot has it, sending nothing. Only called
// while another exception is on its way out, so it throws nothing itself.
void RestoreSnapshot(TZuGen4& gen, const TSetupSnapshot& snap) noexcept {
  const TTimerState a = TimerState(*gen.ChA());
  const TTimerState b = TimerState(*gen.ChB());
  try {
    WithoutUpdates(gen, [&] {
      gen.SetAutoUpdate(snap.AutoUpdate);
      TZuGen4FileStream stream;
      stream.OpenMemoryForReading(snap.Record);
      gen.ReadDataFromFile(stream);
    });
    // A polling timer the request started or stopped follows the restored
    // fields again.
    if (!(TimerState(*gen.ChA()) == a)) gen.ChA()->Tuner()->UpdateADCTimer();
    if (!(TimerState(*gen.ChB()) == b)) gen.ChB()->Tuner()->UpdateADCTimer();
  } catch (...) {
    // Only a timer service that refuses a new timer can get here; the values
    // are back, and the failure the caller is to see is the original one.
  }
  // A host that follows the modes through the event learns that they are
  // back (as a change it did not set itself).
  for (TZuGen4Channel* ch : {static_cast<TZuGen4Channel*>(gen.ChA()), static_cast<TZuGen4Channel*>(gen.ChB())}) {
    const TZuGen4ModesCommon was = ch == gen.ChA() ? a.Mode : b.Mode;
    if (ch->Mode() == was || !gen.OnChModeChange) continue;
    try {
      gen.OnChModeChange(ch, true);
    } catch (...) {
      // Not the failure the caller is to see.
    }
  }
}

bool SameSetup(TZuGen4& gen, const TSetupSnapshot& snap) {
  const TSetupSnapshot now = TakeSnapshot(gen);
  return now.Record == snap.Record && now.AutoUpdate == snap.AutoUpdate;
}

TPropRef Resolve(const TZuGen4& gen, std::string_view path) { return ResolveProp(TZuGen4::Published(), &gen, path); }

// The checks every write makes before it reaches a setter.
TPropInfo CheckWritable(const TPropRef& ref, double value, const std::string& text) {
  TPropInfo info = DescribeProp(ref);
  if (info.ReadOnly) {
    const std::string why =
        info.Path == "Active" ? "read-only here; the link is opened and closed by activation" : "read-only";
    throw EBadValue(info.Path, text, why);
  }
  CheckPropValue(info, value, text);
  return info;
}

// The setter's verdict: the property reads back what was asked.
bool ReadsBack(const TPropRef& ref, double value) { return ReadProp(ref) == value; }

void CheckModeEntries(TZuGen4& gen, const TSetupSnapshot& before, const std::array<TZuGen4ModesCommon, 2>& modes);

// Whether the automatic updates of the generator and its channels are on.
std::array<bool, 3> AutoFlags(const TZuGen4& gen) {
  return {gen.AutoUpdate(), gen.ChA()->AutoUpdate(), gen.ChB()->AutoUpdate()};
}

// An update would go out now: active, updating automatically, not held.
bool WouldSend(const TZuGen4& gen) {
  return gen.Active() && gen.AutoUpdate() && gen.ComponentState().Contains(csLoading);
}

// A setup that cannot be sent goes back to `before` and is refused.
void RefuseUnsendable(TZuGen4& gen, const TSetupSnapshot& before) {
  try {
    CheckSendable(gen);
  } catch (...) {
    RestoreSnapshot(gen, before);
    throw;
  }
}

void SetChecked(TZuGen4& gen, std::string_view path, double value, const std::string* text) {
  const TPropRef ref = Resolve(gen, path);
  const std::string shown = text ? *text : FormatPropValue(DescribeProp(ref), value);
  const TPropInfo info = CheckWritable(ref, value, shown);
  const TSetupSnapshot before = TakeSnapshot(gen);
  const auto autoBefore = AutoFlags(gen);
  const std::array<TZuGen4ModesCommon, 2> modes{gen.ChA()->Mode(), gen.ChB()->Mode()};
  // The setter runs with updates held: the update it asks for goes out below,
  // once the value is known to be taken and the setup to be sendable.
  try {
    WithoutUpdates(gen, [&] { ref.Desc->Set(ref.Object, value); });
  } catch (...) {
    // A handler of the setter's event threw. A value the setter did not take
    // goes back; one it took stays.
    if (!ReadsBack(ref, value) && !SameSetup(gen, before)) RestoreSnapshot(gen, before);
    throw;
  }
  if (!ReadsBack(ref, value)) {
    if (!SameSetup(gen, before)) RestoreSnapshot(gen, before);
    throw ERefusedValue(info.Path, shown, RangeText(DescribeProp(ref)));
  }
  const auto autoAfter = AutoFlags(gen);
  bool switchedOn = false;
  for (size_t i = 0; i < autoAfter.size(); ++i) switchedOn |= autoAfter[i] && !autoBefore[i];
  if (SameSetup(gen, before) && !switchedOn) return;  // the setter changed nothing: nothing to send
  CheckModeEntries(gen, before, modes);
  if (WouldSend(gen)) RefuseUnsendable(gen, before);
  gen.TryUpdateMode();
}

}  // namespace

std::vector<TPropInfo> ListProperties(const TZuGen4& gen) {
  std::vector<TPropInfo> list;
  ForEachProp(TZuGen4::Published(), &gen, [&](const TPropRef& ref) { list.push_back(DescribeProp(ref)); });
  return list;
}

TPropInfo DescribeProperty(const TZuGen4& gen, std::string_view path) { return DescribeProp(Resolve(gen, path)); }

double GetPropDouble(const TZuGen4& gen, std::string_view path) { return ReadProp(Resolve(gen, path)); }

int64_t GetPropInt(const TZuGen4& gen, std::string_view path) { return RoundToInt64(GetPropDouble(gen, path)); }

bool GetPropBool(const TZuGen4& gen, std::string_view path) { return GetPropDouble(gen, path) != 0.0; }

std::string GetPropText(const TZuGen4& gen, std::string_view path) {
  const TPropRef ref = Resolve(gen, path);
  return FormatPropValue(DescribeProp(ref), ReadProp(ref));
}

void SetPropDouble(TZuGen4& gen, std::string_view path, double value) { SetChecked(gen, path, value, nullptr); }

void SetPropInt(TZuGen4& gen, std::string_view path, int64_t value) {
  // No property takes more than 32 bits; beyond 2^53 a double would not even
  // hold the value asked for.
  const std::string text = std::to_string(value);
  constexpr int64_t kExact = int64_t{1} << 53;
  if (value > kExact || value < -kExact) throw EBadValue(std::string(path), text, "too large for any property");
  SetChecked(gen, path, static_cast<double>(value), &text);
}

void SetPropBool(TZuGen4& gen, std::string_view path, bool value) {
  const std::string text = value ? "true" : "false";
  SetChecked(gen, path, value ? 1.0 : 0.0, &text);
}

void SetPropText(TZuGen4& gen, std::string_view path, std::string_view text) {
  const TPropRef ref = Resolve(gen, path);
  const double value = ParsePropText(DescribeProp(ref), text);
  const std::string shown(text);
  SetChecked(gen, path, value, &shown);
}

namespace {

struct TStep {
  TPropRef Ref;
  double Value;
  const std::string* Text;
};

// Every path and text is checked before anything changes. Asking for the
// automatic update is taken out of the steps: it is the last word on what the
// automatic update is afterwards.
std::vector<TStep> PlanSteps(TZuGen4& gen, const std::vector<std::pair<std::string, std::string>>& assignments,
                             bool& finalAutoUpdate) {
  std::vector<TStep> steps;
  steps.reserve(assignments.size());
  const TPropDesc* autoUpdate = TZuGen4::Published().Find("AutoUpdate");
  finalAutoUpdate = gen.AutoUpdate();
  for (const auto& [path, text] : assignments) {
    TPropRef ref = Resolve(gen, path);
    const double value = ParsePropText(DescribeProp(ref), text);
    CheckWritable(ref, value, text);
    for (const TStep& earlier : steps)
      if (earlier.Ref.Desc == ref.Desc && earlier.Ref.Object == ref.Object)
        throw EConflictingValues(
            ref.Path, text,
            "the request gives " + ref.Path + " twice (" + *earlier.Text + " first); give each property once");
    if (ref.Desc == autoUpdate)
      finalAutoUpdate = value != 0.0;
    else
      steps.push_back({std::move(ref), value, &text});
  }
  return steps;
}

// Sets the steps in their order. A value refused at its turn may depend on
// one that comes later (a sweep top below the present frequency, given with
// the lower frequency after it): it is tried again once the others are set,
// for as long as that helps. What is refused then is refused. The setters'
// refusal event has told of each refusal on the first pass; the retries stay
// quiet.
void ApplySteps(TZuGen4& gen, const std::vector<TStep>& steps) {
  std::vector<const TStep*> pending;
  for (const TStep& step : steps) pending.push_back(&step);
  struct TQuiet {
    TZuGen4& Gen;
    decltype(Gen.OnParamValueError) Told;
    ~TQuiet() { Gen.OnParamValueError = Told; }
  } quiet{gen, gen.OnParamValueError};
  while (!pending.empty()) {
    std::vector<const TStep*> refused;
    for (const TStep* step : pending) {
      step->Ref.Desc->Set(step->Ref.Object, step->Value);
      if (!ReadsBack(step->Ref, step->Value)) refused.push_back(step);
    }
    if (refused.size() == pending.size()) {
      const TStep& first = *refused.front();
      throw ERefusedValue(first.Ref.Path, *first.Text, RangeText(DescribeProp(first.Ref)));
    }
    pending = std::move(refused);
    gen.OnParamValueError = nullptr;
  }
}

// The setup of a generator nobody has changed.
struct TDefaults {
  std::vector<uint8_t> Record;
  TZuGen4ModesCommon ModeA, ModeB;
};

const TDefaults& Defaults() {
  static const TDefaults defaults = [] {
    TZuGen4 fresh;
    return TDefaults{TakeSnapshot(fresh).Record, fresh.ChA()->Mode(), fresh.ChB()->Mode()};
  }();
  return defaults;
}

// Every value asked for is still there once all are set: a later value (or
// the mode rules it brought) may have moved an earlier one.
void CheckAllKept(TZuGen4& gen, const std::vector<TStep>& steps) {
  for (const TStep& step : steps) {
    if (ReadsBack(step.Ref, step.Value)) continue;
    const TPropInfo info = DescribeProp(step.Ref);
    const std::string now = FormatPropValue(info, ReadProp(step.Ref));
    std::string why = "another value of the same request changed it to " + now;
    // A mode the other channel's mode switched off: name that mode and the rule.
    for (TZuGen4Channel* ch : {static_cast<TZuGen4Channel*>(gen.ChA()), static_cast<TZuGen4Channel*>(gen.ChB())}) {
      const TPropRef mode =
          ResolveProp(TZuGen4::Published(), &gen, (ch->IsChannelA() ? "ChA" : "ChB") + std::string(".Mode"));
      if (!(mode.Desc == step.Ref.Desc && mode.Object == step.Ref.Object)) continue;
      TZuGen4Channel* other = ch->GetOtherCh();
      const TZuGen4ModeChange rule = ApplyModeRules(other->ChannelType(), other->Mode(),
                                                    static_cast<TZuGen4ModesCommon>(static_cast<int>(step.Value)));
      const std::string otherPath = other->IsChannelA() ? "ChA.Mode" : "ChB.Mode";
      why = otherPath + " = " + GetPropText(gen, otherPath) + " in the same request switches it to " + now;
      if (*rule.Rule) why += " (" + std::string(rule.Rule) + ")";
      why += "; ask for modes that can run together, or set them one at a time";
    }
    throw EConflictingValues(info.Path, *step.Text, why);
  }
}

bool InRange(const TPropInfo& info, double v) {
  if (!info.HasRange) return true;
  if (v < info.Min || (info.MinExcluded && v == info.Min)) return false;
  if (v > info.Max || (info.MaxExcluded && v == info.Max)) return false;
  return true;
}

// Entering a mode runs its engine with the values it holds: one outside its
// own range (a sweep whose times were never set) would be sent as it is.
void CheckModeEntries(TZuGen4& gen, const TSetupSnapshot& before, const std::array<TZuGen4ModesCommon, 2>& modes) {
  TZuGen4Channel* const channels[] = {gen.ChA(), gen.ChB()};
  for (int i = 0; i < 2; ++i) {
    TZuGen4Channel* ch = channels[i];
    if (ch->Mode() == modes[i]) continue;
    const std::string name = ch->IsChannelA() ? "ChA" : "ChB";
    for (const auto& engine : ch->Engines()) {
      if (!engine->Serves(ch->Mode())) continue;
      const std::string prefix = name + "." + engine->EngineName() + ".";
      for (const TPropInfo& info : ListProperties(gen)) {
        if (info.Path.rfind(prefix, 0) != 0 || !info.Stored || info.ReadOnly) continue;
        const double v = GetPropDouble(gen, info.Path);
        if (InRange(info, v)) continue;
        const std::string mode = GetPropText(gen, name + ".Mode");
        RestoreSnapshot(gen, before);
        throw EConflictingValues(name + ".Mode", mode,
                                 info.Path + " is " + FormatPropValue(info, v) + ", outside its range " +
                                     RangeText(info) + ": set it first (or force the mode to send it as it is)");
      }
    }
  }
}

void SetAll(TZuGen4& gen, const std::vector<std::pair<std::string, std::string>>& assignments, bool update,
            bool fromDefaults, bool force = true) {
  bool finalAutoUpdate = true;
  std::vector<TStep> steps = PlanSteps(gen, assignments, finalAutoUpdate);
  if (fromDefaults) {
    // The reference clock last: every frequency in its range fits the
    // default clock, and one set before the clock went down (a setup can
    // hold it) would be refused under the lower clock.
    const TPropTable& own = TZuGen4::Published();
    const TPropDesc* clock[] = {own.Find("UseExtRefFreq"), own.Find("RefFreq"), own.Find("FreqScale")};
    std::stable_partition(steps.begin(), steps.end(), [&](const TStep& step) {
      return std::find(std::begin(clock), std::end(clock), step.Ref.Desc) == std::end(clock);
    });
  }
  const TSetupSnapshot before = TakeSnapshot(gen);
  const TZuGen4ModesCommon modeA = gen.ChA()->Mode(), modeB = gen.ChB()->Mode();
  try {
    WithoutUpdates(gen, [&] {
      gen.SetAutoUpdate(false);
      if (fromDefaults) {
        // The setup goes back to the defaults; what the channels have done
        // (been loaded, had their output opened) stays.
        TZuGen4Channel* const channels[] = {gen.ChA(), gen.ChB()};
        bool loaded[2], opened[2];
        for (int i = 0; i < 2; ++i) loaded[i] = channels[i]->IsLoaded(), opened[i] = channels[i]->Opened();
        TZuGen4FileStream stream;
        stream.OpenMemoryForReading(Defaults().Record);
        gen.ReadDataFromFile(stream);
        for (int i = 0; i < 2; ++i) channels[i]->RestoreHistory(loaded[i], opened[i]);
      }
    });
    ApplySteps(gen, steps);
    CheckAllKept(gen, steps);
  } catch (...) {
    RestoreSnapshot(gen, before);
    throw;
  }
  if (!force) CheckModeEntries(gen, before, {modeA, modeB});
  if (update && gen.Active()) RefuseUnsendable(gen, before);
  WithoutUpdates(gen, [&] { gen.SetAutoUpdate(finalAutoUpdate); });
  if (fromDefaults && gen.OnChModeChange) {
    // Going back to the defaults stored the modes without an event. A channel
    // whose mode the values then left at its default has not been announced.
    for (TZuGen4Channel* ch : {static_cast<TZuGen4Channel*>(gen.ChA()), static_cast<TZuGen4Channel*>(gen.ChB())}) {
      const TZuGen4ModesCommon was = ch == gen.ChA() ? modeA : modeB;
      const TZuGen4ModesCommon initial = ch == gen.ChA() ? Defaults().ModeA : Defaults().ModeB;
      if (ch->Mode() != was && ch->Mode() == initial) gen.OnChModeChange(ch, false);
    }
  }
  if (update && gen.Active()) gen.UpdateMode();
}

}  // namespace

std::pair<std::string, std::string> ParseAssignment(std::string_view item) {
  auto trim = [](std::string_view t) {
    const size_t a = t.find_first_not_of(" \t\r");
    const size_t b = t.find_last_not_of(" \t\r");
    return a == std::string_view::npos ? std::string() : std::string(t.substr(a, b - a + 1));
  };
  const size_t eq = item.find('=');
  std::string path = trim(item.substr(0, eq));
  if (eq == std::string_view::npos || path.empty())
    throw Exception("expected PATH=VALUE, got `" + trim(item) + "` (e.g. ChA.Frequency=2000)");
  return {std::move(path), trim(item.substr(eq + 1))};
}

std::vector<std::pair<std::string, std::string>> ParseAssignments(std::string_view text) {
  std::vector<std::pair<std::string, std::string>> pairs;
  while (!text.empty()) {
    const size_t end = text.find_first_of(";\n");
    const std::string_view item = text.substr(0, end);
    if (item.find_first_not_of(" \t\r") != std::string_view::npos) pairs.push_back(ParseAssignment(item));
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
  }
  return pairs;
}

void SetProps(TZuGen4& gen, const std::vector<std::pair<std::string, std::string>>& assignments, bool update) {
  SetAll(gen, assignments, update, false, false);
}

void SetProps(TZuGen4& gen, const std::vector<std::pair<std::string, std::string>>& assignments,
              const TSetOptions& options) {
  SetAll(gen, assignments, options.Update, false, options.Force);
}

TZuGen4Plan CheckSendable(const TZuGen4& gen) {
  // Values the instrument has no code for: an enumerator that names nothing
  // (a mode byte from a damaged file), a frequency beyond the system clock.
  for (const TPropInfo& info : ListProperties(gen)) {
    if (info.Kind != TPropKind::Enum || !info.Stored) continue;
    const double v = GetPropDouble(gen, info.Path);
    bool named = false;
    for (const TPropEnumerator& e : info.Enumerators) named |= static_cast<double>(e.Value) == v;
    if (!named)
      throw EUnsendableSetup(info.Path, FormatPropValue(info, v), "names no " + info.Path + " the instrument knows");
  }
  for (TZuGen4Channel* ch : {static_cast<TZuGen4Channel*>(gen.ChA()), static_cast<TZuGen4Channel*>(gen.ChB())}) {
    const std::string path = ch->IsChannelA() ? "ChA.Frequency" : "ChB.Frequency";
    if (ch->Mode() != ZGMdC_off && (!(ch->Frequency() >= 0.0) || !gen.FreqFitsClock(ch->Frequency() * 1000.0)))
      throw EUnsendableSetup(path, GetPropText(gen, path),
                             "beyond what the system clock of " +
                                 FormatPropValue(DescribeProperty(gen, "GenFreq"), gen.GenFreq()) + " MHz can produce");
  }
  return gen.PlanUpdate();
}

void ResetToDefaults(TZuGen4& gen) {
  const Sim::TSimPlatform sim;  // never opened
  TZuGen4 defaults;
  defaults.SetPlatform(sim.Platform());
  int updates = 0;
  const TNotifyEvent old = gen.AfterUpdate;
  gen.AfterUpdate = [&](TObject* sender) {
    ++updates;
    if (old) old(sender);
  };
  try {
    defaults.CopySetupTo(gen);
  } catch (...) {
    gen.AfterUpdate = old;
    throw;
  }
  gen.AfterUpdate = old;
  if (gen.Active() && updates == 0) gen.ResetGen();
}

void SetWholeSetup(TZuGen4& gen, const std::vector<std::pair<std::string, std::string>>& assignments, bool update) {
  SetAll(gen, assignments, update, true);
}

}  // namespace Zu
