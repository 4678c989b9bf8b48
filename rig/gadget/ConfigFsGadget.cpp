#include "ConfigFsGadget.h"

#include <errno.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

namespace korvane::gadget {
namespace {

constexpr char kConfigFs[] = "/sys/kernel/config";

std::string Hex16(std::uint16_t value) {
  std::array<char, 8> text{};
  std::snprintf(text.data(), text.size(), "0x%04x", value);
  return text.data();
}

/// configfs mounted, with the gadget part of it (libcomposite) present.
bool ConfigFsReady(std::string& error) {
  const std::string root = kConfigFs;
  struct stat info {};
  if (::stat((root + "/usb_gadget").c_str(), &info) == 0) return true;
  if (!IsMountPoint(root) && Mount("none", root, "configfs") != 0) {
    error = "configfs is not available: " + root + " cannot be mounted (" + ErrorText(errno) + ")";
    return false;
  }
  if (::stat((root + "/usb_gadget").c_str(), &info) == 0) return true;
  error = "configfs has no usb_gadget: the gadget framework is not loaded (modprobe libcomposite)";
  return false;
}

}  // namespace

ConfigFsGadget::ConfigFsGadget(std::string udc)
    : udc_(std::move(udc)),
      gadgetDir_(std::string(kConfigFs) + "/usb_gadget/korvane-" + udc_),
      ffsDir_("/dev/korvane-ffs-" + udc_),
      instance_("korvane-" + udc_) {}

bool ConfigFsGadget::Step(int error, const std::string& what, std::string& message) {
  if (error == 0) return true;
  message = what + ": " + ErrorText(error);
  return false;
}

bool ConfigFsGadget::MakeDir(const std::string& path, std::string& error) {
  if (!Step(MakeDirectory(path), "cannot create " + path, error)) return false;
  undo_.push_back([path] { ::rmdir(path.c_str()); });
  return true;
}

bool ConfigFsGadget::Write(const std::string& file, const std::string& text, std::string& error) {
  return Step(WriteText(gadgetDir_ + "/" + file, text), "cannot write " + file, error);
}

bool ConfigFsGadget::Create(const UsbIdentity& identity, std::string& error) {
  return ConfigFsReady(error) && MakeGadgetDir(error) && WriteIdentity(identity, error) &&
         AddFunction(error) && MountFunctionFs(error);
}

bool ConfigFsGadget::MakeGadgetDir(std::string& error) {
  // An existing gadget of that name belongs to another run; reusing it would change, and on
  // exit remove, what that run serves.
  if (::mkdir(gadgetDir_.c_str(), 0755) != 0) {
    error = errno == EEXIST ? gadgetDir_ + " exists: another korvane-gadget serves " + udc_ +
                                  ", or one that was killed left it behind"
                            : "cannot create " + gadgetDir_ + ": " + ErrorText(errno);
    return false;
  }
  const std::string gadget = gadgetDir_;
  undo_.push_back([gadget] { ::rmdir(gadget.c_str()); });
  return true;
}

bool ConfigFsGadget::WriteIdentity(const UsbIdentity& identity, std::string& error) {
  const std::string config = gadgetDir_ + "/configs/c.1";
  return Write("idVendor", Hex16(identity.idVendor), error) &&
         Write("idProduct", Hex16(identity.idProduct), error) &&
         MakeDir(gadgetDir_ + "/strings/0x409", error) && SetPowerOnIdentity(identity, error) &&
         Write("strings/0x409/product", identity.product, error) &&
         Write("strings/0x409/serialnumber", identity.serial, error) && MakeDir(config, error) &&
         MakeDir(config + "/strings/0x409", error) &&
         Write("configs/c.1/strings/0x409/configuration", "Bulk-Only", error);
}

bool ConfigFsGadget::AddFunction(std::string& error) {
  const std::string function = gadgetDir_ + "/functions/ffs." + instance_;
  if (::mkdir(function.c_str(), 0755) != 0) {
    const int result = errno;
    error = result == ENOENT || result == ENODEV
                ? "FunctionFS is not available (modprobe usb_f_fs)"
                : "cannot create " + function + ": " + ErrorText(result);
    return false;
  }
  undo_.push_back([function] { ::rmdir(function.c_str()); });
  const std::string link = gadgetDir_ + "/configs/c.1/ffs." + instance_;
  if (!Step(::symlink(function.c_str(), link.c_str()) == 0 ? 0 : errno, "cannot link " + link,
            error)) {
    return false;
  }
  undo_.push_back([link] { ::unlink(link.c_str()); });
  return true;
}

bool ConfigFsGadget::MountFunctionFs(std::string& error) {
  if (!MakeDir(ffsDir_, error)) return false;
  if (!Step(Mount(instance_, ffsDir_, "functionfs"), "cannot mount FunctionFS on " + ffsDir_,
            error)) {
    return false;
  }
  const std::string mounted = ffsDir_;
  undo_.push_back([mounted] { ::umount(mounted.c_str()); });
  return true;
}

bool ConfigFsGadget::Bind(std::string& error) {
  const int result = WriteText(gadgetDir_ + "/UDC", udc_);
  if (result == EBUSY) {
    error = "the gadget controller " + udc_ + " is already in use";
    return false;
  }
  if (!Step(result, "cannot bind to " + udc_, error)) return false;
  bound_ = true;
  return true;
}

void ConfigFsGadget::Unbind() {
  if (!bound_) return;
  WriteText(gadgetDir_ + "/UDC", "");
  bound_ = false;
}

bool ConfigFsGadget::SetPowerOnIdentity(const UsbIdentity& identity, std::string& error) {
  return Write("bcdDevice", Hex16(identity.bcdDevice), error) &&
         Write("strings/0x409/manufacturer", identity.manufacturer, error);
}

void ConfigFsGadget::Remove() {
  Unbind();
  while (!undo_.empty()) {
    undo_.back()();
    undo_.pop_back();
  }
}

}  // namespace korvane::gadget
