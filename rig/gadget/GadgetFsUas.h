// UAS on GadgetFS, high speed without streams: the controller file, its ep0 events, and the
// command loop on the four pipes. FunctionFS cannot carry UAS: it refuses the pipe-usage
// descriptors, which GadgetFS passes through inside the configuration descriptor.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "LinuxSystem.h"
#include "Uas.h"
#include "UsbIdentity.h"

namespace korvane::gadget {

/// The GadgetFS side of a UAS device in one GadgetFS mount.
class GadgetFsUas {
 public:
  /// onVanish is called from the command thread when the bridge has gone; cutWaits ends the
  /// target's pauses, so that a command thread that must stop is not held by a late answer.
  GadgetFsUas(ScsiTarget& target, std::function<void()> onVanish, std::function<void()> cutWaits,
              bool verbose);
  ~GadgetFsUas() { Close(); }

  /// Mounts GadgetFS at dir unless it is mounted there, and finds the controller file.
  bool Prepare(const std::string& dir, const std::string& udc, std::string& error);
  /// Registers the device with the identity: the host sees it plugged in.
  bool Open(const UsbIdentity& identity, std::string& error);
  /// Stops both threads and closes the controller file, which unregisters the device.
  void Close();
  /// Closes, and unmounts GadgetFS when Prepare mounted it.
  void Unmount();

 private:
  void Ep0Loop();
  void HandleSetup(const void* request);
  void StopCommands();
  void Configure(unsigned value);
  bool OpenPipes();
  void CommandLoop();
  void Serve(const UasCommand& command);
  bool ReadDataOut(std::vector<std::uint8_t>& data, std::uint32_t length);
  bool SendDataIn(const UasAnswer& answer, std::uint16_t tag);
  void StringDescriptor(unsigned index, unsigned maxLength);

  UasSession session_;
  std::function<void()> onVanish_;
  std::function<void()> cutWaits_;
  bool verbose_;
  std::string dir_;
  std::string udc_;
  std::string controllerPath_;
  bool mountedHere_ = false;
  UsbIdentity identity_;
  UniqueFd controller_;
  UniqueFd status_, command_, dataIn_, dataOut_;
  Worker ep0Worker_;
  Worker commandWorker_;
  // Bumped by DISCONNECT and SET_CONFIGURATION: an answer computed across one is dropped.
  std::atomic<unsigned> generation_{0};
};

}  // namespace korvane::gadget
