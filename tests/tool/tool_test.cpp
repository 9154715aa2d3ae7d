// The zugen4 program run as a user runs it: spawned with --sim and a
// temporary state file, its exit code, standard output and error checked.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

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
    return Finish(Start(std::move(args), input, sim));
  }

  // The same started without waiting; `tag` keeps the files of processes
  // running at once apart. Finish waits for it (one that hangs is killed
  // after a minute: exit code 128 + 9).
  pid_t Start(std::vector<std::string> args, const std::string& input = "", bool sim = true,
              const std::string& tag = "") {
    if (sim) args.insert(args.begin(), {"--sim", "--state", (dir / "state.zg4").string()});
    const fs::path in = dir / ("stdin" + tag), out = dir / ("stdout" + tag), err = dir / ("stderr" + tag);
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
    if (posix_spawn(&pid, argv[0].c_str(), &fa, nullptr, cargv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    tags[pid] = tag;
    return pid;
  }
  TRun Finish(pid_t pid) {
    TRun r;
    const std::string tag = tags[pid];
    if (pid > 0) {
      int status = 0;
      const auto end = std::chrono::steady_clock::now() + std::chrono::minutes(1);
      while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
          kill(pid, SIGKILL);
          waitpid(pid, &status, 0);
          break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    r.Out = Slurp(dir / ("stdout" + tag));
    r.Err = Slurp(dir / ("stderr" + tag));
    return r;
  }

  fs::path dir;
  std::map<pid_t, std::string> tags;
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
    {"MissingFile",
     {"load", "/nonexistent/x.zg4"},
     true,
     4,
     "cannot read /nonexistent/x.zg4: No such file or directory"},
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

// Commands that change the state file run one at a time: 50 pairs of `set`
// on both channels at once lose nothing with --wait; without it a command
// that finds the state file taken fails, having changed nothing, and says who
// holds it. Every exit code tells the truth.
TEST_F(Tool, ConcurrentCommandsLoseNoUpdateAndExitCodesTellTheTruth) {
  for (int i = 0; i < 50; ++i) {
    const bool wait = i % 5 != 4;
    std::vector<std::string> a = {"set", "ChA.Frequency=" + std::to_string(1100 + i)};
    std::vector<std::string> b = {"set", "ChB.Frequency=" + std::to_string(2100 + i)};
    if (wait) {
      a.insert(a.begin(), "--wait");
      b.insert(b.begin(), "--wait");
    }
    const pid_t pa = Start(a, "", true, "a"), pb = Start(b, "", true, "b");
    const TRun ra = Finish(pa), rb = Finish(pb);
    const std::string got = Run({"get", "ChA.Frequency", "ChB.Frequency"}).Out;
    for (const auto& [r, line] : {std::pair{ra, "ChA.Frequency = " + std::to_string(1100 + i) + "\n"},
                                  std::pair{rb, "ChB.Frequency = " + std::to_string(2100 + i) + "\n"}}) {
      SCOPED_TRACE("pair " + std::to_string(i) + ": " + r.Err);
      if (wait || r.Code == 0) {
        EXPECT_EQ(r.Code, 0);
        EXPECT_NE(got.find(line), std::string::npos) << got;
      } else {
        EXPECT_EQ(r.Code, 5);
        // The holder is named once it has written its pid ("another process"
        // in the moment between taking the lock and writing it).
        EXPECT_NE(r.Err.find("is in use by "), std::string::npos) << r.Err;
        EXPECT_EQ(got.find(line), std::string::npos) << got;
      }
    }
  }
}

TEST_F(Tool, AHeldStateFileNamesItsHolderAndWaitWaits) {
  ASSERT_EQ(Run({"set", "ChA.Frequency=1500"}).Code, 0);
  const int fd = open((dir / "state.zg4.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(flock(fd, LOCK_EX), 0);
  ASSERT_EQ(ftruncate(fd, 0), 0);
  ASSERT_EQ(write(fd, "4242\n", 5), 5);
  TRun r = Run({"set", "ChA.Frequency=1600"});
  EXPECT_EQ(r.Code, 5);
  EXPECT_NE(r.Err.find("state.zg4 is in use by process 4242"), std::string::npos) << r.Err;
  EXPECT_EQ(Run({"get", "ChA.Frequency"}).Out, "1500\n");  // looking needs no lock

  const pid_t waiting = Start({"--wait", "set", "ChA.Frequency=1700"}, "", true, "w");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(waitpid(waiting, nullptr, WNOHANG), 0) << "it did not wait";
  close(fd);
  r = Finish(waiting);
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_NE(r.Err.find("waiting for process 4242"), std::string::npos) << r.Err;
  EXPECT_EQ(Run({"get", "ChA.Frequency"}).Out, "1700\n");
}

// The panel holds the state file while it runs, so that a command meanwhile
// cannot undo what the panel sets, and lets go when it ends.
TEST_F(Tool, ThePanelHoldsTheStateFileWhileItRuns) {
  const pid_t serve = Start({"serve", "--port", "0"}, "", true, "serve");
  std::string holder;
  for (int i = 0; i < 500 && holder != std::to_string(serve) + "\n"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    holder = Slurp(dir / "state.zg4.lock");
  }
  const TRun r = Run({"set", "ChA.Frequency=1600"});
  EXPECT_EQ(r.Code, 5);
  EXPECT_NE(r.Err.find("in use by process " + std::to_string(serve)), std::string::npos) << r.Err;
  kill(serve, SIGTERM);
  Finish(serve);
  EXPECT_EQ(Run({"set", "ChA.Frequency=1600"}).Code, 0);
}

// State and settings files that must not be used are refused with exit 4 and
// the reason, at once, changing nothing: a link planted where the old tool
// put its side file, a read-only state, pipes, and files cut short.
TEST_F(Tool, OddAndCutFilesAreRefusedAndChangeNothing) {
  ASSERT_EQ(Run({"set", "ChA.Frequency=1500"}).Code, 0);
  const fs::path state = dir / "state.zg4", victim = dir / "victim";
  std::ofstream(victim) << "precious";
  fs::create_symlink(victim, dir / "state.zg4.new");
  ASSERT_EQ(Run({"set", "ChA.Frequency=1600"}).Code, 0);
  EXPECT_EQ(Slurp(victim), "precious");
  ASSERT_EQ(Run({"set", "ChA.Frequency=1500"}).Code, 0);
  const std::string whole = Slurp(state);

  ASSERT_EQ(mkfifo((dir / "pipe.zg4").c_str(), 0600), 0);
  ASSERT_EQ(Run({"save", (dir / "copy.zg4").string()}).Code, 0);
  struct TCase {
    std::string Name;
    std::vector<std::string> Args;
    std::string Message;
  };
  std::vector<TCase> cases = {
      {"pipe as settings file", {"load", (dir / "pipe.zg4").string()}, "it is a pipe, not a regular file"},
      {"pipe to save to", {"save", (dir / "pipe.zg4").string()}, "it is a pipe, not a regular file"},
      {"pipe as state", {"--sim", "--state", (dir / "pipe.zg4").string(), "set", "ChA.Frequency=1600"}, "is a pipe"},
      {"pipe as state, looking", {"--sim", "--state", (dir / "pipe.zg4").string(), "get", "ChA.Frequency"}, "pipe"},
  };
  ASSERT_EQ(whole.find('\n'), std::string::npos);  // stored as it is read
  for (const size_t cut : {size_t{8}, size_t{9}, size_t{21}, size_t{100}, whole.size() / 2, whole.size() - 1}) {
    const std::string name = "cut" + std::to_string(cut) + ".zg4";
    std::ofstream(dir / name, std::ios::binary) << whole.substr(0, cut);
    const std::string reason = "it ends at byte " + std::to_string(cut) +
                               ", inside the settings record (a whole settings file is " +
                               std::to_string(whole.size()) + " bytes)";
    cases.push_back({name, {"load", (dir / name).string()}, reason});
    cases.push_back({name + " as state", {"--sim", "--state", (dir / name).string(), "set", "ChB.Phase=90"}, reason});
  }
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    const bool own = c.Args[0] == "--sim";
    const fs::path file = own ? fs::path(c.Args[2]) : fs::path();
    const std::string before = own && fs::is_regular_file(file) ? Slurp(file) : "";
    const TRun r = Run(c.Args, "", !own);
    EXPECT_EQ(r.Code, 4) << r.Err;
    EXPECT_NE(r.Err.find(c.Message), std::string::npos) << r.Err;
    if (own && fs::is_regular_file(file)) {
      EXPECT_EQ(Slurp(file), before);
    }
    EXPECT_EQ(Slurp(state), whole);
  }

  chmod(state.c_str(), 0444);
  const TRun r = Run({"set", "ChA.Frequency=1700"});
  EXPECT_EQ(r.Code, 4);
  EXPECT_NE(r.Err.find("read-only"), std::string::npos) << r.Err;
  EXPECT_EQ(Slurp(state), whole);
  struct stat st {};
  ASSERT_EQ(stat(state.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0444u);
  EXPECT_EQ(Run({"get", "ChA.Frequency"}).Out, "1500\n");
}

// What a user types and what comes back, one row per case; each case runs
// its steps in order on a state of its own.
struct TStep {
  std::vector<std::string> Args;
  int Code;
  const char* Out;  // "" checks nothing; a leading '=' asks for all of stdout
  const char* Err;
  const char* In = "";
};

struct TUserCase {
  const char* Name;
  std::vector<TStep> Steps;
};

const TUserCase kUserCases[] = {
    // Values with units, in the property's own unit afterwards.
    {"UnitsMHzToKHz", {{{"set", "ChA.Frequency=2MHz"}, 0, "", ""}, {{"get", "ChA.Frequency"}, 0, "=2000\n", ""}}},
    {"UnitsWithSpace", {{{"set", "ChA.Frequency=2 MHz"}, 0, "", ""}, {{"get", "ChA.Frequency"}, 0, "=2000\n", ""}}},
    {"UnitsKHzToHz",
     {{{"set", "ChB.IntModulation.Fm=5kHz", "ChB.DDSMod.dF=1500 Hz"}, 0, "", ""},
      {{"get", "ChB.IntModulation.Fm", "ChB.DDSMod.dF"},
       0,
       "=ChB.IntModulation.Fm = 5000\nChB.DDSMod.dF = 1500\n",
       ""}}},
    {"UnitsPercentDegrees",
     {{{"set", "ChA.Amplitude=50%", "ChA.Phase=90deg"}, 0, "", ""},
      {{"get", "ChA.Amplitude", "ChA.Phase"}, 0, "=ChA.Amplitude = 50\nChA.Phase = 90\n", ""}}},
    {"UnitThatDoesNotConvert",
     {{{"set", "ChA.Frequency=5%"}, 3, "", "% does not convert to kHz, the unit of ChA.Frequency"},
      {{"get", "ChA.Frequency"}, 0, "=1000\n", ""}}},
    {"MilliIsNotMega", {{{"set", "ChA.Frequency=2mHz"}, 3, "", "2mHz refused (range 400 to 200000 kHz)"}}},
    {"PathInAnyCase", {{{"set", "cha.frequency=1500kHz"}, 0, "", ""}, {{"get", "CHA.FREQUENCY"}, 0, "=1500\n", ""}}},
    {"NearMiss", {{{"set", "ChA.Frequncy=2000"}, 3, "", "did you mean ChA.Frequency?"}}},
    {"ModeNamesPeopleUse",
     {{{"set", "ChB.Mode=tuning"}, 0, "", ""},
      {{"set", "ChB.Mode=off", "ChA.Mode=intmod"}, 0, "", ""},
      {{"get", "ChA.Mode"}, 0, "=ZGMdC_IntModulation\n", ""}}},
    {"PropsSearchesDescriptions",
     {{{"props", "deviation"}, 0, "ChA.IntModulation.dF", ""},
      {{"props", "deviation"}, 0, "    frequency deviation\n", ""}}},
    // A zero is stored as 0.
    {"MinusZero", {{{"set", "ChA.IntModulation.CC=-0"}, 0, "", ""}, {{"get", "ChA.IntModulation.CC"}, 0, "=0\n", ""}}},
    // Files and arguments.
    {"ExportToStandardOutput", {{{"export", "-"}, 0, "object ZuGen4: TZuGen4\n", ""}}},
    {"ApplyFromStandardInput",
     {{{"apply", "-"}, 0, "", "", "object X: TZuGen4\n  ChA.Frequency = 1234\nend\n"},
      {{"get", "ChA.Frequency"}, 0, "=1234\n", ""}}},
    {"ApplyFormInAnyCaseTwice",
     {{{"apply", "-"},
       3,
       "",
       "standard input:3: ChA.Frequency is given twice (first on line 2)",
       "object X: TZuGen4\n  ChA.Frequency = 1234\n  cha.frequency = 1300\nend\n"}}},
    {"SvgToStandardOutput",
     {{{"set", "ChA.Mode=intmod"}, 0, "", ""}, {{"table", "ChA.IntModulation", "--svg", "-"}, 0, "<polyline", ""}}},
    {"CommandHelpHasAnExample", {{{"set", "--help"}, 0, "Example:\n  zugen4", ""}}},
    // What the tool says.
    {"StateShowsTheEngine",
     {{{"set", "ChA.Mode=intmod", "ChA.IntModulation.Type=freq", "ChA.IntModulation.Fm=500",
        "ChA.IntModulation.dF=20kHz"},
       0,
       "",
       ""},
      {{"state"}, 0, "  modulating freq with sin (CC 0.5) at 500 Hz, deviation 20000 Hz\n", ""}}},
};

class ToolUser : public Tool, public ::testing::WithParamInterface<TUserCase> {};

TEST_P(ToolUser, Steps) {
  int n = 0;
  for (const TStep& s : GetParam().Steps) {
    SCOPED_TRACE("step " + std::to_string(++n));
    const TRun r = Run(s.Args, s.In);
    EXPECT_EQ(r.Code, s.Code) << r.Err;
    if (s.Out[0] == '=')
      EXPECT_EQ(r.Out, s.Out + 1);
    else
      EXPECT_NE(r.Out.find(s.Out), std::string::npos) << r.Out;
    EXPECT_NE(r.Err.find(s.Err), std::string::npos) << r.Err;
  }
  EXPECT_FALSE(fs::exists(dir / "-")) << "- is standard input or output, never a file";
}

INSTANTIATE_TEST_SUITE_P(Each, ToolUser, ::testing::ValuesIn(kUserCases),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Tool, GlobalOptionsAfterTheCommandAndHelpOnce) {
  ASSERT_EQ(Run({"set", "ChA.Frequency=1500"}).Code, 0);
  const std::string state = (dir / "state.zg4").string();
  const TRun r = Run({"get", "ChA.Frequency", "--sim", "--state", state}, "", false);
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(r.Out, "1500\n");
  EXPECT_EQ(r.Err, "") << "the simulator's value is no remembered one";
  // Without --sim the value comes from the state file, and the tool says so.
  const TRun real = Run({"get", "ChA.Frequency", "--state", state}, "", false);
  EXPECT_EQ(real.Out, "1500\n");
  EXPECT_NE(real.Err.find("the instrument cannot be read back"), std::string::npos) << real.Err;
  // The exit codes once, in the tool's help; not in a command's. Every
  // command's help ends with an example.
  const std::string help = Run({"--help"}).Out;
  EXPECT_EQ(Count(help, "Exit codes"), 1);
  std::istringstream commands(help.substr(help.find("Subcommands:")));
  std::string line;
  int seen = 0;
  for (std::getline(commands, line); std::getline(commands, line) && !line.empty(); ++seen) {
    const std::string command = line.substr(2, line.find(' ', 2) - 2);
    const std::string own = Run({command, "--help"}).Out;
    EXPECT_EQ(Count(own, "Exit codes"), 0) << command;
    EXPECT_TRUE(std::regex_search(own, std::regex(R"(Example:\s+zugen4 )"))) << command << ":\n" << own;
  }
  EXPECT_GE(seen, 14);
}

TEST_F(Tool, SettingsThroughStandardInputAndOutput) {
  ASSERT_EQ(Run({"set", "ChB.Mode=gen", "ChB.Phase=45"}).Code, 0);
  const TRun saved = Run({"save", "-"});
  ASSERT_EQ(saved.Code, 0) << saved.Err;
  ASSERT_EQ(saved.Out.rfind("ZuG4", 0), 0u);
  ASSERT_EQ(Run({"reset"}).Code, 0);
  EXPECT_EQ(Run({"load", "-"}, saved.Out).Code, 0);
  EXPECT_EQ(Run({"get", "ChB.Phase"}).Out, "45\n");
  // convert - - reads standard input twice over (kind, then content).
  const TRun form = Run({"convert", "-", "-"}, saved.Out);
  EXPECT_EQ(form.Code, 0) << form.Err;
  EXPECT_NE(form.Out.find("  ChB.Phase = 45\n"), std::string::npos) << form.Out;
  EXPECT_EQ(Run({"convert", "-", "-"}, form.Out).Out, saved.Out);
  const TRun cut = Run({"load", "-"}, saved.Out.substr(0, 100));
  EXPECT_EQ(cut.Code, 4);
  EXPECT_NE(cut.Err.find("standard input"), std::string::npos) << cut.Err;
}

TEST_F(Tool, PollOnTheSimulatorReadsAVaryingWave) {
  ASSERT_EQ(Run({"set", "ChA.Mode=tuning", "ChA.Tuner.ADCTimerInterval=100"}).Code, 0);
  const TRun r = Run({"poll", "--count", "5"});
  ASSERT_EQ(r.Code, 0) << r.Err;
  std::set<long> seen;
  const std::regex reading(R"(ChA ADC (\d+))");
  for (auto it = std::sregex_iterator(r.Out.begin(), r.Out.end(), reading); it != std::sregex_iterator(); ++it)
    seen.insert(std::stol((*it)[1]));
  EXPECT_GE(seen.size(), 4u) << r.Out;
  for (long v : seen) EXPECT_TRUE(v > 10000 && v < 60000) << v;
}

// The shell on a terminal: completion, Ctrl-C, help, the history file.
class ToolTerminal : public Tool {
 protected:
  // Reads what the shell printed until `what` shows up after `from`.
  bool Await(const std::string& what) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (screen.find(what, from) == std::string::npos) {
      if (std::chrono::steady_clock::now() > end) return false;
      char buf[512];
      const ssize_t n = read(master, buf, sizeof buf);
      if (n > 0)
        screen.append(buf, static_cast<size_t>(n));
      else if (n < 0 && errno != EAGAIN)
        return false;
      else
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    from = screen.find(what, from) + what.size();
    return true;
  }
  void Type(const std::string& keys) { ASSERT_EQ(write(master, keys.data(), keys.size()), ssize_t(keys.size())); }

  int master = -1;
  std::string screen;
  size_t from = 0;
};

TEST_F(ToolTerminal, CompletionCtrlCHelpAndHistory) {
  if (Run({"shell"}, "help\n").Out.find("Tab completes") == std::string::npos) GTEST_SKIP() << "built without readline";
  master = posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  fcntl(master, F_SETFL, O_NONBLOCK);
  const std::string slave = ptsname(master);
  const std::string state = (dir / "state.zg4").string();
  std::vector<std::string> argv = {ZUGEN_TOOL_PATH, "--sim", "--state", state, "shell"};
  std::vector<char*> cargv;
  for (std::string& a : argv) cargv.push_back(a.data());
  cargv.push_back(nullptr);
  std::string xdg = "XDG_STATE_HOME=" + dir.string(), term = "TERM=dumb", home = "HOME=" + dir.string();
  char* env[] = {xdg.data(), term.data(), home.data(), nullptr};
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);  // the terminal becomes its own
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  for (int fd : {0, 1, 2}) posix_spawn_file_actions_addopen(&fa, fd, slave.c_str(), O_RDWR, 0);
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0].c_str(), &fa, &attr, cargv.data(), env), 0);
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);

  EXPECT_TRUE(Await("zugen4> "));
  // A path completes with no space before `=`.
  Type("set ChA.Freq\t");
  EXPECT_TRUE(Await("ChA.Frequency"));
  Type("=1500\n");
  EXPECT_TRUE(Await("zugen4> "));
  // Ctrl-C drops the line typed so far and the shell goes on.
  Type("set ChA.Frequency=3000");
  EXPECT_TRUE(Await("3000"));
  Type("\x03");
  EXPECT_TRUE(Await("zugen4> "));
  // After `=`, completion offers the property's names.
  Type("set ChB.Mode=tun\t");
  EXPECT_TRUE(Await("tuning"));
  Type("\n");
  EXPECT_TRUE(Await("zugen4> "));
  Type("help\n");
  EXPECT_TRUE(Await("Ctrl-C"));
  EXPECT_TRUE(Await("zugen4> "));
  Type("get ChA.Frequency ChB.Mode\n");
  EXPECT_TRUE(Await("ChA.Frequency = 1500\r\nChB.Mode = ZGMdC_tuning\r\n")) << screen;
  Type("quit\n");
  int status = 0;
  for (int i = 0; i < 2000 && waitpid(pid, &status, WNOHANG) == 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (waitpid(pid, &status, WNOHANG) == 0) kill(pid, SIGKILL), waitpid(pid, &status, 0);
  close(master);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;
  const std::string history = Slurp(dir / "zugen4" / "shell_history");
  EXPECT_NE(history.find("set ChA.Frequency=1500"), std::string::npos) << history;
  EXPECT_EQ(history.find("3000"), std::string::npos) << "a cancelled line is no history";
}

}  // namespace

namespace {

// The hex column of --trace and --dry-run lines ("      20 ms  F1 00 ...  meaning").
std::vector<std::string> HexColumn(const std::string& text) {
  std::vector<std::string> hex;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line))
    if (line.find(" ms  ") != std::string::npos) hex.push_back(line.substr(line.find(" ms  ") + 5, 17));
  return hex;
}

TEST_F(Tool, DryRunShowsWhatTheUpdateSendsAndARecordingReplaysIt) {
  const std::vector<std::string> change = {"set", "ChA.Mode=IntModulation", "ChA.IntModulation.Fm=750"};
  std::vector<std::string> dry = change;
  dry.push_back("--dry-run");
  const TRun preview = Run(dry);
  ASSERT_EQ(preview.Code, 0) << preview.Err;
  EXPECT_NE(preview.Out.find("commands, 1 data blocks:"), std::string::npos) << preview.Out;
  EXPECT_EQ(Run({"get", "ChA.Mode"}).Out, "ZGMdC_off\n");  // nothing remembered
  const std::string rec = (dir / "session.rec").string();
  std::vector<std::string> sent = {"--trace", "--record", rec};
  sent.insert(sent.end(), change.begin(), change.end());
  const TRun real = Run(sent);
  ASSERT_EQ(real.Code, 0) << real.Err;
  EXPECT_EQ(HexColumn(real.Out), HexColumn(preview.Out));
  ASSERT_EQ(Run({"--record", rec, "set", "ChB.Mode=gen", "ChB.Frequency=3000"}).Code, 0);
  // One plan per command: the simulator's unseen catch-up is not recorded.
  std::ifstream recording(rec);
  int plans = 0;
  for (std::string line; std::getline(recording, line);) plans += line.rfind("plan ", 0) == 0;
  EXPECT_EQ(plans, 2);
  const TRun replay = Run({"replay", rec}, "", false);
  ASSERT_EQ(replay.Code, 0) << replay.Err;
  // The instrument the replay leaves is the one the session left: each line
  // of its decoded state is in `state` (which adds the engines' values).
  const std::string live = Run({"state"}).Out;
  std::istringstream replayed(replay.Out.substr(replay.Out.find('\n') + 1));
  int lines = 0;
  for (std::string line; std::getline(replayed, line); ++lines)
    EXPECT_NE(live.find(line + "\n"), std::string::npos) << line << "\nnot in\n" << live;
  EXPECT_GE(lines, 5);
  // A setup no engine can send: exit 3, the value named, nothing sent.
  const TRun refused = Run({"--trace", "set", "ChA.IntModulation.Fm=1", "ChB.Mode=IntModulation"});
  EXPECT_EQ(refused.Code, 3);
  EXPECT_NE(refused.Err.find("ChA.IntModulation.Fm: 1 cannot be sent"), std::string::npos) << refused.Err;
  EXPECT_EQ(HexColumn(refused.Out).size(), 0u);
}

}  // namespace
