// Planning an update against the time the update takes on the wire, and a
// replay of a long recording on the simulated instrument.
#include <benchmark/benchmark.h>

#include <random>

#include "zugen4/ZuRecording.h"
#include "zugen4/ZuRegistry.h"
#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

namespace {

// Each table at its largest: internal modulation at the lowest Fm with the
// whole memory (0), keying in the user mode with its longest table (1).
void LargestTable(Zu::TZuGen4& gen, int which) {
  if (which == 0)
    Zu::SetProps(gen, {{"ChA.Mode", "IntModulation"}, {"ChA.IntModulation.Fm", "1"}}, false);
  else
    Zu::SetProps(
        gen, {{"ChA.Mode", "DDSMod"}, {"ChA.DDSMod.Mode", "ZGTMs_User"}, {"ChA.DDSMod.ReadingsCntMin", "1024"}}, false);
}

void BM_PlanAgainstSendTime(benchmark::State& state) {
  Zu::TZuGen4 gen;
  LargestTable(gen, static_cast<int>(state.range(0)));
  Zu::TZuGen4Plan plan;
  for (auto _ : state) {
    plan = gen.PlanUpdate();
    benchmark::DoNotOptimize(plan);
  }
  size_t bytes = 0;
  for (const auto& step : plan.Steps) bytes += step.Bytes.size();
  state.counters["send_ms"] = plan.DurationMs();
  state.counters["steps"] = static_cast<double>(plan.Steps.size());
  state.counters["bytes"] = static_cast<double>(bytes);
  // The plan's share of the update: its time per iteration over send_ms.
}
BENCHMARK(BM_PlanAgainstSendTime)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Replay1000Updates(benchmark::State& state) {
  Zu::Sim::TSimPlatform sim;
  Zu::TZuGen4 gen;
  gen.SetPlatform(sim.Platform());
  std::vector<Zu::TRecordedPlan> recording;
  gen.OnPlanSent = [&](const Zu::TZuGen4Plan& plan, const Zu::TZuGen4SendOutcome& outcome) {
    recording.push_back({"t", outcome.Sent, outcome.FailedStep, outcome.Failure, plan});
  };
  gen.SetActive(true);
  std::mt19937 rng(1);
  const double freqs[] = {1000, 2000, 5000, 12345.5};
  while (recording.size() < 1000) {
    const int i = static_cast<int>(recording.size());
    Zu::SetProps(gen, {{"ChA.Mode", i % 3 ? "IntModulation" : "gen"},
                       {"ChA.Frequency", std::to_string(freqs[rng() % 4])},
                       {"ChB.Mode", "gen"}});
  }
  for (auto _ : state) benchmark::DoNotOptimize(Zu::ReplayOnSimulator(recording));
  double recordedMs = 0;
  for (const auto& r : recording) recordedMs += r.Plan.DurationMs();
  state.counters["updates"] = static_cast<double>(recording.size());
  state.counters["recorded_s"] = recordedMs / 1000.0;
}
BENCHMARK(BM_Replay1000Updates)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
