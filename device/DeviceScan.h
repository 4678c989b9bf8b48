// The scan: which disks sit behind a bridge that identification recognises, with the line the
// device list shows for each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "BridgeCommands.h"
#include "ChipIdentification.h"
#include "Discovery.h"
#include "InquiryText.h"
#include "MessageSink.h"
#include "Transport.h"

namespace korvane {

/// One disk the scan lists, in the order of the device list.
struct ListedDisk {
  std::string line;  ///< bus tag followed directly by the model text
  std::string path;  ///< the device path in lower case
  Bus bus = Bus::Usb;
  std::string model;  ///< INQUIRY bytes 8-31 up to the first zero byte, untrimmed
  BridgeInfo bridgeInfo = 0;
};

/// What one scan found.
struct ScanResult {
  int enumeratedDiskCount = 0;       ///< candidates that discovery accepted, identified or not
  std::vector<ListedDisk> listed;    ///< the disks with a recognised bridge
  BridgeInfo currentBridgeInfo = 0;  ///< identification of the candidate examined last
  std::string unlistedPath;  ///< the last unrecognised candidate examined after the last listed
  std::vector<std::string> warnings;  ///< what discovery left out and why
  /// Each disk left out, as "PATH: why": by discovery, or answering with no chip this tool knows.
  std::vector<std::string> leftOut;
};

/// One candidate as the scan examines it: INQUIRY's model text, then identification. The path
/// comes back in lower case; bridgeInfo is 0 when the bridge was not recognised.
ListedDisk ExamineCandidate(const CandidateDisk& candidate, Transport& io, MessageSink& messages);

/// Moments of a scan that a face shows while the scan goes on.
struct ScanProgress {
  std::function<void(int count)> enumerated;        ///< discovery accepted count candidates
  std::function<void(const ListedDisk&)> examined;  ///< one candidate, recognised or not
};

/// Enumerates candidate disks (1394 included), reads each one's INQUIRY and identifies its
/// bridge; every disk with a non-zero chip code is listed. A disk whose INQUIRY fails is listed
/// with an empty model text.
ScanResult ScanBridgeDisks(DiskLister& lister, Transport& io, MessageSink& messages,
                           const ScanProgress& progress = {});

}  // namespace korvane
