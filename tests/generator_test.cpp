// The generator component: activation and deactivation (also over a dead
// link), the automatic-update gate and the steps of the update cycle.
#include <string>

#include "SimFixture.h"

namespace {

using namespace Zu;
using Sim::TTraceKind;
using ZuTest::F;
using ZuTest::Frame;
using Frames_t = std::vector<Frame>;

const char* const kCmdMsg = "Ошибка при записи команды в FTPort";

// Records the generator's events in the order they fire.
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
  std::vector<TTraceKind> Kinds() {
    std::vector<TTraceKind> k;
    for (const auto& e : Driver().Trace()) k.push_back(e.Kind);
    return k;
  }
  std::vector<std::string> log;
};

using Log = std::vector<std::string>;

TEST_F(Generator, ActivationUpdatesOnceDeactivationResetsBeforeClosing) {
  gen->SetActive(true);
  gen->SetActive(true);  // already active: nothing at all
  EXPECT_TRUE(gen->Active());
  EXPECT_EQ(Kinds(), (std::vector{TTraceKind::Open, TTraceKind::Frame}));
  EXPECT_EQ(Frames(), Frames_t{F(0xF0)});
  EXPECT_EQ(log, (Log{"update", "active"}));
  Driver().ClearTrace();
  gen->SetActive(false);
  EXPECT_EQ(Kinds(), (std::vector{TTraceKind::Frame, TTraceKind::Close}));
  EXPECT_EQ(Frames(), Frames_t{F(0xF0)});
  EXPECT_FALSE(gen->Active());
  EXPECT_FALSE(Driver().IsOpen());
  EXPECT_EQ(log, (Log{"update", "active", "inactive"}));
}

// Link failures around activation change Active as the link says and are
// always followed by the state event.
TEST_F(Generator, FailuresAroundActivationStillReportTheState) {
  Driver().FailOpen(FT_DEVICE_NOT_FOUND);
  EXPECT_NO_THROW(gen->SetActive(true));
  EXPECT_FALSE(gen->Active());
  EXPECT_EQ(gen->Status(), FT_DEVICE_NOT_FOUND);
  EXPECT_EQ(log, (Log{"error", "inactive"}));
  EXPECT_TRUE(Frames().empty());

  Driver().FailWrite(1, {});  // the first update's reset
  EXPECT_THROW(gen->SetActive(true), Exception);
  EXPECT_TRUE(gen->Active());
  EXPECT_EQ(log, (Log{"error", "inactive", "error", "active"}));  // no AfterUpdate

  Driver().FailClose(FT_IO_ERROR);
  EXPECT_NO_THROW(gen->SetActive(false));
  EXPECT_TRUE(gen->Active());
  EXPECT_EQ(gen->Status(), FT_IO_ERROR);
  EXPECT_EQ(log, (Log{"error", "inactive", "error", "active", "error", "active"}));
}

// Deactivation of an unplugged instrument: the reset fails, the handle is let
// go anyway, and the host can open the instrument again once it is back.
class DeadLink : public Generator, public testing::WithParamInterface<bool> {};

TEST_P(DeadLink, DeactivationLetsGoOfTheHandleAndReopens) {
  const bool closeRefused = GetParam();
  Activate();
  log.clear();
  Driver().Unplug();
  if (closeRefused) Driver().FailClose(FT_IO_ERROR);
  try {
    gen->SetActive(false);
    ADD_FAILURE() << "no exception";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), kCmdMsg);
  }
  EXPECT_FALSE(gen->Active());
  EXPECT_EQ(Kinds(), (std::vector{TTraceKind::Frame, TTraceKind::Close}));
  EXPECT_EQ(Driver().Trace()[0].Status, FT_IO_ERROR);
  EXPECT_EQ(log, (closeRefused ? Log{"error", "error", "inactive"} : Log{"error", "inactive"}));
  // A refused close leaves the old handle in the driver; only a replug (a new
  // device) frees it.
  Driver().Replug(closeRefused);
  Driver().ClearTrace();
  log.clear();
  gen->SetActive(true);
  EXPECT_TRUE(gen->Active());
  EXPECT_EQ(Frames(), Frames_t{F(0xF0)});
  EXPECT_EQ(log, (Log{"update", "active"}));
}

INSTANTIATE_TEST_SUITE_P(Generator, DeadLink, testing::Bool());

TEST_F(Generator, DestructionClosesAndNeverThrows) {
  for (bool dead : {false, true}) {
    SCOPED_TRACE(dead ? "dead link" : "live link");
    Make(true);
    Activate();
    if (dead) Driver().Unplug();
    EXPECT_NO_THROW(gen.reset());
    EXPECT_EQ(Kinds(), (std::vector{TTraceKind::Frame, TTraceKind::Close}));
    EXPECT_EQ(Frames(), Frames_t{F(0xF0)});
    EXPECT_FALSE(Driver().IsOpen());
    Driver().Replug();
  }
}

TEST_F(Generator, WithoutLoadingStateOnlyAnExplicitUpdateSends) {
  Make(false);
  Hook();
  gen->SetActive(true);
  EXPECT_TRUE(gen->Active());
  gen->ChA()->SetMode(ZGMdC_gen);
  gen->ChA()->Set_sinFrequency(2000.0);
  gen->SetUseExtRefFreq(true);
  gen->SetAutoUpdate(false);
  gen->SetAutoUpdate(true);
  EXPECT_TRUE(Frames().empty());
  EXPECT_EQ(log, Log{"active"});
  gen->UpdateMode();
  EXPECT_EQ(Frames(), (Frames_t{F(0xF0), F(0xE5, 16), F(0xF1), F(0x04, 0x01, 0x47, 0xAE, 0x14), F(0x02, 0x3F, 0xFF),
                                F(0x05), F(0x7F)}));
  EXPECT_EQ(log, (Log{"active", "update"}));
}

TEST_F(Generator, SwitchingAutoUpdateOnRunsOneUpdate) {
  Activate();
  log.clear();
  gen->SetAutoUpdate(false);
  gen->ChA()->Set_sinFrequency(2000.0);
  gen->SetAutoUpdate(false);
  EXPECT_TRUE(Frames().empty());
  gen->SetAutoUpdate(true);
  EXPECT_EQ(Frames(), Frames_t{F(0xF0)});
  gen->SetAutoUpdate(true);
  EXPECT_EQ(Frames().size(), 1u);
  EXPECT_EQ(log, Log{"update"});
}

TEST_F(Generator, UpdateSendsResetMultiplierThenBothChannels) {
  gen->SetAutoUpdate(false);
  gen->ChA()->SetMode(ZGMdC_gen);
  gen->ChB()->SetMode(ZGMdC_gen);
  gen->SetUseExtRefFreq(true);
  gen->SetRefFreq(20.0);
  gen->SetFreqScale(5);  // GenFreq 100: 1000 kHz is code 42949673
  gen->UpdateMode();     // inactive: nothing at all
  EXPECT_TRUE(Driver().Trace().empty());
  EXPECT_TRUE(log.empty());
  Activate();
  size_t framesAtUpdate = 0;
  gen->AfterUpdate = [&](TObject*) { framesAtUpdate = Frames().size(); };
  gen->UpdateMode();
  // clang-format off
  const Frames_t expected{F(0xF0), F(0xE5, 5),
                          F(0xF1), F(0x04, 0x02, 0x8F, 0x5C, 0x29), F(0x02, 0x3F, 0xFF), F(0x05),
                          F(0xF9), F(0x14, 0x02, 0x8F, 0x5C, 0x29), F(0x12, 0x3F, 0xFF), F(0x15), F(0x7F)};
  // clang-format on
  EXPECT_EQ(Frames(), expected);
  EXPECT_EQ(framesAtUpdate, expected.size());  // AfterUpdate comes last
  EXPECT_TRUE(Driver().Violations().empty());
}

}  // namespace
