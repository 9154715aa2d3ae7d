// External modulation: the base value and the start commands, as the update
// cycle sends them for the single, A12, double and duplex variants.
#include "SimFixture.h"

namespace ZuTest {
namespace {

using namespace Zu;
using Frames_t = std::vector<Frame>;
using Mode = TZuGen4ModesCommon;

// Codes of one channel: output on, frequency, amplitude, phase, base value.
struct Codes {
  uint8_t on, freq, ampl, phase, base;
};
constexpr Codes kA{0xF1, 0x04, 0x02, 0x05, 0x29};
constexpr Codes kB{0xF9, 0x14, 0x12, 0x15, 0x2A};

constexpr uint8_t kFreq = ZGAFPms_freq, kAmpl = ZGAFPms_ampl, kPhase = ZGAFPms_phase;
constexpr uint8_t kNoType = 7;  // outside the enumeration
constexpr Mode kOff = ZGMdC_off, kExt = ZGMdC_ExtModulation, kA12 = ZGMdC_ExtModulationA12,
               kAB1 = ZGMdC_ExtModulationAB1;

// Every channel runs at 2000 kHz, 50 %, 90°: codes 0x0147AE14, 0x1FFF, 0x1000.
Frames_t Sine(const Codes& c) {
  return {F(c.on), F(c.freq, 0x01, 0x47, 0xAE, 0x14), F(c.ampl, 0x1F, 0xFF), F(c.phase, 0x10, 0x00)};
}
// The sine, then the base value frame of the modulated quantity (none for an unknown type).
Frames_t Ch(const Codes& c, uint8_t type) {
  Frames_t out = Sine(c);
  if (type == kFreq) out.push_back(F(c.base, 0x01, 0x47, 0xAE, 0x14));
  if (type == kAmpl) out.push_back(F(c.base, 0x1F, 0xFF));
  if (type == kPhase) out.push_back(F(c.base, 0x10, 0x00));
  return out;
}
Frames_t operator+(Frames_t a, const Frames_t& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
Frames_t operator+(Frames_t a, const Frame& f) { return a + Frames_t{f}; }

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

// Only the low byte of a scale goes out; an unknown quantity gets no base value,
// no start of its own and type code 0. A12 carries channel B's scale, never its
// type; duplex (AB1, set on B) starts with channel A's settings after B's sine.
TEST_F(ExtModTest, EachVariantSendsTheBaseValuesThenItsStart) {
  const std::tuple<const char*, Mode, Mode, uint8_t, int, uint8_t, int, Frames_t> cases[] = {
      {"A freq", kExt, kOff, kFreq, 9, 0, 0, Ch(kA, kFreq) + F(0x8B, 9, 3)},
      {"A ampl", kExt, kOff, kAmpl, 0x10C, 0, 0, Ch(kA, kAmpl) + F(0x8B, 12, 1)},
      {"A phase", kExt, kOff, kPhase, 20, 0, 0, Ch(kA, kPhase) + F(0x8B, 20, 2)},
      {"A unknown", kExt, kOff, kNoType, 12, 0, 0, Ch(kA, kNoType)},
      {"B phase", kOff, kExt, 0, 0, kPhase, 20, Ch(kB, kPhase) + F(0x8D, 20, 2)},
      {"B ampl", kOff, kExt, 0, 0, kAmpl, 12, Ch(kB, kAmpl) + F(0x8D, 12, 1)},
      {"B freq", kOff, kExt, 0, 0, kFreq, -1, Ch(kB, kFreq) + F(0x8D, 0xFF, 3)},
      {"double", kExt, kExt, kFreq, 9, kAmpl, 20, Ch(kA, kFreq) + Ch(kB, kAmpl) + F(0x8F, 9, 3, 20, 1)},
      {"double", kExt, kExt, kPhase, 7, kFreq, 0x113, Ch(kA, kPhase) + Ch(kB, kFreq) + F(0x8F, 7, 2, 0x13, 3)},
      {"double", kExt, kExt, kAmpl, 15, kNoType, 11, Ch(kA, kAmpl) + Ch(kB, kNoType) + F(0x8F, 15, 1, 11, 0)},
      {"A12", kA12, kOff, kPhase, 10, kAmpl, 15, Ch(kA, kPhase) + F(0x91, 10, 15, 2)},
      {"A12", kA12, kOff, kFreq, 20, kAmpl, 7, Ch(kA, kFreq) + F(0x91, 20, 7, 3)},
      {"A12", kA12, kOff, kAmpl, 8, kAmpl, 0x1FF, Ch(kA, kAmpl) + F(0x91, 8, 0xFF, 1)},
      {"duplex", kOff, kAB1, kAmpl, 12, kPhase, 30, Sine(kB) + Ch(kA, kAmpl) + F(0xB2, 12, 1)},
      {"duplex", kOff, kAB1, kFreq, 9, kPhase, 30, Sine(kB) + Ch(kA, kFreq) + F(0xB2, 9, 3)},
      {"duplex", kOff, kAB1, kPhase, 0x214, kPhase, 30, Sine(kB) + Ch(kA, kPhase) + F(0xB2, 0x14, 2)},
      {"duplex", kOff, kAB1, kNoType, 16, kPhase, 30, Sine(kB) + Ch(kA, kNoType) + F(0xB2, 16, 0)},
  };
  for (const auto& [name, modeA, modeB, typeA, scaleA, typeB, scaleB, tail] : cases) {
    SCOPED_TRACE(testing::Message() << name << " " << int{typeA} << "/" << int{typeB});
    Make(true);
    Prepare(gen->ChA(), typeA, scaleA)->SetMode(modeA);
    Prepare(gen->ChB(), typeB, scaleB)->SetMode(modeB);
    Activate();
    gen->UpdateMode();
    EXPECT_EQ(Frames(), Frames_t{F(0xF0)} + tail);
  }
}

TEST_F(ExtModTest, TinyAmplitudeSendsTheLowestBaseValue) {
  Prepare(gen->ChA(), kAmpl, 12)->Set_sinAmplitude(0.001);
  Activate();
  gen->ChA()->SetMode(kExt);
  const Frames_t frames = Frames();
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(Frames_t(frames.end() - 2, frames.end()), (Frames_t{F(0x29, 0x00, 0x00), F(0x8B, 12, 1)}));
}

TEST_F(ExtModTest, OnlyAChangedSettingRunsAnUpdate) {
  const std::tuple<bool, int, int> cases[] = {{true, 12, 0}, {true, 13, 1}, {false, kAmpl, 0}, {false, kPhase, 1}};
  for (const auto& [scale, value, cycles] : cases) {
    SCOPED_TRACE(testing::Message() << (scale ? "scale " : "type ") << value);
    Make(true);
    Prepare(gen->ChA(), kAmpl, 12)->SetMode(kExt);
    Activate();
    int ran = 0;
    gen->AfterUpdate = [&ran](TObject*) { ++ran; };
    TZuGen4ExtModulation* m = gen->ChA()->ExtModulation();
    scale ? m->SetScale(value) : m->SetType(static_cast<TZuGen4AFPModes>(value));
    EXPECT_EQ(std::tuple(ran, scale ? m->Scale() : int{m->Type()}, Frames().empty()),
              std::tuple(cycles, value, cycles == 0));
  }
}

}  // namespace
}  // namespace ZuTest
