// A bridge whose every answer the fuzzer chooses, behind the real transport, driving the whole
// program; what must hold whatever the bridge answers is checked where the commands reach it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace korvane::fuzz {

/// Runs `korvane-fw update` on the built-in scenario the input's first byte picks, with opens,
/// answers, transferred counts, statuses, sense, OS errors, mount checks and the disk vanishing
/// altered where the rest of the input says; once it is spent, the simulated bridge answers as it
/// would. Before the run the transport may also be handed a command outside the bridge's set, as
/// a caller gone wrong would. Returns the first safety rule the program broke, or nothing.
std::optional<std::string> RunFuzzedBridge(std::span<const std::uint8_t> input);

}  // namespace korvane::fuzz
