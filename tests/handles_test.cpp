// The handle C interface as a C host uses it: every call through zugen4.h,
// every generator on a simulated instrument of its own.
#include <gmock/gmock.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "zugen4/Version.h"
#include "zugen4/zugen4.h"

namespace {

using ::testing::AllOf;
using ::testing::Contains;
using ::testing::HasSubstr;
using ::testing::Not;

// One simulated generator for the test's lifetime.
class Gen {
 public:
  explicit Gen(int instrument = ZG_SIMULATED) { EXPECT_EQ(zg_create(instrument, 0, &g), ZG_OK) << zg_last_error(); }
  ~Gen() { EXPECT_EQ(zg_destroy(g), ZG_OK) << zg_last_error(); }
  Gen(const Gen&) = delete;
  Gen& operator=(const Gen&) = delete;
  operator zg_gen*() const { return g; }

  // The readable lines of the frames sent since the last clear.
  std::vector<std::string> Lines(int kind = ZG_TRACE_FRAME) const {
    size_t n = 0;
    EXPECT_EQ(zg_sim_trace_count(g, &n), ZG_OK);
    std::vector<std::string> lines;
    for (size_t i = 0; i < n; ++i) {
      zg_trace_entry e{};
      EXPECT_EQ(zg_sim_trace_at(g, i, &e), ZG_OK);
      if (e.kind == kind) lines.push_back(e.line);
    }
    return lines;
  }
  int Resets() const {
    int resets = 0;
    for (const std::string& line : Lines()) resets += line == "reset";
    return resets;
  }
  double Get(const char* path) const {
    double v = -1;
    EXPECT_EQ(zg_get_double(g, path, &v), ZG_OK) << zg_last_error();
    return v;
  }

 private:
  zg_gen* g = nullptr;
};

TEST(HandleInterface, TwoSimulatedGeneratorsKeepTheirOwnSetups) {
  Gen a, b;
  ASSERT_EQ(zg_set_text(a, "ChA.Mode", "ZGMdC_gen"), ZG_OK) << zg_last_error();
  ASSERT_EQ(zg_set_double(a, "ChA.Frequency", 2000.0), ZG_OK) << zg_last_error();
  ASSERT_EQ(zg_set_text(b, "ChA.Mode", "gen"), ZG_OK) << zg_last_error();
  ASSERT_EQ(zg_set_text(b, "ChA.Frequency", "3000"), ZG_OK) << zg_last_error();
  ASSERT_EQ(zg_activate(a), ZG_OK) << zg_last_error();
  ASSERT_EQ(zg_activate(b), ZG_OK) << zg_last_error();

  EXPECT_THAT(a.Lines(), AllOf(Contains(HasSubstr("(2000.000 kHz)")), Not(Contains(HasSubstr("(3000.000 kHz)")))));
  EXPECT_THAT(b.Lines(), AllOf(Contains(HasSubstr("(3000.000 kHz)")), Not(Contains(HasSubstr("(2000.000 kHz)")))));
  EXPECT_EQ(a.Get("ChA.Frequency"), 2000.0);
  EXPECT_EQ(b.Get("ChA.Frequency"), 3000.0);
  int active = 0;
  ASSERT_EQ(zg_deactivate(a), ZG_OK);
  EXPECT_EQ(zg_is_active(b, &active), ZG_OK);
  EXPECT_EQ(active, 1);  // b's instrument is its own

  // Detached, b's instrument keeps its output: no reset goes out.
  ASSERT_EQ(zg_sim_clear_trace(b), ZG_OK);
  ASSERT_EQ(zg_detach(b), ZG_OK);
  EXPECT_EQ(b.Resets(), 0);
  EXPECT_EQ(zg_is_active(b, &active), ZG_OK);
  EXPECT_EQ(active, 0);
}

// Every path reads as a number and as text, takes its own text back, and a
// value beyond its range is refused with the path and the range, changing
// nothing.
TEST(HandleInterface, EveryPropertyPathGetsSetsAndRefusesOutOfRange) {
  Gen g;
  ASSERT_EQ(zg_activate(g), ZG_OK) << zg_last_error();
  size_t n = 0;
  ASSERT_EQ(zg_prop_count(g, &n), ZG_OK);
  ASSERT_GT(n, 50u);
  std::vector<zg_prop_info> props(n);
  for (size_t i = 0; i < n; ++i) ASSERT_EQ(zg_prop_at(g, i, &props[i]), ZG_OK);
  int refusals = 0;
  for (const zg_prop_info& p : props) {
    const std::string path = p.path;
    SCOPED_TRACE(path);
    const double before = g.Get(p.path);
    char text[128];
    ASSERT_EQ(zg_get_text(g, p.path, text, sizeof text, nullptr), ZG_OK) << zg_last_error();
    if (p.read_only) {
      EXPECT_EQ(zg_set_double(g, p.path, before), ZG_ERR_BAD_VALUE);
      continue;
    }
    EXPECT_EQ(zg_set_text(g, p.path, text), ZG_OK) << text << ": " << zg_last_error();
    EXPECT_EQ(zg_set_double(g, p.path, before), ZG_OK) << zg_last_error();
    for (size_t k = 0; k < p.enumerator_count; ++k) {
      const char* name = nullptr;
      ASSERT_EQ(zg_prop_enumerator(g, p.path, k, nullptr, &name, nullptr), ZG_OK);
      EXPECT_STRNE(name, "");
    }
    if (!p.has_range || p.kind == ZG_KIND_BOOL || p.kind == ZG_KIND_ENUM) continue;
    const double beyond = std::isfinite(p.max) ? p.max + (p.max - p.min) + 1.0 : p.min - 1.0;
    ASSERT_EQ(zg_set_double(g, p.path, beyond), ZG_ERR_REFUSED) << zg_last_error();
    EXPECT_THAT(zg_last_error(), AllOf(HasSubstr(path), HasSubstr(p.range_text)));
    EXPECT_EQ(g.Get(p.path), before);
    ++refusals;
  }
  EXPECT_GT(refusals, 20);
}

TEST(HandleInterface, ResultCodesNameWhatWentWrong) {
  Gen g;
  struct Case {
    const char* path;
    const char* text;
    int rc;
    const char* message;
  };
  const Case cases[] = {
      {"ChA.Frequency", "250000", ZG_ERR_REFUSED, "ChA.Frequency: 250000 refused (range 400 to 200000 kHz)"},
      {"ChA.Frequncy", "1000", ZG_ERR_UNKNOWN_PROPERTY, "ChA.Frequncy"},
      {"ChA.Frequency", "fast", ZG_ERR_BAD_VALUE, "fast"},
      {"ChA.Mode", "ZGMdC_warp", ZG_ERR_BAD_VALUE, "ZGMdC_warp"},
      {"Active", "true", ZG_ERR_BAD_VALUE, "read-only"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zg_set_text(g, c.path, c.text), c.rc) << c.path << " = " << c.text;
    EXPECT_THAT(zg_last_error(), HasSubstr(c.message));
  }
  EXPECT_EQ(g.Get("ChA.Frequency"), 1000.0);
  EXPECT_STREQ(zg_result_name(ZG_ERR_REFUSED), "ZG_ERR_REFUSED");

  char small[4];
  size_t needed = 0;
  EXPECT_EQ(zg_get_text(g, "ChA.Mode", small, sizeof small, &needed), ZG_ERR_BUFFER);
  EXPECT_EQ(needed, std::string("ZGMdC_off").size() + 1);
  EXPECT_EQ(zg_activate(nullptr), ZG_ERR_ARGUMENT);
  EXPECT_EQ(zg_sim_advance(g, 10, nullptr), ZG_OK);
  int rc = ZG_OK;
  std::thread([&] { rc = zg_set_double(g, "ChA.Frequency", 1500.0); }).join();
  EXPECT_EQ(rc, ZG_ERR_THREAD);
  EXPECT_EQ(g.Get("ChA.Frequency"), 1000.0);
  {
    Gen real(ZG_SIMULATED_REALTIME);
    EXPECT_EQ(zg_sim_advance(real, 10, nullptr), ZG_ERR_NOT_SIMULATED);
  }
}

struct Seen {
  std::vector<zg_event> Events;
  std::vector<zg_gen*> Gens;
  std::vector<int> Kinds() const {
    std::vector<int> kinds;
    for (const zg_event& e : Events) kinds.push_back(e.kind);
    return kinds;
  }
};

void ZUGEN_CALLBACK Record(zg_gen* gen, const zg_event* event, void* user) {
  auto* seen = static_cast<Seen*>(user);
  seen->Events.push_back(*event);
  seen->Gens.push_back(gen);
}

TEST(HandleInterface, EventsReachTheCallbackWithTheUserPointer) {
  Gen g;
  Seen seen;
  ASSERT_EQ(zg_set_event_handler(g, ZG_EVENT_ALL, Record, &seen), ZG_OK);
  ASSERT_EQ(zg_activate(g), ZG_OK);
  EXPECT_THAT(seen.Kinds(), Contains(ZG_EVENT_CHANGE_ACTIVE_STATE));
  EXPECT_THAT(seen.Gens, Contains(static_cast<zg_gen*>(g)));

  // The tuner's polls arrive as ADC events carrying the reading.
  const char* paths[] = {"ChB.Mode", "ChB.Tuner.ADCTimerInterval", "ChB.Tuner.ADCTimerEnabled"};
  const char* texts[] = {"tuning", "100", "true"};
  ASSERT_EQ(zg_set_many(g, paths, texts, 3), ZG_OK) << zg_last_error();
  ASSERT_EQ(zg_sim_set_adc(g, 1234), ZG_OK);
  seen = {};
  int ran = 0;
  ASSERT_EQ(zg_sim_advance(g, 250, &ran), ZG_OK) << zg_last_error();
  EXPECT_GE(ran, 2);
  ASSERT_EQ(seen.Kinds(), std::vector<int>(ran, ZG_EVENT_ADC_TIMER));
  EXPECT_EQ(seen.Events[0].channel, 1);
  EXPECT_EQ(seen.Events[1].value, 1234.0);

  // A link failure: the event, then its own result code with the status.
  seen = {};
  ASSERT_EQ(zg_sim_fail_write(g, 1, 4, -1), ZG_OK);
  EXPECT_EQ(zg_set_double(g, "ChA.Amplitude", 40.0), ZG_ERR_LINK);
  EXPECT_THAT(zg_last_error(), HasSubstr("FT_IO_ERROR"));
  EXPECT_THAT(seen.Kinds(), Contains(ZG_EVENT_FT_ERROR));
  unsigned status = 0;
  EXPECT_EQ(zg_link_status(g, &status), ZG_OK);
  EXPECT_EQ(status, 4u);

  // Only the events asked for.
  seen = {};
  ASSERT_EQ(zg_set_event_handler(g, ZG_EVENT_ADC_TIMER, Record, &seen), ZG_OK);
  ASSERT_EQ(zg_deactivate(g), ZG_OK);
  EXPECT_EQ(seen.Events.size(), 0u);
}

TEST(HandleInterface, ABatchSendsOneUpdateOrNothing) {
  Gen g;
  ASSERT_EQ(zg_activate(g), ZG_OK);
  ASSERT_EQ(zg_sim_clear_trace(g), ZG_OK);
  const char* paths[] = {"ChA.Mode", "ChA.Frequency", "ChA.Amplitude", "ChB.Mode", "ChB.Phase"};
  const char* texts[] = {"gen", "1500", "40", "gen", "90"};
  ASSERT_EQ(zg_set_many(g, paths, texts, 5), ZG_OK) << zg_last_error();
  EXPECT_EQ(g.Resets(), 1);
  EXPECT_EQ(g.Get("ChB.Phase"), 90.0);

  ASSERT_EQ(zg_sim_clear_trace(g), ZG_OK);
  const char* texts2[] = {"gen", "1600", "400", "gen", "45"};
  EXPECT_EQ(zg_set_many(g, paths, texts2, 5), ZG_ERR_REFUSED);
  EXPECT_THAT(zg_last_error(), HasSubstr("ChA.Amplitude"));
  EXPECT_EQ(g.Lines(), std::vector<std::string>{});
  EXPECT_EQ(g.Get("ChA.Frequency"), 1500.0);
}

TEST(HandleInterface, SettingsFilesAndOpenFailures) {
  Gen g;
  const std::string file = ::testing::TempDir() + "handles_test.zg4";
  ASSERT_EQ(zg_set_double(g, "ChB.IntModulation.Fm", 500.0), ZG_OK);
  ASSERT_EQ(zg_save(g, file.c_str()), ZG_OK) << zg_last_error();
  ASSERT_EQ(zg_set_double(g, "ChB.IntModulation.Fm", 700.0), ZG_OK);
  ASSERT_EQ(zg_load(g, file.c_str()), ZG_OK) << zg_last_error();
  EXPECT_EQ(g.Get("ChB.IntModulation.Fm"), 500.0);

  // Refused, changing nothing: no settings file, one cut short (named with the
  // byte where it ends), one that is not there (the component's text, the file
  // and the system's reason).
  std::string whole(4096, '\0');
  std::FILE* f = std::fopen(file.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  whole.resize(std::fread(whole.data(), 1, whole.size(), f));
  std::fclose(f);
  ASSERT_GT(whole.size(), 200u);
  ASSERT_EQ(zg_set_double(g, "ChB.IntModulation.Fm", 700.0), ZG_OK);
  const std::pair<std::string, std::string> refused[] = {
      {"not a settings file", "does not start with the signature ZuG4"},
      {whole.substr(0, 200), "ends at byte 200, inside the settings record (a whole settings file is " +
                                 std::to_string(whole.size()) + " bytes)"}};
  for (const auto& [bytes, message] : refused) {
    f = std::fopen(file.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    EXPECT_EQ(zg_load(g, file.c_str()), ZG_ERR_FILE);
    EXPECT_THAT(zg_last_error(), HasSubstr(message));
  }
  EXPECT_EQ(zg_load(g, (file + ".missing").c_str()), ZG_ERR_FILE);
  EXPECT_EQ(std::string(zg_last_error()),
            "Ошибка при открытии файла " + file + ".missing: " + std::generic_category().message(ENOENT));
  EXPECT_EQ(g.Get("ChB.IntModulation.Fm"), 700.0);
  std::remove(file.c_str());

  ASSERT_EQ(zg_sim_fail_open(g, 2), ZG_OK);
  EXPECT_EQ(zg_activate(g), ZG_ERR_LINK);
  EXPECT_THAT(zg_last_error(), HasSubstr("FT_DEVICE_NOT_FOUND"));

  // The device chosen is the one opened, and the account names it.
  zg_gen* other = nullptr;
  ASSERT_EQ(zg_create(ZG_SYSTEM, 2, &other), ZG_OK);
  EXPECT_EQ(zg_activate(other), ZG_ERR_LINK);
  EXPECT_THAT(zg_last_error(), HasSubstr("opening the instrument (USB device 2) failed"));
  zg_destroy(other);
}

// A device by serial number is looked up when it is opened; the device list
// hands out only what it found; the version is the build's.
TEST(Handles, DevicesBySerialNumberTheListAndTheVersion) {
  zg_gen* g = nullptr;
  EXPECT_EQ(zg_create_serial(nullptr, &g), ZG_ERR_ARGUMENT);
  EXPECT_EQ(zg_create_serial("", &g), ZG_ERR_ARGUMENT);
  EXPECT_THAT(zg_last_error(), HasSubstr("the serial number is empty"));
  ASSERT_EQ(zg_create_serial("NOSUCH42", &g), ZG_OK);
  EXPECT_EQ(zg_activate(g), ZG_ERR_LINK);
  EXPECT_THAT(zg_last_error(), HasSubstr("no device with serial number NOSUCH42"));
  zg_destroy(g);

  size_t count = 99;
  const char* problems = nullptr;
  ASSERT_EQ(zg_list_devices(&count, &problems), ZG_OK);
  ASSERT_NE(problems, nullptr);
  zg_device_info info{};
  EXPECT_EQ(zg_device_at(count, &info), ZG_ERR_ARGUMENT);
  EXPECT_EQ(zg_list_devices(nullptr, nullptr), ZG_ERR_ARGUMENT);
  EXPECT_STREQ(zg_version(), ZUGEN_VERSION_STRING);
}

}  // namespace

namespace {

// fn is zg_preview or zg_table (ZUGEN_CALL: __stdcall on 32-bit Windows).
template <typename Fn>
std::string Text(Fn fn, zg_gen* g, const char* arg, int* rc) {
  size_t needed = 0;
  *rc = fn(g, arg, nullptr, 0, &needed);
  if (*rc != ZG_ERR_BUFFER) return {};
  std::string text(needed, '\0');
  *rc = fn(g, arg, text.data(), text.size(), &needed);
  text.resize(text.empty() ? 0 : needed - 1);
  return text;
}

TEST(HandleInterface, PreviewTableAndRefusalsBeforeTheFirstFrame) {
  Gen g;
  ASSERT_EQ(zg_activate(g), ZG_OK);
  ASSERT_EQ(zg_set_text(g, "ChA.Mode", "IntModulation"), ZG_OK);
  ASSERT_EQ(zg_set_text(g, "ChA.IntModulation.Fm", "1"), ZG_OK);
  zg_sim_clear_trace(g);
  int rc = 0;
  // What the change would send, as the update then sends it.
  const std::string plan = Text(zg_preview, g, "ChB.Mode=gen; ChB.Frequency = 3000", &rc);
  ASSERT_EQ(rc, ZG_OK) << zg_last_error();
  EXPECT_THAT(plan, AllOf(HasSubstr("B freq"), HasSubstr("3000.000 kHz"), HasSubstr(" ms\n")));
  EXPECT_TRUE(g.Lines().empty());
  // Double internal modulation at 1 Hz: refused whole, naming the value.
  EXPECT_EQ(zg_set_text(g, "ChB.Mode", "IntModulation"), ZG_ERR_REFUSED);
  EXPECT_THAT(zg_last_error(), HasSubstr("ChA.IntModulation.Fm: 1 cannot be sent"));
  const char* paths[] = {"ChB.Mode"};
  const char* texts[] = {"LFM"};
  EXPECT_EQ(zg_set_many(g, paths, texts, 1), ZG_ERR_REFUSED);
  EXPECT_THAT(zg_last_error(), HasSubstr("set it first"));
  EXPECT_TRUE(g.Lines().empty());
  EXPECT_EQ(zg_set_many_flags(g, paths, texts, 1, ZG_SET_FORCE), ZG_OK) << zg_last_error();
  EXPECT_FALSE(g.Lines().empty());
  // Tables from the plan; keying says it plays none.
  const std::string table = Text(zg_table, g, "ChA.IntModulation", &rc);
  EXPECT_EQ(rc, ZG_OK) << zg_last_error();
  EXPECT_THAT(table, HasSubstr("index,code,value\n0,"));
  Text(zg_table, g, "ChA.DDSMod", &rc);
  EXPECT_EQ(rc, ZG_ERR_BAD_VALUE);
  EXPECT_THAT(zg_last_error(), HasSubstr("keying download no table"));
}

}  // namespace
