// The version check: which firmware the selected bridge runs, and whether the update offers to
// replace it. Every face asks this one function, so they all send the bridge the same commands
// and reach the same verdict.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "ChipIdentification.h"
#include "ChipUpdate.h"
#include "Clock.h"
#include "MessageSink.h"
#include "Transport.h"
#include "Verdict.h"

namespace korvane {

/// What the version rules say about the running firmware.
enum class VersionVerdict : std::uint8_t {
  Offer,            ///< the carried firmware replaces it
  UpToDate,         ///< it is current
  NothingToUpdate,  ///< a JMS583 firmware that the carried one does not replace
  Failure,          ///< the check could not decide
};

/// The verdict of a check whose rules came to this, where the scan listed at most one enclosure;
/// a failure is the check's own (a scan that listed nothing makes it "not found").
CheckVerdict CheckVerdictOf(VersionVerdict verdict);

/// What one version check read and decided.
struct VersionCheck {
  std::string path;                                     ///< the disk examined
  BridgeInfo bridgeInfo = 0;                            ///< its identification
  std::optional<std::array<std::uint8_t, 4>> firmware;  ///< the running version, when read
  bool romMode = false;  ///< the identity block said no firmware runs
  /// What the version rules decided, also when a later step failed; nothing when no rule ran.
  std::optional<VersionVerdict> ruled;
  std::string failure;               ///< why the check failed; empty when it did not
  const ChipUpdate* chip = nullptr;  ///< the chip's update, for a chip the update serves

  /// The verdict: a failure overrides what the rules decided.
  VersionVerdict verdict() const;
  /// The version the offer names; empty unless the verdict is an offer.
  std::string_view offeredVersion() const;
  /// Why nothing is offered, for a person; empty for an offer or an up-to-date bridge.
  std::string reason() const;
};

/// The seams the check works through.
struct CheckServices {
  Transport& io;
  Clock& clock;
  MessageSink& messages;
};

/// Moments of a check that a face shows while the check goes on.
struct CheckProgress {
  std::function<void(BridgeInfo)> identified;  ///< the bridge was identified
  std::function<void()> flashTypeRead;         ///< the flash type was asked for
};

/// Checks the disk at path: identification, then for a JMS578 or JMS583 the flash type, the
/// identity block, the bridge's readiness, its NVRAM record and INQUIRY; the version rules of
/// the chip decide. A failed NVRAM read fails the check after the rules have decided.
VersionCheck CheckVersion(const CheckServices& services, std::string_view path,
                          const CheckProgress& progress = {});

/// "0.0.1.2": a running version as the reports write it.
std::string VersionText(const std::array<std::uint8_t, 4>& version);

/// "0.0.1.2, release 234.01.00.02" where the firmware catalogue names the release of the chip's
/// running version, else "0.0.1.2".
std::string VersionWithRelease(const ChipUpdate* chip, const std::array<std::uint8_t, 4>& running);

}  // namespace korvane
