// ADC polling of the tuner on virtual time, and the owner-thread timer queue
// of the system platform.
#include <poll.h>

#include <ctime>
#include <functional>
#include <thread>

#include "SimFixture.h"
#include "platform/Timers.h"

namespace ZuTest {
namespace {

using namespace Zu;
using Sim::TFault;
using Sim::TTraceKind;
using Periods = std::vector<uint32_t>;

constexpr const char* kTimerMsg = "Невозможно создать таймер!";

class TunerTest : public SimGenerator {
 protected:
  // ch tuning with polling enabled on an active generator; the trace is clear.
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
  const struct {
    const char* step;
    std::function<void()> act;
    Periods running;
  } steps[] = {
      {"sine mode", [&] { a->SetMode(ZGMdC_gen); }, {}},
      {"enabled in sine mode", [&] { t->SetADCTimerEnabled(true); }, {}},
      {"activated in sine mode", [&] { gen->SetActive(true); }, {}},
      {"no automatic update", [&] { gen->SetAutoUpdate(false); }, {}},
      {"tuning, no update cycle yet", [&] { a->SetMode(ZGMdC_tuning); }, {}},
      {"the update cycle", [&] { gen->SetAutoUpdate(true); }, {500}},
      {"interval 0", [&] { t->SetADCTimerInterval(0); }, {}},
      {"interval 250", [&] { t->SetADCTimerInterval(250); }, {250}},
      {"interval -5 ignored", [&] { t->SetADCTimerInterval(-5); }, {250}},
      {"disabled", [&] { t->SetADCTimerEnabled(false); }, {}},
      {"enabled", [&] { t->SetADCTimerEnabled(true); }, {250}},
      {"back to sine", [&] { a->SetMode(ZGMdC_gen); }, {}},
      {"tuning again", [&] { a->SetMode(ZGMdC_tuning); }, {250}},
      {"deactivated", [&] { gen->SetActive(false); }, {}},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.step);
    s.act();
    EXPECT_EQ(Running(), s.running);
  }
  EXPECT_EQ(t->ADCTimerInterval(), 250);
}

TEST_F(TunerTest, EachTickReadsTheADCThenTellsTheHost) {
  const struct {
    TZuGen4ChNames ch;
    TZuGen4AFPModes type;
    uint32_t value;
  } cases[] = {{ZGCN_A, ZGAFPms_freq, 305419896}, {ZGCN_A, ZGAFPms_phase, 4660}, {ZGCN_B, ZGAFPms_ampl, 4660}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "channel " << int(c.ch) << " type " << int(c.type));
    Make(true);
    TZuGen4Channel* ch = c.ch == ZGCN_A ? static_cast<TZuGen4Channel*>(gen->ChA()) : gen->ChB();
    ch->Tuner()->SetType(c.type);
    TZuGen4Tuner* t = StartPolling(ch);
    Driver().SetADCValue(0x12345678);  // received as 18, 52, 86, 120
    std::vector<std::pair<TZuGen4Channel*, uint32_t>> told;
    gen->OnADCTimer = [&](TZuGen4Channel* from) { told.push_back({from, t->ADCValue()}); };
    // A restart begins a full period anew.
    t->SetADCTimerEnabled(false);
    const uint64_t t0 = sim.Clock->Now();
    t->SetADCTimerEnabled(true);
    EXPECT_EQ(sim.Timers->Advance(499), 0);
    EXPECT_EQ(sim.Timers->Advance(1), 1);
    const auto& tr = Driver().Trace();
    ASSERT_EQ(tr.size(), 2u);
    EXPECT_EQ(std::tie(tr[0].Kind, tr[0].Bytes, tr[0].Time), std::tuple(TTraceKind::Frame, Frame{0xFD}, t0 + 500));
    EXPECT_EQ(std::tie(tr[1].Kind, tr[1].Bytes), std::tuple(TTraceKind::Read, Frame{18, 52, 86, 120}));
    EXPECT_EQ(t->ADCValue(), c.value);
    EXPECT_EQ(told, (std::vector<std::pair<TZuGen4Channel*, uint32_t>>{{ch, c.value}}));
    EXPECT_EQ(sim.Timers->Advance(1000), 2);  // and so on, every period
    EXPECT_TRUE(Driver().Violations().empty());
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
    try {
      act();
      ADD_FAILURE() << "no exception";
    } catch (const EOutOfResources& e) {
      EXPECT_STREQ(e.what(), kTimerMsg);
    }
    EXPECT_EQ(Running(), Periods{});
  }
  EXPECT_TRUE(t->ADCTimerEnabled());
  EXPECT_EQ(t->ADCTimerInterval(), 300);
  sim.Timers->Refuse(false);
  gen->UpdateMode();
  EXPECT_EQ(Running(), Periods{300});
}

TEST_F(TunerTest, DestroyedGeneratorStopsPollingWhenEverItGoes) {
  const struct {
    const char* when;
    uint64_t elapsed;  // before the destruction, no tick run
    bool fromTheHandler;
  } cases[] = {{"between ticks", 100, false}, {"with a tick due", 600, false}, {"from its own tick", 0, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.when);
    Make(true);
    StartPolling(gen->ChA());
    sim.Clock->Advance(c.elapsed);
    if (c.fromTheHandler) {
      gen->OnADCTimer = [&](TZuGen4Channel*) { gen.reset(); };
      EXPECT_EQ(sim.Timers->Advance(500), 1);
      EXPECT_EQ(gen, nullptr);
    } else {
      gen.reset();
    }
    EXPECT_EQ(Running(), Periods{});
    const size_t written = Driver().Trace().size();
    EXPECT_EQ(sim.Timers->Advance(5000), 0);
    EXPECT_EQ(Driver().Trace().size(), written);
    EXPECT_FALSE(Driver().IsOpen());
  }
}

TEST_F(TunerTest, FailedPollKeepsTheReadingAndTheTimerAndTellsNoReading) {
  const struct {
    bool write;
    TFault fault;
    const char* message;
  } cases[] = {{true, TFault{}, "Ошибка при записи команды в FTPort"},
               {false, TFault{}, "Ошибка при чтении данных из FTPort"},
               {false, TFault{FT_OK, 3}, "Ошибка при чтении данных из FTPort"}};
  for (const auto& c : cases) {
    Make(true);
    TZuGen4Tuner* t = StartPolling(gen->ChA());
    int told = 0, errors = 0;
    gen->OnADCTimer = [&](TZuGen4Channel*) { ++told; };
    gen->OnFTError = [&](TObject*) { ++errors; };
    Driver().SetADCValue(7);
    ASSERT_EQ(sim.Timers->Advance(500), 1);
    Driver().SetADCValue(9);
    c.write ? Driver().FailWrite(1, c.fault) : Driver().FailRead(1, c.fault);
    try {
      sim.Timers->Advance(500);
      ADD_FAILURE() << "no exception";
    } catch (const Exception& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    EXPECT_EQ(std::tuple(t->ADCValue(), told, errors), std::tuple(7u, 1, 1));
    EXPECT_EQ(Running(), Periods{500});
    EXPECT_EQ(sim.Timers->Advance(500), 1);  // the next tick reads again
    EXPECT_EQ(std::tuple(t->ADCValue(), told), std::tuple(9u, 2));
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
  EXPECT_TRUE(a->Tuner()->ADCTimerEnabled());
}

// The system queue, on a thread of its own so that nothing else is queued.
TEST(OwnerThreadTimers, DueTimerWakesTheThreadRunsUnnestedAndSurvivesThrows) {
  std::thread([] {
    const std::shared_ptr<TTimerService> timers = SystemPlatform().Timers;
    ASSERT_NE(timers, nullptr);
    const int fd = MessagesFd();
    ASSERT_GE(fd, 0);
    auto readable = [fd] {
      pollfd p{fd, POLLIN, 0};
      return poll(&p, 1, 0) == 1;
    };
    EXPECT_FALSE(WaitMessages(-1));  // nothing could ever fall due

    // A callback that dispatches messages itself is not entered again.
    int ran = 0, nested = -1;
    const uint32_t id = timers->Start(1, [&] {
      if (++ran > 1) return;
      const timespec pause{0, 5000000};  // past its next period
      nanosleep(&pause, nullptr);
      nested = ProcessMessages();
    });
    ASSERT_NE(id, 0u);
    ASSERT_TRUE(WaitMessages(10000));
    EXPECT_TRUE(readable());
    EXPECT_EQ(ProcessMessages(), 1);
    EXPECT_EQ(std::tuple(ran, nested), std::tuple(1, 0));
    timers->Stop(id);
    EXPECT_FALSE(WaitMessages(0));
    EXPECT_FALSE(readable());
    EXPECT_EQ(ProcessMessages(), 0);

    // A throwing callback does not take the queue or other timers with it.
    int thrown = 0, after = 0, once = 0;
    const uint32_t thrower = timers->Start(1, [&] {
      if (thrown++ == 0) throw std::runtime_error("tick");
      ++after;
    });
    uint32_t self = 0;
    self = timers->Start(1, [&] {
      ++once;
      timers->Stop(self);
    });
    ASSERT_TRUE(WaitMessages(10000));
    EXPECT_THROW(ProcessMessages(), std::runtime_error);
    for (int i = 0; i < 50 && (after == 0 || once == 0); ++i) {
      WaitMessages(1000);
      ProcessMessages();
    }
    timers->Stop(thrower);
    EXPECT_GE(after, 1);
    EXPECT_EQ(once, 1);
    EXPECT_FALSE(WaitMessages(-1));
  }).join();
}

}  // namespace
}  // namespace ZuTest
