// Which attached disks may sit behind a bridge we can talk to: the disk lister seam, the
// candidate test, the bridge probe and the walk that ties them together.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Transport.h"

namespace korvane {

/// What the platform tells about the bus behind a disk interface. On Windows these are the
/// substrings "usbsto", "sbp2" and "scsi" of the interface path; on Linux the driver of the USB
/// interface or FireWire unit sets them.
struct InterfaceMarks {
  bool usbStorage = false;  ///< a USB mass-storage disk
  bool ieee1394 = false;    ///< an IEEE 1394 (SBP-2) disk
  bool scsi = false;        ///< a disk on the SCSI interface path, where UASP enclosures appear
  bool operator==(const InterfaceMarks&) const = default;
};

/// The marks of a Windows interface path: case-sensitive substrings anywhere in it.
InterfaceMarks MarksFromPath(std::string_view path);

/// One present disk interface as a lister yields it.
struct DiskInterface {
  std::string path;  ///< what the transport opens: an interface path, /dev/sgN, /dev/sdX
  InterfaceMarks marks;
  bool operator==(const DiskInterface&) const = default;
};

/// Yields the disk interfaces the platform reports as present.
class DiskLister {
 public:
  virtual ~DiskLister() = default;
  /// The present disk interfaces in enumeration order, ending before the first one whose
  /// details cannot be read. Empty when the platform's list cannot be had at all.
  virtual std::vector<DiskInterface> ListDisks() = 0;
};

/// The bus a listed disk's line names.
enum class Bus : std::uint8_t { Usb, Uasp, Ieee1394 };

/// 1394 when the disk is marked so, else UASP for the SCSI path, else USB.
Bus BusOf(const InterfaceMarks& marks);
/// The tag that begins a device-list line, with its trailing blank ("<<USB>> ").
std::string_view BusTag(Bus bus);
/// A short name for reports: "USB", "UASP" or "1394".
std::string_view BusName(Bus bus);

/// The candidate test: USB mass storage, then 1394 (only with include1394), then the SCSI path.
bool IsCandidate(const InterfaceMarks& marks, bool include1394);

/// Slots in the candidate list.
inline constexpr std::size_t kCandidateSlots = 16;
/// Longest device path a slot holds, without its terminator.
inline constexpr std::size_t kMaxDevicePath = 255;

/// One accepted disk in the candidate list.
struct CandidateDisk {
  std::string path;
  InterfaceMarks marks;
};

/// The caller's candidate list; discovery fills slots 0, 1, 2... and leaves the rest alone.
using CandidatePaths = std::array<CandidateDisk, kCandidateSlots>;

/// True when the disk answers INQUIRY (40 bytes) and the identity read (16 bytes).
bool ProbeBridge(Transport& io, std::string_view path);

/// Walks the listed disks, probes each candidate and writes the accepted ones into paths in
/// enumeration order. A candidate that fails the probe is accepted when it answers the
/// configuration-word read. Returns how many slots were filled. What was left out and why a user
/// might want to know (a disk that could not be opened, an over-long path, a full list) is added
/// to warnings when given; each disk left out, as "PATH: why", to leftOut when given.
int EnumerateBridgeDisks(DiskLister& lister, Transport& io, CandidatePaths& paths, bool include1394,
                         std::vector<std::string>* warnings = nullptr,
                         std::vector<std::string>* leftOut = nullptr);

}  // namespace korvane
