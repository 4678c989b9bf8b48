// A gadget in configfs with one FunctionFS function, for the Bulk-Only transport: created,
// bound and unbound, and removed again by the program itself.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "LinuxSystem.h"
#include "UsbIdentity.h"

namespace korvane::gadget {

/// The configfs gadget korvane-<udc> and the FunctionFS mount of its function.
class ConfigFsGadget {
 public:
  explicit ConfigFsGadget(std::string udc);
  ~ConfigFsGadget() { Remove(); }
  ConfigFsGadget(const ConfigFsGadget&) = delete;
  ConfigFsGadget& operator=(const ConfigFsGadget&) = delete;

  /// Creates the gadget with the identity and mounts FunctionFS; nothing is bound yet.
  bool Create(const UsbIdentity& identity, std::string& error);
  /// Where FunctionFS is mounted: ep0 and the endpoint files live there.
  const std::string& ffsDir() const { return ffsDir_; }
  /// Binds the gadget to its controller: the host sees the device plugged in.
  bool Bind(std::string& error);
  /// Unbinds it: the host sees the device unplugged.
  void Unbind();
  /// Sets what a power-on changes, bcdDevice and the manufacturer; takes effect at the next bind.
  bool SetPowerOnIdentity(const UsbIdentity& identity, std::string& error);
  /// Unbinds, unmounts and removes everything Create made, newest first. FunctionFS files must
  /// be closed by then.
  void Remove();

 private:
  bool MakeGadgetDir(std::string& error);
  bool WriteIdentity(const UsbIdentity& identity, std::string& error);
  bool AddFunction(std::string& error);
  bool MountFunctionFs(std::string& error);
  bool Step(int error, const std::string& what, std::string& message);
  bool MakeDir(const std::string& path, std::string& error);
  bool Write(const std::string& file, const std::string& text, std::string& error);

  std::string udc_;
  std::string gadgetDir_;
  std::string ffsDir_;
  std::string instance_;  // FunctionFS instance names are global: one per controller
  bool bound_ = false;
  std::vector<std::function<void()>> undo_;
};

}  // namespace korvane::gadget
