// Fuzz target: the zugen4 tool's command line and its shell. The bytes up to
// the first NUL are the arguments, one a line; the rest is what the shell
// reads. Always on the simulated instrument, in a scratch directory that is
// also the state directory; inputs naming paths ('/') are skipped so that no
// run writes outside it. The tool must answer everything with an exit code.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "Tool.h"

namespace {
char gDir[] = "/tmp/zugen_fuzz_tool_XXXXXX";
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (!mkdtemp(gDir) || chdir(gDir) != 0) return 1;
  std::atexit([] {
    std::error_code ec;
    std::filesystem::remove_all(gDir, ec);
  });
  setenv("XDG_STATE_HOME", gDir, 1);
  setenv("HOME", gDir, 1);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  if (all.find('/') != std::string_view::npos) return 0;
  const size_t nul = all.find('\0');
  const std::string_view argText = all.substr(0, nul);
  std::vector<std::string> args{"--sim"};
  size_t start = 0;
  while (start <= argText.size() && args.size() < 24) {
    const size_t end = std::min(argText.find('\n', start), argText.size());
    args.emplace_back(argText.substr(start, end - start));
    start = end + 1;
  }
  for (const std::string& a : args)
    if (a == "serve") return 0;  // a server waits for clients
  std::istringstream in(nul == std::string_view::npos ? std::string() : std::string(all.substr(nul + 1)));
  std::ostringstream out, err;
  const int code = Zu::Tool::RunTool(args, out, err, &in);
  if (code < 0 || code > 255) {
    std::fprintf(stderr, "exit code %d\n", code);
    std::abort();
  }
  return 0;
}
