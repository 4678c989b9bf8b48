// The stack every entry point runs on, built in one place: over the devices it chose (this
// machine's disks, a scenario's or a recording's), the recorder that writes every command,
// listing and mount check into a trace when one is asked for, the access watch that notes disks
// turned away for want of rights, and the transport above them. The devices' changes come along.
#pragma once

#include "AccessWatch.h"
#include "DeviceChanges.h"
#include "DeviceServices.h"
#include "Devices.h"
#include "RecordingDevices.h"
#include "TraceRecorder.h"
#include "Transport.h"

#include <memory>

namespace korvane {

/// The devices, and everything a program needs above them.
class DeviceStack {
 public:
  /// A stack over devices, which must outlive it; with a writer, every command, listing and mount
  /// check of the run is recorded.
  explicit DeviceStack(Devices& devices, trace::TraceWriter* writer = nullptr);
  DeviceStack(const DeviceStack&) = delete;
  DeviceStack& operator=(const DeviceStack&) = delete;

  /// The devices as the program sees them: the recording ones when a trace is written.
  Devices& devices() { return recording_ ? *recording_ : devices_; }
  AccessWatch& access() { return access_; }
  Transport& io() { return io_; }
  DeviceChanges& changes() { return devices().changes(); }
  /// What the engine works through, listed once for every face.
  const DeviceServices& services() const { return services_; }

 private:
  static Port& PortOf(Devices& devices, std::unique_ptr<RecordingDevices>& recording,
                      trace::TraceWriter* writer);

  Devices& devices_;
  std::unique_ptr<RecordingDevices> recording_;
  AccessWatch access_;
  Transport io_;
  DeviceServices services_;
};

}  // namespace korvane
