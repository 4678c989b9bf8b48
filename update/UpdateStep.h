// The named steps of an update.
#pragma once

#include <cstdint>
#include <string_view>

namespace korvane {

/// The named steps of an update, for saying which one failed.
enum class UpdateStep : std::uint8_t {
  None,
  Guard,             ///< development images and a real device
  Chip,              ///< a chip the update does not serve
  InUse,             ///< a file system on the disk is mounted, or may be
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
  Backup,            ///< reading what the bridge runs, before anything is written
  Version,           ///< a file's version needs the user's leave: older, the same, or unordered
};

/// The step's name for messages and JSON: "write-block", "nvram-verify"...
std::string_view UpdateStepName(UpdateStep step);

}  // namespace korvane
