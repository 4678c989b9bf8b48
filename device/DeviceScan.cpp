#include "DeviceScan.h"

#include <algorithm>
#include <array>

#include "BridgeCommands.h"
#include "Text.h"

namespace korvane {
namespace {

/// INQUIRY's model text, or an empty one when the disk does not answer: the text of another
/// disk would name the wrong enclosure.
std::string ReadModel(Transport& io, std::string_view path) {
  std::array<std::uint8_t, kInquiryLength> inquiry{};
  if (!Inquiry(io, path, inquiry)) return {};
  return ModelText(inquiry);
}

ListedDisk MakeListed(const CandidateDisk& candidate, std::string path, std::string model,
                      BridgeInfo info) {
  const Bus bus = BusOf(candidate.marks);
  std::string line = std::string(BusTag(bus)) + model;
  return {std::move(line), std::move(path), bus, std::move(model), info};
}

}  // namespace

ListedDisk ExamineCandidate(const CandidateDisk& candidate, Transport& io, MessageSink& messages) {
  std::string path = AsciiLower(candidate.path);
  std::string model = ReadModel(io, path);
  const BridgeInfo info = IdentifyBridge(io, path, messages);
  return MakeListed(candidate, std::move(path), std::move(model), info);
}

ScanResult ScanBridgeDisks(DiskLister& lister, Transport& io, MessageSink& messages,
                           const ScanProgress& progress) {
  ScanResult result;
  CandidatePaths candidates{};
  result.enumeratedDiskCount =
      EnumerateBridgeDisks(lister, io, candidates, true, &result.warnings, &result.leftOut);
  if (progress.enumerated) progress.enumerated(result.enumeratedDiskCount);
  const auto accepted =
      std::span(candidates).first(static_cast<std::size_t>(result.enumeratedDiskCount));
  for (const CandidateDisk& candidate : accepted) {
    ListedDisk disk = ExamineCandidate(candidate, io, messages);
    if (progress.examined) progress.examined(disk);
    result.currentBridgeInfo = disk.bridgeInfo;
    if (ChipCodeOf(disk.bridgeInfo) == 0) {
      result.leftOut.push_back(candidate.path + ": it has no bridge chip this tool knows");
      result.unlistedPath = std::move(disk.path);
      continue;
    }
    result.unlistedPath.clear();
    result.listed.push_back(std::move(disk));
  }
  return result;
}

}  // namespace korvane
