// Physical values to register codes and back, and the reference clock.
#include <cfenv>
#include <cmath>
#include <limits>
#include <tuple>

#include "SimFixture.h"

namespace {

using namespace Zu;
using ZuTest::F;
using ZuTest::Frame;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

// Puts the rounding mode back whatever the test's outcome.
class RoundingMode {
 public:
  explicit RoundingMode(int mode) : FSaved(std::fegetround()) { std::fesetround(mode); }
  ~RoundingMode() { std::fesetround(FSaved); }

 private:
  int FSaved;
};

// Codes are rounded by hand, so a host that changed the FPU rounding mode
// still sends the same codes.
class Codes : public ZuTest::SimGenerator, public testing::WithParamInterface<int> {};

template <typename Out>
struct Case {
  double in;
  Out out;
};

TEST_P(Codes, AreExactWhateverTheRoundingMode) {
  const RoundingMode mode(GetParam());
  // clang-format off
  const Case<int64_t> rounding[] = {
      {2.5, 2}, {3.5, 4}, {-2.5, -2}, {-3.5, -4}, {-0.5, 0}, {0.49999999999999994, 0},
      {4503599627370497.0, 4503599627370497}, {9223372036854775808.0, kMax}, {-9223372036854775808.0, kMin},
      {1e19, kMax}, {-1e19, kMin}, {kInf, kMax}, {-kInf, kMin}, {kNaN, 0}};
  // Past the register width only the low 32 bits remain; NaN gives 0 and
  // infinities the int64 bound they saturate to.
  const Case<int> ampl[] = {{0, -1}, {50, 8191}, {100, 16383}, {1e8, -795869185}, {kNaN, 0}, {kInf, -1}, {-kInf, 0}};
  const Case<int> phase[] = {{90, 4096}, {180, 8192}, {359.99, 16384}, {-90, -4096}, {kNaN, 0}, {kInf, -1},
                             {-kInf, 0}};
  const Case<uint32_t> freq[] = {{1e6, 10737418}, {4e5, 4294967}, {2e8, 2147483648u}, {4e8, 0}, {5e8, 1073741824},
                                 {-1e6, 4284229878u}, {kNaN, 0}, {kInf, 0xFFFFFFFFu}, {-kInf, 0}};
  // Conv_Value(in, 1, 1, digit): ties go to the even multiple of 10^digit.
  const struct { double in; signed char digit; double out; } scaled[] = {
      {2.5, 0, 2}, {3.5, 0, 4}, {-2.5, 0, -2}, {250, 2, 200}, {350, 2, 400}, {0.125, -2, 0.12}, {0.375, -2, 0.38},
      {1e307, -2, 1e307}, {-1e300, 3, -1e300}};
  // clang-format on
  for (const auto& c : rounding) EXPECT_EQ(RoundToInt64(c.in), c.out) << c.in;
  for (const auto& c : ampl) EXPECT_EQ(TZuGen4::Conv_AmplToCode(c.in), c.out) << c.in;
  for (const auto& c : phase) EXPECT_EQ(TZuGen4::Conv_PhaseToCode(c.in), c.out) << c.in;
  for (const auto& c : freq) EXPECT_EQ(gen->Conv_FreqToCode(c.in), c.out) << c.in;
  for (const auto& c : scaled)
    EXPECT_DOUBLE_EQ(TZuGen4::Conv_Value(c.in, 1, 1, c.digit), c.out) << c.in << " " << int{c.digit};
  EXPECT_EQ(TZuGen4::Conv_Value(2.5, 1000, 1, 0), 2500.0);
  EXPECT_TRUE(std::isnan(TZuGen4::Conv_Value(kNaN, 1, 1, 0)));
  EXPECT_EQ(TZuGen4::Conv_Value(-kInf, 1, 1, -2), -kInf);
}

INSTANTIATE_TEST_SUITE_P(Conversions, Codes, testing::Values(FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO));

using Conversions = ZuTest::SimGenerator;

TEST_F(Conversions, InverseAndDecibelValues) {
  // clang-format off
  const struct { const char* what; double got, want, tol; } cases[] = {
      {"CodeToFreq(0)", gen->Conv_CodeToFreq(0.0), 0.0931322574616, 1e-15},
      {"CodeToFreq(10737418)", gen->Conv_CodeToFreq(10737418.0), 1000000.0, 0.1},
      {"CodeToAmpl(16383)", TZuGen4::Conv_CodeToAmpl(16383.0), 99.99999959, 1e-9},
      {"CodeToAmpl(-1)", TZuGen4::Conv_CodeToAmpl(-1.0), 0.0, 0.0},
      {"CodeToPhase(8192)", TZuGen4::Conv_CodeToPhase(8192.0), 180.0000004096, 1e-9},
      {"CodeToPhase(16384)", TZuGen4::Conv_CodeToPhase(16384.0), 8.192e-7, 1e-12},  // past 360: wraps once
      {"AmplTodB(100)", TZuGen4::Conv_AmplTodB(100.0), 0.0, 0.0},
      {"AmplTodB(50)", TZuGen4::Conv_AmplTodB(50.0), -6.020599913279624, 1e-12},
      {"AdBToAmpl(0)", TZuGen4::Conv_AdBToAmpl(0.0), 100.0, 0.0},
      {"AdBToAmpl(-6.0206)", TZuGen4::Conv_AdBToAmpl(-6.020599913279624), 50.0, 1e-9}};
  // clang-format on
  for (const auto& c : cases) EXPECT_NEAR(c.got, c.want, c.tol) << c.what;
  EXPECT_EQ(TZuGen4::Conv_AmplTodB(0.0), -kInf);
  // value × (num / den) in that order: 49 × (1/49) is one step below 1.
  EXPECT_EQ(TZuGen4::Conv_Value(49.0, 1.0, 49.0), std::nextafter(1.0, 0.0));
  EXPECT_EQ(TZuGen4::Conv_Value(1.5, 1000.0, 1.0), 1500.0);
}

using RefClock = ZuTest::SimGenerator;

TEST_F(RefClock, ChangesOnlyWithTheExternalReference) {
  auto clock = [&] { return std::tuple(gen->RefFreq(), gen->FreqScale(), gen->GenFreq()); };
  gen->SetRefFreq(10.0);
  gen->SetFreqScale(8);
  EXPECT_EQ(clock(), std::tuple(25.0, 16, 400.0));
  gen->SetUseExtRefFreq(true);  // keeps the values
  gen->SetRefFreq(10.0);
  EXPECT_EQ(clock(), std::tuple(10.0, 16, 160.0));
  EXPECT_EQ(gen->Conv_FreqToCode(1e6), 26843546u);
  EXPECT_NEAR(gen->Conv_CodeToFreq(0.0), 0.03725290298464, 1e-15);
  // The system clock divides every frequency code: it must stay finite and positive.
  for (double bad : {0.0, -1.0, kNaN, kInf, -kInf}) {
    gen->SetRefFreq(bad);
    EXPECT_EQ(gen->RefFreq(), 10.0) << bad;
  }
  for (auto [in, out] : {std::pair{25, 20}, {21, 20}, {20, 20}, {5, 5}, {4, 4}, {3, 4}, {0, 4}, {-7, 4}, {25, 20}}) {
    SCOPED_TRACE(in);
    gen->SetFreqScale(in);
    EXPECT_EQ(clock(), std::tuple(10.0, out, out * 10.0));
  }
  gen->SetUseExtRefFreq(false);
  EXPECT_EQ(clock(), std::tuple(25.0, 16, 400.0));
}

TEST_F(RefClock, SwitchingTheReferenceUpdatesChangingItWaitsForTheNextUpdate) {
  Activate();
  gen->SetUseExtRefFreq(true);
  EXPECT_EQ(Frames(), (std::vector<Frame>{F(0xF0), F(0xE5, 16)}));
  gen->SetUseExtRefFreq(true);
  gen->SetFreqScale(5);
  gen->SetRefFreq(20.0);
  EXPECT_EQ(Frames().size(), 2u);
  Driver().ClearTrace();
  gen->UpdateMode();
  gen->SetUseExtRefFreq(false);
  EXPECT_EQ(Frames(), (std::vector<Frame>{F(0xF0), F(0xE5, 5), F(0xF0)}));
}

}  // namespace
