// Plan, then send: what a plan says is what the update sends; a setup no
// engine can send is refused before its first frame; a failure inside an
// exchange never leaves the instrument misreading the next one.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "SimFixture.h"
#include "platform/ZuFileStream.h"
#include "zugen4/ZuRecording.h"
#include "zugen4/ZuRegistry.h"

namespace {

using ZuTest::Frame;
using ZuTest::SimGenerator;
using namespace Zu;

class Plan : public SimGenerator {
 protected:
  std::vector<uint8_t> Record() {
    TZuGen4FileStream s;
    s.OpenMemoryForWriting();
    gen->WriteDataToFile(s);
    return s.MemoryBytes();
  }
  // Every write the driver got since the last ClearTrace, frames and blocks.
  std::vector<std::vector<uint8_t>> Writes() {
    std::vector<std::vector<uint8_t>> w;
    for (const auto& e : Driver().Trace())
      if (e.Kind == Sim::TTraceKind::Frame || e.Kind == Sim::TTraceKind::Block) w.push_back(e.Bytes);
    return w;
  }
  static std::vector<std::vector<uint8_t>> Steps(const TZuGen4Plan& plan) {
    std::vector<std::vector<uint8_t>> w;
    for (const auto& step : plan.Steps) w.push_back(step.Bytes);
    return w;
  }
  // Channel A at Fm 1 Hz, channel B then entering internal modulation: two
  // tables in half the memory each need a divider above 65536.
  void DoubleAtOneHertz() {
    gen->ChA()->SetMode(ZGMdC_IntModulation);
    gen->ChA()->IntModulation()->SetFm(1);
    Driver().ClearTrace();
  }
};

TEST_F(Plan, ASetupNoEngineCanSendIsRefusedBeforeItsFirstFrame) {
  Activate();
  DoubleAtOneHertz();
  const std::vector<uint8_t> before = Record();
  // Every face's road: refused whole, naming channel, engine, value and why.
  try {
    SetProps(*gen, {{"ChB.Mode", "IntModulation"}});
    FAIL() << "not refused";
  } catch (const EUnsendableSetup& e) {
    EXPECT_EQ(e.Path(), "ChA.IntModulation.Fm");
    EXPECT_EQ(e.Value(), "1");
    EXPECT_THAT(e.what(), testing::HasSubstr("double internal modulation"));
    EXPECT_THAT(e.what(), testing::HasSubstr("set Fm to 2 Hz or more"));
  }
  EXPECT_THROW(SetPropText(*gen, "ChB.Mode", "IntModulation"), ERefusedValue);
  EXPECT_EQ(Record(), before);
  EXPECT_TRUE(Writes().empty());
  // The component's own setter stores the value and raises its exception,
  // still before anything goes out.
  EXPECT_THROW(gen->ChB()->SetMode(ZGMdC_IntModulation), Exception);
  EXPECT_EQ(gen->ChB()->Mode(), ZGMdC_IntModulation);
  EXPECT_TRUE(Writes().empty());
  EXPECT_THROW(gen->PlanUpdate(), EUnsendableSetup);
}

TEST_F(Plan, ThePlanIsWhatTheUpdateSendsForRandomSetups) {
  std::mt19937 rng(15);
  Activate();
  int refused = 0, compared = 0;
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    TZuGen4 walker;
    ZuTest::RandomWalk(walker, rng, 40);
    std::vector<std::pair<std::string, std::string>> setup;
    for (const TPropInfo& p : ListProperties(walker))
      if (p.Stored && !p.ReadOnly) setup.emplace_back(p.Path, GetPropText(walker, p.Path));
    // Onto the generator with updates held, then planned and sent.
    SetWholeSetup(*gen, setup, false);
    Driver().ClearTrace();
    TZuGen4Plan plan;
    try {
      plan = gen->PlanUpdate();
    } catch (const EUnsendableSetup&) {
      ++refused;
      EXPECT_ANY_THROW(gen->UpdateMode());
      EXPECT_TRUE(Writes().empty());
      continue;
    }
    gen->UpdateMode();
    EXPECT_EQ(Writes(), Steps(plan));
    EXPECT_EQ(plan.DurationMs(), 20.0 * static_cast<double>(Frames().size()));
    ++compared;
  }
  EXPECT_GT(compared, 40);
  ExpectCleanSession();
}

TEST_F(Plan, PlanningChangesNothingAndDescribesStepsAndTables) {
  gen->ChA()->SetMode(ZGMdC_IntModulation);
  gen->ChA()->IntModulation()->SetType(ZGAFPms_ampl);
  const std::vector<uint8_t> before = Record();
  const TZuGen4Plan plan = gen->PlanUpdate();  // inactive: still planned
  EXPECT_EQ(Record(), before);
  ASSERT_FALSE(plan.Steps.empty());
  EXPECT_EQ(plan.Steps.front().Text, "reset");
  ASSERT_EQ(plan.Tables.size(), 1u);
  const TZuGen4PlanTable& t = plan.Tables.front();
  EXPECT_EQ(t.Path, "ChA.IntModulation");
  EXPECT_EQ(t.Quantity, "amplitude");
  EXPECT_EQ(t.Unit, "%");
  EXPECT_EQ(t.Codes.size(), t.Values.size());
  EXPECT_GT(t.StepSeconds, 0.0);
  // The table asked of an engine the channel is not in agrees with the plan.
  gen->ChA()->SetMode(ZGMdC_off);
  const TZuGen4PlanTable again = gen->PlanTable("ChA.IntModulation");
  EXPECT_EQ(again.Codes, t.Codes);
  EXPECT_EQ(again.Divider, t.Divider);
  EXPECT_THROW(gen->PlanTable("ChA.DDSMod"), ENoTable);  // keying loads states
  EXPECT_THROW(gen->PlanTable("ChA.LFM"), ENoTable);
  EXPECT_THROW(gen->PlanTable("ChC.IntModulation"), EUnknownProperty);
  EXPECT_THAT(plan.Text(), testing::HasSubstr(" ms\n"));
}

// Every engine and table mode: the table asked for is the one the update
// downloads (the tool, the panel, Python and zg_table all ask PlanTable).
TEST_F(Plan, TheTableAskedForIsTheOneTheUpdateDownloads) {
  const struct {
    const char* Engine;
    TZuGen4ModesCommon Mode;
    std::vector<std::pair<std::string, std::string>> Setup;
  } cases[] = {
      {"IntModulation", ZGMdC_IntModulation, {{"ChB.IntModulation.Type", "freq"}}},
      {"IntModulation", ZGMdC_IntModulation, {{"ChB.IntModulation.Type", "ampl"}}},
      {"IntModulation", ZGMdC_IntModulation, {{"ChB.IntModulation.Type", "phase"}}},
      {"DDSMod", ZGMdC_DDSMod, {{"ChB.DDSMod.Mode", "ZGTMs_User"}, {"ChB.DDSMod.Type", "freq"}}},
      {"DDSMod", ZGMdC_DDSMod, {{"ChB.DDSMod.Mode", "ZGTMs_User"}, {"ChB.DDSMod.Type", "phase"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Setup.back().second);
    Make(true);
    SetProps(*gen, c.Setup, false);
    const std::string path = std::string("ChB.") + c.Engine;
    const TZuGen4PlanTable asked = gen->PlanTable(path);
    gen->ChB()->SetMode(c.Mode);
    const TZuGen4Plan plan = gen->PlanUpdate();
    const TZuGen4PlanTable* sent = plan.TableOf(path);
    ASSERT_NE(sent, nullptr);
    EXPECT_EQ(asked.Codes, sent->Codes);
    EXPECT_EQ(asked.Values, sent->Values);
    EXPECT_EQ(asked.Divider, sent->Divider);
    EXPECT_GT(asked.Codes.size(), 1u);
  }
}

// A write cut short anywhere in an update: after the failure, the next update
// reads as frames again (an announced block is completed first).
TEST_F(Plan, AShortWriteAnywhereLeavesNoLaterUpdateMisread) {
  gen->ChA()->SetMode(ZGMdC_IntModulation);
  gen->ChB()->SetMode(ZGMdC_DDSMod);
  gen->ChB()->DDSMod()->SetMode(ZGTMs_User);
  Activate();
  const size_t writes = gen->PlanUpdate().Steps.size();
  for (unsigned k = 1; k <= writes; ++k) {
    SCOPED_TRACE(k);
    Driver().ClearTrace();
    Driver().FailWrite(k, {FT_OK, 1});
    EXPECT_THROW(gen->UpdateMode(), Exception);
    Driver().ClearFaults();
    const size_t violations = Driver().Violations().size();
    gen->UpdateMode();
    EXPECT_EQ(Driver().Violations().size(), violations) << Driver().Violations().back();
    EXPECT_EQ(gen->Link().Owed(), 0u);
  }
}

TEST_F(Plan, RefusedAndConflictingRequestsSendNothing) {
  Activate();
  gen->ChA()->SetMode(ZGMdC_IntModulation);
  Driver().ClearTrace();
  const std::vector<uint8_t> before = Record();
  const struct {
    std::vector<std::pair<std::string, std::string>> Request;
    const char* Said;
  } cases[] = {
      // A refused shape parameter: its setter still asks for an update.
      {{{"ChA.IntModulation.CC", "2"}}, "range 0 to 1"},
      // Two modes the rules cannot both keep.
      {{{"ChA.Mode", "tuning"}, {"ChB.Mode", "tuning"}}, "ChB.Mode = ZGMdC_tuning in the same request"},
      {{{"ChA.Phase", "10"}, {"ChA.Phase", "20"}}, "twice"},
      // A sweep whose times were never set.
      {{{"ChA.Mode", "LFM"}}, "outside its range"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Said);
    try {
      SetProps(*gen, c.Request);
      ADD_FAILURE() << "not refused";
    } catch (const ERefusedValue& e) {
      EXPECT_THAT(e.what(), testing::HasSubstr(c.Said));
    }
    EXPECT_EQ(Record(), before);
    EXPECT_TRUE(Writes().empty());
  }
  EXPECT_THROW(SetPropDouble(*gen, "ChA.IntModulation.CC", -1), ERefusedValue);
  EXPECT_TRUE(Writes().empty());
  // Forced, the sweep goes out as it is.
  SetProps(*gen, {{"ChA.Mode", "LFM"}}, TSetOptions{.Force = true});
  EXPECT_EQ(gen->ChA()->Mode(), ZGMdC_LFM);
  EXPECT_FALSE(Writes().empty());
}

TEST_F(Plan, ARecordThatCannotBeSentIsFoundBeforeSending) {
  gen->ChB()->SetMode(static_cast<TZuGen4ModesCommon>(102));  // as a damaged file stores it
  EXPECT_THROW(CheckSendable(*gen), EUnsendableSetup);
  gen->ChB()->SetMode(ZGMdC_off);
  CheckSendable(*gen);
}

TEST_F(Plan, APreviewIsWhatTheChangeThenSends) {
  Activate();
  const std::vector<std::pair<std::string, std::string>> change = {{"ChB.Mode", "IntModulation"},
                                                                   {"ChB.IntModulation.Fm", "5000"}};
  const std::vector<uint8_t> before = Record();
  const TZuGen4Plan preview = PreviewProps(*gen, change);
  EXPECT_EQ(Record(), before);
  EXPECT_TRUE(Writes().empty());
  SetProps(*gen, change);
  EXPECT_EQ(Writes(), Steps(preview));
  EXPECT_THROW(PreviewProps(*gen, {{"ChA.Mode", "LFM"}}), EConflictingValues);
}

TEST_F(Plan, ARecordingReplaysToTheLiveState) {
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "zugen_plan_test.rec";
  std::filesystem::remove(file);
  std::mt19937 rng(7);
  Activate();
  {
    TZuGen4Recorder recorder(*gen, file.string());
    for (int i = 0; i < 30; ++i) ZuTest::RandomWalk(*gen, rng, 5);
    // One that fails on the wire is recorded with its failed step.
    Driver().FailWrite(3, {FT_IO_ERROR, std::nullopt});
    EXPECT_THROW(gen->UpdateMode(), Exception);
    gen->UpdateMode();
    EXPECT_GT(recorder.Plans(), 10u);
  }
  std::vector<TRecordedPlan> plans;
  {
    std::ifstream in(file);  // closed before the file is removed (Windows)
    plans = ReadRecording(in, file.string());
  }
  EXPECT_EQ(std::count_if(plans.begin(), plans.end(), [](const TRecordedPlan& r) { return !r.Sent; }), 1);
  const TReplayResult replay = ReplayOnSimulator(plans);
  EXPECT_EQ(replay.State, Driver().Model().StateText());
  EXPECT_TRUE(replay.Violations.empty()) << replay.Violations.front();
  // A cut or odd recording names its line.
  for (const char* text : {"plan T sent\nC F0 00\nend\n", "plan T sent\nC F0 00 00 00 00 00\n", "hello\n",
                           "plan T failed at 9: x\nC F0 00 00 00 00 00\nend\n", "plan T sent\nB zz\nend\n"}) {
    std::istringstream odd(text);
    EXPECT_THROW(ReadRecording(odd, "odd.rec"), EBadValue) << text;
  }
  std::error_code ec;
  std::filesystem::remove(file, ec);
}

}  // namespace
