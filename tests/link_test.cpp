// The USB command link: frame layout and channel-B codes, the wait after each
// command, and how failing or closed links behave.
#include <map>
#include <tuple>
#include <utility>
#include <vector>

#include "SimFixture.h"

namespace {

using namespace Zu;
using Sim::TTraceKind;
using ZuTest::F;
using ZuTest::Frame;

// The instrument's command table: channel-A value of each enumerator and the
// code the same command carries on channel B.
// clang-format off
constexpr struct { TZuGen4Commands cmd; uint8_t a, b; } kCodes[] = {
    {ZGCmd_Control, 0x00, 0x10}, {ZGCmd_Ampl, 0x02, 0x12}, {ZGCmd_Freq, 0x04, 0x14}, {ZGCmd_Phase, 0x05, 0x15},
    {ZGCmd_Freq1, 0x06, 0x16}, {ZGCmd_Ramp0, 0x07, 0x17}, {ZGCmd_Ramp1, 0x08, 0x18}, {ZGCmd_Ramp2, 0x09, 0x19},
    {ZGCmd_Ramp3, 0x0A, 0x1A}, {ZGCmd_IntModTable, 0x20, 0x21}, {ZGCmd_BaseValue, 0x29, 0x2A},
    {ZGCmd_DDSModData, 0x30, 0x31}, {ZGCmd_DDSModSelect, 0x40, 0x50}, {ZGCmd_UpdateSync, 0x7F, 0x7F},
    {ZGCmd_Update, 0x80, 0x80}, {ZGCmd_TuneFreq, 0x81, 0xE1}, {ZGCmd_TuneAmpl, 0x82, 0xE2},
    {ZGCmd_LFMRun, 0x83, 0x83}, {ZGCmd_TunePhase, 0x84, 0xE4}, {ZGCmd_LFMRiseTime, 0x85, 0x85},
    {ZGCmd_LFMFallTime, 0x86, 0x86}, {ZGCmd_IntModStart, 0x87, 0x89}, {ZGCmd_IntModStop, 0x88, 0x8A},
    {ZGCmd_ExtModStart, 0x8B, 0x8D}, {ZGCmd_ExtModDouble, 0x8F, 0x8F}, {ZGCmd_ExtModStartA12, 0x91, 0x91},
    {ZGCmd_IntModPrepare, 0x97, 0x99}, {ZGCmd_IntModDoubleStart, 0x9A, 0x9A}, {ZGCmd_IntModDoubleStop, 0x9B, 0x9B},
    {ZGCmd_IntModDuplexStart, 0xB0, 0xB0}, {ZGCmd_ExtModDuplexStart, 0xB2, 0xB2}, {ZGCmd_ExtFreqScale, 0xE5, 0xE5},
    {ZGCmd_DDSModExtTimes, 0xE6, 0xE6}, {ZGCmd_Reset, 0xF0, 0xF0}, {ZGCmd_OutputOn, 0xF1, 0xF9},
    {ZGCmd_OutputOff, 0xF2, 0xFA}, {ZGCmd_ReadADC, 0xFD, 0xFD}};
// clang-format on

using Link = ZuTest::SimGenerator;

TEST_F(Link, EveryCodeGoesOutTranslatedOnlyForChannelBInSixBytesButTheADCRead) {
  Activate();
  std::map<int, int> translated;
  for (const auto& r : kCodes) {
    SCOPED_TRACE(testing::Message() << "code 0x" << std::hex << int{r.a});
    EXPECT_EQ(r.cmd, r.a);
    if (r.a != r.b) translated[r.a] = r.b;
    if (r.cmd == ZGCmd_ReadADC) continue;  // below
    Driver().ClearTrace();
    EXPECT_TRUE(gen->WriteCmdFTPort(TZuGen4Cmd(ZGCN_A, r.cmd)));
    EXPECT_TRUE(gen->WriteCmdFTPort(TZuGen4Cmd(ZGCN_B, r.cmd)));
    EXPECT_EQ(Frames(), (std::vector<Frame>{F(r.a), F(r.b)}));
  }
  // The ADC read is one byte, answered by a 4-byte read.
  Driver().SetADCValue(0x12345678);
  Driver().ClearTrace();
  gen->ChA()->Tuner()->GetADCValue();
  std::vector<std::pair<TTraceKind, Frame>> trace;
  for (const auto& e : Driver().Trace()) trace.emplace_back(e.Kind, e.Bytes);
  EXPECT_EQ(trace, (decltype(trace){{TTraceKind::Frame, {0xFD}}, {TTraceKind::Read, {0x12, 0x34, 0x56, 0x78}}}));
  EXPECT_EQ(gen->ChA()->Tuner()->ADCValue(), 0x12345678u);
  EXPECT_TRUE(Driver().Violations().empty());
  // Codes outside the table pass unchanged on both channels.
  for (int code = 0; code < 256; ++code) {
    const auto c = static_cast<uint8_t>(code);
    EXPECT_EQ(TranslateCommand(ZGCN_A, c), c);
    EXPECT_EQ(TranslateCommand(ZGCN_B, c), translated.count(code) ? translated[code] : code) << code;
  }
  // Arguments keep their places; multi-byte values go most significant first.
  EXPECT_EQ(TZuGen4Cmd(ZGCN_B, ZGCmd_Ramp0, 1, 2, 3, 4, 5).Bytes, (std::array<uint8_t, 6>{0x17, 1, 2, 3, 4, 5}));
  EXPECT_EQ(TZuGen4Cmd::With32(ZGCN_A, ZGCmd_Freq, 0x00A3D70A).Bytes,
            (std::array<uint8_t, 6>{4, 0, 0xA3, 0xD7, 0x0A, 0}));
  EXPECT_EQ(TZuGen4Cmd::With16(ZGCN_B, ZGCmd_Ampl, 0x3FFF).Bytes, (std::array<uint8_t, 6>{0x12, 0x3F, 0xFF, 0, 0, 0}));
}

// A failed command, data block or read is reported, then thrown; the link
// stays open and the next command is tried as usual.
TEST_F(Link, FailureReportsThenThrowsAndKeepsTheLinkOpen) {
  enum Op { Cmd, Data, Read };
  const char* const messages[] = {"Ошибка при записи команды в FTPort", "Ошибка при записи данных в FTPort",
                                  "Ошибка при чтении данных из FTPort"};
  // Status keeps the driver's low byte; success is judged on all of it.
  const std::tuple<Op, Sim::TFault, uint8_t> cases[] = {
      {Cmd, {FT_IO_ERROR, {}}, 4},  {Cmd, {FT_OK, 3u}, 0},  {Cmd, {0x1104, {}}, 4},       {Cmd, {0x100, {}}, 0},
      {Data, {FT_IO_ERROR, {}}, 4}, {Data, {FT_OK, 2u}, 0}, {Read, {FT_IO_ERROR, {}}, 4}, {Read, {FT_OK, 3u}, 0}};
  for (const auto& [op, fault, status] : cases) {
    SCOPED_TRACE(testing::Message() << "op " << op << " status " << fault.Status << " short " << bool(fault.Count));
    Make(true);
    int errors = 0;
    gen->OnFTError = [&](TObject* s) { errors += s == gen.get(); };
    Activate();
    unsigned char buf[4] = {1, 2, 3, 4};
    if (op == Data) gen->WriteCmdFTPort(TZuGen4Cmd(ZGCN_A, ZGCmd_DDSModData, 0, 4));
    if (op == Read) gen->WriteCmdFTPort(TZuGen4Cmd(ZGCN_A, ZGCmd_ReadADC, 0, 0, 0, 0, 0, 1));
    op == Read ? Driver().FailRead(1, fault) : Driver().FailWrite(1, fault);
    try {
      if (op == Cmd) gen->WriteCmdFTPort(TZuGen4Cmd(ZGCN_A, ZGCmd_Reset));
      if (op == Data) gen->WriteBytesToFTPort(buf, 4);
      if (op == Read) gen->ReadBytesFromFTPort(buf, 4);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), messages[op]);
      EXPECT_EQ(errors, 1);  // the event came first
    }
    EXPECT_EQ(std::tuple(gen->Active(), gen->Status()), std::tuple(true, status));
    EXPECT_TRUE(gen->WriteCmdFTPort(TZuGen4Cmd(ZGCN_A, ZGCmd_Reset)));
    // A command after a lost block is a command again, not taken for the block.
    EXPECT_EQ(std::tie(Driver().Trace().back().Kind, Driver().Trace().back().Bytes),
              std::tuple(Sim::TTraceKind::Frame, F(0xF0)));
    EXPECT_TRUE(Driver().Violations().empty());
    EXPECT_EQ(std::tuple(gen->Status(), errors), std::tuple(FT_OK, 1));
    gen->OnFTError = nullptr;
  }
}

TEST_F(Link, ClosedLinkIsASilentNoOp) {
  Activate();
  gen->SetActive(false);
  Driver().ClearTrace();
  int events = 0;
  gen->OnFTError = gen->OnGenResponseWait = [&](TObject*) { ++events; };
  const uint64_t t0 = sim.Clock->Now();
  unsigned char buf[4] = {};
  EXPECT_FALSE(gen->WriteCmdFTPort(TZuGen4Cmd(ZGCN_A, ZGCmd_Reset)));
  EXPECT_FALSE(gen->WriteBytesToFTPort(buf, 4));
  EXPECT_EQ(gen->ReadBytesFromFTPort(buf, 4), 0u);
  EXPECT_EQ(std::tuple(Driver().Trace().size(), events, sim.Clock->Now()), std::tuple(0u, 0, t0));  // no wait either
}

class CountingClock final : public TClock {
 public:
  explicit CountingClock(std::shared_ptr<Sim::TVirtualClock> inner) : FInner(std::move(inner)) {}
  uint32_t GetTickCount() override { return ++Ticks, FInner->GetTickCount(); }
  void Sleep(uint32_t ms) override { ++Sleeps, FInner->Sleep(ms); }
  int Ticks = 0, Sleeps = 0;

 private:
  std::shared_ptr<Sim::TVirtualClock> FInner;
};

TEST_F(Link, WaitsAtLeastTwentyMsAfterEachCommand) {
  for (bool handler : {true, false}) {
    for (bool wrap : {false, true}) {  // the 32-bit tick count wraps during the wait
      SCOPED_TRACE(testing::Message() << "handler " << handler << " wrap " << wrap);
      Make(true);
      Driver().ClearTrace();
      auto clock = std::make_shared<CountingClock>(sim.Clock);
      gen->SetPlatform(TPlatform{sim.Driver, clock, nullptr});
      int calls = 0;
      if (handler)
        gen->OnGenResponseWait = [&](TObject* s) {
          EXPECT_EQ(s, gen.get());
          EXPECT_EQ(Frames().size(), 1u);  // the wait follows the write
          ++calls;
        };
      Activate();
      if (wrap) sim.Clock->Advance(0xFFFFFFF8u - sim.Clock->Now() % 0x100000000u);
      clock->Ticks = clock->Sleeps = 0;
      const uint64_t t0 = sim.Clock->Now();
      EXPECT_TRUE(gen->WriteCmdFTPort(TZuGen4Cmd(ZGCN_A, ZGCmd_Reset)));
      EXPECT_GE(sim.Clock->Now() - t0, 20u);
      EXPECT_LT(sim.Clock->Now() - t0, 100u);
      EXPECT_EQ(std::pair(calls > 0, clock->Sleeps > 0), std::pair(handler, !handler));  // or sleeps, not spins
      EXPECT_TRUE(handler || clock->Ticks < 10) << clock->Ticks;
      gen->OnGenResponseWait = nullptr;
    }
  }
}

}  // namespace

namespace {

// The command table's names and argument layouts, seen through the
// simulator's one-line description of a frame (lines written out).
TEST(CommandTable, FramesDescribeThemselvesByNameChannelAndArguments) {
  using Zu::Sim::DescribeFrame;
  const std::pair<ZuTest::Frame, const char*> cases[] = {
      {{0x04, 0x01, 0x47, 0xAE, 0x14, 0x00}, "A freq 21474836 (2000.000 kHz)"},
      {{0x12, 0x3F, 0xFF, 0, 0, 0}, "B ampl 16383 (100.00 %)"},
      {{0x15, 0x20, 0x00, 0, 0, 0}, "B phase 8192 (180.00 deg)"},
      {{0xE1, 0x0A, 0, 0, 0, 0}, "B tune freq 10"},
      {{0xE5, 0x10, 0, 0, 0, 0}, "ext freq scale 16"},
      {{0x21, 0x10, 0x00, 0x20, 0x00, 0}, "B intmod table 10 00 20 00 00"},
      {{0x7F, 0, 0, 0, 0, 0}, "update sync"},
      {{0xFD}, "read adc"},
      {{0x03, 1, 2, 3, 4, 5}, "unknown code 03 01 02 03 04 05"},
  };
  for (const auto& [frame, line] : cases) EXPECT_EQ(DescribeFrame(frame), line);
}

}  // namespace
