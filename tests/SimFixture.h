// A generator wired to the simulated instrument on virtual time.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "platform/ZuFileStream.h"
#include "zugen4/ZuRegistry.h"
#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

namespace ZuTest {

using Frame = std::vector<uint8_t>;

inline Frame F(uint8_t code, uint8_t b1 = 0, uint8_t b2 = 0, uint8_t b3 = 0, uint8_t b4 = 0, uint8_t b5 = 0) {
  return {code, b1, b2, b3, b4, b5};
}

// A value other than the current one, within the range, with digits a
// shortest decimal print would lose.
inline std::vector<std::string> Candidates(const Zu::TPropInfo& p, double now) {
  using K = Zu::TPropKind;
  switch (p.Kind) {
    case K::Bool: return {now != 0 ? "false" : "true"};
    case K::Enum: {
      std::vector<std::string> out;
      for (auto it = p.Enumerators.rbegin(); it != p.Enumerators.rend(); ++it)
        if (it->Value != now) out.push_back(it->Name);
      return out;
    }
    default: break;
  }
  const double lo = p.HasRange ? p.Min : 0.0;
  const double hi = p.HasRange && p.Max > p.Min && std::isfinite(p.Max) ? p.Max : lo + 1000.0;
  std::vector<std::string> out;
  for (double f : {0.3183098861837907, 0.7071067811865476, 0.1}) {
    double v = lo + (hi - lo) * f;
    if (p.Kind == K::Int) v = std::floor(v);
    if (v == now) continue;
    std::ostringstream s;
    s.precision(17);
    s << v;
    out.push_back(s.str());
  }
  return out;
}

// A random walk through the setters: `steps` values set by path, each a
// candidate of a stored property; refused ones are passed over.
inline void RandomWalk(Zu::TZuGen4& gen, std::mt19937& rng, int steps) {
  const std::vector<Zu::TPropInfo> props = Zu::ListProperties(gen);
  for (int step = 0; step < steps; ++step) {
    const Zu::TPropInfo& p = props[rng() % props.size()];
    if (!p.Stored || p.ReadOnly) continue;
    const std::vector<std::string> values = Candidates(p, Zu::GetPropDouble(gen, p.Path));
    if (values.empty()) continue;
    try {
      Zu::SetPropText(gen, p.Path, values[rng() % values.size()]);
    } catch (const Zu::Exception&) {
      // Refused here; the walk goes on.
    }
  }
}

// Bytes of a whole settings file of the initial setup, which holds no 0x0A:
// the 475 of the first version's record, and the parts of the engines that
// came since, on both channels.
inline size_t WholeSettingsFile() {
  size_t size = 475;
  const Zu::TZuGen4 gen;
  for (const auto& engine : gen.ChA()->Engines()) {
    if (engine->RecordSince() == 1) continue;
    Zu::TZuGen4FileStream part;
    part.OpenMemoryForWriting();
    engine->WriteDataToFile(part);
    size += 2 * part.Position();
  }
  return size;
}

class SimGenerator : public ::testing::Test {
 protected:
  // autoUpdate: mark the generator as a form or the flat interface would, so
  // that every accepted change runs the update cycle.
  void SetUp() override { Make(true); }

  void Make(bool autoUpdate) {
    gen = std::make_unique<Zu::TZuGen4>();
    gen->SetPlatform(sim.Platform());
    if (autoUpdate) gen->IncludeState(Zu::csLoading);
  }

  // Opens the link and forgets what the activation sent.
  void Activate() {
    gen->SetActive(true);
    ASSERT_TRUE(gen->Active());
    Driver().ClearTrace();
  }

  // The whole session so far kept to the protocol (framing and the
  // instrument model's checks).
  void ExpectCleanSession() {
    std::vector<std::string> v = Driver().Violations();
    v.insert(v.end(), Driver().Model().Violations().begin(), Driver().Model().Violations().end());
    EXPECT_TRUE(v.empty()) << v.size() << " protocol violations, the first: " << (v.empty() ? "" : v.front());
  }

  Zu::Sim::TSimDriver& Driver() { return *sim.Driver; }
  std::vector<Frame> Frames() { return Driver().Frames(); }

  Zu::Sim::TSimPlatform sim;
  std::unique_ptr<Zu::TZuGen4> gen;
};

}  // namespace ZuTest
