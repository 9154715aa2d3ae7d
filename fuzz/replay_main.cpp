// Replays a fuzz target's corpus in an ordinary build: every file below the
// directories (or the files) named on the command line goes through the
// target once. A crash or a failed check ends the program as it would the
// fuzzer.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Optional, as with libFuzzer: a target that prepares its surroundings.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (fs::is_directory(argv[i])) {
      for (const auto& e : fs::recursive_directory_iterator(argv[i]))
        if (e.is_regular_file()) inputs.push_back(e.path());
    } else {
      inputs.emplace_back(argv[i]);
    }
  }
  // The inputs are read before a target's preparation may change directory.
  std::vector<std::vector<uint8_t>> contents;
  for (const auto& p : inputs) {
    std::ifstream in(p, std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", p.string().c_str());
      return 1;
    }
    contents.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  if (LLVMFuzzerInitialize && LLVMFuzzerInitialize(&argc, &argv) != 0) return 1;
  if (inputs.empty()) {
    std::fprintf(stderr, "no inputs to replay\n");
    return 1;
  }
  for (const auto& bytes : contents) LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
  std::printf("%zu inputs replayed\n", inputs.size());
  return 0;
}
