// The generator component: activation and deactivation (also over a dead
// link), the automatic-update gate and the steps of the update cycle.
#include <gmock/gmock.h>

#include <functional>
#include <string>

#include "SimFixture.h"

namespace {

using namespace Zu;
using Sim::TTraceKind;
using ZuTest::F;
using ZuTest::Frame;
using Log = std::vector<std::string>;

const char* const kCmdMsg = "Ошибка при записи команды в FTPort";

class Generator : public ZuTest::SimGenerator {
 protected:
  void SetUp() override {
    SimGenerator::SetUp();
    Hook();
  }
  // The log dies before the generator does.
  void TearDown() override {
    if (gen) gen->OnFTError = gen->OnChangeActiveState = gen->AfterUpdate = nullptr;
  }
  void Hook() {
    gen->OnFTError = [this](TObject*) { log.push_back("error"); };
    gen->OnChangeActiveState = [this](TObject* s) {
      log.push_back(s != gen.get() ? "?" : gen->Active() ? "active" : "inactive");
    };
    gen->AfterUpdate = [this](TObject*) { log.push_back("update"); };
  }
  // The driver's trace in short: reset frames by name, the rest by kind.
  Log Seen() {
    const char* const kinds[] = {"open", "close", "frame", "block", "read"};
    Log seen;
    for (const auto& e : Driver().Trace()) seen.push_back(e.Bytes == F(0xF0) ? "reset" : kinds[int(e.Kind)]);
    return seen;
  }
  Log log;
};

// Activation opens and updates once; deactivation resets, then closes. Over a
// dead link the reset fails, but the handle is let go all the same, so the
// instrument can be opened again once it is back.
TEST_F(Generator, ActivationUpdatesOnceDeactivationResetsThenCloses) {
  for (int dead : {0, 1, 2}) {  // a live link, an unplugged one, one that also refuses the close
    SCOPED_TRACE(dead);
    gen->SetActive(true);
    gen->SetActive(true);  // already active: nothing at all
    EXPECT_EQ(Seen(), (Log{"open", "reset"}));
    EXPECT_EQ(log, (Log{"update", "active"}));
    Driver().ClearTrace();
    log.clear();
    if (dead) Driver().Unplug();
    if (dead == 2) Driver().FailClose(FT_IO_ERROR);
    const auto deactivate = [&] { gen->SetActive(false); };
    if (dead) {
      EXPECT_THAT(deactivate, testing::ThrowsMessage<Exception>(testing::StrEq(kCmdMsg)));
    } else {
      deactivate();
    }
    EXPECT_EQ(Seen(), (Log{"reset", "close"}));
    EXPECT_EQ(Driver().Trace()[0].Status, dead ? FT_IO_ERROR : FT_OK);
    Log want(dead, "error");  // the reset, then the refused close
    want.push_back("inactive");
    EXPECT_EQ(log, want);
    // A refused close keeps the old handle until a replug as a new device.
    EXPECT_EQ(Driver().IsOpen(), dead == 2);
    Driver().Replug(dead == 2);
    Driver().ClearTrace();
    log.clear();
  }
}

// A failed open still reports the state; a failing first update leaves the
// device open and active without the state event.
TEST_F(Generator, FailuresAroundActivationStillReportTheState) {
  Driver().FailOpen(FT_DEVICE_NOT_FOUND);
  EXPECT_NO_THROW(gen->SetActive(true));
  EXPECT_EQ(gen->Status(), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(log, (Log{"error", "inactive"}));
  EXPECT_TRUE(Frames().empty());

  Driver().FailWrite(1, {});  // the first update's reset
  EXPECT_THROW(gen->SetActive(true), Exception);
  EXPECT_TRUE(gen->Active());
  EXPECT_TRUE(Driver().IsOpen());
  EXPECT_EQ(log, (Log{"error", "inactive", "error"}));  // no AfterUpdate, no state event

  Driver().FailClose(FT_IO_ERROR);
  EXPECT_NO_THROW(gen->SetActive(false));
  EXPECT_EQ(gen->Status(), FT_IO_ERROR);
  EXPECT_EQ(log, (Log{"error", "inactive", "error", "error", "active"}));
}

// Detaching closes without the reset, stops tuner polling and reports the
// state; a refused close is reported and the handle let go all the same.
TEST_F(Generator, DetachLeavesTheInstrumentRunning) {
  for (bool refused : {false, true}) {
    SCOPED_TRACE(refused);
    gen->ChA()->Tuner()->SetADCTimerEnabled(true);
    gen->ChA()->SetMode(ZGMdC_tuning);
    Activate();
    log.clear();
    ASSERT_EQ(sim.Timers->Periods().size(), 1u);
    if (refused) Driver().FailClose(FT_IO_ERROR);
    gen->Detach();
    gen->Detach();  // inactive: nothing
    EXPECT_EQ(Seen(), (Log{"close"}));
    EXPECT_EQ(log, refused ? (Log{"error", "inactive"}) : (Log{"inactive"}));
    EXPECT_FALSE(gen->Active());
    EXPECT_TRUE(sim.Timers->Periods().empty());
    Driver().Replug(true);
    Make(true);
    Hook();
  }
}

TEST_F(Generator, DestructionClosesAndNeverThrows) {
  for (bool dead : {false, true}) {
    Make(true);
    Activate();
    if (dead) Driver().Unplug();
    EXPECT_NO_THROW(gen.reset());
    EXPECT_EQ(Seen(), (Log{"reset", "close"})) << dead;
    EXPECT_FALSE(Driver().IsOpen());
    Driver().Replug();
  }
}

TEST_F(Generator, AutoUpdateGatesChangesAndRunsOneUpdateWhenSwitchedOn) {
  Activate();
  log.clear();
  gen->SetAutoUpdate(false);
  gen->ChA()->Set_sinFrequency(2000.0);
  for (bool v : {false, true, true}) gen->SetAutoUpdate(v);
  EXPECT_EQ(Seen(), Log{"reset"});
  EXPECT_EQ(log, Log{"update"});
}

// Without the loading state nothing is sent until an explicit update, which
// sends the reset, the multiplier, both channels and one sync, then reports.
TEST_F(Generator, WithoutLoadingStateOnlyAnExplicitUpdateSends) {
  Make(false);
  Hook();
  gen->AfterUpdate = [this](TObject*) { log.push_back("update after " + std::to_string(Frames().size())); };
  gen->UpdateMode();  // inactive: nothing at all
  EXPECT_TRUE(log.empty());
  gen->SetActive(true);
  const double values[2][3] = {{2000, 50, 90}, {400, 0.001, 180}};  // frequency, amplitude, phase
  for (TZuGen4Channel* ch : std::vector<TZuGen4Channel*>{gen->ChA(), gen->ChB()}) {
    const double* v = values[ch == gen->ChB()];
    ch->Set_sinFrequency(v[0]);
    ch->Set_sinAmplitude(v[1]);
    ch->SetPhase(v[2]);
    ch->SetMode(ZGMdC_gen);
  }
  gen->SetUseExtRefFreq(true);
  gen->SetRefFreq(20.0);
  gen->SetFreqScale(5);  // GenFreq 100
  gen->SetAutoUpdate(false);
  gen->SetAutoUpdate(true);
  EXPECT_EQ(Seen(), Log{"open"});
  EXPECT_EQ(log, Log{"active"});
  gen->UpdateMode();
  // The smallest amplitudes convert to code -1; the register gets 0, never
  // the 0xFFFF that would read as full scale.
  // clang-format off
  const std::vector<Frame> expected{F(0xF0), F(0xE5, 5),
                          F(0xF1), F(0x04, 0x05, 0x1E, 0xB8, 0x52), F(0x02, 0x1F, 0xFF), F(0x05, 0x10, 0x00),
                          F(0xF9), F(0x14, 0x01, 0x06, 0x24, 0xDD), F(0x12, 0x00, 0x00), F(0x15, 0x20, 0x00), F(0x7F)};
  // clang-format on
  EXPECT_EQ(Frames(), expected);
  EXPECT_EQ(log, (Log{"active", "update after 11"}));
  EXPECT_TRUE(Driver().Violations().empty());
}

// What failed, in words: a missing driver library, a driver that finds no
// instrument, and an instrument unplugged in the middle of a session. Status
// and the exception keep the driver's code and the system's own text.
TEST_F(Generator, LinkFailuresAreAccountedForInWords) {
  using testing::HasSubstr;
  const std::string notFound =
      "opening the instrument (USB device 0) failed: the driver answered FT_DEVICE_NOT_FOUND (2)";
  const struct {
    const char* name;
    std::function<void()> act;
    FT_STATUS status;
    std::vector<std::string> account;
  } cases[] = {
      {"no driver library",
       [&] {
         gen->SetPlatform({nullptr, sim.Clock, sim.Timers});  // the system's driver
         gen->SetActive(true);
       },
       FT_DEVICE_NOT_FOUND,
       {notFound, "; the driver library could not be loaded: ", "libftd2xx.so"}},
      {"no instrument",
       [&] {
         Driver().FailOpen(FT_DEVICE_NOT_FOUND);
         gen->SetActive(true);
       },
       FT_DEVICE_NOT_FOUND,
       {notFound, "; the driver is loaded but finds no instrument"}},
      {"unplugged",
       [&] {
         Activate();
         Driver().Unplug();
         EXPECT_THAT([&] { gen->ChA()->Set_sinFrequency(2000.0); },
                     testing::ThrowsMessage<Exception>(testing::StrEq(kCmdMsg)));
       },
       FT_IO_ERROR,
       {"sending the command frame F0 00 00 00 00 00 failed: the driver answered FT_IO_ERROR (4)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Make(true);
    if (c.status == FT_DEVICE_NOT_FOUND && c.account.size() == 3 && SystemPlatform().Driver->LoadFailure().empty())
      continue;  // this machine has the real driver
    EXPECT_EQ(gen->LastLinkFailure(), "");
    c.act();
    EXPECT_EQ(gen->Status(), c.status);
    for (const std::string& part : c.account) EXPECT_THAT(gen->LastLinkFailure(), HasSubstr(part));
  }
}

}  // namespace
