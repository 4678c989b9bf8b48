#include "ParserTargets.h"

#include <sstream>
#include <string_view>
#include <variant>

#include "Scenario.h"
#include "ScenarioWriter.h"
#include "TraceReader.h"

namespace korvane::fuzz {
namespace {

std::string_view Text(std::span<const std::uint8_t> input) {
  return {reinterpret_cast<const char*>(input.data()), input.size()};
}

}  // namespace

std::optional<std::string> ReadScenarioText(std::span<const std::uint8_t> input) {
  const auto first = sim::ParseScenario(Text(input), "fuzzed.json");
  if (std::holds_alternative<sim::ScenarioError>(first)) return std::nullopt;
  const std::string written = sim::ScenarioJson(std::get<sim::Scenario>(first));
  const auto again = sim::ParseScenario(written, "written.json");
  if (const auto* error = std::get_if<sim::ScenarioError>(&again)) {
    return "a scenario read does not read back once written: " + error->message;
  }
  if (sim::ScenarioJson(std::get<sim::Scenario>(again)) != written) {
    return "a scenario read back once written describes other enclosures";
  }
  return std::nullopt;
}

std::optional<std::string> ReadTraceText(std::span<const std::uint8_t> input) {
  const auto read = [&](trace::TraceUse use) {
    std::istringstream in{std::string(Text(input))};
    return trace::ReadTrace(in, "fuzzed.trace", use, "check");
  };
  const auto replay = read(trace::TraceUse::Replay);
  if (std::holds_alternative<trace::TraceError>(replay)) return std::nullopt;
  const auto compare = read(trace::TraceUse::Compare);
  if (const auto* error = std::get_if<trace::TraceError>(&compare)) {
    return "a trace read for a replay is refused for a comparison: " + error->message;
  }
  return std::nullopt;
}

}  // namespace korvane::fuzz
