// Waveform tables: samples, their byte layout, and when they are recomputed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "mathfun/Zumathfun.h"

namespace {

using namespace Zu;
using Bytes = std::vector<uint8_t>;

// clang-format off
struct Shape {
  TMathFuncsTypes type; double ca, cb, cc; int n;
  bool half = false; TBytesPerReading width = ZBPR_4bytes; bool lsbFirst = true, direct = true;
};

// Sets everything with recomputing off, so the table is built once at the end.
void Apply(TMathFunction& f, const Shape& s) {
  f.SetAutoUpdate(false); f.SetFunctionType(s.type); f.Set_CA(s.ca); f.Set_CB(s.cb); f.Set_CC(s.cc);
  f.SetHalfOfPeriod(s.half); f.SetBytesPerReading(s.width); f.SetDirectRdsBytes(s.lsbFirst);
  f.SetDirectRdsOrder(s.direct); f.SetReadingsCount(s.n); f.SetAutoUpdate(true);
}
// clang-format on

Bytes Table(const TMathFunction& f) { return Bytes(f.Readings(), f.Readings() + f.ReadingsSize()); }

// The layout the instrument expects, written out independently of the class.
Bytes Encode(const std::vector<int32_t>& samples, int w, bool lsbFirst, bool direct) {
  Bytes out;
  for (size_t i = 0; i < samples.size(); ++i)
    for (int b = 0; b < w; ++b)
      out.push_back(uint32_t(samples[direct ? i : samples.size() - 1 - i]) >> (8 * (lsbFirst ? b : w - 1 - b)));
  return out;
}

// Overwrites the table so that any recomputation shows.
void Mark(const TMathFunction& f) { std::fill_n(const_cast<uint8_t*>(f.Readings()), f.ReadingsSize(), uint8_t{0xA5}); }
bool Marked(const TMathFunction& f) { return f.Readings() && Table(f) == Bytes(size_t(f.ReadingsSize()), 0xA5); }

TEST(MathFunction, WorkedValuesInEveryLayout) {
  // clang-format off
  const struct { Shape s; std::vector<int32_t> samples; } rows[] = {
      {{ZMFT_sin, 0, 100, 0.5, 4}, {0, 100, 0, -100}}, {{ZMFT_sin, 0, 100, 0.5, 4, true}, {0, 71, 100, 71}},
      {{ZMFT_triangle, 0, 100, 0.5, 4, true}, {-100, 0, 100, 0}},  // only the sine has a half-period table
      {{ZMFT_rect, 0, 100, 0.5, 4, true}, {100, 100, -100, -100}},
      {{ZMFT_rect, 0, 100, 0.5, 5}, {100, 100, -100, -100, -100}},            // k = 2.5 rounds to 2
      {{ZMFT_rect, 0, 100, 0.5, 7}, {100, 100, 100, 100, -100, -100, -100}},  // 3.5 rounds to 4
      {{ZMFT_rect, 0, 100, 1, 4}, {100, 100, 100, 100}}, {{ZMFT_rect, 0, 100, 0, 4}, {-100, -100, -100, -100}},
      {{ZMFT_triangle, 0, 100, 0.25, 4}, {-100, 100, 33, -33}},
      {{ZMFT_triangle, 0, 100, 0, 4}, {100, 50, 0, -50}}, {{ZMFT_triangle, 0, 100, 1, 4}, {-100, -50, 0, 50}},
      // Only the low bytes of a wide value fit; ties go to even.
      {{ZMFT_rect, 70000, 0, 0.5, 1}, {70000}}, {{ZMFT_rect, 4294967295.0, 0, 0.5, 1}, {-1}},
      {{ZMFT_rect, 2.5, 0, 0.5, 1}, {2}}, {{ZMFT_rect, 3.5, 0, 0.5, 1}, {4}}, {{ZMFT_rect, -2.5, 0, 0.5, 1}, {-2}}};
  // clang-format on
  for (const auto& r : rows)
    for (int l = 0; l < 8; ++l) {  // both widths, byte orders and reading orders
      Shape s = r.s;
      s.width = l & 1 ? ZBPR_4bytes : ZBPR_2bytes, s.lsbFirst = l & 2, s.direct = l & 4;
      TMathFunction f;
      Apply(f, s);
      EXPECT_EQ(Table(f), Encode(r.samples, l & 1 ? 4 : 2, s.lsbFirst, s.direct)) << "row " << &r - rows << " " << l;
    }
  TMathFunction f;  // the byte orders spelled out
  Apply(f, {ZMFT_rect, 0x12345678, 0, 0.5, 1});
  EXPECT_EQ(Table(f), (Bytes{0x78, 0x56, 0x34, 0x12}));
  Apply(f, {ZMFT_rect, -100, 0, 0.5, 1, false, ZBPR_2bytes, false});
  EXPECT_EQ(Table(f), (Bytes{0xFF, 0x9C}));
}

#define CALL(expr) [](TMathFunction& f) { f.expr; }
TEST(MathFunction, RefusedOrUnchangedValuesRecomputeNothing) {
  void (*const calls[])(TMathFunction&) = {
      CALL(Set_CC(1.5)), CALL(Set_CC(-0.1)), CALL(Set_CC(NAN)), CALL(Set_CA(NAN)), CALL(Set_CB(INFINITY)),
      CALL(Set_CA(-INFINITY)), CALL(SetReadingsCount(-1)),
      CALL(SetReadingsCount(TMathFunction::READINGS_COUNT_TOP + 1)), CALL(SetFunctionType(TMathFuncsTypes(3))),
      CALL(SetBytesPerReading(TBytesPerReading(2))),
      // The current values.
      CALL(Set_CA(0)), CALL(Set_CB(100)), CALL(Set_CC(0.5)), CALL(SetReadingsCount(4)),
      CALL(SetFunctionType(ZMFT_triangle)), CALL(SetBytesPerReading(ZBPR_4bytes)), CALL(SetDirectRdsBytes(true)),
      CALL(SetDirectRdsOrder(true)), CALL(SetHalfOfPeriod(false)), CALL(SetAutoUpdate(true)),
      CALL(SetPropsLoaded(true))};
  for (const auto& call : calls) {
    SCOPED_TRACE(&call - calls);
    TMathFunction f;
    Apply(f, {ZMFT_triangle, 0, 100, 0.5, 4});
    Mark(f);
    call(f);
    EXPECT_TRUE(Marked(f));
    f.UpdateReadings();  // nothing was stored either
    EXPECT_EQ(Table(f), Encode({-100, 0, 100, 0}, 4, true, true));
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
  Apply(f, {ZMFT_sin, 0, 100, 0.5, 4});
  f.SetReadingsCount(0);
  EXPECT_TRUE(empty());
  f.SetReadingsCount(3);
  f.DeleteReadingsMemory();  // a size never outlives its buffer
  EXPECT_TRUE(empty());
  f.SetAutoUpdate(false);
  const int top = TMathFunction::READINGS_COUNT_TOP;  // a copy: the member has no address outside the library
  f.SetReadingsCount(top);
  EXPECT_EQ(f.ReadingsCount(), top);
}

}  // namespace
