// A generator wired to the simulated instrument on virtual time.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "zugen4/Zugen4.hpp"
#include "zugen4/sim/SimInstrument.h"

namespace ZuTest {

using Frame = std::vector<uint8_t>;

inline Frame F(uint8_t code, uint8_t b1 = 0, uint8_t b2 = 0, uint8_t b3 = 0, uint8_t b4 = 0, uint8_t b5 = 0) {
  return {code, b1, b2, b3, b4, b5};
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
