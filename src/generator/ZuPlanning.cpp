// Planning an update on a copy of the setup: the copy's engines write into a
// plan, so neither the instrument nor this generator sees anything of it.
#include <algorithm>

#include "platform/ZuFileStream.h"
#include "zugen4/Properties.h"
#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

namespace Zu {

ENoTable::ENoTable(const std::string& path, const std::string& why) : Exception(path + ": " + why), FPath(path) {}
ENoTable::~ENoTable() = default;

namespace {

std::string ChannelName(const TZuGen4Channel& ch) { return ch.IsChannelA() ? "ChA" : "ChB"; }

// The table's codes as realised values, with the generator's conversions.
void FillValues(const TZuGen4& gen, TZuGen4PlanTable& table) {
  table.Values.clear();
  table.Values.reserve(table.Codes.size());
  for (uint32_t code : table.Codes) {
    if (table.Quantity == "frequency") {
      table.Values.push_back(gen.Conv_CodeToFreq(code) / 1000.0);
    } else if (table.Quantity == "amplitude") {
      table.Values.push_back(TZuGen4::Conv_CodeToAmpl(code));
    } else {
      table.Values.push_back(TZuGen4::Conv_CodeToPhase(code));
    }
  }
  table.Unit = table.Quantity == "frequency" ? "kHz" : table.Quantity == "amplitude" ? "%" : "deg";
}

// What each step means, as the instrument takes it.
void DescribeSteps(TZuGen4Plan& plan) {
  Sim::TInstrumentModel model;
  for (TZuGen4PlanStep& step : plan.Steps)
    step.Text = model.Write(step.Bytes.data(), static_cast<uint32_t>(step.Bytes.size()));
}

}  // namespace

void TZuGen4::CopySetupTo(TZuGen4& to) const {
  TZuGen4FileStream out;
  out.OpenMemoryForWriting();
  const_cast<TZuGen4*>(this)->WriteDataToFile(out);
  TZuGen4FileStream in;
  in.OpenMemoryForReading(out.MemoryBytes());
  to.ReadDataFromFile(in);
}

bool TZuGen4::PlanOnCopy(TZuGen4Plan& plan, TPlanRefusal& refusal, const std::function<void(TZuGen4&)>& prepare) const {
  // The copy reads this generator's settings record, through the code that
  // writes and reads the file; its platform is a simulated one it never opens.
  const Sim::TSimPlatform sim;
  TZuGen4 copy;
  copy.SetPlatform(sim.Platform());
  CopySetupTo(copy);
  copy.SetAutoUpdate(AutoUpdate());
  if (prepare) prepare(copy);
  copy.FLink.Capture(&plan);
  try {
    copy.EnterModes();
  } catch (const Exception& e) {
    copy.FLink.Capture(nullptr);
    refusal.Error = std::current_exception();
    for (TZuGen4Engine* engine : {copy.FEnteringA, copy.FEnteringB}) {
      if (!engine) continue;
      const std::string where = ChannelName(*engine->Channel()) + "." + engine->EngineName();
      std::string property;
      if (engine->ExplainRefusal(property, refusal.Value, refusal.Why)) {
        refusal.Path = where + "." + property;
        return false;
      }
      if (refusal.Path.empty()) refusal.Path = where;
    }
    refusal.Value.clear();
    refusal.Why = e.what();
    if (refusal.Path.empty()) refusal.Path = "update";
    return false;
  }
  copy.FLink.Capture(nullptr);
  // The tables the plan downloads, as the copy's engines made them.
  for (TZuGen4Channel* ch : {static_cast<TZuGen4Channel*>(copy.ChA()), static_cast<TZuGen4Channel*>(copy.ChB())}) {
    for (const auto& engine : ch->Engines()) {
      if (!engine->Serves(ch->Mode())) continue;
      TZuGen4PlanTable table;
      if (!engine->DescribeTable(table)) continue;
      table.Path = ChannelName(*ch) + "." + engine->EngineName();
      FillValues(copy, table);
      plan.Tables.push_back(std::move(table));
    }
  }
  return true;
}

TZuGen4Plan TZuGen4::PlanUpdate() const {
  TZuGen4Plan plan;
  TPlanRefusal refusal;
  if (!PlanOnCopy(plan, refusal)) throw EUnsendableSetup(refusal.Path, refusal.Value, refusal.Why);
  DescribeSteps(plan);
  return plan;
}

TZuGen4PlanTable TZuGen4::PlanTable(std::string_view path) const {
  const std::string p(path);
  const size_t dot = p.find('.');
  const std::string channel = p.substr(0, dot);
  const std::string name = dot == std::string::npos ? std::string() : p.substr(dot + 1);
  TZuGen4Channel* const ch = channel == "ChA"   ? static_cast<TZuGen4Channel*>(FChA.get())
                             : channel == "ChB" ? static_cast<TZuGen4Channel*>(FChB.get())
                                                : nullptr;
  const TZuGen4Engine* engine = nullptr;
  std::string engines;
  if (ch) {
    for (const auto& e : ch->Engines()) {
      engines += std::string(engines.empty() ? "" : ", ") + channel + "." + e->EngineName();
      if (name == e->EngineName()) engine = e.get();
    }
  }
  if (!engine)
    throw EUnknownProperty(p, "a table belongs to an engine of a channel: " +
                                  (engines.empty() ? std::string("ChA.IntModulation, ChB.DDSMod, ...") : engines));
  // The engine's own mode: the channel's, when the engine serves it already.
  TZuGen4ModesCommon mode = ch->Mode();
  for (unsigned m = 0; !engine->Serves(mode) && m < ZGMdC_Count; ++m) mode = static_cast<TZuGen4ModesCommon>(m);
  if (!engine->Serves(mode)) throw ENoTable(p, engine->NoTableReason());
  const bool chA = ch->IsChannelA();
  TZuGen4Plan plan;
  TPlanRefusal refusal;
  const bool planned = PlanOnCopy(plan, refusal, [&](TZuGen4& copy) {
    TZuGen4Channel* const mine = chA ? static_cast<TZuGen4Channel*>(copy.ChA()) : copy.ChB();
    mine->SetMode(mode);
    if (mine->Mode() != mode) {  // the other channel's mode excludes it
      mine->GetOtherCh()->SetMode(ZGMdC_off);
      mine->SetMode(mode);
    }
  });
  if (!planned) throw EUnsendableSetup(refusal.Path, refusal.Value, refusal.Why);
  const TZuGen4PlanTable* table = plan.TableOf(p);
  if (!table) throw ENoTable(p, engine->NoTableReason());
  return *table;
}

}  // namespace Zu
