// The front panel (`zugen4 serve`) under load and over a long run.
//
// BM_TuningHourRss: an hour of tuning mode (one ADC reading every 50 ms) on
// virtual time, in-process; reports the resident set after the first minute
// and after the hour (target: the same), with the simulator's trace bounded
// as the panel bounds it (arg 1) and unbounded (arg 0, as before).
// The others spawn the zugen4 program (ZUGEN4_PROGRAM overrides the one
// built) with `--sim serve --port 0` on the real clock:
// BM_PlainRequestUnderLoad: a plain GET /api/setup on a fresh connection
// while 200 event streams are open and 20 clients send a request a byte a
// second (target: under 100 ms).
// BM_SigtermToExit: from SIGTERM to the end of the process with those clients
// connected (target: under 1 s).
// BM_IdleWakeups: context switches of the idle panel in 10 s (target: none
// beyond a handful).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Server.h"
#include "zugen4/ZuRegistry.h"
#include "zugen4/sim/SimInstrument.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

long StatusField(const std::string& file, const std::string& field) {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);)
    if (line.starts_with(field + ":")) return std::stol(line.substr(field.size() + 1));
  return -1;
}

void BM_TuningHourRss(benchmark::State& state) {
  for (auto _ : state) {
    Zu::Sim::TSimPlatform sim;
    Zu::TZuGen4 gen;
    gen.SetPlatform(sim.Platform());
    auto log = Zu::Serve::InstallFrameLog(gen);
    gen.IncludeState(Zu::csLoading);
    gen.SetActive(true);
    Zu::Serve::TServeOptions options;
    options.SimTimers = sim.Timers;
    if (state.range(0)) options.SimDriver = sim.Driver;
    uint32_t reading = 0;
    options.Tick = [&] { sim.Driver->SetADCValue(reading += 977); };
    Zu::Serve::TPanelServer server(gen, options, log);
    Zu::SetProps(gen,
                 {{"ChA.Mode", "tuning"}, {"ChA.Tuner.ADCTimerInterval", "50"}, {"ChA.Tuner.ADCTimerEnabled", "true"}});
    gen.UpdateMode();
    auto minutes = [&](int n) {
      for (int i = 0; i < n * 60 * 20; ++i) server.AdvanceTime(50);
    };
    minutes(1);
    const long afterMinute = StatusField("/proc/self/status", "VmRSS");
    minutes(59);
    const long afterHour = StatusField("/proc/self/status", "VmRSS");
    state.counters["rss_1min_KiB"] = static_cast<double>(afterMinute);
    state.counters["rss_60min_KiB"] = static_cast<double>(afterHour);
    state.counters["growth_KiB"] = static_cast<double>(afterHour - afterMinute);
    state.counters["trace_entries"] = static_cast<double>(sim.Driver->Trace().size());
    state.counters["events"] = static_cast<double>(server.Hub().LastId());
  }
}
BENCHMARK(BM_TuningHourRss)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kSecond);

// --- the program ---

std::string Program() {
  const char* p = std::getenv("ZUGEN4_PROGRAM");
  return p ? p : ZUGEN_TOOL_PATH;
}

// `zugen4 --sim serve --port 0` with a state file of its own.
class TPanelProcess {
 public:
  TPanelProcess() {
    FState = (std::filesystem::temp_directory_path() / ("zugen4-panel-bench-" + std::to_string(getpid()) + ".zg4"));
    std::vector<std::string> args = {Program(), "--sim", "--state", FState.string(), "serve", "--port", "0"};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int fds[2];
    if (pipe(fds) != 0) return;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    if (posix_spawn(&FPid, argv[0], &fa, nullptr, argv.data(), environ) != 0) FPid = 0;
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    FOut = fds[0];
    std::string out;
    char c = 0;
    const std::regex url(R"(http://127\.0\.0\.1:(\d+)/)");
    std::smatch m;
    while (FPid && read(FOut, &c, 1) == 1) {
      out += c;
      if (c == '\n' && std::regex_search(out, m, url)) {
        FPort = std::stoi(m[1]);
        break;
      }
    }
  }
  ~TPanelProcess() {
    if (FPid && !FEnded) {
      kill(FPid, SIGKILL);
      waitpid(FPid, nullptr, 0);
    }
    if (FOut >= 0) close(FOut);
    std::filesystem::remove(FState);
  }
  int Port() const { return FPort; }
  pid_t Pid() const { return FPid; }
  // Seconds from SIGTERM to the end of the process.
  double Terminate() {
    const auto t0 = Clock::now();
    kill(FPid, SIGTERM);
    waitpid(FPid, nullptr, 0);
    FEnded = true;
    return std::chrono::duration<double>(Clock::now() - t0).count();
  }

 private:
  std::filesystem::path FState;
  pid_t FPid = 0;
  int FOut = -1;
  int FPort = 0;
  bool FEnded = false;
};

int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  timeval tv{30, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

std::string Get(const std::string& path, int port) {
  return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";
}

// Reads until marker comes, the server closes, or the deadline passes.
bool ReadUntil(int fd, const std::string& marker,
               Clock::time_point deadline = Clock::now() + std::chrono::seconds(30)) {
  std::string in;
  char buf[4096];
  while (in.find(marker) == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    timeval tv{static_cast<time_t>(left / 1000000), static_cast<suseconds_t>(left % 1000000)};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) return false;
    in.append(buf, static_cast<size_t>(n));
  }
  return true;
}

// 200 event streams (opened one after another, each waiting for its hello)
// and 20 clients that send a request a byte a second on a thread of their own.
class TCrowd {
 public:
  explicit TCrowd(int port) : FPort(port) {
    for (int i = 0; i < 200; ++i) {
      const int fd = Connect(port);
      if (fd < 0) break;
      const std::string get = Get("/api/events", port);
      send(fd, get.data(), get.size(), MSG_NOSIGNAL);
      FStreams.push_back(fd);
    }
    // A server that cannot take them all gets 10 s for all of them.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    for (int fd : FStreams) FHello += ReadUntil(fd, "event: hello", deadline);
    for (int i = 0; i < 20; ++i) FSlow.push_back(Connect(port));
    FTrickle = std::thread([this] {
      const std::string request = Get("/api/setup", FPort);
      for (size_t i = 0; !FStop; ++i) {
        for (int fd : FSlow) send(fd, &request[i % request.size()], 1, MSG_NOSIGNAL);
        for (int t = 0; t < 10 && !FStop; ++t) std::this_thread::sleep_for(std::chrono::milliseconds(100));
      }
    });
  }
  ~TCrowd() {
    FStop = true;
    FTrickle.join();
    for (int fd : FStreams) close(fd);
    for (int fd : FSlow)
      if (fd >= 0) close(fd);
  }
  int Streams() const { return FHello; }

 private:
  int FPort;
  std::vector<int> FStreams, FSlow;
  int FHello = 0;
  std::atomic<bool> FStop{false};
  std::thread FTrickle;
};

void BM_PlainRequestUnderLoad(benchmark::State& state) {
  TPanelProcess panel;
  if (!panel.Port()) {
    state.SkipWithError("the panel did not start");
    return;
  }
  TCrowd crowd(panel.Port());
  state.counters["streams"] = crowd.Streams();
  double worst = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    const int fd = Connect(panel.Port());
    const std::string get = Get("/api/setup", panel.Port());
    send(fd, get.data(), get.size(), MSG_NOSIGNAL);
    const bool ok = fd >= 0 && ReadUntil(fd, "\"lastEvent\"");
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (fd >= 0) close(fd);
    if (!ok) {
      state.SkipWithError("no answer");
      break;
    }
    worst = std::max(worst, s);
    state.SetIterationTime(s);
  }
  state.counters["worst_ms"] = worst * 1e3;
}
BENCHMARK(BM_PlainRequestUnderLoad)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);

void BM_SigtermToExit(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    TPanelProcess panel;
    if (!panel.Port()) {
      state.SkipWithError("the panel did not start");
      break;
    }
    auto crowd = std::make_unique<TCrowd>(panel.Port());
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    state.ResumeTiming();
    state.SetIterationTime(panel.Terminate());
  }
}
BENCHMARK(BM_SigtermToExit)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

long ContextSwitches(pid_t pid) {
  long sum = 0;
  for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/task"))
    sum += StatusField(task.path() / "status", "voluntary_ctxt_switches") +
           StatusField(task.path() / "status", "nonvoluntary_ctxt_switches");
  return sum;
}

void BM_IdleWakeups(benchmark::State& state) {
  for (auto _ : state) {
    TPanelProcess panel;
    if (!panel.Port()) {
      state.SkipWithError("the panel did not start");
      break;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const long before = ContextSwitches(panel.Pid());
    std::this_thread::sleep_for(std::chrono::seconds(10));
    state.counters["wakeups_10s"] = static_cast<double>(ContextSwitches(panel.Pid()) - before);
  }
}
BENCHMARK(BM_IdleWakeups)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace

BENCHMARK_MAIN();
