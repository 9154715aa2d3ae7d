// The SCPI server against the tool, on the simulated instrument (real clock):
// a query's round trip (`FREQ?` over an open connection against `zugen4 get`
// started for it) and a change until its first frame (`FREQ <f>` until the
// server's first --trace line against `zugen4 set` from its start, as
// bench/tool_bench.cpp times it).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// A program started with its standard output on a pipe.
struct TChild {
  pid_t Pid = 0;
  int Out = -1;
  std::string Buffer;

  bool Start(std::vector<std::string> args) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&Pid, argv[0], &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    Out = fds[0];
    return rc == 0;
  }
  // The next line of its output; "" when it ended or 5 s passed.
  std::string Line() {
    for (;;) {
      if (const size_t nl = Buffer.find('\n'); nl != std::string::npos) {
        std::string line = Buffer.substr(0, nl);
        Buffer.erase(0, nl + 1);
        return line;
      }
      pollfd p{Out, POLLIN, 0};
      char buf[4096];
      if (poll(&p, 1, 5000) != 1) return {};
      const ssize_t n = read(Out, buf, sizeof buf);
      if (n <= 0) return {};
      Buffer.append(buf, static_cast<size_t>(n));
    }
  }
  void Drain() {
    Buffer.clear();
    char buf[4096];
    pollfd p{Out, POLLIN, 0};
    while (poll(&p, 1, 0) == 1 && read(Out, buf, sizeof buf) > 0) {
    }
  }
  int Wait() {
    char drain[4096];
    while (read(Out, drain, sizeof drain) > 0) {
    }
    close(Out);
    int status = 0;
    waitpid(Pid, &status, 0);
    return status;
  }
  void Stop() {
    kill(Pid, SIGTERM);
    Wait();
  }
};

std::string StateFile() { return "/tmp/zugen4-scpi-bench-" + std::to_string(getpid()) + ".zg4"; }

// The server with --trace, and one connection to it.
struct TSession {
  TChild Server;
  int Fd = -1;
  std::string In;

  bool Open() {
    if (!Server.Start({ZUGEN_TOOL_PATH, "--sim", "--trace", "--state", StateFile(), "scpi", "--port", "0"}))
      return false;
    const std::string first = Server.Line();
    const size_t at = first.find("127.0.0.1:");
    if (at == std::string::npos) return false;
    const int port = std::stoi(first.substr(at + 10));
    Server.Line();  // "Stop with Ctrl-C..."
    Fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa = {};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    setsockopt(Fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return connect(Fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
  }
  void Send(const std::string& s) { [[maybe_unused]] const ssize_t n = send(Fd, s.data(), s.size(), MSG_NOSIGNAL); }
  std::string Answer() {
    for (;;) {
      if (const size_t nl = In.find('\n'); nl != std::string::npos) {
        std::string line = In.substr(0, nl);
        In.erase(0, nl + 1);
        return line;
      }
      char buf[4096];
      const ssize_t n = recv(Fd, buf, sizeof buf, 0);
      if (n <= 0) return {};
      In.append(buf, static_cast<size_t>(n));
    }
  }
  ~TSession() {
    if (Fd >= 0) close(Fd);
    if (Server.Pid) Server.Stop();
    std::remove(StateFile().c_str());
  }
};

void BM_ScpiQueryRoundTrip(benchmark::State& state) {
  TSession s;
  if (!s.Open()) {
    state.SkipWithError("the SCPI server did not start");
    return;
  }
  for (auto _ : state) {
    s.Send("FREQ?\n");
    if (s.Answer().empty()) {
      state.SkipWithError("no answer");
      break;
    }
  }
}
BENCHMARK(BM_ScpiQueryRoundTrip)->Unit(benchmark::kMicrosecond);

void BM_ToolGetRoundTrip(benchmark::State& state) {
  for (auto _ : state) {
    TChild tool;
    if (!tool.Start({ZUGEN_TOOL_PATH, "--sim", "--state", StateFile(), "get", "ChA.Frequency"}) ||
        tool.Line().empty()) {
      state.SkipWithError("no answer from the tool");
      break;
    }
    tool.Wait();
  }
  std::remove(StateFile().c_str());
}
BENCHMARK(BM_ToolGetRoundTrip)->Unit(benchmark::kMillisecond)->Iterations(50);

void BM_ScpiChangeToFirstFrame(benchmark::State& state) {
  TSession s;
  if (!s.Open()) {
    state.SkipWithError("the SCPI server did not start");
    return;
  }
  int i = 0;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    s.Send("FREQ " + std::to_string(1000000 + (++i % 1000)) + ";*OPC?\n");
    const std::string first = s.Server.Line();
    const auto t1 = Clock::now();
    if (first.empty() || s.Answer() != "1") {
      state.SkipWithError("no frame or no answer");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
    s.Server.Drain();
  }
}
BENCHMARK(BM_ScpiChangeToFirstFrame)->UseManualTime()->Unit(benchmark::kMicrosecond);

void BM_ToolChangeToFirstFrame(benchmark::State& state) {
  for (auto _ : state) {
    TChild tool;
    const auto t0 = Clock::now();
    const bool started =
        tool.Start({ZUGEN_TOOL_PATH, "--sim", "--trace", "--state", StateFile(), "set", "ChA.Frequency=1500"});
    const std::string first = started ? tool.Line() : std::string();
    const auto t1 = Clock::now();
    tool.Wait();
    if (first.empty()) {
      state.SkipWithError("no frame from the tool");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
  std::remove(StateFile().c_str());
}
BENCHMARK(BM_ToolChangeToFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace

BENCHMARK_MAIN();
