// A fuzz target's corpus replayed as an ordinary test: every file named on
// the command line, or found (sorted, not recursing) in a folder named
// there, goes once through the target's LLVMFuzzerTestOneInput, as the
// fuzzer would feed it, in a build without the fuzzer. A target that finds
// a fault aborts, which fails the test; so does a corpus that is missing
// or empty, since replaying nothing proves nothing.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
// Only some targets prepare the process once before their inputs.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
    __attribute__((weak));

namespace {

namespace fs = std::filesystem;

// The inputs a command-line word names, in a fixed order; false when it
// names nothing that can be read.
bool Collect(const fs::path& named, std::vector<fs::path>* inputs) {
  std::error_code error;
  if (fs::is_regular_file(named, error)) {
    inputs->push_back(named);
    return true;
  }
  if (!fs::is_directory(named, error)) return false;
  std::vector<fs::path> found;
  for (fs::directory_iterator it(named, error), end; !error && it != end;
       it.increment(error)) {
    if (it->is_regular_file(error)) found.push_back(it->path());
  }
  if (error) return false;
  std::sort(found.begin(), found.end());
  inputs->insert(inputs->end(), found.begin(), found.end());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!Collect(argv[i], &inputs)) {
      fprintf(stderr, "replay: cannot read the corpus %s\n", argv[i]);
      return 1;
    }
  }
  if (inputs.empty()) {
    fprintf(stderr, "replay: the corpus holds no input\n");
    return 1;
  }
  for (const fs::path& input : inputs) {
    std::ifstream file(input, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)),
                               std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof()) {
      fprintf(stderr, "replay: cannot read %s\n", input.c_str());
      return 1;
    }
    // Printed first, so that the input a target aborts on is the last line.
    printf("replay: %s (%zu bytes)\n", input.c_str(), bytes.size());
    fflush(stdout);
    // A target may read its data pointer even for no bytes, as the
    // fuzzer never hands it a null one.
    static const uint8_t kNothing = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : bytes.data(),
                           bytes.size());
  }
  printf("replay: %zu inputs, no fault\n", inputs.size());
  return 0;
}
