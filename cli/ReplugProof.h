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
#include "DiskEntries.h"
#include "JobSession.h"
#include "Reload.h"

namespace korvane::cli {

/// How long the proof waits for the replug unless told otherwise.
inline constexpr std::chrono::seconds kDefaultReplugWait{600};

/// "runs-written", "boot-rom", "other-version", "not-back", "interrupted", "cannot-wait".
std::string_view ReplugResultName(ReplugResult result);

/// What the proof asks: the chip to find again, what ran before and what must run now.
using ReplugExpectation = ReloadExpectation;

/// How the proof ended.
struct ReplugProof {
  ReplugResult result = ReplugResult::NotBack;
  std::optional<FirmwareState> firmware;  ///< what runs after the replug
  std::string path;                       ///< where it came back
  std::string detail;  ///< with CannotWait: why; with NotBack: why nothing will come back
};

/// Listens for device changes, asks the user to replug, and waits for the job's reload step.
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
