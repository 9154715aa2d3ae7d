// The zugen4 program from its start to the first frame it sends to the
// simulated instrument: spawned as a shell would, timed until the first
// --trace line arrives on its standard output (real clock).
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

extern char** environ;

namespace {

void BM_ToolStartToFirstFrame(benchmark::State& state) {
  const std::string stateFile = "/tmp/zugen4-bench-" + std::to_string(getpid()) + ".zg4";
  std::string a0 = ZUGEN_TOOL_PATH, a1 = "--sim", a2 = "--trace", a3 = "--state", a4 = stateFile, a5 = "set",
              a6 = "ChA.Mode=gen";
  char* argv[] = {a0.data(), a1.data(), a2.data(), a3.data(), a4.data(), a5.data(), a6.data(), nullptr};
  for (auto _ : state) {
    int fds[2];
    if (pipe(fds) != 0) {
      state.SkipWithError("pipe");
      break;
    }
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
    posix_spawn_file_actions_addclose(&fa, fds[0]);
    const auto t0 = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    close(fds[1]);
    // The first line on stdout is the first frame sent.
    char c = 0;
    bool got = false;
    while (rc == 0 && read(fds[0], &c, 1) == 1)
      if (c == '\n') {
        got = true;
        break;
      }
    const auto t1 = std::chrono::steady_clock::now();
    char drain[4096];
    while (read(fds[0], drain, sizeof drain) > 0) {
    }
    close(fds[0]);
    int status = 0;
    if (rc == 0) waitpid(pid, &status, 0);
    if (!got) {
      state.SkipWithError("no frame from the tool");
      break;
    }
    state.SetIterationTime(std::chrono::duration<double>(t1 - t0).count());
  }
  std::remove(stateFile.c_str());
}
BENCHMARK(BM_ToolStartToFirstFrame)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(50);

}  // namespace

BENCHMARK_MAIN();
