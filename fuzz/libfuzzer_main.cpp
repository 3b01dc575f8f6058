// The libFuzzer front of one fuzz target. The target's entry function comes
// in by name as DOTWEAVE_FUZZ_ENTRY, so that every target is this file plus
// one library.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

int DOTWEAVE_FUZZ_ENTRY(const std::uint8_t *data, std::size_t size);

extern "C" int LLVMFuzzerInitialize(int * /*argc*/, char *** /*argv*/) {
  // What the code under test prints (a printer stream) is not looked at;
  // only its safety is.
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  return DOTWEAVE_FUZZ_ENTRY(data, size);
}
