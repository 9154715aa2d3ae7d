// The zugen4 program run as a user runs it: spawned with --sim and a
// temporary state file, its exit code, standard output and error checked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct TRun {
  int Code = -1;
  std::string Out;
  std::string Err;
};

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class Tool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("zugen4-test-" + std::to_string(getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }

  // Runs the tool with --sim and this test's state file (unless sim is false),
  // stdin from `input`, stdout and stderr into files.
  TRun Run(std::vector<std::string> args, const std::string& input = "", bool sim = true) {
    if (sim) args.insert(args.begin(), {"--sim", "--state", (dir / "state.zg4").string()});
    const fs::path in = dir / "stdin", out = dir / "stdout", err = dir / "stderr";
    std::ofstream(in) << input;
    std::vector<std::string> argv = {ZUGEN_TOOL_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = 0;
    TRun r;
    if (posix_spawn(&pid, argv[0].c_str(), &fa, nullptr, cargv.data(), environ) == 0) {
      int status = 0;
      waitpid(pid, &status, 0);
      r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    posix_spawn_file_actions_destroy(&fa);
    r.Out = Slurp(out);
    r.Err = Slurp(err);
    return r;
  }

  fs::path dir;
};

// Refusals and failures: the exit code, and a message naming what was wrong.
struct TRefusal {
  const char* Name;
  std::vector<std::string> Args;
  bool Sim;
  int Code;
  const char* Message;
};

const TRefusal kRefusals[] = {
    {"OutOfRange", {"set", "ChA.Frequency=250000"}, true, 3, "ChA.Frequency: 250000 refused (range 400 to 200000 kHz)"},
    {"UnknownPath", {"set", "ChA.Frequncy=2000"}, true, 3, "ChA.Frequncy"},
    {"Malformed", {"set", "ChA.Phase=ninety"}, true, 3, "ninety"},
    {"NoEquals", {"set", "ChA.Frequency"}, true, 2, "expected PATH=VALUE"},
    {"UnknownCommand", {"frobnicate"}, true, 2, "unknown command: frobnicate"},
    {"StateNeedsSim", {"state"}, false, 2, "state needs --sim"},
    {"MissingFile", {"load", "/nonexistent/x.zg4"}, true, 4, "cannot read /nonexistent/x.zg4"},
    {"NoInstrument",
     {"--device", "3", "set", "ChA.Mode=gen"},
     false,
     5,
     "opening the instrument (USB device 3) failed"},
    {"NotTuning", {"poll"}, true, 2, "no channel is in tuning mode"},
    {"NegativeCount", {"poll", "--count", "-1"}, true, 2, "--count: must be 0 or more, not -1"},
};

class ToolRefusals : public Tool, public ::testing::WithParamInterface<TRefusal> {};

TEST_P(ToolRefusals, ExitCodeAndMessage) {
  const TRefusal& t = GetParam();
  std::vector<std::string> args = t.Args;
  if (!t.Sim) args.insert(args.begin(), {"--state", (dir / "device.zg4").string()});
  const TRun r = Run(args, "", t.Sim);
  EXPECT_EQ(r.Code, t.Code) << r.Err;
  EXPECT_NE(r.Err.find(t.Message), std::string::npos) << r.Err;
  // Nothing refused reaches the remembered setup.
  EXPECT_NE(Run({"get", "ChA.Frequency"}).Out, "250000\n");
}

INSTANTIATE_TEST_SUITE_P(Each, ToolRefusals, ::testing::ValuesIn(kRefusals),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Tool, SetSendsOneUpdateAndInvocationsShareOneSession) {
  TRun r = Run(
      {"--trace", "set", "ChA.Mode=IntModulation", "ChA.IntModulation.Fm=500", "ChB.Mode=gen", "ChA.Frequency=2000"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(Count(r.Out, "  reset"), 1) << r.Out;
  EXPECT_EQ(Count(r.Out, "intmod start"), 1) << r.Out;
  EXPECT_NE(r.Out.find("A freq 0x0147AE14 = 2000.000 kHz"), std::string::npos) << r.Out;

  // A later invocation starts from there: the update it sends carries both
  // its own change and everything before.
  r = Run({"--trace", "set", "ChB.Phase=90"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(Count(r.Out, "  reset"), 1);
  EXPECT_NE(r.Out.find("A freq 0x0147AE14 = 2000.000 kHz"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("B phase 0x1000 = 90.00 deg"), std::string::npos) << r.Out;

  r = Run({"state"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Out.find("channel A: output on, internal modulation (single)\n  frequency 2000.000 kHz"),
            std::string::npos)
      << r.Out;
  EXPECT_NE(r.Out.find("channel B: output on, sine\n  frequency 1000.000 kHz, amplitude 100.00 %, phase 90.00 deg"),
            std::string::npos)
      << r.Out;
  EXPECT_EQ(Run({"get", "ChA.IntModulation.Fm", "ChB.Phase"}).Out, "ChA.IntModulation.Fm = 500\nChB.Phase = 90\n");
  EXPECT_EQ(Run({"get", "ChA.Mode"}).Out, "ZGMdC_IntModulation\n");

  // reset: one reset frame, and the remembered setup is the defaults again.
  r = Run({"--trace", "reset"});
  EXPECT_EQ(Count(r.Out, "\n"), 1) << r.Out;
  EXPECT_NE(r.Out.find("F0 00 00 00 00 00  reset"), std::string::npos) << r.Out;
  EXPECT_EQ(Run({"get", "ChA.Mode", "ChA.Frequency"}).Out, "ChA.Mode = ZGMdC_off\nChA.Frequency = 1000\n");
}

TEST_F(Tool, ModeRuleIsNamed) {
  ASSERT_EQ(Run({"set", "ChB.Mode=tuning"}).Code, 0);
  const TRun r = Run({"set", "ChA.Mode=IntModulation"});
  EXPECT_EQ(r.Code, 0);
  EXPECT_NE(r.Err.find("ChB.Mode became ZGMdC_off when ChA.Mode was set to ZGMdC_IntModulation: internal modulation: "
                       "the other channel may only be off, generate or modulate internally too"),
            std::string::npos)
      << r.Err;
}

TEST_F(Tool, ShowPropsAndConvertBothWaysByteExact) {
  ASSERT_EQ(Run({"apply", std::string(ZUGEN_EXAMPLE_FORMS) + "/sweep.form"}).Code, 0);
  const std::string shown = Run({"show"}).Out;
  EXPECT_EQ(shown.rfind("object ZuGen4: TZuGen4\n  UseExtRefFreq = false\n", 0), 0u) << shown;
  EXPECT_NE(shown.find("\n  ChA.LFM.FreqTop = 2000\n"), std::string::npos);
  EXPECT_EQ(shown.substr(shown.size() - 4), "end\n");

  const std::string props = Run({"props", "chA.freq"}).Out;
  EXPECT_TRUE(std::regex_search(props, std::regex(R"(ChA\.Frequency +double = 1000 kHz  \[400 to 200000 kHz\])")))
      << props;
  EXPECT_NE(Run({"props", "ChB.Mode"}).Out.find("{off, gen, tuning, IntModulation"), std::string::npos);

  const std::string zg4 = (dir / "a.zg4").string(), form = (dir / "a.form").string(), back = (dir / "b.zg4").string();
  ASSERT_EQ(Run({"save", zg4}).Code, 0);
  ASSERT_EQ(Run({"convert", zg4, form}).Code, 0);
  EXPECT_EQ(Slurp(form), shown);
  ASSERT_EQ(Run({"convert", form, back}).Code, 0);
  EXPECT_EQ(Slurp(back), Slurp(zg4));
  EXPECT_EQ(Run({"convert", (dir / "stdin").string(), form}).Code, 4);
}

TEST_F(Tool, TableCsvMatchesItsSummary) {
  ASSERT_EQ(Run({"set", "ChB.Mode=IntModulation", "ChB.IntModulation.Type=ampl", "ChB.IntModulation.Fm=2000",
                 "ChB.Amplitude=50"})
                .Code,
            0);
  const TRun summary = Run({"table", "ChB.IntModulation"});
  ASSERT_EQ(summary.Code, 0) << summary.Err;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(summary.Out, m, std::regex(R"((\d+) readings of amplitude)"))) << summary.Out;
  EXPECT_NE(summary.Out.find("divider: La 0x"), std::string::npos);
  const TRun csv = Run({"table", "ChB.IntModulation", "--csv", "--svg", (dir / "t.svg").string()});
  ASSERT_EQ(csv.Code, 0);
  EXPECT_EQ(Count(csv.Out, "\n"), std::stoi(m[1]) + 1);
  EXPECT_EQ(csv.Out.rfind("index,code,amplitude_percent\n0,", 0), 0u) << csv.Out.substr(0, 80);
  EXPECT_NE(Slurp(dir / "t.svg").find("<polyline"), std::string::npos);
}

TEST_F(Tool, ScriptedShellSession) {
  const TRun r = Run({"--trace", "shell"},
                     "set ChA.Mode=tuning ChA.Tuner.ADCTimerInterval=50\n"
                     "# a comment\n"
                     "get ChA.Tuner.ADCTimerInterval\n"
                     "poll --count 2\n"
                     "set ChA.Amplitude=0\n"
                     "get ChA.Amplitude\n");
  EXPECT_EQ(r.Code, 3) << "the last failure's code";
  EXPECT_NE(r.Out.find("\n50\n"), std::string::npos) << r.Out;
  EXPECT_EQ(Count(r.Out, "ChA ADC"), 2) << r.Out;
  EXPECT_EQ(Count(r.Out, "read adc"), 2) << r.Out;
  EXPECT_NE(r.Err.find("ChA.Amplitude: 0 refused"), std::string::npos) << r.Err;
  EXPECT_NE(r.Out.find("\n100\n"), std::string::npos) << r.Out;
}

TEST_F(Tool, FormErrorNamesFileAndLine) {
  const std::string form = (dir / "bad.form").string();
  std::ofstream(form) << "object X: TZuGen4\n  ChA.Frequency = 2000\n  ChB.Mode = Warp\nend\n";
  const TRun r = Run({"apply", form});
  EXPECT_EQ(r.Code, 3);
  EXPECT_NE(r.Err.find(form + ":3: "), std::string::npos) << r.Err;
  EXPECT_EQ(Run({"get", "ChA.Frequency"}).Out, "1000\n");
}

}  // namespace
