// Everything the update engine works with, and the record of why an update step failed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "ChipIdentification.h"
#include "Clock.h"
#include "DebugOutput.h"
#include "ImageSource.h"
#include "MessageSink.h"
#include "Transport.h"
#include "UpdateView.h"

namespace korvane {

/// The named steps of an update, for saying which one failed.
enum class UpdateStep : std::uint8_t {
  None,
  Guard,             ///< development images and a real device
  Chip,              ///< a chip the update does not serve
  Image,             ///< the firmware image is missing or has the wrong size
  Identity,          ///< reading the identity block
  Descriptor,        ///< reading or checking the buffer descriptor
  Loader,            ///< the loader image is missing or has the wrong size
  LoaderDownload,    ///< sending the loader
  LoaderStart,       ///< the mode-3 WriteNvram after the loader
  LoaderDescriptor,  ///< the descriptor of the running loader
  WriteBlock,        ///< writing a firmware block
  ReadBack,          ///< reading the flash back
  Verify,            ///< the read-back differs from the image
  NvramRead,         ///< reading the NVRAM record
  NvramWrite,        ///< writing the NVRAM record
  NvramVerify,       ///< the NVRAM record read again differs
};

/// The step's name for messages and JSON: "write-block", "nvram-verify"...
std::string_view UpdateStepName(UpdateStep step);

/// The last failure of an update: its step and, for a command, why the command failed.
struct UpdateFailure {
  UpdateStep step = UpdateStep::None;
  std::string reason;
};

/// The window's side of the update and the seams it reaches the world through.
struct UpdateContext {
  Transport& io;
  Clock& clock;
  UpdateView& view;
  MessageSink& messages;
  DebugOutput& debug;
  const ImageSource& images;
  BridgeInfo currentBridgeInfo = 0;  ///< the chip code of the selected disk, as the check left it
  UpdateFailure* failure = nullptr;  ///< when set, receives the last failure
};

/// Records a failure in the record, if there is one.
void NoteFailure(UpdateFailure* failure, UpdateStep step, std::string reason);
/// Records a failure in the context's failure record, if it has one.
inline void NoteFailure(const UpdateContext& context, UpdateStep step, std::string reason) {
  NoteFailure(context.failure, step, std::move(reason));
}

}  // namespace korvane
