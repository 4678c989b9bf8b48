// The entry libFuzzer calls; the build names the target it runs (KORVANE_FUZZ_TARGET).
#include <cstdio>
#include <cstdlib>

#include "FuzzedBridge.h"
#include "ParserTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (const auto broken = korvane::fuzz::KORVANE_FUZZ_TARGET({data, size})) {
    std::fprintf(stderr, "korvane fuzz: rule broken: %s\n", broken->c_str());
    std::abort();
  }
  return 0;
}
