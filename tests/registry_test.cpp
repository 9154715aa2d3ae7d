// The published-property registry: every path read, written back and
// round-tripped as text; refusals with their range that leave the setup as it
// was; SetProps as one update, all or nothing; the text forms of values.
#include <cmath>
#include <map>
#include <set>

#include "SimFixture.h"
#include "platform/ZuFileStream.h"
#include "zugen4/ZuRegistry.h"

namespace {

using namespace Zu;
using Bytes = std::vector<uint8_t>;

class Registry : public ZuTest::SimGenerator {
 protected:
  // The settings record as the file would hold it.
  Bytes Record() {
    TZuGen4FileStream s;
    s.OpenMemoryForWriting();
    gen->WriteDataToFile(s);
    return s.MemoryBytes();
  }
  size_t Resets() {
    size_t n = 0;
    for (const auto& f : Frames()) n += f[0] == ZGCmd_Reset;
    return n;
  }
  // A setup away from the defaults, both channels busy.
  void Busy() {
    SetProps(*gen,
             {{"UseExtRefFreq", "true"},
              {"FreqScale", "12"},
              {"RefFreq", "24.5"},
              {"ChA.Mode", "LFM"},
              {"ChA.Frequency", "1234.5"},
              {"ChA.LFM.FreqTop", "5000"},
              {"ChB.Mode", "DDSMod"},
              {"ChB.DDSMod.CC", "0.3"},
              {"ChB.IntModulation.MathFuncType", "triangle"},
              {"Options.EnableDuplexIntMod", "true"}},
             {.Update = false, .Force = true});  // a sweep with its times never set
  }
};

TEST_F(Registry, EveryPathReadsWritesBackAndRoundTripsItsText) {
  Busy();
  Activate();
  const std::vector<TPropInfo> all = ListProperties(*gen);
  std::set<std::string> paths;
  for (const TPropInfo& info : all) {
    SCOPED_TRACE(info.Path);
    EXPECT_TRUE(paths.insert(info.Path).second) << "listed twice";
    EXPECT_EQ(DescribeProperty(*gen, info.Path).Path, info.Path);
    EXPECT_FALSE(info.Description.empty());
    const double value = GetPropDouble(*gen, info.Path);
    const std::string text = GetPropText(*gen, info.Path);
    EXPECT_EQ(ParsePropText(info, text), value) << text;
    if (info.Kind == TPropKind::Enum) {
      EXPECT_FALSE(info.Enumerators.empty());
    }
    if (info.ReadOnly) {
      EXPECT_THROW(SetPropText(*gen, info.Path, text), EBadValue);
    } else {
      SetPropText(*gen, info.Path, text);
      SetPropDouble(*gen, info.Path, value);
    }
    EXPECT_EQ(GetPropText(*gen, info.Path), text);
  }
  EXPECT_TRUE(Frames().empty()) << Sim::DescribeFrame(Frames().front());
  for (const char* p : {"UseExtRefFreq", "FreqScale", "RefFreq", "ChA.Mode", "ChA.Frequency", "ChB.IntModulation.Fm",
                        "ChA.DDSMod.MathFuncType", "Options.EnableDuplexIntMod", "ChB.Tuner.ADCTimerInterval",
                        "ChA.ExtModulation.Scale", "ChB.LFM.Tdec1"})
    EXPECT_TRUE(paths.count(p)) << p;

  // The whole setup written back in one call sends nothing either.
  std::vector<std::pair<std::string, std::string>> all_back;
  for (const TPropInfo& info : all)
    if (!info.ReadOnly) all_back.emplace_back(info.Path, GetPropText(*gen, info.Path));
  const Bytes before = Record();
  SetProps(*gen, all_back, false);
  EXPECT_EQ(Record(), before);
  EXPECT_TRUE(Frames().empty());
  EXPECT_TRUE(Driver().Violations().empty());
}

// What "Stored" says is what the settings record does: a stored property
// moved to another accepted value changes the record, any other leaves it.
TEST_F(Registry, StoredFlagMatchesTheSettingsRecord) {
  size_t stored = 0;
  for (const TPropInfo& info : ListProperties(*gen)) {
    if (info.ReadOnly) continue;
    SCOPED_TRACE(info.Path);
    // The reference values follow the external reference only.
    SetPropBool(*gen, "UseExtRefFreq", true);
    const double now = GetPropDouble(*gen, info.Path);
    std::vector<double> candidates;
    for (const TPropEnumerator& e : info.Enumerators) candidates.push_back(e.Value);
    if (info.Kind == TPropKind::Bool) candidates = {1.0 - now};
    if (info.HasRange && std::isfinite(info.Max)) candidates.push_back(info.MaxExcluded ? info.Max - 1 : info.Max);
    if (info.HasRange) candidates.push_back(info.MinExcluded ? info.Min + 1 : info.Min);
    candidates.push_back(now + 1);
    const Bytes before = Record();
    bool moved = false;
    for (double v : candidates) {
      if (v == now) continue;
      try {
        SetProps(*gen, {{info.Path, FormatPropValue(info, v)}}, false);
        moved = true;
        break;
      } catch (const ERefusedValue&) {
      }
    }
    ASSERT_TRUE(moved);
    EXPECT_EQ(Record() != before, info.Stored);
    stored += info.Stored;
    Make(true);
  }
  // The first settings record's, and those of the engines that came since.
  size_t later = 0;
  for (const auto& engine : gen->ChA()->Engines())
    if (engine->RecordSince() > 1)
      for (const TPropInfo& info : ListProperties(*gen))
        later += info.Stored && info.Path.rfind(std::string("ChA.") + engine->EngineName() + ".", 0) == 0;
  EXPECT_EQ(stored, 3u + 2u * (4u + 4u + 7u + 2u + 5u + 22u + later) + 2u);
}

TEST_F(Registry, RefusedValueReportsTheRangeAndLeavesTheSetup) {
  struct Case {
    const char* path;
    const char* text;
    const char* range;
  };
  const Case cases[] = {
      {"ChA.Frequency", "250000", "400 to 200000 kHz"},
      {"ChB.Phase", "360", "0 to 360 deg, 360 excluded"},
      {"ChA.Amplitude", "0", "0 to 100 %, 0 excluded"},
      {"ChB.IntModulation.Fm", "0", "1 to 20000 Hz"},
      {"ChA.DDSMod.T2", "5", "20 to 1300000"},
      {"ChA.LFM.FreqTop", "1000", "1234.5 to 200000 kHz; not below the channel's Frequency"},
      {"ChB.Mode", "ExtModulationA12", "ZGMdC_ExtModulationA12 on channel A only"},
      {"ChB.DDSMod.Type", "ampl", "ZGAFPms_freq or ZGAFPms_phase: amplitude cannot be keyed"},
      // Cut to 20 by the setter: refused, and the 20 does not stay.
      {"FreqScale", "25", "4 to 20; only while UseExtRefFreq is true"},
      {"ChA.IntModulation.CC", "1.5", "0 to 1"},
  };
  Busy();
  Activate();
  int events = 0;
  gen->OnParamValueError = [&](TZuGen4Channel*, TZuGen4Parameters, void*) { ++events; };
  const Bytes before = Record();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    try {
      SetPropText(*gen, c.path, c.text);
      ADD_FAILURE() << "taken";
    } catch (const ERefusedValue& e) {
      EXPECT_EQ(e.Range(), c.range);
      EXPECT_EQ(e.Path(), c.path);
      EXPECT_EQ(std::string(e.what()), std::string(c.path) + ": " + c.text + " refused (range " + c.range + ")");
    }
    EXPECT_EQ(Record(), before);
  }
  // The setters' own events fire as they always do.
  EXPECT_EQ(events, 3);
  // A slow external clock lowers the top of every frequency's range.
  SetProps(*gen, {{"FreqScale", "4"}, {"RefFreq", "10"}}, false);
  for (const char* path : {"ChB.Frequency", "ChB.DDSMod.F3"}) {
    try {
      SetPropText(*gen, path, "50000");
      ADD_FAILURE() << path;
    } catch (const ERefusedValue& e) {
      EXPECT_EQ(e.Range(), "400 to 40000 kHz, 40000 excluded; the system clock reaches no higher");
    }
  }
  SetPropText(*gen, "ChB.DDSMod.F3", "39999");
  // The reference clock is ignored with the internal reference: refused too.
  SetPropBool(*gen, "UseExtRefFreq", false);
  EXPECT_THROW(SetPropDouble(*gen, "RefFreq", 10.0), ERefusedValue);
  EXPECT_EQ(gen->RefFreq(), 25.0);
  EXPECT_TRUE(Driver().Violations().empty());
}

TEST_F(Registry, SetPropsSendsOneUpdateAndIsAllOrNothing) {
  Activate();
  int updates = 0;
  gen->AfterUpdate = [&](TObject*) { ++updates; };
  SetProps(*gen, {{"ChA.Mode", "ZGMdC_gen"},
                  {"ChA.Frequency", "2000"},
                  {"ChB.Mode", "IntModulation"},
                  {"ChB.IntModulation.Fm", "500"}});
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(Resets(), 1u);
  EXPECT_EQ(gen->ChA()->Frequency(), 2000.0);
  EXPECT_EQ(gen->ChB()->IntModulation()->Fm(), 500);
  EXPECT_TRUE(gen->AutoUpdate());

  // Channel B in external modulation; channel A's tuning forces it off, the
  // sweep's top follows A's frequency up, and a refused value at the end
  // puts all of it back without a frame.
  SetProps(*gen, {{"ChB.Mode", "ExtModulation"}});
  Driver().ClearTrace();
  updates = 0;
  std::vector<std::pair<TZuGen4ModesCommon, bool>> modeEvents;
  gen->OnChModeChange = [&](TZuGen4Channel* ch, bool forced) { modeEvents.emplace_back(ch->Mode(), forced); };
  const Bytes before = Record();
  EXPECT_THROW(SetProps(*gen, {{"ChA.Mode", "tuning"},
                               {"ChA.Frequency", "150000"},
                               {"ChA.Tuner.ADCTimerEnabled", "true"},
                               {"AutoUpdate", "false"},
                               {"ChA.Phase", "360"}}),
               ERefusedValue);
  EXPECT_EQ(Record(), before);
  EXPECT_EQ(gen->ChB()->Mode(), ZGMdC_ExtModulation);
  EXPECT_EQ(gen->ChA()->LFM()->FreqTop(), 2000);
  // Both mode changes are told, and so is their return.
  const std::vector<std::pair<TZuGen4ModesCommon, bool>> told = {
      {ZGMdC_tuning, false}, {ZGMdC_off, true}, {ZGMdC_gen, true}, {ZGMdC_ExtModulation, true}};
  EXPECT_EQ(modeEvents, told);
  EXPECT_TRUE(gen->AutoUpdate());
  EXPECT_TRUE(Frames().empty());
  EXPECT_EQ(updates, 0);
  // Unknown paths and bad texts are found before anything changes.
  EXPECT_THROW(SetProps(*gen, {{"ChA.Frequency", "3000"}, {"ChC.Frequency", "1"}}), EUnknownProperty);
  EXPECT_THROW(SetProps(*gen, {{"ChA.Frequency", "3000"}, {"ChA.Mode", "sweeps"}}), EBadValue);
  EXPECT_EQ(Record(), before);
  EXPECT_TRUE(Frames().empty());
  // Without the update asked for, the values are set and nothing is sent.
  SetProps(*gen, {{"ChA.Frequency", "3000"}}, false);
  EXPECT_EQ(gen->ChA()->Frequency(), 3000.0);
  EXPECT_TRUE(Frames().empty());
  // A value that holds only with one given after it (the sweep's top below
  // the present frequency, the lower frequency later) is set all the same.
  SetProps(*gen, {{"ChA.LFM.FreqTop", "2500"}, {"ChA.Frequency", "2400"}}, false);
  EXPECT_EQ(gen->ChA()->LFM()->FreqTop(), 2500);
  EXPECT_EQ(gen->ChA()->Frequency(), 2400.0);
  EXPECT_TRUE(Driver().Violations().empty());
}

TEST_F(Registry, TextForms) {
  // Enumerators by full name, short name, other letter case or number.
  for (const char* t : {"ZGMdC_IntModulation", "IntModulation", "intmodulation", "3"}) {
    SetPropText(*gen, "ChA.Mode", "off");
    SetPropText(*gen, "ChA.Mode", t);
    EXPECT_EQ(gen->ChA()->Mode(), ZGMdC_IntModulation) << t;
    EXPECT_EQ(GetPropText(*gen, "ChA.Mode"), "ZGMdC_IntModulation");
  }
  SetPropText(*gen, "ChB.DDSMod.MathFuncType", "rect");
  EXPECT_EQ(GetPropText(*gen, "ChB.DDSMod.MathFuncType"), "ZMFT_rect");
  SetPropText(*gen, "Options.OverModulationNotify", "0");
  EXPECT_EQ(GetPropText(*gen, "Options.OverModulationNotify"), "false");

  // Doubles read back exactly, in plain notation while that is short.
  SetPropDouble(*gen, "ChA.Frequency", 1000.0 / 3.0 + 1000.0);
  const std::string third = GetPropText(*gen, "ChA.Frequency");
  EXPECT_EQ(std::stod(third), 1000.0 / 3.0 + 1000.0);
  SetPropText(*gen, "ChA.Frequency", "2e5");
  EXPECT_EQ(GetPropText(*gen, "ChA.Frequency"), "200000");
  SetPropText(*gen, "ChA.DDSMod.CC", " 0.1 ");
  EXPECT_EQ(GetPropText(*gen, "ChA.DDSMod.CC"), "0.1");

  // Bad texts name the property, the text and what is accepted.
  struct Bad {
    const char* path;
    const char* text;
    const char* says;
  };
  const std::string noMode = std::to_string(ZGMdC_Count);  // the first number naming no mode
  const Bad bad[] = {
      {"ChA.Frequency", "12x", "expected a number in kHz (400 to 200000 kHz)"},
      {"ChA.Frequency", "nan", "expected a number"},
      {"ChA.Frequency", "inf", "expected a number"},
      {"ChA.Frequency", "", "expected a number"},
      {"ChA.IntModulation.Fm", "2.5", "expected a whole number in Hz"},
      {"ChA.IntModulation.Fm", "1e10", "expected a whole number"},
      {"UseExtRefFreq", "2", "expected true, false, 1 or 0"},
      {"ChB.Mode", "warp", "ZGMdC_LFM (LFM, sweep)"},
      {"ChB.Mode", noMode.c_str(), "or its number"},
      {"Active", "true", "read-only"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(std::string(b.path) + " = " + b.text);
    try {
      SetPropText(*gen, b.path, b.text);
      ADD_FAILURE() << "taken";
    } catch (const EBadValue& e) {
      const std::string what = e.what();
      EXPECT_EQ(what.rfind(std::string(b.path) + ": bad value \"" + b.text + "\"", 0), 0u) << what;
      EXPECT_NE(what.find(b.says), std::string::npos) << what;
    }
  }
  EXPECT_THROW(SetPropInt(*gen, "ChA.Mode", 42), EBadValue);
  EXPECT_THROW(SetPropDouble(*gen, "ChA.Tuner.Scale", 1.5), EBadValue);
  try {
    GetPropText(*gen, "cha.frequncy");
    ADD_FAILURE();
  } catch (const EUnknownProperty& e) {
    EXPECT_EQ(e.Path(), "cha.frequncy");
    EXPECT_NE(std::string(e.what()).find("did you mean ChA.Frequency?"), std::string::npos) << e.what();
  }
  EXPECT_THROW(GetPropText(*gen, "ChA"), EUnknownProperty);
  EXPECT_THROW(GetPropText(*gen, "ChA.Frequency.X"), EUnknownProperty);
}

// Values with units, people's names for modes, paths in any letter case:
// what each text gives the property, in the property's own unit.
struct TTextCase {
  const char* Path;
  const char* Text;
  double Value;
};

const TTextCase kTexts[] = {
    {"ChA.Frequency", "2MHz", 2000},  // kHz
    {"ChA.Frequency", "2 MHz", 2000},
    {"ChA.Frequency", "1500kHz", 1500},
    {"ChA.Frequency", "1500 khz", 1500},
    {"ChA.Frequency", "1500KHz", 1500},
    {"ChA.Frequency", "2500000Hz", 2500},
    {"ChA.Frequency", "1.005MHz", 1005},  // one rounding: 1.005 * 1000 is 1004.9999999999999
    {"ChA.Frequency", "2e-1 GHz", 200000},
    {"ChA.Frequency", "+2MHz", 2000},
    {"ChA.IntModulation.Fm", "5kHz", 5000},  // Hz
    {"ChA.IntModulation.Fm", "1.5 kHz", 1500},
    {"ChA.IntModulation.dF", "20000 mHz", 20},  // milli, not mega
    {"ChA.DDSMod.dF", "0.02MHz", 20000},
    {"ChA.Amplitude", "50%", 50},
    {"ChA.Amplitude", "50 %", 50},
    {"ChA.Phase", "90deg", 90},
    {"ChA.Phase", "90 \u00B0", 90},
    {"RefFreq", "24500 kHz", 24.5},              // MHz
    {"ChA.Tuner.ADCTimerInterval", "2s", 2000},  // ms
    {"ChA.Tuner.ADCTimerInterval", "500000us", 500},
    {"ChA.Mode", "sweep", ZGMdC_LFM},
    {"ChA.Mode", "Tuning", ZGMdC_tuning},
    {"ChA.Mode", "Keying", ZGMdC_DDSMod},
    {"ChA.Mode", "intmod", ZGMdC_IntModulation},
    {"ChA.Mode", "EXTMOD", ZGMdC_ExtModulation},
    {"ChA.Mode", "extmodAB1", ZGMdC_ExtModulationAB1},
    {"ChA.Mode", "sine", ZGMdC_gen},
    {"cha.intmodulation.FM", "300", 300},
    {"cha.frequency", "-0", 0},
    {"ChA.IntModulation.CC", "-0.0", 0},
};

TEST_F(Registry, TextsWithUnitsNamesAndAnyCase) {
  for (const TTextCase& t : kTexts) {
    SCOPED_TRACE(std::string(t.Path) + " = " + t.Text);
    const TPropInfo info = DescribeProperty(*gen, t.Path);
    const double v = ParsePropText(info, t.Text);
    EXPECT_EQ(v, t.Value);
    EXPECT_FALSE(std::signbit(v)) << "a zero is stored as 0, not -0";
  }
  // The path a case-blind match found reads as the tables spell it.
  EXPECT_EQ(DescribeProperty(*gen, "cha.intmodulation.fm").Path, "ChA.IntModulation.Fm");
  // Set through every text face's parser, the value is written back in the
  // property's own unit, and -0 is 0.
  SetPropText(*gen, "cha.intmodulation.fm", "2 kHz");
  EXPECT_EQ(GetPropText(*gen, "ChA.IntModulation.Fm"), "2000");
  SetPropText(*gen, "ChA.IntModulation.CC", "-0");
  EXPECT_EQ(GetPropText(*gen, "ChA.IntModulation.CC"), "0");
  SetPropDouble(*gen, "ChA.DDSMod.CC", -0.0);
  EXPECT_EQ(GetPropText(*gen, "ChA.DDSMod.CC"), "0");
}

// A unit that does not convert, or none that the property could take, is
// refused naming the property's unit; paths a typo away get a suggestion.
struct TRefusedText {
  const char* Path;
  const char* Text;
  const char* Says;
};

const TRefusedText kRefusedTexts[] = {
    {"ChA.Frequency", "50%", "% does not convert to kHz, the unit of ChA.Frequency"},
    {"ChA.Amplitude", "2MHz", "MHz does not convert to %"},
    {"ChA.Phase", "1ms", "ms does not convert to deg, the unit of ChA.Phase; give it in deg"},
    {"ChA.Frequency", "2 parsec", "unknown unit \"parsec\"; expected a number in kHz"},
    {"ChA.Frequency", "2 M Hz", "expected a number in kHz"},
    {"ChA.LFM.Tinc0", "5ms", "ChA.LFM.Tinc0 has no unit: give a plain number"},
    {"ChA.IntModulation.Fm", "2.5Hz", "expected a whole number in Hz"},
    {"ChA.Frequency", "1e999MHz", "expected a number"},
};

TEST_F(Registry, UnitsThatDoNotConvertAreRefused) {
  for (const TRefusedText& t : kRefusedTexts) {
    SCOPED_TRACE(std::string(t.Path) + " = " + t.Text);
    try {
      ParsePropText(DescribeProperty(*gen, t.Path), t.Text);
      ADD_FAILURE() << "taken";
    } catch (const EBadValue& e) {
      EXPECT_NE(std::string(e.what()).find(t.Says), std::string::npos) << e.what();
    }
  }
  const std::pair<const char*, const char*> misses[] = {
      {"ChA.Frequncy", "did you mean ChA.Frequency?"},
      {"ChB.IntModulation.Fn", "did you mean ChB.IntModulation.Fm?"},
      {"ChA.Amplitde", "did you mean ChA.Amplitude?"},
      {"ChA.Freq", "did you mean ChA.Frequency?"},
      {"FreqTop", "did you mean ChA.LFM.FreqTop or ChB.LFM.FreqTop?"},
      {"ChA.IntModulation", "ChA.IntModulation is an object, not a property"},
  };
  for (const auto& [path, says] : misses) {
    try {
      DescribeProperty(*gen, path);
      ADD_FAILURE() << path;
    } catch (const EUnknownProperty& e) {
      EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(std::string(EUnknownProperty("Xyzzy").what()), "unknown property \"Xyzzy\"");
}

TEST(Assignments, SplitAsEveryFaceTakesThem) {
  using TPairs = std::vector<std::pair<std::string, std::string>>;
  EXPECT_EQ(ParseAssignments(" ChA.Frequency = 2 MHz ;\n\nChB.Mode=gen;ChA.Phase=\r\n"),
            (TPairs{{"ChA.Frequency", "2 MHz"}, {"ChB.Mode", "gen"}, {"ChA.Phase", ""}}));
  EXPECT_EQ(ParseAssignment("ChA.LFM.FreqTop=a=b"), (std::pair<std::string, std::string>{"ChA.LFM.FreqTop", "a=b"}));
  for (const char* bad : {"ChA.Frequency", " = 5", "ChA.Mode=gen; 2000"}) {
    try {
      ParseAssignments(bad);
      ADD_FAILURE() << bad;
    } catch (const Exception& e) {
      EXPECT_NE(std::string(e.what()).find("expected PATH=VALUE, got `"), std::string::npos) << e.what();
    }
  }
}

}  // namespace
