// What a program talks to: the real disks of this machine or simulated enclosures. Each program's
// entry point chooses one and hands it down.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "Clock.h"
#include "DeviceChanges.h"
#include "Discovery.h"
#include "DiskHold.h"
#include "Enclosures.h"
#include "MountState.h"
#include "Port.h"

namespace korvane {

/// A port, a disk lister, a clock, a source of device changes, a mount check and the hold of a
/// disk that belong together.
class Devices : public MountCheck, public DiskHolder {
 public:
  virtual ~Devices() = default;
  /// Opens disks for one command each.
  virtual Port& port() = 0;
  /// Lists the present disks.
  virtual DiskLister& lister() = 0;
  /// Every wait goes through it.
  virtual Clock& clock() = 0;
  /// Tells when disks come and go, on the clock above.
  virtual DeviceChanges& changes() = 0;
  /// What the enclosures are: the development-image guard acts on this answer, not on the port.
  virtual Enclosures enclosures() const = 0;
  /// Whether a file system on the disk behind path is in use, asked before any firmware write.
  MountState CheckMounts(std::string_view path) override = 0;
  /// The disk behind path held for ourselves until the hold is destroyed; where a platform has no
  /// way to hold a disk, or the enclosures are simulated, a hold of nothing.
  std::variant<std::unique_ptr<DiskHold>, std::string> Hold(std::string_view) override {
    return std::make_unique<DiskHold>();
  }
  /// The enclosures as scenario JSON, as they would be after a replug; nothing for real disks.
  virtual std::optional<std::string> SavedStateText() const { return std::nullopt; }
  /// Whether the enclosure behind path can be plugged in again after its update: a person can
  /// replug a real one; a simulated one only when its scenario replugs it.
  virtual bool Replugs(std::string_view /*path*/) const { return true; }
  /// The enclosure worked on is about to be unplugged and plugged in again, perhaps under
  /// another path; devices that pick one disk follow it.
  virtual void ExpectReplug() {}
};

}  // namespace korvane
