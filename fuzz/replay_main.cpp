// Replays the kept inputs of one fuzz target as tests, in every build: each
// file of the seed corpus and of the regressions (inputs that once crashed,
// hung or leaked) runs through the target's entry function, which comes in by
// name as DOTWEAVE_FUZZ_ENTRY.
//
//   <target>_replay CORPUS_DIR [REGRESSIONS_DIR]
//
// The corpus must hold at least one input; the regressions may be missing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

int DOTWEAVE_FUZZ_ENTRY(const std::uint8_t *data, std::size_t size);

// Present in sanitizer builds only.
extern "C" void __sanitizer_set_report_fd(void *fd) __attribute__((weak));
extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

namespace {

namespace fs = std::filesystem;

// Runs one input with the output streams of the code under test (a printer
// stream and status lines) sent to /dev/null; a sanitizer report still
// reaches the test's standard error.
void RunQuietly(const std::string &input) {
  std::fflush(stdout);
  std::fflush(stderr);
  const int savedOut = dup(1), savedErr = dup(2);
  const int null = open("/dev/null", O_WRONLY);
  ASSERT_TRUE(savedOut >= 0 && savedErr >= 0 && null >= 0);
  if (__sanitizer_set_report_fd != nullptr)
    __sanitizer_set_report_fd(reinterpret_cast<void *>(static_cast<std::intptr_t>(savedErr)));
  dup2(null, 1);
  dup2(null, 2);
  DOTWEAVE_FUZZ_ENTRY(reinterpret_cast<const std::uint8_t *>(input.data()), input.size());
  std::fflush(stdout);
  std::fflush(stderr);
  dup2(savedOut, 1);
  dup2(savedErr, 2);
  if (__sanitizer_set_report_fd != nullptr)
    __sanitizer_set_report_fd(reinterpret_cast<void *>(static_cast<std::intptr_t>(2)));
  close(null);
  close(savedOut);
  close(savedErr);
}

class ReplayInput : public testing::Test {
 public:
  explicit ReplayInput(fs::path file) : file_(std::move(file)) {}
  void TestBody() override {
    std::ifstream in(file_, std::ios::binary);
    ASSERT_TRUE(in) << "cannot read " << file_;
    const std::string input((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    RunQuietly(input);
    // A leak is pinned on the input that caused it, not reported at exit.
    if (__lsan_do_recoverable_leak_check != nullptr) {
      EXPECT_EQ(__lsan_do_recoverable_leak_check(), 0) << file_ << " leaked memory";
    }
  }

 private:
  fs::path file_;
};

// Registers one test per regular file of `dir`; returns how many.
std::size_t RegisterInputs(const fs::path &dir) {
  std::vector<fs::path> files;
  std::error_code ec;
  for (const fs::directory_entry &e : fs::directory_iterator(dir, ec))
    if (e.is_regular_file()) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  // Suite "corpus_raster" for fuzz/corpus/raster, test name the file name.
  const std::string suite = dir.parent_path().filename().string() + "_" + dir.filename().string();
  for (const fs::path &file : files) {
    testing::RegisterTest(suite.c_str(), file.filename().string().c_str(), nullptr, nullptr,
                          __FILE__, __LINE__, [file]() -> testing::Test * { return new ReplayInput(file); });
  }
  return files.size();
}

}  // namespace

int main(int argc, char **argv) {
  testing::InitGoogleTest(&argc, argv);
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: %s CORPUS_DIR [REGRESSIONS_DIR]\n", argv[0]);
    return 2;
  }
  if (RegisterInputs(argv[1]) == 0) {
    std::fprintf(stderr, "%s: no inputs in the corpus %s\n", argv[0], argv[1]);
    return 1;
  }
  if (argc == 3 && fs::is_directory(argv[2])) RegisterInputs(argv[2]);
  return RUN_ALL_TESTS();
}
