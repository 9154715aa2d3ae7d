// The mode state machine of the two channels, the tuning entry, and the
// switches that decide when a mode change runs an update cycle.
#include <gmock/gmock.h>

#include <array>
#include <string>
#include <tuple>
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
    events.clear();
    updates = 0;
    gen->OnChModeChange = [this](TZuGen4Channel* ch, bool val) { events.emplace_back(ch, val); };
    gen->AfterUpdate = [this](TObject*) { ++updates; };
  }
  TZuGen4Channel* Ch(bool b) { return b ? static_cast<TZuGen4Channel*>(gen->ChB()) : gen->ChA(); }
  std::vector<Event> events;
  int updates = 0;
};

TZuGen4ModesCommon M(int m) { return static_cast<TZuGen4ModesCommon>(m); }

// What setting the row's mode on one channel does to the other channel, by
// the other channel's mode (columns 0..8, then a value naming no mode, the
// first being ZGMdC_Count): '-' leaves it, 'o' forces it off, 'J' pulls it
// into AB1. A mode added since has its row and columns in ModeRules, whose
// shape the compiler checks.
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
constexpr int kParking = 200;  // a mode with no rule, to start the own channel from

// The own channel starts from a mode with no rule, except when the other one
// is in AB1: then it is in AB1 too and leaves the joint mode.
TEST_F(ModesTest, SettingAModeAppliesTheCompatibilityRulesToTheOtherChannel) {
  for (int ownIsB = 0; ownIsB < 2; ++ownIsB) {
    for (int row = 0; row < 9; ++row) {
      for (int column = 0; column <= 9; ++column) {
        const int col = column < 9 ? column : int{ZGMdC_Count};
        // Channel B never holds A12.
        if ((ownIsB ? row : col) == ZGMdC_ExtModulationA12) continue;
        SCOPED_TRACE(testing::Message() << (ownIsB ? "B" : "A") << " set to " << row << ", other in " << col);
        Make(true);
        TZuGen4Channel* own = Ch(ownIsB);
        TZuGen4Channel* other = own->GetOtherCh();
        other->SetMode(M(col));
        if (col != ZGMdC_ExtModulationAB1 || row == ZGMdC_ExtModulationAB1) own->SetMode(M(kParking));
        ASSERT_EQ(other->Mode(), col);
        Watch();

        own->SetMode(M(row));
        const char rule = kRules[row][column];
        EXPECT_EQ(own->Mode(), row);
        EXPECT_EQ(other->Mode(), rule == 'o' ? ZGMdC_off : rule == 'J' ? ZGMdC_ExtModulationAB1 : col);
        std::vector<Event> want{{own, false}};
        if (rule != '-') want.emplace_back(other, true);
        EXPECT_EQ(events, want);
        EXPECT_EQ(updates, 1);  // the forced change runs no cycle of its own
        // The generator remembers what happened and names the rule when it acted.
        const TZuGen4ModeChange& last = gen->LastModeChange();
        using A = TZuGen4ModeAction;
        EXPECT_EQ(std::tuple(last.Channel, last.Mode, last.Action, last.OtherMode),
                  std::tuple(own->ChannelType(), M(row),
                             rule == 'o'   ? A::ForceOff
                             : rule == 'J' ? A::PullIn
                                           : A::Keep,
                             other->Mode()));
        EXPECT_EQ(std::string(last.Rule).empty(), rule == '-');
      }
    }
  }
}

// Channel B refuses A12; an unchanged mode is no change either.
TEST_F(ModesTest, RefusedOrUnchangedModeDoesNothing) {
  for (auto [onB, from, to] : {std::tuple{true, ZGMdC_gen, ZGMdC_ExtModulationA12},
                               {false, ZGMdC_gen, ZGMdC_gen},
                               {false, ZGMdC_ExtModulationAB1, ZGMdC_ExtModulationAB1}}) {
    SCOPED_TRACE(testing::Message() << (onB ? "B" : "A") << " " << from << " -> " << to);
    Make(true);
    TZuGen4Channel* ch = Ch(onB);
    gen->ChA()->SetMode(ZGMdC_ExtModulation);
    ch->SetMode(from);
    const TZuGen4ModesCommon otherBefore = ch->GetOtherCh()->Mode();
    Watch();
    ch->SetMode(to);
    EXPECT_EQ(std::pair(ch->Mode(), ch->GetOtherCh()->Mode()), std::pair(from, otherBefore));
    EXPECT_EQ(std::tuple(events.size(), updates, Frames().size()), std::tuple(0u, 0, 0u));
    if (onB) {
      EXPECT_EQ(gen->LastModeChange().Action, TZuGen4ModeAction::Refuse);
      EXPECT_THAT(gen->LastModeChange().Rule, testing::HasSubstr("channel A only"));
    }
  }
}

TEST_F(ModesTest, EnteringFrequencyTuningSendsSineThenBaseValueAndScale) {
  // channel, then its codes: output on, frequency, amplitude, phase, base value, frequency tuning
  using Codes = std::array<uint8_t, 6>;
  for (auto [onB, c] : {std::pair{false, Codes{0xF1, 0x04, 0x02, 0x05, 0x29, 0x81}},
                        std::pair{true, Codes{0xF9, 0x14, 0x12, 0x15, 0x2A, 0xE1}}}) {
    SCOPED_TRACE(onB ? "B" : "A");
    Make(true);
    TZuGen4Channel* ch = Ch(onB);
    ch->Set_sinFrequency(2000);
    ch->Tuner()->SetScale(12);
    Watch();
    ch->SetMode(ZGMdC_tuning);
    EXPECT_EQ(Frames(), (std::vector<Frame>{F(0xF0), F(c[0]), F(c[1], 0x01, 0x47, 0xAE, 0x14), F(c[2], 0x3F, 0xFF),
                                            F(c[3]), F(c[4], 0x01, 0x47, 0xAE, 0x14), F(c[5], 12)}));
  }
}

TEST_F(ModesTest, DuplexSwitchRestartsOnlyARunningInternalModulationPair) {
  constexpr auto kInt = ZGMdC_IntModulation;
  // modes of A and B, the value set, the update cycles it runs
  for (auto [a, b, value, cycles] : {std::tuple{kInt, kInt, true, 1},
                                     {kInt, kInt, false, 0} /* unchanged */,
                                     {kInt, ZGMdC_gen, true, 0},
                                     {ZGMdC_off, kInt, true, 0}}) {
    SCOPED_TRACE(testing::Message() << a << "/" << b << " set " << value);
    Make(true);
    gen->ChA()->SetMode(a);
    gen->ChB()->SetMode(b);
    Watch();
    gen->Options()->SetEnableDuplexIntMod(value);
    EXPECT_EQ(gen->Options()->EnableDuplexIntMod(), value);
    EXPECT_EQ(std::pair(updates, Frames().empty()), std::pair(cycles, cycles == 0));
  }
}

// On by default; only switching it on again asks for a cycle.
TEST_F(ModesTest, ChannelAutoUpdateAsksForOneCycleWhenSwitchedOn) {
  Watch();
  for (auto [value, cycles] : {std::pair{true, 0}, {false, 0}, {true, 1}, {true, 1}}) {
    gen->ChB()->SetAutoUpdate(value);
    EXPECT_EQ(gen->ChB()->AutoUpdate(), value);
    EXPECT_EQ(updates, cycles) << value;
  }
}

}  // namespace
}  // namespace ZuTest
