// Channel parameters: defaults, the sine write, range checks, the sweep top
// following the frequency, and the over-modulation guard.
#include <cmath>
#include <limits>
#include <utility>

#include "SimFixture.h"

namespace ZuTest {
namespace {

using namespace Zu;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class ChannelTest : public SimGenerator {
 protected:
  std::vector<TZuGen4Channel*> Both() { return {gen->ChA(), gen->ChB()}; }
  // Counts finished update cycles from now on.
  void CountUpdates() {
    updates = 0;
    gen->AfterUpdate = [this](TObject*) { ++updates; };
  }
  int updates = 0;
};

TEST_F(ChannelTest, StartsWithDefaultSineValuesAndOptions) {
  const TZuGen4ChNames types[] = {ZGCN_A, ZGCN_B};
  for (int i = 0; i < 2; ++i) {
    TZuGen4Channel* ch = Both()[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(ch->Frequency(), 1000.0);
    EXPECT_EQ(ch->Amplitude(), 100.0);
    EXPECT_EQ(ch->Phase(), 0.0);
    EXPECT_EQ(ch->Mode(), ZGMdC_off);
    EXPECT_EQ(ch->ChannelType(), types[i]);
    EXPECT_EQ(ch->GetOtherCh(), Both()[1 - i]);
  }
  EXPECT_FALSE(gen->Options()->EnableDuplexIntMod());
  EXPECT_TRUE(gen->Options()->OverModulationNotify());
}

TEST_F(ChannelTest, BothChannelsInSineSendTheirParametersThenOneSync) {
  const struct { double f, a, p; } values[] = {{2000, 50, 90}, {400, 25, 180}};
  for (int i = 0; i < 2; ++i) {
    Both()[i]->Set_sinFrequency(values[i].f);
    Both()[i]->Set_sinAmplitude(values[i].a);
    Both()[i]->SetPhase(values[i].p);
    Both()[i]->SetMode(ZGMdC_gen);
  }
  Activate();
  std::vector<size_t> sentAtAfterUpdate;
  gen->AfterUpdate = [&](TObject*) { sentAtAfterUpdate.push_back(Frames().size()); };
  gen->UpdateMode();
  EXPECT_EQ(Frames(), (std::vector<Frame>{F(0xF0), F(0xF1), F(0x04, 0x01, 0x47, 0xAE, 0x14), F(0x02, 0x1F, 0xFF),
                                          F(0x05, 0x10, 0x00), F(0xF9), F(0x14, 0x00, 0x41, 0x89, 0x37),
                                          F(0x12, 0x0F, 0xFF), F(0x15, 0x20, 0x00), F(0x7F)}));
  EXPECT_EQ(sentAtAfterUpdate, std::vector<size_t>{10});
}

enum class Prm { Freq, Ampl, Phase };

void SetPrm(TZuGen4Channel* ch, Prm p, double v) {
  switch (p) {
    case Prm::Freq: ch->Set_sinFrequency(v); break;
    case Prm::Ampl: ch->Set_sinAmplitude(v); break;
    case Prm::Phase: ch->SetPhase(v); break;
  }
}

double GetPrm(const TZuGen4Channel* ch, Prm p) {
  switch (p) {
    case Prm::Freq: return ch->Frequency();
    case Prm::Ampl: return ch->Amplitude();
    case Prm::Phase: return ch->Phase();
  }
  return kNaN;
}

TEST_F(ChannelTest, AcceptsValuesInRangeAndReportsOnlyRejectedFrequencyAndPhase) {
  constexpr int kSilent = -1;
  const struct {
    Prm prm;
    double preset, value;
    bool accepted;
    int error;  // the reported parameter, or kSilent
  } cases[] = {
      {Prm::Freq, 1000, 400, true, kSilent},
      {Prm::Freq, 1000, 200000, true, kSilent},
      {Prm::Freq, 1000, 399.999, false, ZGPrm_Frequency},
      {Prm::Freq, 1000, 200000.001, false, ZGPrm_Frequency},
      {Prm::Freq, 1000, kNaN, false, ZGPrm_Frequency},
      {Prm::Freq, 2000, 2000, false, kSilent},
      {Prm::Ampl, 50, 100, true, kSilent},
      {Prm::Ampl, 100, 0, false, kSilent},
      {Prm::Ampl, 100, -1, false, kSilent},
      {Prm::Ampl, 100, 100.5, false, kSilent},
      {Prm::Ampl, 100, kNaN, false, kSilent},
      {Prm::Ampl, 50, 50, false, kSilent},
      {Prm::Phase, 10, 0, true, kSilent},
      {Prm::Phase, 0, 359.5, true, kSilent},
      {Prm::Phase, 0, 360, false, ZGPrm_Phase},
      {Prm::Phase, 0, -0.5, false, ZGPrm_Phase},
      {Prm::Phase, 0, kNaN, false, ZGPrm_Phase},
      {Prm::Phase, 90, 90, false, kSilent},
  };
  for (const auto& c : cases) {
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(testing::Message() << "param " << int(c.prm) << " value " << c.value << " channel " << i);
      Make(true);
      SetPrm(Both()[i], c.prm, c.preset);
      Activate();
      CountUpdates();
      std::vector<std::pair<TZuGen4Channel*, int>> errors;
      double reported = 0;
      gen->OnParamValueError = [&](TZuGen4Channel* ch, TZuGen4Parameters p, void* v) {
        errors.emplace_back(ch, p);
        reported = *static_cast<double*>(v);
      };
      SetPrm(Both()[i], c.prm, c.value);
      const double stored = GetPrm(Both()[i], c.prm);
      EXPECT_EQ(stored, c.accepted ? c.value : c.preset);
      EXPECT_EQ(updates, c.accepted ? 1 : 0);
      EXPECT_EQ(Frames(), c.accepted ? std::vector<Frame>{F(0xF0)} : std::vector<Frame>{});
      if (c.error == kSilent) {
        EXPECT_TRUE(errors.empty());
        continue;
      }
      ASSERT_EQ(errors.size(), 1u);
      EXPECT_EQ(errors[0], std::make_pair(Both()[i], c.error));
      EXPECT_TRUE(std::isnan(c.value) ? std::isnan(reported) : reported == c.value) << reported;
    }
  }
}

TEST_F(ChannelTest, SweepTopFollowsTheFrequencyUpOnly) {
  const struct {
    int top;
    double freq;
    int expected;
  } cases[] = {{5000, 7500.9, 7500}, {9000, 7500.9, 9000}, {5000, 250000, 5000}, {9000, 400, 9000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.freq);
    Make(true);
    TZuGen4Channel* ch = gen->ChB();
    ch->LFM()->SetFreqTop(c.top);
    ASSERT_EQ(ch->LFM()->FreqTop(), c.top);
    ch->Set_sinFrequency(c.freq);
    EXPECT_EQ(ch->LFM()->FreqTop(), c.expected);
  }
}

// Puts channel A in a mode with the given engine settings, without sending.
void Prepare(TZuGen4* gen, TZuGen4ModesCommon mode, int tunerScale, int extScale, int dA, double ampl) {
  TZuGen4Channel* a = gen->ChA();
  a->Tuner()->SetScale(tunerScale);
  a->ExtModulation()->SetScale(extScale);
  a->IntModulation()->SetdA(dA);
  a->Set_sinAmplitude(ampl);
  a->SetMode(mode);
}

TEST_F(ChannelTest, AmplitudeLimitFollowsTheModeAndItsEngine) {
  // dA 60 gives 62.5, which rounds to the even 62. (dA above 100 cannot be set.)
  const struct {
    TZuGen4ModesCommon mode;
    int tunerScale, extScale, dA;
    double limit;
  } cases[] = {
      {ZGMdC_tuning, 20, 7, 50, 50},
      {ZGMdC_tuning, 7, 20, 50, 99.993896484375},
      {ZGMdC_tuning, 21, 0, 50, 0},
      {ZGMdC_IntModulation, 20, 20, 100, 50},
      {ZGMdC_IntModulation, 20, 20, 60, 62},
      {ZGMdC_IntModulation, 20, 20, 0, 100},
      {ZGMdC_ExtModulation, 7, 20, 100, 50},
      {ZGMdC_ExtModulationA12, 20, 7, 100, 99.993896484375},
      {ZGMdC_ExtModulationAB1, 20, 21, 100, 0},
      {ZGMdC_gen, 20, 20, 100, 100},
      {ZGMdC_LFM, 20, 20, 100, 100},
      {ZGMdC_DDSMod, 20, 20, 100, 100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << int(c.mode) << " dA " << c.dA);
    Make(true);
    Prepare(gen.get(), c.mode, c.tunerScale, c.extScale, c.dA, 100);
    EXPECT_EQ(gen->ChA()->GetMaxAmplAvoidOverMod(), c.limit);
  }
}

TEST_F(ChannelTest, CorrectionMovesTheScaleIntoItsBandAndLowersTheAmplitude) {
  const struct {
    TZuGen4ModesCommon mode;
    int tunerScale, extScale;
    double ampl;
    int newTunerScale, newExtScale;
    double newAmpl;
  } cases[] = {
      {ZGMdC_ExtModulation, 0, 0, 80, 0, 20, 50},
      {ZGMdC_ExtModulationAB1, 0, 21, 100, 0, 20, 50},
      {ZGMdC_ExtModulationA12, 0, 7, 100, 0, 7, 99.993896484375},
      {ZGMdC_ExtModulation, 0, 6, 30, 0, 20, 30},
      {ZGMdC_tuning, 21, 0, 80, 21, 0, 0},
      {ZGMdC_tuning, 22, 0, 80, 20, 0, 50},
      {ZGMdC_tuning, 6, 30, 100, 20, 30, 50},
      {ZGMdC_IntModulation, 0, 0, 80, 0, 0, 80},
      {ZGMdC_gen, 0, 0, 80, 0, 0, 80},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << int(c.mode) << " scales " << c.tunerScale << "/" << c.extScale);
    Make(true);
    Prepare(gen.get(), c.mode, c.tunerScale, c.extScale, 100, c.ampl);
    Activate();
    CountUpdates();
    TZuGen4Channel* a = gen->ChA();
    a->CorrectAmplAvoidOverModul();
    EXPECT_EQ(a->Tuner()->Scale(), c.newTunerScale);
    EXPECT_EQ(a->ExtModulation()->Scale(), c.newExtScale);
    EXPECT_EQ(a->Amplitude(), c.newAmpl);
    // Only a scale change goes through a setter; the amplitude is lowered in place.
    const bool scaleMoved = c.newTunerScale != c.tunerScale || c.newExtScale != c.extScale;
    EXPECT_EQ(updates, scaleMoved ? 1 : 0);
    EXPECT_EQ(Frames().empty(), !scaleMoved);
  }
}

TEST_F(ChannelTest, OverModulationNoticeNeedsAmplitudeEngineExcessAndPermission) {
  const struct {
    TZuGen4ModesCommon mode;
    TZuGen4AFPModes type;  // of the engine of the mode; the others get another one
    int scale, dA;
    double ampl;
    bool notify, raised;
    double limit;
  } cases[] = {
      {ZGMdC_tuning, ZGAFPms_ampl, 20, 50, 80, true, true, 50},
      {ZGMdC_tuning, ZGAFPms_freq, 20, 50, 80, true, false, 0},
      {ZGMdC_tuning, ZGAFPms_ampl, 20, 50, 50, true, false, 0},
      {ZGMdC_tuning, ZGAFPms_ampl, 20, 50, 80, false, false, 0},
      {ZGMdC_IntModulation, ZGAFPms_ampl, 0, 60, 80, true, true, 62},
      {ZGMdC_IntModulation, ZGAFPms_freq, 0, 60, 80, true, false, 0},
      {ZGMdC_ExtModulation, ZGAFPms_ampl, 20, 50, 80, true, true, 50},
      {ZGMdC_ExtModulation, ZGAFPms_phase, 20, 50, 80, true, false, 0},
      {ZGMdC_ExtModulationA12, ZGAFPms_ampl, 7, 50, 100, true, true, 99.993896484375},
      {ZGMdC_ExtModulationAB1, ZGAFPms_ampl, 20, 50, 80, true, true, 50},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << int(c.mode) << " type " << int(c.type) << " ampl " << c.ampl);
    Make(true);
    TZuGen4Channel* a = gen->ChA();
    const TZuGen4AFPModes other = c.type == ZGAFPms_ampl ? ZGAFPms_freq : ZGAFPms_ampl;
    const bool tuning = c.mode == ZGMdC_tuning;
    const bool ext = !tuning && c.mode != ZGMdC_IntModulation;
    a->Tuner()->SetType(tuning ? c.type : other);
    a->IntModulation()->SetType(c.mode == ZGMdC_IntModulation ? c.type : other);
    a->ExtModulation()->SetType(ext ? c.type : other);
    Prepare(gen.get(), c.mode, tuning ? c.scale : 0, ext ? c.scale : 0, c.dA, c.ampl);
    a->Tuner()->SetADCTimerEnabled(true);
    gen->Options()->SetOverModulationNotify(c.notify);
    Activate();
    struct Notice {
      TZuGen4Channel* ch;
      double limit;
      bool polling;
      size_t sent;
    };
    std::vector<Notice> notices;
    gen->OnOverModulation = [&](TZuGen4Channel* ch, double v) {
      notices.push_back({ch, v, ch->Tuner()->ADCTimerEnabled(), Frames().size()});
    };
    gen->UpdateMode();
    EXPECT_TRUE(a->Tuner()->ADCTimerEnabled());
    ASSERT_EQ(notices.size(), c.raised ? 1u : 0u);
    if (!c.raised) continue;
    EXPECT_EQ(notices[0].ch, a);
    EXPECT_EQ(notices[0].limit, c.limit);
    EXPECT_EQ(notices[0].polling, !tuning);  // polling is held off only while tuning
    // Raised before channel A sends anything (in AB1 after channel B's output and sine).
    EXPECT_EQ(notices[0].sent, c.mode == ZGMdC_ExtModulationAB1 ? 5u : 1u);
  }
}

TEST_F(ChannelTest, FramesAfterTheNoticeCarryTheAmplitudeTheHandlerLeft) {
  TZuGen4Channel* a = gen->ChA();
  a->Tuner()->SetType(ZGAFPms_ampl);
  Prepare(gen.get(), ZGMdC_tuning, 20, 0, 50, 80);
  Activate();
  gen->OnOverModulation = [](TZuGen4Channel* ch, double) { ch->CorrectAmplAvoidOverModul(); };
  gen->UpdateMode();
  EXPECT_EQ(Frames(), (std::vector<Frame>{F(0xF0), F(0xF1), F(0x04, 0x00, 0xA3, 0xD7, 0x0A), F(0x02, 0x1F, 0xFF),
                                          F(0x05), F(0x29, 0x1F, 0xFF), F(0x82, 20)}));
}

}  // namespace
}  // namespace ZuTest

namespace ZuTest {
namespace {

// The smallest amplitudes convert to code -1; the register gets 0, never the
// 0xFFFF that would read as full scale.
TEST_F(ChannelTest, TinyAmplitudeGoesOutAsZeroNotFullScale) {
  gen->ChA()->Set_sinAmplitude(0.001);
  gen->ChA()->SetMode(Zu::ZGMdC_gen);
  Activate();
  gen->UpdateMode();
  ASSERT_EQ(Frames().size(), 6u);
  EXPECT_EQ(Frames()[3], F(0x02, 0x00, 0x00));
}

}  // namespace
}  // namespace ZuTest
