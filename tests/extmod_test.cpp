// External modulation: the base value and the start commands, as the update
// cycle sends them for the single, A12, double and duplex variants.
#include "SimFixture.h"

namespace ZuTest {
namespace {

using namespace Zu;
using Frames_t = std::vector<Frame>;

// Codes of one channel: output on, frequency, amplitude, phase, base value, start.
struct Codes {
  uint8_t on, freq, ampl, phase, base, start;
};
constexpr Codes kA{0xF1, 0x04, 0x02, 0x05, 0x29, 0x8B};
constexpr Codes kB{0xF9, 0x14, 0x12, 0x15, 0x2A, 0x8D};

constexpr uint8_t kNoType = 7;  // outside the enumeration

// Every channel runs at 2000 kHz, 50 %, 90°: codes 0x0147AE14, 0x1FFF, 0x1000.
Frames_t Sine(const Codes& c) {
  return {F(c.on), F(c.freq, 0x01, 0x47, 0xAE, 0x14), F(c.ampl, 0x1F, 0xFF), F(c.phase, 0x10, 0x00)};
}
// The base value frame of the modulated quantity; none for an unknown type.
Frames_t Base(const Codes& c, uint8_t type) {
  switch (type) {
    case ZGAFPms_freq: return {F(c.base, 0x01, 0x47, 0xAE, 0x14)};
    case ZGAFPms_ampl: return {F(c.base, 0x1F, 0xFF)};
    case ZGAFPms_phase: return {F(c.base, 0x10, 0x00)};
    default: return {};
  }
}
Frames_t operator+(Frames_t a, const Frames_t& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

class ExtModTest : public SimGenerator {
 protected:
  // Sets the sine and modulation settings while the link is still closed.
  TZuGen4Channel* Prepare(TZuGen4Channel* ch, uint8_t type, int scale) {
    ch->Set_sinFrequency(2000);
    ch->Set_sinAmplitude(50);
    ch->SetPhase(90);
    ch->ExtModulation()->SetType(static_cast<TZuGen4AFPModes>(type));
    ch->ExtModulation()->SetScale(scale);
    return ch;
  }
};

// The last three rows: only the low byte of the scale goes out; an unknown
// quantity gets neither base value nor start.
TEST_F(ExtModTest, SingleChannelSendsBaseValueThenItsStart) {
  const struct {
    bool onB;
    uint8_t type;
    int scale;
    uint8_t scaleByte, typeCode;
  } cases[] = {
      {false, ZGAFPms_freq, 9, 9, 3},      {false, ZGAFPms_ampl, 12, 12, 1},  {false, ZGAFPms_phase, 20, 20, 2},
      {true, ZGAFPms_freq, 9, 9, 3},       {true, ZGAFPms_ampl, 12, 12, 1},   {true, ZGAFPms_phase, 20, 20, 2},
      {false, ZGAFPms_ampl, 0x10C, 12, 1}, {true, ZGAFPms_freq, -1, 0xFF, 3}, {false, kNoType, 12, 12, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.onB ? "B" : "A") << " type " << int{c.type} << " scale " << c.scale);
    Make(true);
    TZuGen4Channel* ch = c.onB ? static_cast<TZuGen4Channel*>(gen->ChB()) : gen->ChA();
    Prepare(ch, c.type, c.scale);
    Activate();
    ch->SetMode(ZGMdC_ExtModulation);
    const Codes& k = c.onB ? kB : kA;
    const Frames_t start = c.type == kNoType ? Frames_t{} : Frames_t{F(k.start, c.scaleByte, c.typeCode)};
    EXPECT_EQ(Frames(), Frames_t{F(0xF0)} + Sine(k) + Base(k, c.type) + start);
  }
}

TEST_F(ExtModTest, TinyAmplitudeSendsTheLowestBaseValue) {
  Prepare(gen->ChA(), ZGAFPms_ampl, 12)->Set_sinAmplitude(0.001);
  Activate();
  gen->ChA()->SetMode(ZGMdC_ExtModulation);
  const Frames_t frames = Frames();
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(Frames_t(frames.end() - 2, frames.end()), (Frames_t{F(0x29, 0x00, 0x00), F(0x8B, 12, 1)}));
}

TEST_F(ExtModTest, BothChannelsArePreparedThenStartedTogether) {
  const struct {
    uint8_t typeA;
    int scaleA;
    uint8_t typeB;
    int scaleB;
    uint8_t codeA, codeB;
  } cases[] = {
      {ZGAFPms_freq, 9, ZGAFPms_ampl, 20, 3, 1},
      {ZGAFPms_phase, 7, ZGAFPms_freq, 0x113, 2, 3},
      {ZGAFPms_ampl, 15, kNoType, 11, 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << int{c.typeA} << "/" << int{c.typeB});
    Make(true);
    Prepare(gen->ChA(), c.typeA, c.scaleA)->SetMode(ZGMdC_ExtModulation);
    Prepare(gen->ChB(), c.typeB, c.scaleB)->SetMode(ZGMdC_ExtModulation);
    Activate();
    gen->UpdateMode();
    const Frame start = F(0x8F, static_cast<uint8_t>(c.scaleA), c.codeA, static_cast<uint8_t>(c.scaleB), c.codeB);
    EXPECT_EQ(Frames(),
              Frames_t{F(0xF0)} + Sine(kA) + Base(kA, c.typeA) + Sine(kB) + Base(kB, c.typeB) + Frames_t{start});
  }
}

TEST_F(ExtModTest, BothInputsOnChannelACarryTheOtherChannelsScale) {
  const struct {
    uint8_t type;
    int scale, otherScale;
    uint8_t typeCode;
  } cases[] = {{ZGAFPms_phase, 10, 15, 2}, {ZGAFPms_freq, 20, 7, 3}, {ZGAFPms_ampl, 8, 0x1FF, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << int{c.type});
    Make(true);
    Prepare(gen->ChA(), c.type, c.scale);
    // Channel B's own type never reaches the frame.
    gen->ChB()->ExtModulation()->SetType(ZGAFPms_ampl);
    gen->ChB()->ExtModulation()->SetScale(c.otherScale);
    Activate();
    gen->ChA()->SetMode(ZGMdC_ExtModulationA12);
    const Frame start = F(0x91, static_cast<uint8_t>(c.scale), static_cast<uint8_t>(c.otherScale), c.typeCode);
    EXPECT_EQ(Frames(), Frames_t{F(0xF0)} + Sine(kA) + Base(kA, c.type) + Frames_t{start});
  }
}

TEST_F(ExtModTest, OneInputForBothChannelsStartsWithChannelASettings) {
  const struct {
    uint8_t type;
    int scale;
    uint8_t typeCode;
  } cases[] = {{ZGAFPms_ampl, 12, 1}, {ZGAFPms_freq, 9, 3}, {ZGAFPms_phase, 0x214, 2}, {kNoType, 16, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << int{c.type});
    Make(true);
    Prepare(gen->ChA(), c.type, c.scale);
    Prepare(gen->ChB(), ZGAFPms_phase, 30);  // channel B's settings are not used
    Activate();
    gen->ChB()->SetMode(ZGMdC_ExtModulationAB1);
    ASSERT_EQ(gen->ChA()->Mode(), ZGMdC_ExtModulationAB1);
    EXPECT_EQ(Frames(), Frames_t{F(0xF0)} + Sine(kB) + Sine(kA) + Base(kA, c.type) +
                            Frames_t{F(0xB2, static_cast<uint8_t>(c.scale), c.typeCode)});
  }
}

TEST_F(ExtModTest, TypeCodeOnTheWire) {
  const struct {
    uint8_t type;
    int code;
  } cases[] = {{ZGAFPms_freq, 3}, {ZGAFPms_ampl, 1}, {ZGAFPms_phase, 2}, {3, 0}, {0xFF, 0}};
  TZuGen4ExtModulation* m = gen->ChA()->ExtModulation();
  for (const auto& c : cases) {
    m->SetType(static_cast<TZuGen4AFPModes>(c.type));
    EXPECT_EQ(m->GetTypeAsInt(), c.code) << int{c.type};
  }
}

TEST_F(ExtModTest, OnlyAChangedSettingRunsAnUpdate) {
  const struct {
    bool scale;
    int value, cycles;
  } cases[] = {{true, 12, 0}, {true, 13, 1}, {false, ZGAFPms_ampl, 0}, {false, ZGAFPms_phase, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << (c.scale ? "scale " : "type ") << c.value);
    Make(true);
    Prepare(gen->ChA(), ZGAFPms_ampl, 12)->SetMode(ZGMdC_ExtModulation);
    Activate();
    int cycles = 0;
    gen->AfterUpdate = [&cycles](TObject*) { ++cycles; };
    TZuGen4ExtModulation* m = gen->ChA()->ExtModulation();
    c.scale ? m->SetScale(c.value) : m->SetType(static_cast<TZuGen4AFPModes>(c.value));
    EXPECT_EQ(cycles, c.cycles);
    EXPECT_EQ(c.scale ? m->Scale() : int{m->Type()}, c.value);
    EXPECT_EQ(Frames().empty(), c.cycles == 0);
  }
}

}  // namespace
}  // namespace ZuTest
