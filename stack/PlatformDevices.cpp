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
#include "LinuxApi.h"
#include "MountCheck.h"
#include "SgIoPort.h"
#include "SysfsDiskLister.h"
#include "UeventMonitor.h"
#endif

namespace korvane {
namespace {

/// This machine's storage stack: SetupAPI, DeviceIoControl and disk interface notifications on
/// Windows; sysfs, SG_IO and the kernel's uevents on Linux.
class Platform final : public Devices {
 public:
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
  MountState CheckMounts(std::string_view path) override { return CheckSystemMounts(path); }
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
  VolumeHolder volumes_{volumeApi_, clock_};
#else
  SystemLinuxApi api_;
  SgIoPort port_{api_};
  SysfsDiskLister lister_;
  UeventMonitor changes_;
#endif
};

}  // namespace

std::unique_ptr<Devices> PlatformDevices() { return std::make_unique<Platform>(); }

}  // namespace korvane
