#include "Devices.h"

#ifdef _WIN32
#include "SetupApi.h"
#include "SetupApiDiskLister.h"
#include "Win32Api.h"
#include "Win32Port.h"
#else
#include "LinuxApi.h"
#include "SgIoPort.h"
#include "SysfsDiskLister.h"
#endif

namespace korvane::cli {
namespace {

#ifdef _WIN32
/// Disk interfaces from SetupAPI, pass-through by DeviceIoControl.
class Platform final : public Devices {
 public:
  Port& port() override { return port_; }
  DiskLister& lister() override { return lister_; }
  Clock& clock() override { return clock_; }

 private:
  SystemWin32Api api_;
  Win32Port port_{api_};
  SystemSetupApi setupApi_;
  SetupApiDiskLister lister_{setupApi_};
  SystemClock clock_;
};
#else
/// Disks from sysfs, pass-through by SG_IO.
class Platform final : public Devices {
 public:
  Port& port() override { return port_; }
  DiskLister& lister() override { return lister_; }
  Clock& clock() override { return clock_; }

 private:
  SystemLinuxApi api_;
  SgIoPort port_{api_};
  SysfsDiskLister lister_;
  SystemClock clock_;
};
#endif

}  // namespace

std::unique_ptr<Devices> PlatformDevices() { return std::make_unique<Platform>(); }

}  // namespace korvane::cli
