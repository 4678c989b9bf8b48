#include "Discovery.h"

#include <array>

#include "BridgeCommands.h"

namespace korvane {
namespace {

struct BusTexts {
  std::string_view tag;
  std::string_view name;
};

// Indexed by Bus.
constexpr std::array<BusTexts, 3> kBusTexts{{
    {"<<USB>> ", "USB"},
    {"<<UASP>> ", "UASP"},
    {"<<1394>> ", "1394"},
}};

void Warn(std::vector<std::string>* warnings, std::string text) {
  if (warnings != nullptr) warnings->push_back(std::move(text));
}

/// The probe, or when it fails the configuration-word read; both answers are discarded.
bool Accepts(Transport& io, std::string_view path) {
  if (ProbeBridge(io, path)) return true;
  std::array<std::uint8_t, 2> word{};
  return ReadConfigWord(io, path, word);
}

/// True when the platform, not the bridge, stopped the command: no rights, disk in use, gone.
bool NotReached(const CommandOutcome& outcome) {
  return outcome.stage == FailureStage::Open || outcome.stage == FailureStage::Request;
}

}  // namespace

InterfaceMarks MarksFromPath(std::string_view path) {
  return {.usbStorage = path.find("usbsto") != std::string_view::npos,
          .ieee1394 = path.find("sbp2") != std::string_view::npos,
          .scsi = path.find("scsi") != std::string_view::npos};
}

Bus BusOf(const InterfaceMarks& marks) {
  if (marks.ieee1394) return Bus::Ieee1394;
  if (marks.scsi) return Bus::Uasp;
  return Bus::Usb;
}

std::string_view BusTag(Bus bus) { return kBusTexts[static_cast<std::size_t>(bus)].tag; }

std::string_view BusName(Bus bus) { return kBusTexts[static_cast<std::size_t>(bus)].name; }

bool IsCandidate(const InterfaceMarks& marks, bool include1394) {
  return marks.usbStorage || (include1394 && marks.ieee1394) || marks.scsi;
}

bool ProbeBridge(Transport& io, std::string_view path) {
  std::array<std::uint8_t, kInquiryLength> inquiry{};
  if (!Inquiry(io, path, inquiry)) return false;
  std::array<std::uint8_t, kIdentityBlockSize> identity{};
  return ReadIdentity(io, path, identity);
}

int EnumerateBridgeDisks(DiskLister& lister, Transport& io, CandidatePaths& paths, bool include1394,
                         std::vector<std::string>* warnings, std::vector<std::string>* leftOut) {
  std::size_t count = 0;
  bool full = false;
  for (const DiskInterface& disk : lister.ListDisks()) {
    if (!IsCandidate(disk.marks, include1394)) {
      Warn(leftOut, disk.path + ": not a USB, UASP or FireWire disk, so nothing is sent to it");
      continue;
    }
    // A path that does not fit a slot is left alone: no command goes to a disk we cannot name.
    if (disk.path.size() > kMaxDevicePath) {
      Warn(warnings, "skipped a disk whose path is longer than 255 characters: " + disk.path);
      Warn(leftOut, disk.path + ": its path is longer than 255 characters");
      continue;
    }
    // The disks past a full list are named, and sent nothing.
    if (count == paths.size()) {
      if (!full) {
        Warn(warnings, "the candidate list is full at 16 disks: further disks were not examined");
      }
      full = true;
      Warn(leftOut, disk.path + ": the candidate list was full");
      if (leftOut == nullptr) break;
      continue;
    }
    if (!Accepts(io, disk.path)) {
      if (NotReached(io.LastOutcome())) {
        Warn(warnings, io.DescribeLastFailure(disk.path));
        Warn(leftOut, disk.path + ": it could not be reached");
      } else {
        Warn(leftOut, disk.path + ": it answered no bridge command");
      }
      continue;
    }
    paths[count++] = {disk.path, disk.marks};
  }
  return static_cast<int>(count);
}

}  // namespace korvane
