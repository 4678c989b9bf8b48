#include "PlatformDevices.h"

#ifdef _WIN32
#include "DeviceNotifications.h"
#include "SetupApi.h"
#include "SetupApiDiskLister.h"
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
  // Which volumes live on a disk is the volume manager's knowledge, which this tool does not ask
  // yet: a mounted volume on Windows goes unnoticed here.
  MountState CheckMounts(std::string_view) override { return {}; }
#else
  MountState CheckMounts(std::string_view path) override { return CheckSystemMounts(path); }
#endif

 private:
#ifdef _WIN32
  SystemWin32Api api_;
  Win32Port port_{api_};
  SystemSetupApi setupApi_;
  SetupApiDiskLister lister_{setupApi_};
  DeviceNotifications changes_;
#else
  SystemLinuxApi api_;
  SgIoPort port_{api_};
  SysfsDiskLister lister_;
  UeventMonitor changes_;
#endif
  SystemClock clock_;
};

}  // namespace

std::unique_ptr<Devices> PlatformDevices() { return std::make_unique<Platform>(); }

}  // namespace korvane
