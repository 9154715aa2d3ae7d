// ADC polling of the tuner on virtual time, and the owner-thread timer queue
// of the system platform.
#include <gmock/gmock.h>

#include <functional>
#include <thread>

#include "SimFixture.h"
#include "zugen4/Timers.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <poll.h>
#endif

namespace ZuTest {
namespace {

using namespace Zu;
using Sim::TFault;
using testing::StrEq;
using testing::ThrowsMessage;
using Periods = std::vector<uint32_t>;

class TunerTest : public SimGenerator {
 protected:
  TZuGen4Tuner* StartPolling(TZuGen4Channel* ch) {
    ch->SetMode(ZGMdC_tuning);
    ch->Tuner()->SetADCTimerEnabled(true);
    Activate();
    return ch->Tuner();
  }
  Periods Running() { return sim.Timers->Periods(); }
};

TEST_F(TunerTest, PollsExactlyWhileIntervalEnabledActiveAndTuningAllHold) {
  TZuGen4Channel* a = gen->ChA();
  TZuGen4Tuner* t = a->Tuner();
  const std::tuple<const char*, std::function<void()>, Periods> steps[] = {
      {"enabled in sine mode", [&] { a->SetMode(ZGMdC_gen), t->SetADCTimerEnabled(true); }, {}},
      {"activated in sine mode", [&] { gen->SetActive(true); }, {}},
      {"tuning without an update cycle", [&] { gen->SetAutoUpdate(false), a->SetMode(ZGMdC_tuning); }, {}},
      {"the update cycle", [&] { gen->SetAutoUpdate(true); }, {500}},
      {"interval 0", [&] { t->SetADCTimerInterval(0); }, {}},
      {"interval 250", [&] { t->SetADCTimerInterval(250); }, {250}},
      {"interval -5 ignored", [&] { t->SetADCTimerInterval(-5); }, {250}},
      {"disabled", [&] { t->SetADCTimerEnabled(false); }, {}},
      {"enabled", [&] { t->SetADCTimerEnabled(true); }, {250}},
      {"deactivated", [&] { gen->SetActive(false); }, {}},
  };
  for (const auto& [step, act, running] : steps) {
    SCOPED_TRACE(step);
    act();
    EXPECT_EQ(Running(), running);
  }
}

// A failed poll keeps the reading and the timer, and tells the error but no reading.
TEST_F(TunerTest, EachTickReadsTheADCThenTellsTheHostAndAFailedOneKeepsTheReading) {
  const std::tuple<TZuGen4ChNames, TZuGen4AFPModes, uint32_t, bool, TFault, const char*> cases[] = {
      {ZGCN_A, ZGAFPms_freq, 305419896, true, TFault{}, "Ошибка при записи команды в FTPort"},
      {ZGCN_A, ZGAFPms_phase, 4660, false, TFault{}, "Ошибка при чтении данных из FTPort"},
      {ZGCN_B, ZGAFPms_ampl, 4660, false, TFault{FT_OK, 3}, "Ошибка при чтении данных из FTPort"}};
  for (const auto& [chName, type, value, failWrite, fault, message] : cases) {
    SCOPED_TRACE(testing::Message() << "channel " << int(chName) << " type " << int(type));
    Make(true);
    TZuGen4Channel* ch = chName == ZGCN_A ? static_cast<TZuGen4Channel*>(gen->ChA()) : gen->ChB();
    ch->Tuner()->SetType(type);
    TZuGen4Tuner* t = StartPolling(ch);
    Driver().SetADCValue(0x12345678);  // received as 18, 52, 86, 120
    std::vector<std::pair<TZuGen4Channel*, uint32_t>> told;
    int errors = 0;
    gen->OnADCTimer = [&](TZuGen4Channel* from) { told.push_back({from, t->ADCValue()}); };
    gen->OnFTError = [&](TObject*) { ++errors; };
    t->SetADCTimerEnabled(false);  // a restart begins a full period anew
    const uint64_t t0 = sim.Clock->Now();
    t->SetADCTimerEnabled(true);
    EXPECT_EQ(sim.Timers->Advance(500), 1);
    const auto& tr = Driver().Trace();
    ASSERT_EQ(tr.size(), 2u);
    EXPECT_EQ(std::tie(tr[0].Kind, tr[0].Bytes, tr[0].Time), std::tuple(Sim::TTraceKind::Frame, Frame{0xFD}, t0 + 500));
    EXPECT_EQ(std::tie(tr[1].Kind, tr[1].Bytes), std::tuple(Sim::TTraceKind::Read, Frame{18, 52, 86, 120}));
    EXPECT_EQ(told, (decltype(told){{ch, value}}));
    EXPECT_TRUE(Driver().Violations().empty());
    Driver().SetADCValue(0);
    failWrite ? Driver().FailWrite(1, fault) : Driver().FailRead(1, fault);
    EXPECT_THAT([&] { sim.Timers->Advance(500); }, ThrowsMessage<Exception>(StrEq(message)));
    EXPECT_EQ(std::tuple(t->ADCValue(), told.size(), errors), std::tuple(value, 1u, 1));
    EXPECT_EQ(sim.Timers->Advance(1000), 2);  // the next ticks read again, every period
    EXPECT_EQ(std::tuple(t->ADCValue(), told.size()), std::tuple(0u, 3u));
  }
}

TEST_F(TunerTest, RefusedTimerRaisesOutOfResourcesAndKeepsTheNewSettings) {
  TZuGen4Tuner* t = gen->ChA()->Tuner();
  gen->ChA()->SetMode(ZGMdC_tuning);
  Activate();
  sim.Timers->Refuse(true);
  const std::function<void()> acts[] = {[&] { t->SetADCTimerEnabled(true); }, [&] { t->SetADCTimerInterval(300); },
                                        [&] { gen->UpdateMode(); }};
  for (const auto& act : acts) {
    EXPECT_THAT(act, ThrowsMessage<EOutOfResources>(StrEq("Невозможно создать таймер!")));
    EXPECT_EQ(Running(), Periods{});
  }
  sim.Timers->Refuse(false);
  gen->UpdateMode();
  EXPECT_EQ(Running(), Periods{300});  // the refused settings were kept
}

TEST_F(TunerTest, DestroyedGeneratorStopsPollingEvenWithATickDueOrFromItsOwnTick) {
  for (const bool fromTheHandler : {false, true}) {
    SCOPED_TRACE(fromTheHandler);
    Make(true);
    StartPolling(gen->ChA());
    gen->OnADCTimer = [&](TZuGen4Channel*) { gen.reset(); };
    if (!fromTheHandler) {
      sim.Clock->Advance(600);  // a tick due, not run
      gen.reset();
    }
    EXPECT_EQ(sim.Timers->Advance(5000), fromTheHandler ? 1 : 0);
    EXPECT_EQ(std::tuple(gen == nullptr, Running(), Driver().IsOpen()), std::tuple(true, Periods{}, false));
  }
}

TEST_F(TunerTest, OverModulationNoticeHoldsPollingOffWhileTheHostDecides) {
  TZuGen4Channel* a = gen->ChA();
  a->Tuner()->SetType(ZGAFPms_ampl);
  a->Tuner()->SetScale(20);  // limit 50 %
  a->Set_sinAmplitude(80);
  StartPolling(a);
  std::vector<Periods> during;
  gen->OnOverModulation = [&](TZuGen4Channel*, double) { during.push_back(Running()); };
  gen->UpdateMode();
  EXPECT_EQ(during, std::vector<Periods>{Periods{}});
  EXPECT_EQ(Running(), Periods{500});
}

// The system queue, on a thread of its own so that nothing else is queued.
TEST(OwnerThreadTimers, DueTimerWakesTheThreadRunsUnnestedAndSurvivesThrows) {
  std::thread([] {
    const std::shared_ptr<TTimerService> timers = SystemPlatform().Timers;
    ASSERT_NE(timers, nullptr);
#if defined(_WIN32)
    // The thread's message queue stands in for the descriptor.
    ASSERT_EQ(MessagesFd(), -1);
    auto readable = [] { return HIWORD(GetQueueStatus(QS_ALLINPUT)) != 0; };
#else
    pollfd p{MessagesFd(), POLLIN, 0};
    ASSERT_GE(p.fd, 0);
    auto readable = [&p] { return poll(&p, 1, 0) == 1; };
#endif
    EXPECT_FALSE(WaitMessages(-1));  // nothing could ever fall due

    // A callback that dispatches messages itself is not entered again.
    int ran = 0, nested = -1;
    const uint32_t id = timers->Start(1, [&] {
      if (++ran > 1) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));  // past its next period
      nested = ProcessMessages();
    });
    ASSERT_TRUE(WaitMessages(10000));
    EXPECT_TRUE(readable());
    EXPECT_EQ(ProcessMessages(), 1);
    EXPECT_EQ(std::tuple(ran, nested), std::tuple(1, 0));
    timers->Stop(id);
    EXPECT_EQ((std::tuple{WaitMessages(0), readable(), ProcessMessages()}), std::tuple(false, false, 0));

    // A throwing callback does not take the queue or other timers with it.
    int thrown = 0, after = 0, once = 0;
    const uint32_t thrower = timers->Start(1, [&] {
      if (thrown++ == 0) throw std::runtime_error("tick");
      ++after;
    });
    const uint32_t self = timers->Start(1, [&] { ++once, timers->Stop(self); });
    ASSERT_TRUE(WaitMessages(10000));
    EXPECT_THROW(ProcessMessages(), std::runtime_error);
    for (int i = 0; i < 50 && (after == 0 || once == 0); ++i) WaitMessages(1000), ProcessMessages();
    timers->Stop(thrower);
    EXPECT_EQ(std::tuple(after > 0, once), std::tuple(true, 1));
    EXPECT_FALSE(WaitMessages(-1));
  }).join();
}

}  // namespace
}  // namespace ZuTest
