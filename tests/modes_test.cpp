// The mode state machine of the two channels, the tuning entry, and the
// switches that decide when a mode change runs an update cycle.
#include <utility>

#include "SimFixture.h"

namespace ZuTest {
namespace {

using namespace Zu;

using Event = std::pair<TZuGen4Channel*, bool>;

class ModesTest : public SimGenerator {
 protected:
  // Opens the link and records mode-change events and finished update cycles.
  void Watch() {
    Activate();
    Reset();
    gen->OnChModeChange = [this](TZuGen4Channel* ch, bool val) { events.emplace_back(ch, val); };
    gen->AfterUpdate = [this](TObject*) { ++updates; };
  }
  void Reset() {
    events.clear();
    updates = 0;
    Driver().ClearTrace();
  }
  std::vector<Event> events;
  int updates = 0;
};

TZuGen4ModesCommon M(int m) { return static_cast<TZuGen4ModesCommon>(m); }

// What setting the row's mode on one channel does to the other channel, by
// the other channel's mode (columns 0..8, then an undefined value 9):
// '-' leaves it, 'o' forces it off, 'J' pulls it into AB1.
constexpr const char* kRules[9] = {
    "------o---",  // off
    "------o---",  // gen
    "--oooooo--",  // tuning
    "--o-ooooo-",  // IntModulation
    "--oo-ooo--",  // ExtModulation
    "--ooo-oo--",  // ExtModulationA12
    "JJJJJJJJJJ",  // ExtModulationAB1
    "--ooooo--o",  // LFM
    "---o--o---",  // DDSMod
};
constexpr int kUndefined = 9;
constexpr int kParking = 200;  // a mode with no rule, to start the own channel from

TEST_F(ModesTest, SettingAModeAppliesTheCompatibilityRulesToTheOtherChannel) {
  for (int ownIsB = 0; ownIsB < 2; ++ownIsB) {
    for (int row = 0; row < 9; ++row) {
      for (int col = 0; col <= kUndefined; ++col) {
        // Channel B never holds A12.
        if ((ownIsB ? row : col) == ZGMdC_ExtModulationA12) continue;
        SCOPED_TRACE(testing::Message() << (ownIsB ? "B" : "A") << " set to " << row << ", other in " << col);
        Make(true);
        TZuGen4Channel* own = ownIsB ? static_cast<TZuGen4Channel*>(gen->ChB()) : gen->ChA();
        TZuGen4Channel* other = own->GetOtherCh();
        other->SetMode(M(col));
        own->SetMode(M(kParking));
        ASSERT_EQ(other->Mode(), col);
        Watch();

        own->SetMode(M(row));
        const char rule = kRules[row][col];
        const int expected = rule == 'o' ? ZGMdC_off : rule == 'J' ? ZGMdC_ExtModulationAB1 : col;
        EXPECT_EQ(own->Mode(), row);
        EXPECT_EQ(other->Mode(), expected);
        std::vector<Event> want{{own, false}};
        if (rule != '-') want.emplace_back(other, true);
        EXPECT_EQ(events, want);
        EXPECT_EQ(updates, 1);  // the forced change runs no cycle of its own
      }
    }
  }
}

TEST_F(ModesTest, LeavingJointExternalModulationTurnsTheOtherChannelOff) {
  for (int ownIsB = 0; ownIsB < 2; ++ownIsB) {
    for (int m = 0; m < 9; ++m) {
      if (m == ZGMdC_ExtModulationAB1 || (ownIsB && m == ZGMdC_ExtModulationA12)) continue;
      SCOPED_TRACE(testing::Message() << (ownIsB ? "B" : "A") << " leaves for " << m);
      Make(true);
      gen->ChB()->SetMode(ZGMdC_ExtModulationAB1);
      ASSERT_EQ(gen->ChA()->Mode(), ZGMdC_ExtModulationAB1);
      TZuGen4Channel* own = ownIsB ? static_cast<TZuGen4Channel*>(gen->ChB()) : gen->ChA();
      Watch();
      own->SetMode(M(m));
      EXPECT_EQ(own->GetOtherCh()->Mode(), ZGMdC_off);
      EXPECT_EQ(events, (std::vector<Event>{{own, false}, {own->GetOtherCh(), true}}));
    }
  }
}

TEST_F(ModesTest, RefusedOrUnchangedModeDoesNothing) {
  const struct {
    bool onB;
    int from, to;
  } cases[] = {
      {true, ZGMdC_gen, ZGMdC_ExtModulationA12},
      {true, ZGMdC_off, ZGMdC_ExtModulationA12},
      {false, ZGMdC_gen, ZGMdC_gen},
      {true, ZGMdC_LFM, ZGMdC_LFM},
      {false, ZGMdC_ExtModulationAB1, ZGMdC_ExtModulationAB1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.onB ? "B" : "A") << " " << c.from << " -> " << c.to);
    Make(true);
    TZuGen4Channel* ch = c.onB ? static_cast<TZuGen4Channel*>(gen->ChB()) : gen->ChA();
    gen->ChA()->SetMode(ZGMdC_ExtModulation);
    ch->SetMode(M(c.from));
    const TZuGen4ModesCommon otherBefore = ch->GetOtherCh()->Mode();
    Watch();
    ch->SetMode(M(c.to));
    EXPECT_EQ(ch->Mode(), c.from);
    EXPECT_EQ(ch->GetOtherCh()->Mode(), otherBefore);
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(updates, 0);
    EXPECT_TRUE(Frames().empty());
  }
}

TEST_F(ModesTest, EnteringFrequencyTuningSendsSineThenBaseValueAndScale) {
  const struct {
    bool onB;
    uint8_t on, freq, ampl, phase, base, tune;
  } cases[] = {{false, 0xF1, 0x04, 0x02, 0x05, 0x29, 0x81}, {true, 0xF9, 0x14, 0x12, 0x15, 0x2A, 0xE1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.onB ? "B" : "A");
    Make(true);
    TZuGen4Channel* ch = c.onB ? static_cast<TZuGen4Channel*>(gen->ChB()) : gen->ChA();
    ch->Set_sinFrequency(2000);
    ch->Set_sinAmplitude(50);
    ch->SetPhase(90);
    ch->Tuner()->SetScale(12);
    Watch();
    ch->SetMode(ZGMdC_tuning);
    EXPECT_EQ(Frames(), (std::vector<Frame>{F(0xF0), F(c.on), F(c.freq, 0x01, 0x47, 0xAE, 0x14), F(c.ampl, 0x1F, 0xFF),
                                            F(c.phase, 0x10, 0x00), F(c.base, 0x01, 0x47, 0xAE, 0x14), F(c.tune, 12)}));
  }
}

TEST_F(ModesTest, DuplexSwitchRestartsOnlyARunningInternalModulationPair) {
  const struct {
    int a, b;
    bool value;
    int cycles;
  } cases[] = {
      {ZGMdC_IntModulation, ZGMdC_IntModulation, true, 1},
      {ZGMdC_IntModulation, ZGMdC_IntModulation, false, 0},  // unchanged
      {ZGMdC_IntModulation, ZGMdC_gen, true, 0},
      {ZGMdC_off, ZGMdC_IntModulation, true, 0},
      {ZGMdC_gen, ZGMdC_gen, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << "/" << c.b << " set " << c.value);
    Make(true);
    gen->ChA()->SetMode(M(c.a));
    gen->ChB()->SetMode(M(c.b));
    ASSERT_EQ(gen->ChA()->Mode(), c.a);
    Watch();
    gen->Options()->SetEnableDuplexIntMod(c.value);
    EXPECT_EQ(gen->Options()->EnableDuplexIntMod(), c.value);
    EXPECT_EQ(updates, c.cycles);
    EXPECT_EQ(Frames().empty(), c.cycles == 0);
  }
}

TEST_F(ModesTest, ChannelAutoUpdateAsksForOneCycleWhenSwitchedOn) {
  const struct {
    std::vector<bool> steps;
    int cycles;
  } cases[] = {{{true}, 0}, {{false}, 0}, {{false, true}, 1}, {{false, true, true}, 1}, {{false, false, true}, 1}};
  for (const auto& c : cases) {
    Make(true);
    Watch();
    for (bool v : c.steps) gen->ChB()->SetAutoUpdate(v);
    EXPECT_EQ(updates, c.cycles) << testing::PrintToString(c.steps);
    EXPECT_EQ(gen->ChB()->AutoUpdate(), c.steps.back());
  }
}

}  // namespace
}  // namespace ZuTest
