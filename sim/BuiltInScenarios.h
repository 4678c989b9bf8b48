// The scenarios that ship inside the program, kept as the same JSON a scenario file holds.
#pragma once

#include <optional>
#include <string_view>

namespace korvane::sim {

/// The JSON text of the built-in scenario with that name, or nothing.
std::optional<std::string_view> BuiltInScenarioText(std::string_view name);

}  // namespace korvane::sim
