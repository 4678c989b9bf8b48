// Every seed of the fuzz corpus, and every finding kept there, run through its target: none may
// break a rule or upset the sanitizers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "fuzz/FuzzedBridge.h"
#include "fuzz/ParserTargets.h"

namespace korvane::fuzz {
namespace {

namespace fs = std::filesystem;
using Target = std::optional<std::string> (*)(std::span<const std::uint8_t>);

struct Seed {
  std::string target;
  fs::path file;
};

Target TargetNamed(const std::string& name) {
  if (name == "bridge") return RunFuzzedBridge;
  if (name == "scenario") return ReadScenarioText;
  if (name == "trace") return ReadTraceText;
  if (name == "image") return ReadImageWithRecord;
  if (name == "record") return ReadBackupRecord;
  if (name == "history") return ReadHistoryLines;
#ifdef __linux__
  if (name == "mounts") return CheckMountTexts;
#endif
  return nullptr;
}

std::vector<Seed> AllSeeds() {
  std::vector<Seed> seeds;
  std::error_code ec;
  for (const auto& folder : fs::directory_iterator(KORVANE_FUZZ_SEEDS, ec)) {
    const std::string target = folder.path().filename().string();
    if (TargetNamed(target) == nullptr) continue;
    for (const auto& file : fs::directory_iterator(folder.path(), ec)) {
      seeds.push_back({target, file.path()});
    }
  }
  std::ranges::sort(seeds, {}, [](const Seed& seed) { return seed.file; });
  return seeds;
}

std::string SeedName(const ::testing::TestParamInfo<Seed>& info) {
  std::string name = info.param.target + "_" + info.param.file.stem().string();
  std::ranges::replace_if(
      name, [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); }, '_');
  return name;
}

class FuzzSeed : public ::testing::TestWithParam<Seed> {};

TEST_P(FuzzSeed, KeepsEveryRule) {
  std::ifstream in(GetParam().file, std::ios::binary);
  ASSERT_TRUE(in) << GetParam().file;
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                        std::istreambuf_iterator<char>()};
  EXPECT_EQ(TargetNamed(GetParam().target)(bytes), std::nullopt) << GetParam().file;
}

INSTANTIATE_TEST_SUITE_P(Corpus, FuzzSeed, ::testing::ValuesIn(AllSeeds()), SeedName);

}  // namespace
}  // namespace korvane::fuzz
