// Waveform tables: samples, their byte layout, and when they are recomputed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <tuple>
#include <vector>

#include "mathfun/Zumathfun.h"

namespace {

using namespace Zu;
using Bytes = std::vector<uint8_t>;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// clang-format off
struct Shape {
  TMathFuncsTypes type; double ca, cb, cc; int n;
  bool half = false; TBytesPerReading width = ZBPR_4bytes; bool lsbFirst = true, direct = true;
};
// clang-format on

// Sets everything with recomputing off, so the table is built once at the end.
void Apply(TMathFunction& f, const Shape& s) {
  // clang-format off
  f.SetAutoUpdate(false);
  f.SetFunctionType(s.type); f.Set_CA(s.ca); f.Set_CB(s.cb); f.Set_CC(s.cc); f.SetHalfOfPeriod(s.half);
  f.SetBytesPerReading(s.width); f.SetDirectRdsBytes(s.lsbFirst); f.SetDirectRdsOrder(s.direct);
  f.SetReadingsCount(s.n);
  f.SetAutoUpdate(true);
  // clang-format on
}

Bytes Table(const TMathFunction& f) { return Bytes(f.Readings(), f.Readings() + f.ReadingsSize()); }

// The layout the instrument expects, written out independently of the class.
Bytes Encode(const std::vector<int32_t>& samples, int w, bool lsbFirst, bool direct) {
  const size_t n = samples.size();
  Bytes out(n * w);
  for (size_t i = 0; i < n; ++i) {
    const auto s = static_cast<uint32_t>(samples[i]);
    const size_t p = direct ? i : n - 1 - i;
    for (int b = 0; b < w; ++b) out[p * w + b] = static_cast<uint8_t>(s >> (8 * (lsbFirst ? b : w - 1 - b)));
  }
  return out;
}

// Overwrites the table so that any recomputation shows.
void Mark(const TMathFunction& f) { std::fill_n(const_cast<uint8_t*>(f.Readings()), f.ReadingsSize(), uint8_t{0xA5}); }
bool Marked(const TMathFunction& f) {
  return f.Readings() && Table(f) == Bytes(static_cast<size_t>(f.ReadingsSize()), 0xA5);
}

TEST(MathFunction, WorkedValuesInEveryLayout) {
  // clang-format off
  const struct { TMathFuncsTypes type; bool half; std::vector<int32_t> samples; } rows[] = {
      {ZMFT_sin, false, {0, 100, 0, -100}}, {ZMFT_sin, true, {0, 71, 100, 71}},
      {ZMFT_triangle, false, {-100, 0, 100, 0}}, {ZMFT_triangle, true, {-100, 0, 100, 0}},
      {ZMFT_rect, false, {100, 100, -100, -100}}, {ZMFT_rect, true, {100, 100, -100, -100}}};
  // clang-format on
  for (const auto& r : rows)
    for (TBytesPerReading width : {ZBPR_2bytes, ZBPR_4bytes})
      for (bool lsbFirst : {true, false})
        for (bool direct : {true, false}) {
          TMathFunction f;
          Apply(f, {r.type, 0, 100, 0.5, 4, r.half, width, lsbFirst, direct});
          const int w = width == ZBPR_4bytes ? 4 : 2;
          EXPECT_EQ(f.ReadingsSize(), 4 * w);
          EXPECT_EQ(Table(f), Encode(r.samples, w, lsbFirst, direct))
              << int(r.type) << " half " << r.half << " w " << w << " lsb " << lsbFirst << " direct " << direct;
        }
}

TEST(MathFunction, StoresSamplesInTheChosenWidthAndByteOrder) {
  // clang-format off
  const struct { double ca; TBytesPerReading width; bool lsbFirst; Bytes bytes; } rows[] = {
      {-100, ZBPR_2bytes, true, {0x9C, 0xFF}}, {-100, ZBPR_2bytes, false, {0xFF, 0x9C}},
      {-100, ZBPR_4bytes, false, {0xFF, 0xFF, 0xFF, 0x9C}}, {-100, ZBPR_4bytes, true, {0x9C, 0xFF, 0xFF, 0xFF}},
      {70000, ZBPR_2bytes, false, {0x11, 0x70}},  // only the low 16 bits fit
      {4294967295.0, ZBPR_4bytes, false, {0xFF, 0xFF, 0xFF, 0xFF}},
      {0x12345678, ZBPR_4bytes, true, {0x78, 0x56, 0x34, 0x12}},
      {2.5, ZBPR_2bytes, true, {2, 0}}, {3.5, ZBPR_2bytes, true, {4, 0}},  // ties go to even
      {-2.5, ZBPR_2bytes, false, {0xFF, 0xFE}}};
  // clang-format on
  for (const auto& r : rows) {
    TMathFunction f;
    Apply(f, {ZMFT_rect, r.ca, 0, 0.5, 1, false, r.width, r.lsbFirst});
    EXPECT_EQ(Table(f), r.bytes) << r.ca;
  }
}

TEST(MathFunction, ShapeEdges) {
  // clang-format off
  const struct { TMathFuncsTypes type; double cc; int n; std::vector<int32_t> samples; } rows[] = {
      {ZMFT_rect, 0.5, 5, {100, 100, -100, -100, -100}},            // k = 2.5 rounds to 2
      {ZMFT_rect, 0.5, 7, {100, 100, 100, 100, -100, -100, -100}},  // 3.5 rounds to 4
      {ZMFT_rect, 0.0, 4, {-100, -100, -100, -100}}, {ZMFT_rect, 1.0, 4, {100, 100, 100, 100}},
      {ZMFT_triangle, 0.0, 4, {100, 50, 0, -50}},    // falling ramp
      {ZMFT_triangle, 1.0, 4, {-100, -50, 0, 50}},   // rising ramp
      {ZMFT_triangle, 0.25, 4, {-100, 100, 33, -33}}};
  // clang-format on
  for (const auto& r : rows) {
    TMathFunction f;
    Apply(f, {r.type, 0, 100, r.cc, r.n});
    EXPECT_EQ(Table(f), Encode(r.samples, 4, true, true)) << int(r.type) << " CC " << r.cc << " n " << r.n;
  }
}

TEST(MathFunction, RefusedOrUnchangedValuesRecomputeNothing) {
  using Call = void (*)(TMathFunction&);
  // clang-format off
  const Call calls[] = {
      [](TMathFunction& f) { f.Set_CC(1.5); }, [](TMathFunction& f) { f.Set_CC(-0.1); },
      [](TMathFunction& f) { f.Set_CC(kNaN); }, [](TMathFunction& f) { f.Set_CA(kNaN); },
      [](TMathFunction& f) { f.Set_CB(kInf); }, [](TMathFunction& f) { f.Set_CA(-kInf); },
      [](TMathFunction& f) { f.SetReadingsCount(-1); },
      [](TMathFunction& f) { f.SetReadingsCount(TMathFunction::READINGS_COUNT_TOP + 1); },
      [](TMathFunction& f) { f.SetFunctionType(static_cast<TMathFuncsTypes>(3)); },
      [](TMathFunction& f) { f.SetBytesPerReading(static_cast<TBytesPerReading>(2)); },
      // The current values.
      [](TMathFunction& f) { f.Set_CA(0); }, [](TMathFunction& f) { f.Set_CB(100); },
      [](TMathFunction& f) { f.Set_CC(0.5); }, [](TMathFunction& f) { f.SetReadingsCount(4); },
      [](TMathFunction& f) { f.SetFunctionType(ZMFT_triangle); },
      [](TMathFunction& f) { f.SetBytesPerReading(ZBPR_4bytes); },
      [](TMathFunction& f) { f.SetDirectRdsBytes(true); }, [](TMathFunction& f) { f.SetDirectRdsOrder(true); },
      [](TMathFunction& f) { f.SetHalfOfPeriod(false); }, [](TMathFunction& f) { f.SetAutoUpdate(true); },
      [](TMathFunction& f) { f.SetPropsLoaded(true); }};
  // clang-format on
  for (size_t i = 0; i < std::size(calls); ++i) {
    TMathFunction f;
    Apply(f, {ZMFT_triangle, 0, 100, 0.5, 4});
    Mark(f);
    const uint8_t* before = f.Readings();
    calls[i](f);
    EXPECT_TRUE(Marked(f) && f.Readings() == before) << "call " << i;
    EXPECT_EQ(std::tuple(f.CA(), f.CB(), f.CC(), f.ReadingsCount(), f.FunctionType(), f.BytesPerReading()),
              std::tuple(0.0, 100.0, 0.5, 4, ZMFT_triangle, ZBPR_4bytes))
        << "call " << i;
  }
}

TEST(MathFunction, ChangesWaitForAutoUpdateAndPropsLoaded) {
  TMathFunction f;
  Apply(f, {ZMFT_sin, 0, 100, 0.5, 4});
  Mark(f);
  f.SetAutoUpdate(false);
  f.Set_CB(50);
  f.SetFunctionType(ZMFT_rect);
  f.SetReadingsCount(8);
  EXPECT_TRUE(Marked(f));
  EXPECT_EQ(f.ReadingsSize(), 16);  // the size still matches the stale buffer
  f.CreateReadings();               // sized for 4 readings: left alone
  EXPECT_TRUE(Marked(f));
  f.SetAutoUpdate(true);
  EXPECT_EQ(Table(f), Encode({50, 50, 50, 50, -50, -50, -50, -50}, 4, true, true));

  Mark(f);
  f.SetPropsLoaded(false);
  f.Set_CB(20);
  f.UpdateReadings();
  EXPECT_TRUE(Marked(f));
  f.SetPropsLoaded(true);
  EXPECT_EQ(Table(f), Encode({20, 20, 20, 20, -20, -20, -20, -20}, 4, true, true));
}

TEST(MathFunction, EmptyTableHasNoBuffer) {
  TMathFunction f;
  const auto empty = [&] { return f.Readings() == nullptr && f.ReadingsSize() == 0; };
  f.UpdateReadings();
  EXPECT_TRUE(empty());
  Apply(f, {ZMFT_sin, 0, 100, 0.5, 4});
  f.SetReadingsCount(0);
  EXPECT_TRUE(empty());
  f.SetReadingsCount(3);
  f.DeleteReadingsMemory();  // a size never outlives its buffer
  EXPECT_TRUE(empty());
  f.SetAutoUpdate(false);
  f.SetReadingsCount(TMathFunction::READINGS_COUNT_TOP);
  EXPECT_EQ(f.ReadingsCount(), TMathFunction::READINGS_COUNT_TOP);
}

}  // namespace
