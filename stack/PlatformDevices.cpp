#include "PlatformDevices.h"

#ifdef _WIN32
#include "DeviceNotifications.h"
#include "SetupApi.h"
#include "SetupApiDiskLister.h"
#include "VolumeApi.h"
#include "VolumeHold.h"
#include "Win32Api.h"
#include "Win32Port.h"
#else
#include "BlockHold.h"
#include "LinuxApi.h"
#include "MountCheck.h"
#include "SgIoPort.h"
#include "SysfsDiskLister.h"
#include "UeventMonitor.h"
#endif

namespace korvane {
namespace {

#ifndef _WIN32
/// Lists the disks anew, closing first every node the port kept: a disk found again may be
/// another device under the same name, and nothing opened before may reach it.
class FreshLister final : public DiskLister {
 public:
  FreshLister(DiskLister& inner, SgIoPort& port) : inner_(inner), port_(port) {}
  std::vector<DiskInterface> ListDisks() override {
    port_.CloseKept();
    return inner_.ListDisks();
  }

 private:
  DiskLister& inner_;
  SgIoPort& port_;
};
#endif

/// This machine's storage stack: SetupAPI, DeviceIoControl and disk interface notifications on
/// Windows; sysfs, SG_IO and the kernel's uevents on Linux.
class Platform final : public Devices {
 public:
#ifdef _WIN32
  explicit Platform(const PlatformChoices& choices)
      : volumes_(volumeApi_, clock_, choices.forceDismount) {}
#else
  explicit Platform(const PlatformChoices& choices) {
    if (choices.keepNodesOpen) port_.KeepOpen();
  }
#endif

  Port& port() override { return port_; }
  DiskLister& lister() override { return lister_; }
  Clock& clock() override { return clock_; }
  DeviceChanges& changes() override { return changes_; }
  Enclosures enclosures() const override { return Enclosures::Real; }

#ifdef _WIN32
  // Windows answers for its volumes when they are locked: the hold below flushes, locks and
  // dismounts each volume of the disk, and refuses one that a program keeps open.
  MountState CheckMounts(std::string_view) override { return {}; }
  std::variant<std::unique_ptr<DiskHold>, std::string> Hold(std::string_view path) override {
    return volumes_.Hold(path);
  }
#else
  // The mounts, swap and volumes on the disk are refused by name first; the hold then keeps any
  // new one from starting while the bridge is written.
  MountState CheckMounts(std::string_view path) override { return CheckSystemMounts(path); }
  std::variant<std::unique_ptr<DiskHold>, std::string> Hold(std::string_view path) override {
    // The hold's exclusive open of /dev/sdX would fail against our own kept one.
    port_.CloseKept();
    return holder_.Hold(path);
  }
  // A node we keep open keeps its name taken after the unplug, and the enclosure would come back
  // under another one.
  void ExpectReplug() override { port_.CloseKept(); }
#endif

 private:
  SystemClock clock_;
#ifdef _WIN32
  SystemWin32Api api_;
  Win32Port port_{api_};
  SystemSetupApi setupApi_;
  SetupApiDiskLister lister_{setupApi_};
  DeviceNotifications changes_;
  SystemVolumeApi volumeApi_;
  VolumeHolder volumes_;
#else
  SystemLinuxApi api_;
  HeldNodes held_;
  SgIoPort port_{api_, &held_};
  BlockHolder holder_{api_, "/sys", held_};
  SysfsDiskLister sysfs_;
  FreshLister lister_{sysfs_, port_};
  UeventMonitor changes_;
#endif
};

}  // namespace

std::unique_ptr<Devices> PlatformDevices(const PlatformChoices& choices) {
  return std::make_unique<Platform>(choices);
}

}  // namespace korvane
