// After a complete update: the user unplugs the enclosure and plugs it in again, and korvane-fw
// waits for it, identifies it once more and reads what it runs, so that an update is proven by
// the firmware that runs, not by the write alone.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "JobSession.h"
#include "ListCommand.h"

namespace korvane::cli {

/// How long the proof waits for the replug unless told otherwise.
inline constexpr std::chrono::seconds kDefaultReplugWait{600};

/// What the replug showed.
enum class ReplugResult : std::uint8_t {
  Runs,          ///< it came back running the version written
  BootRom,       ///< it came back in its boot ROM
  OtherVersion,  ///< it came back running another version
  NotBack,       ///< it did not come back within the wait
  Interrupted,   ///< Ctrl-C ended the wait; the update itself had completed
  CannotWait,    ///< the platform cannot tell of device changes
};

/// "runs-written", "boot-rom", "other-version", "not-back", "interrupted", "cannot-wait".
std::string_view ReplugResultName(ReplugResult result);

/// What the proof asks: the chip to find again, what ran before and what must run now.
struct ReplugExpectation {
  std::uint8_t chipCode = 0;
  std::string path;  ///< where it was written
  std::array<std::uint8_t, 4> before{};
  std::optional<std::array<std::uint8_t, 4>> written;  ///< nothing: the image names none
  std::chrono::milliseconds wait = kDefaultReplugWait;
};

/// How the proof ended.
struct ReplugProof {
  ReplugResult result = ReplugResult::NotBack;
  std::optional<FirmwareState> firmware;  ///< what runs after the replug
  std::string path;                       ///< where it came back
  std::string detail;                     ///< with CannotWait: why
};

/// Waits for the enclosure to go and come back, then reads what it runs. The wait ends at once
/// for the version written or the boot ROM; another version counts once the enclosure was seen
/// gone, or when it differs from what ran before.
ReplugProof ProveReplug(CommandContext& context, JobSession& session,
                        const ReplugExpectation& expected);

/// The exit code of a proof: 0 for the version written, its own code for each other outcome.
int ReplugExitCode(ReplugResult result);

/// {"result", "path", "firmware", "rom_mode"}.
nlohmann::ordered_json ReplugJson(const ReplugProof& proof);

/// The proof in words, one to three lines.
void PrintReplugProof(std::ostream& out, const ReplugProof& proof, const ReplugExpectation& asked,
                      bool recoverable);

}  // namespace korvane::cli
