// Text forms: every stored property survives the round trip, each kind of
// error names its line and changes nothing, and every example form runs on the
// simulated instrument without a protocol violation.
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "SimFixture.h"
#include "platform/ZuFileStream.h"
#include "zugen4/ZuRegistry.h"
#include "zugen4/ZuTextForm.h"

namespace {

using ZuTest::Candidates;
using ZuTest::SimGenerator;

std::vector<uint8_t> Record(Zu::TZuGen4& gen) {
  Zu::TZuGen4FileStream s;
  s.OpenMemoryForWriting();
  gen.WriteDataToFile(s);
  return s.MemoryBytes();
}

TEST_F(SimGenerator, TextFormRoundTripsEveryStoredProperty) {
  Make(false);
  int stored = 0, changed = 0;
  for (const Zu::TPropInfo& p : Zu::ListProperties(*gen)) {
    if (!p.Stored || p.ReadOnly) continue;
    ++stored;
    for (const std::string& v : Candidates(p, Zu::GetPropDouble(*gen, p.Path))) {
      try {
        Zu::SetPropText(*gen, p.Path, v);
        ++changed;
        break;
      } catch (const Zu::Exception&) {
        // Some values depend on others (the sweep's top, the reference); the next candidate.
      }
    }
  }
  EXPECT_GE(changed, stored - 2) << "too few properties moved away from their defaults to prove anything";

  const std::string form = Zu::WriteTextForm(*gen, "Bench");
  EXPECT_EQ(form.rfind("object Bench: TZuGen4\n", 0), 0u);
  Zu::TZuGen4 copy;
  copy.SetPlatform(sim.Platform());
  Zu::ReadTextForm(copy, form);
  EXPECT_EQ(Zu::WriteTextForm(copy, "Bench"), form);
  EXPECT_EQ(Record(copy), Record(*gen));  // every stored field, doubles bit for bit
}

// Setups reached by random walks through the setters: the form of one, read
// into a generator that walked elsewhere, gives the same setup.
TEST(TextForm, AFormReadsTheSameOntoAnySetup) {
  std::mt19937 rng(20261207);
  auto walk = [&rng](Zu::TZuGen4& gen) { ZuTest::RandomWalk(gen, rng, 80); };
  for (int round = 0; round < 40; ++round) {
    Zu::TZuGen4 from, onto;
    walk(from);
    walk(onto);
    const std::string form = Zu::WriteTextForm(from);
    Zu::ReadTextForm(onto, form);
    ASSERT_EQ(Zu::WriteTextForm(onto), form) << "round " << round;
  }
}

struct TFormError {
  const char* Name;
  const char* Body;  // between the header and `end`, or the whole text when it starts with '!'
  int Line;
  const char* Reason;
};

const TFormError kFormErrors[] = {
    {"NoHeader", "!ChA.Frequency = 2000\nend\n", 1, "expected `object NAME: TZuGen4`"},
    {"OtherClass", "!object X: TForm\nend\n", 1, "not TZuGen4"},
    {"Empty", "!\n\n", 1, "empty"},
    {"NoEquals", "ChA.Frequency 2000\n", 3, "expected `Path = value`"},
    {"UnknownProperty", "ChA.Frequncy = 2000\n", 3, "ChA.Frequncy"},
    {"MalformedNumber", "ChA.Frequency = 2k\n", 3, "ChA.Frequency"},
    {"UnknownEnumerator", "ChA.Mode = Warp\n", 3, "Warp"},
    {"NoValue", "ChA.Phase =\n", 3, "no value"},
    {"Refused", "ChB.Frequency = 250000\n", 3, "range 400 to 200000 kHz"},
    {"Twice", "ChB.Phase = 10\nChB.Phase = 20\n", 4, "first on line 3"},
    {"NoEnd", "!object X: TZuGen4\n  ChA.Phase = 10\n", 2, "without `end`"},
    {"AfterEnd", "!object X: TZuGen4\nend\nChA.Phase = 10\n", 3, "after `end`"},
};

class TextFormErrors : public SimGenerator, public ::testing::WithParamInterface<TFormError> {};

TEST_P(TextFormErrors, NameTheLineAndApplyNothing) {
  const TFormError& e = GetParam();
  Activate();
  gen->ChA()->SetMode(Zu::ZGMdC_gen);
  Driver().ClearTrace();
  // Valid lines before the bad one would be applied by a reader that does not
  // check first.
  const std::string text = e.Body[0] == '!' ? std::string(e.Body + 1)
                                            : std::string("object X: TZuGen4\n  ChA.Frequency = 3000\n") + e.Body +
                                                  "  ChA.Mode = ZGMdC_tuning\nend\n";
  const std::string before = Zu::WriteTextForm(*gen);
  try {
    Zu::ReadTextForm(*gen, text);
    FAIL() << "accepted:\n" << text;
  } catch (const Zu::ETextFormError& err) {
    EXPECT_EQ(err.Line(), e.Line);
    EXPECT_NE(err.Reason().find(e.Reason), std::string::npos) << err.what();
    EXPECT_EQ(std::string(err.what()).rfind("line " + std::to_string(e.Line) + ": ", 0), 0u) << err.what();
  }
  EXPECT_EQ(Zu::WriteTextForm(*gen), before);
  EXPECT_TRUE(Frames().empty());
  EXPECT_TRUE(gen->ComponentState().Contains(Zu::csLoading));
}

INSTANTIATE_TEST_SUITE_P(Each, TextFormErrors, ::testing::ValuesIn(kFormErrors),
                         [](const auto& info) { return std::string(info.param.Name); });

// Read as a form is: one update for the whole form.
TEST_F(SimGenerator, TextFormUpdatesOnce) {
  Activate();
  Zu::ReadTextForm(*gen,
                   "object X: TZuGen4\n  ChA.Mode = gen\n  ChA.Frequency = 2000\n  ChB.Mode = ZGMdC_gen\n"
                   "  # a comment\n  ChB.Phase = 90\nend\n");
  int resets = 0;
  for (const auto& f : Frames()) resets += f[0] == 0xF0;
  EXPECT_EQ(resets, 1);
  EXPECT_EQ(gen->ChB()->Phase(), 90.0);
  // A whole form read with no update after it: the channel's output stays
  // known as open, as the instrument has it.
  gen->SetAutoUpdate(false);
  Zu::ReadTextForm(*gen, Zu::WriteTextForm(*gen));
  EXPECT_TRUE(gen->ChA()->Opened());
}

// Every example form, read into a generator on the simulated instrument:
// the update keeps to the protocol, and the channels end in the mode the
// form's file name promises. Read one after the other into one generator,
// each gives the same setup as on a fresh one (a form is a whole setup).
TEST_F(SimGenerator, ExampleFormsRunCleanly) {
  int forms = 0;
  Zu::TZuGen4 carried;
  for (const auto& entry : std::filesystem::directory_iterator(ZUGEN_EXAMPLE_FORMS)) {
    if (entry.path().extension() != ".form") continue;
    ++forms;
    SCOPED_TRACE(entry.path().filename().string());
    Make(true);
    sim = Zu::Sim::TSimPlatform();
    gen->SetPlatform(sim.Platform());
    Activate();
    std::ifstream in(entry.path());
    std::stringstream text;
    text << in.rdbuf();
    Zu::ReadTextForm(*gen, text.str());
    ExpectCleanSession();
    Zu::ReadTextForm(carried, text.str());
    EXPECT_EQ(Zu::WriteTextForm(carried), Zu::WriteTextForm(*gen));
    const std::string state = Driver().Model().StateText();
    const std::string name = entry.path().stem().string();
    const char* expect = name.rfind("intmod", 0) == 0   ? "internal modulation"
                         : name.rfind("extmod", 0) == 0 ? "external modulation"
                         : name.rfind("keying", 0) == 0 ? "keying"
                         : name == "user-table"         ? "keying (user table)"
                         : name == "sweep"              ? "sweep"
                         : name == "tuning"             ? "tuning"
                                                        : "sine";
    EXPECT_NE(state.find(expect), std::string::npos) << state;
  }
  EXPECT_GE(forms, 15);
}

}  // namespace
