// Everything the update engine works with, and the record of why an update step failed.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ChipIdentification.h"
#include "Clock.h"
#include "DebugOutput.h"
#include "DiskHold.h"
#include "Enclosures.h"
#include "ImageSource.h"
#include "MessageSink.h"
#include "MountState.h"
#include "Transport.h"
#include "UpdateStep.h"
#include "UpdateView.h"

namespace korvane {

/// Where one attempt at the firmware stopped, and why.
struct AttemptFailure {
  UpdateStep step = UpdateStep::None;
  std::string reason;
  std::optional<CommandOutcome> command;  ///< the command that failed, when a command did
};

/// The failure of an update: the step where it went wrong and, for a command, why the command
/// failed; with every failed write-and-verify attempt when there was more than one.
struct UpdateFailure {
  UpdateStep step = UpdateStep::None;
  std::string reason;
  std::optional<CommandOutcome> command;  ///< the command that failed, when a command did
  std::vector<AttemptFailure> attempts;   ///< first to last; empty after a single attempt
};

/// What a face hands the update engine: the seams the engine reaches the world through.
struct UpdateContext {
  Transport& io;
  Clock& clock;
  UpdateView& view;
  MessageSink& messages;
  DebugOutput& debug;
  const ImageSource& images;
  BridgeInfo currentBridgeInfo = 0;  ///< the chip code of the selected disk, as the check left it
  UpdateFailure* failure = nullptr;  ///< when set, receives the last failure
  /// What the program's device stack said its enclosures are; development images reach only
  /// simulated ones.
  Enclosures enclosures = Enclosures::Real;
  /// When set, asked before anything is written whether the disk is in use.
  MountCheck* mounts = nullptr;
  /// A file's firmware image, checked by the caller, written instead of the carried one; empty:
  /// the carried image.
  std::span<const std::uint8_t> fileImage{};
  /// When set, holds the disk for us once it is known to be free, before anything is written.
  DiskHolder* holder = nullptr;
  /// Keeps that hold after the firmware is written, for the NVRAM record; none: the hold ends
  /// with the firmware.
  std::unique_ptr<DiskHold>* hold = nullptr;
};

/// Why the disk behind path must not be written while it is in use, naming it as diskName;
/// nothing when it is free.
std::optional<std::string> InUseReason(MountCheck& mounts, std::string_view path,
                                       std::string_view diskName);

/// Records a failure in the record, if there is one.
void NoteFailure(UpdateFailure* failure, UpdateStep step, std::string reason);
/// Records a failure in the context's failure record, if it has one.
inline void NoteFailure(const UpdateContext& context, UpdateStep step, std::string reason) {
  NoteFailure(context.failure, step, std::move(reason));
}

/// Records that the transport's last command failed at step: the command itself, and its words
/// after prefix as the reason.
void NoteCommandFailure(UpdateFailure* failure, UpdateStep step, const Transport& io,
                        std::string_view path, std::string prefix = {});
inline void NoteCommandFailure(const UpdateContext& context, UpdateStep step, std::string_view path,
                               std::string prefix = {}) {
  NoteCommandFailure(context.failure, step, context.io, path, std::move(prefix));
}

}  // namespace korvane
