// Channel parameters: defaults, range checks, the sweep top following the
// frequency, and the over-modulation guard.
#include <gmock/gmock.h>

#include <cmath>
#include <limits>
#include <tuple>
#include <utility>

#include "SimFixture.h"

namespace ZuTest {
namespace {

using namespace Zu;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

class ChannelTest : public SimGenerator {
 protected:
  std::vector<TZuGen4Channel*> Both() { return {gen->ChA(), gen->ChB()}; }
  void CountUpdates() {
    updates = 0;
    gen->AfterUpdate = [this](TObject*) { ++updates; };
  }
  int updates = 0;
};

TEST_F(ChannelTest, StartsWithDefaultSineValuesAndOptions) {
  for (int i = 0; i < 2; ++i) {
    TZuGen4Channel* ch = Both()[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(std::tuple(ch->Frequency(), ch->Amplitude(), ch->Phase()), std::tuple(1000.0, 100.0, 0.0));
    EXPECT_EQ(ch->Mode(), ZGMdC_off);
    EXPECT_EQ(ch->ChannelType(), i == 0 ? ZGCN_A : ZGCN_B);
    EXPECT_EQ(ch->GetOtherCh(), Both()[1 - i]);
  }
  EXPECT_FALSE(gen->Options()->EnableDuplexIntMod());
  EXPECT_TRUE(gen->Options()->OverModulationNotify());
}

struct Param {
  void (TZuGen4Channel::*set)(double);
  double (TZuGen4Channel::*get)() const;
  int error;  // the parameter a rejection reports, or kSilent
};
constexpr int kSilent = -1;
const Param kFreq{&TZuGen4Channel::Set_sinFrequency, &TZuGen4Channel::Frequency, ZGPrm_Frequency};
const Param kAmpl{&TZuGen4Channel::Set_sinAmplitude, &TZuGen4Channel::Amplitude, kSilent};
const Param kPhase{&TZuGen4Channel::SetPhase, &TZuGen4Channel::Phase, ZGPrm_Phase};

// An unchanged value is dropped silently; amplitude rejections are silent too.
TEST_F(ChannelTest, AcceptsValuesInRangeAndReportsOnlyRejectedFrequencyAndPhase) {
  // parameter, value before, value set, accepted
  const std::tuple<const Param&, double, double, bool> cases[] = {
      {kFreq, 1000, 400, true},         {kFreq, 1000, 200000, true}, {kFreq, 1000, 399.999, false},
      {kFreq, 1000, 200000.001, false}, {kFreq, 1000, kNaN, false},  {kFreq, 2000, 2000, false},
      {kAmpl, 50, 100, true},           {kAmpl, 100, 0, false},      {kAmpl, 100, 100.5, false},
      {kAmpl, 100, kNaN, false},        {kAmpl, 50, 50, false},      {kPhase, 10, 0, true},
      {kPhase, 0, 359.5, true},         {kPhase, 0, 360, false},     {kPhase, 0, -0.5, false},
      {kPhase, 0, kNaN, false},         {kPhase, 90, 90, false},
  };
  for (const auto& [prm, preset, value, accepted] : cases) {
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(testing::Message() << "param " << prm.error << " value " << value << " channel " << i);
      Make(true);
      TZuGen4Channel* ch = Both()[i];
      (ch->*prm.set)(preset);
      Activate();
      CountUpdates();
      std::vector<std::tuple<TZuGen4Channel*, int, double>> errors;
      gen->OnParamValueError = [&](TZuGen4Channel* from, TZuGen4Parameters p, void* v) {
        errors.emplace_back(from, p, *static_cast<double*>(v));
      };
      (ch->*prm.set)(value);
      EXPECT_EQ((ch->*prm.get)(), accepted ? value : preset);
      EXPECT_EQ(updates, accepted ? 1 : 0);
      const bool reports = !accepted && value != preset && prm.error != kSilent;
      EXPECT_EQ(errors.size(), reports ? 1u : 0u);
      EXPECT_THAT(errors, testing::Each(testing::FieldsAre(ch, prm.error, testing::NanSensitiveDoubleEq(value))));
    }
  }
}

// The last hundredth of a degree rounds to the code of a whole turn: it goes
// out as 0 degrees, never as a code beyond the register's 14 bits.
TEST_F(ChannelTest, APhaseOfAWholeTurnGoesOutAsZero) {
  Activate();
  gen->ChA()->SetMode(ZGMdC_gen);
  gen->ChA()->SetPhase(359.995);
  Frame last;
  for (const Frame& f : Frames())
    if (f[0] == 0x05) last = f;
  EXPECT_EQ(last, F(0x05));
  ExpectCleanSession();
}

TEST_F(ChannelTest, SweepTopFollowsTheFrequencyUpOnly) {
  TZuGen4Channel* ch = gen->ChB();
  ch->LFM()->SetFreqTop(5000);
  for (auto [freq, top] : {std::pair{7500.9, 7500}, {250000.0, 7500}, {7000.0, 7500}}) {
    ch->Set_sinFrequency(freq);
    EXPECT_EQ(ch->LFM()->FreqTop(), top) << freq;
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

// Only a scale change goes through a setter; the amplitude is lowered in place.
TEST_F(ChannelTest, CorrectionMovesTheScaleIntoItsBandAndLowersTheAmplitude) {
  // mode, tuner and external scale, amplitude; the same after the correction
  // clang-format off
  const std::tuple<TZuGen4ModesCommon, int, int, double, int, int, double> cases[] = {
      {ZGMdC_ExtModulationAB1, 0, 21, 100, 0, 20, 50}, {ZGMdC_ExtModulationA12, 0, 7, 100, 0, 7, 99.993896484375},
      {ZGMdC_ExtModulation, 0, 6, 30, 0, 20, 30},      {ZGMdC_tuning, 21, 0, 80, 21, 0, 0},
      {ZGMdC_tuning, 22, 0, 80, 20, 0, 50},            {ZGMdC_tuning, 6, 30, 100, 20, 30, 50},
      {ZGMdC_IntModulation, 0, 0, 80, 0, 0, 80}};
  // clang-format on
  for (auto [mode, tunerScale, extScale, ampl, newTunerScale, newExtScale, newAmpl] : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << int(mode) << " scales " << tunerScale << "/" << extScale);
    Make(true);
    Prepare(gen.get(), mode, tunerScale, extScale, 100, ampl);
    Activate();
    CountUpdates();
    TZuGen4Channel* a = gen->ChA();
    a->CorrectAmplAvoidOverModul();
    EXPECT_EQ(std::tuple(a->Tuner()->Scale(), a->ExtModulation()->Scale(), a->Amplitude()),
              std::tuple(newTunerScale, newExtScale, newAmpl));
    const bool scaleMoved = newTunerScale != tunerScale || newExtScale != extScale;
    EXPECT_EQ(updates, scaleMoved ? 1 : 0);
  }
}

// The limit follows the mode and the scale or depth of its engine (dA 60
// gives 62.5, which rounds to the even 62). The notice needs an amplitude
// engine, an amplitude above the limit and the host's permission.
TEST_F(ChannelTest, AmplitudeLimitAndOverModulationNotice) {
  constexpr TZuGen4AFPModes kAmp = ZGAFPms_ampl, kFrq = ZGAFPms_freq;
  // mode, type of the mode's engine (the others get another one), its scale, dA, amplitude, notify, limit, raised
  // clang-format off
  const std::tuple<TZuGen4ModesCommon, TZuGen4AFPModes, int, int, double, bool, double, bool> cases[] = {
      {ZGMdC_tuning, kAmp, 20, 50, 80, 1, 50, 1},          {ZGMdC_tuning, kFrq, 20, 50, 80, 1, 50, 0},
      {ZGMdC_tuning, kAmp, 20, 50, 50, 1, 50, 0},          {ZGMdC_tuning, kAmp, 20, 50, 80, 0, 50, 0},
      {ZGMdC_tuning, kAmp, 21, 50, 80, 1, 0, 1},           {ZGMdC_IntModulation, kAmp, 0, 60, 80, 1, 62, 1},
      {ZGMdC_IntModulation, kAmp, 0, 100, 80, 1, 50, 1},   {ZGMdC_IntModulation, kFrq, 0, 60, 80, 1, 62, 0},
      {ZGMdC_ExtModulation, kAmp, 20, 50, 80, 1, 50, 1},   {ZGMdC_ExtModulation, ZGAFPms_phase, 20, 50, 80, 1, 50, 0},
      {ZGMdC_ExtModulationAB1, kAmp, 21, 50, 80, 1, 0, 1}, {ZGMdC_gen, kAmp, 20, 50, 80, 1, 100, 0},
      {ZGMdC_ExtModulationA12, kAmp, 7, 50, 100, 1, 99.993896484375, 1}, {ZGMdC_LFM, kAmp, 20, 50, 80, 1, 100, 0}};
  // clang-format on
  for (auto [mode, type, scale, dA, ampl, notify, limit, raised] : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << int(mode) << " type " << int(type) << " scale " << scale);
    Make(true);
    TZuGen4Channel* a = gen->ChA();
    const TZuGen4AFPModes other = type == kAmp ? ZGAFPms_freq : kAmp;
    const bool tuning = mode == ZGMdC_tuning;
    const bool ext = !tuning && mode != ZGMdC_IntModulation;
    a->Tuner()->SetType(tuning ? type : other);
    a->IntModulation()->SetType(mode == ZGMdC_IntModulation ? type : other);
    a->ExtModulation()->SetType(ext ? type : other);
    Prepare(gen.get(), mode, tuning ? scale : 0, ext ? scale : 0, dA, ampl);
    EXPECT_EQ(a->GetMaxAmplAvoidOverMod(), limit);
    a->Tuner()->SetADCTimerEnabled(true);
    gen->Options()->SetOverModulationNotify(notify);
    Activate();
    // Each notice: channel, limit, whether polling was on, frames sent by then.
    std::vector<std::tuple<TZuGen4Channel*, double, bool, size_t>> notices;
    gen->OnOverModulation = [&](TZuGen4Channel* ch, double v) {
      notices.emplace_back(ch, v, ch->Tuner()->ADCTimerEnabled(), Frames().size());
    };
    gen->UpdateMode();
    EXPECT_TRUE(a->Tuner()->ADCTimerEnabled());
    // Polling is held off only while tuning. Raised while the update is
    // planned, before its first frame goes out.
    EXPECT_EQ(notices, (raised ? decltype(notices){{a, limit, !tuning, 0u}} : decltype(notices){}));
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
