// Device changes on Linux: the kernel's own uevents, read from a netlink socket. No udev daemon
// is needed, and none runs on every machine the program serves (the kernel rig has none).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "DeviceChanges.h"

namespace korvane {

/// The fields of one kernel uevent that tell what changed.
struct Uevent {
  std::string action;     ///< "add", "remove", "change", "bind"...
  std::string devpath;    ///< the device below /sys
  std::string subsystem;  ///< "block", "scsi_generic", "usb"...
};

/// One kernel uevent message: "ACTION@DEVPATH" and then KEY=VALUE texts, each ending in a zero
/// byte. Nothing when it is not a kernel message or lacks ACTION, DEVPATH or SUBSYSTEM.
std::optional<Uevent> ParseUevent(std::span<const char> message);

/// True when the event adds or removes a disk or its sg node, which is what the disk lister
/// sees. USB and SCSI events before them say nothing the lister could act on yet.
bool ChangesDisks(const Uevent& event);

/// Reads the kernel's uevents (NETLINK_KOBJECT_UEVENT, group 1) and reports the disk changes.
class UeventMonitor final : public DeviceChanges {
 public:
  UeventMonitor() = default;
  ~UeventMonitor() override;
  UeventMonitor(const UeventMonitor&) = delete;
  UeventMonitor& operator=(const UeventMonitor&) = delete;

  std::optional<std::string> Listen() override;
  /// Polls the socket; a signal ends the wait early as Quiet.
  ChangeWait Wait(std::chrono::milliseconds timeout) override;

 private:
  /// Reads every message waiting; true when one of them changes disks.
  bool DrainMessages();

  int socket_ = -1;
};

}  // namespace korvane
