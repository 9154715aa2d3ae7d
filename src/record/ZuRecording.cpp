#include "zugen4/ZuRecording.h"

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sstream>

#include "zugen4/Properties.h"
#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

namespace Zu {

namespace {

std::string UtcNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm tm{};
#ifdef _WIN32
  gmtime_s(&tm, &t);
#else
  gmtime_r(&t, &tm);
#endif
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms));
  return text;
}

// One line of text for an account that may hold line breaks.
std::string OneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

}  // namespace

TZuGen4Plan PreviewChange(const TZuGen4& gen, const std::function<void(TZuGen4&)>& change) {
  const Sim::TSimPlatform sim;
  TZuGen4 copy;
  copy.SetPlatform(sim.Platform());
  gen.CopySetupTo(copy);
  // The copy never holds csLoading: nothing it is told sends an update.
  if (change) change(copy);
  return CheckSendable(copy);
}

TZuGen4Plan PreviewProps(const TZuGen4& gen, const std::vector<std::pair<std::string, std::string>>& assignments,
                         const TSetOptions& options) {
  TSetOptions held = options;
  held.Update = false;
  return PreviewChange(gen, [&](TZuGen4& copy) { SetProps(copy, assignments, held); });
}

std::string RecordText(const TRecordedPlan& r) {
  std::string text = "plan " + r.Time + " ";
  text += r.Sent ? std::string("sent") : "failed at " + std::to_string(r.FailedStep) + ": " + OneLine(r.Failure);
  text += '\n';
  for (const TZuGen4PlanStep& step : r.Plan.Steps)
    text += (step.Kind == TZuGen4StepKind::Block ? "B " : "C ") + HexText(step.Bytes) + "\n";
  return text + "end\n";
}

struct TZuGen4Recorder::TFile {
  std::FILE* F = nullptr;
  ~TFile() {
    if (F) std::fclose(F);
  }
};

TZuGen4Recorder::TZuGen4Recorder(TZuGen4& gen, const std::string& path) : FGen(gen), FFile(std::make_unique<TFile>()) {
  FFile->F = std::fopen(path.c_str(), "ab");
  if (!FFile->F) throw EInOutError("cannot record to " + path + ": " + std::strerror(errno));
  std::fseek(FFile->F, 0, SEEK_END);
  if (std::ftell(FFile->F) == 0) std::fputs("# ZuGen4 recording 1\n", FFile->F);
  std::fflush(FFile->F);
  FGen.OnPlanSent = [this](const TZuGen4Plan& plan, const TZuGen4SendOutcome& outcome) {
    TRecordedPlan r{UtcNow(), outcome.Sent, outcome.FailedStep, outcome.Failure, plan};
    const std::string text = RecordText(r);
    // A recording that cannot be written must not stop the instrument.
    std::fwrite(text.data(), 1, text.size(), FFile->F);
    std::fflush(FFile->F);
    ++FPlans;
  };
}

TZuGen4Recorder::~TZuGen4Recorder() { FGen.OnPlanSent = nullptr; }

std::vector<TRecordedPlan> ReadRecording(std::istream& in, const std::string& name) {
  std::vector<TRecordedPlan> plans;
  std::string line;
  size_t number = 0;
  bool inPlan = false;
  auto bad = [&](const std::string& why) {
    return EBadValue(name + ":" + std::to_string(number), line.size() > 60 ? line.substr(0, 60) + "..." : line, why);
  };
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (!inPlan) {
      if (line.rfind("plan ", 0) != 0) throw bad("expected `plan TIME sent` or `plan TIME failed at K: ...`");
      std::istringstream words(line.substr(5));
      TRecordedPlan r;
      std::string outcome;
      words >> r.Time >> outcome;
      if (outcome == "sent") {
        r.Sent = true;
      } else if (outcome == "failed") {
        std::string at;
        words >> at >> r.FailedStep;
        if (at != "at" || !words) throw bad("expected `failed at K: ACCOUNT`");
        std::getline(words, r.Failure);
        if (r.Failure.rfind(": ", 0) == 0) r.Failure.erase(0, 2);
        r.Sent = false;
      } else {
        throw bad("the outcome is `sent` or `failed at K: ...`");
      }
      plans.push_back(std::move(r));
      inPlan = true;
      continue;
    }
    if (line == "end") {
      TRecordedPlan& r = plans.back();
      if (!r.Sent && r.FailedStep >= r.Plan.Steps.size()) throw bad("the failed step is not in the plan");
      inPlan = false;
      continue;
    }
    if (line.size() < 2 || (line[0] != 'C' && line[0] != 'B') || line[1] != ' ')
      throw bad("expected `C HEX...`, `B HEX...` or `end`");
    std::vector<uint8_t> bytes;
    std::istringstream hex(line.substr(2));
    std::string pair;
    while (hex >> pair) {
      if (pair.size() != 2 || !std::isxdigit(static_cast<unsigned char>(pair[0])) ||
          !std::isxdigit(static_cast<unsigned char>(pair[1])))
        throw bad("`" + pair + "` is no hex byte");
      bytes.push_back(static_cast<uint8_t>(std::stoul(pair, nullptr, 16)));
    }
    if (bytes.empty()) throw bad("a step without bytes");
    if (line[0] == 'C' && bytes.size() != 6) throw bad("a command frame has 6 bytes");
    if (line[0] == 'C')
      plans.back().Plan.AddCommand(bytes.data(), bytes.size());
    else
      plans.back().Plan.AddBlock(bytes.data(), bytes.size());
  }
  if (inPlan) throw bad("the recording ends inside a plan (no `end`)");
  return plans;
}

TReplayResult ReplayOnSimulator(const std::vector<TRecordedPlan>& recording) {
  const Sim::TSimPlatform sim;
  FT_HANDLE handle = nullptr;
  sim.Driver->Open(0, &handle);
  TReplayResult result;
  for (const TRecordedPlan& r : recording) {
    ++result.Plans;
    for (size_t k = 0; k < r.StepsOut(); ++k) {
      const std::vector<uint8_t>& bytes = r.Plan.Steps[k].Bytes;
      uint32_t written = 0;
      sim.Driver->Write(handle, bytes.data(), static_cast<uint32_t>(bytes.size()), &written);
      ++result.Steps;
    }
  }
  result.State = sim.Driver->Model().StateText();
  result.Violations = sim.Driver->Violations();
  for (const std::string& v : sim.Driver->Model().Violations()) result.Violations.push_back(v);
  // The trace is not needed: a long recording must not be kept twice.
  sim.Driver->ClearTrace();
  return result;
}

}  // namespace Zu
