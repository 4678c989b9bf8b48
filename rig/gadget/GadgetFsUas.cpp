#include "GadgetFsUas.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/gadgetfs.h>
#include <sys/mount.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "UsbDescriptors.h"

namespace korvane::gadget {
namespace {

// The endpoint files dummy_udc offers for bulk pipes, and the addresses given to them.
struct Pipe {
  const char* file;
  std::uint8_t address;
  std::uint8_t pipeId;  ///< UAS pipe usage: 1 command, 2 status, 3 data-in, 4 data-out
};
constexpr Pipe kCommandPipe{"ep2out-bulk", 0x02, 1};
constexpr Pipe kStatusPipe{"ep1in-bulk", 0x81, 2};
constexpr Pipe kDataInPipe{"ep6in-bulk", 0x86, 3};
constexpr Pipe kDataOutPipe{"ep7out-bulk", 0x07, 4};
constexpr std::array kPipes{kCommandPipe, kStatusPipe, kDataInPipe, kDataOutPipe};

constexpr std::uint8_t kProtocolUas = 0x62;
constexpr std::uint8_t kPipeUsageType = 0x24;
constexpr std::uint32_t kHighSpeedPacket = 512;
constexpr std::size_t kChunk = 65536;
constexpr char kInterfaceName[] = "Korvane UAS";

static_assert(sizeof(usb_gadgetfs_event) == 12, "GadgetFS events are 12 bytes");

/// One configuration: the UAS interface, four bulk endpoints, each followed by its pipe usage.
std::vector<std::uint8_t> Configuration(std::uint16_t maxPacket) {
  std::vector<std::uint8_t> bytes;
  usb_config_descriptor config{};
  config.bLength = USB_DT_CONFIG_SIZE;
  config.bDescriptorType = USB_DT_CONFIG;
  config.bNumInterfaces = 1;
  config.bConfigurationValue = 1;
  config.bmAttributes = USB_CONFIG_ATT_ONE | USB_CONFIG_ATT_SELFPOWER;
  config.bMaxPower = 50;
  Append(bytes, config);
  Append(bytes, MassStorageInterface(kProtocolUas, kPipes.size(), 4));
  for (const Pipe& pipe : kPipes) {
    Append(bytes, BulkEndpoint(pipe.address, maxPacket));
    Append(bytes, std::array<std::uint8_t, 4>{4, kPipeUsageType, pipe.pipeId, 0});
  }
  const auto total = htole16(static_cast<std::uint16_t>(bytes.size()));
  std::memcpy(bytes.data() + 2, &total, sizeof(total));
  return bytes;
}

usb_device_descriptor Device(const UsbIdentity& identity) {
  usb_device_descriptor device{};
  device.bLength = USB_DT_DEVICE_SIZE;
  device.bDescriptorType = USB_DT_DEVICE;
  device.bcdUSB = htole16(0x0200);
  device.bMaxPacketSize0 = 64;
  device.idVendor = htole16(identity.idVendor);
  device.idProduct = htole16(identity.idProduct);
  device.bcdDevice = htole16(identity.bcdDevice);
  device.iManufacturer = 1;
  device.iProduct = 2;
  device.iSerialNumber = 3;
  device.bNumConfigurations = 1;
  return device;
}

/// What the controller file takes: tag 0, the full- and high-speed configurations, the device.
std::vector<std::uint8_t> ControllerSetup(const UsbIdentity& identity) {
  std::vector<std::uint8_t> bytes;
  Append(bytes, std::uint32_t{0});
  const auto full = Configuration(64);
  const auto high = Configuration(kHighSpeedPacket);
  bytes.insert(bytes.end(), full.begin(), full.end());
  bytes.insert(bytes.end(), high.begin(), high.end());
  Append(bytes, Device(identity));
  return bytes;
}

/// Opens one endpoint file and gives it its descriptors (tag 1, full speed, high speed).
UniqueFd OpenPipe(const std::string& dir, const Pipe& pipe) {
  UniqueFd fd(::open((dir + "/" + pipe.file).c_str(), O_RDWR | O_CLOEXEC));
  if (!fd.valid()) return fd;
  std::vector<std::uint8_t> bytes;
  Append(bytes, std::uint32_t{1});
  Append(bytes, BulkEndpoint(pipe.address, 64));
  Append(bytes, BulkEndpoint(pipe.address, kHighSpeedPacket));
  if (!WriteAll(fd.get(), bytes)) fd.Reset();
  return fd;
}

std::string ControllerFile(const std::string& dir) {
  // The controller file is named after the controller's driver; once a device registers, the
  // endpoint files ("ep1in-bulk"...) appear beside it.
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(dir, error)) {
    const bool endpoint = entry.path().filename().string().starts_with("ep");
    if (entry.is_regular_file(error) && !endpoint) return entry.path().string();
  }
  return {};
}

void Say(const std::string& text) { std::fprintf(stderr, "korvane-gadget: %s\n", text.c_str()); }

}  // namespace

GadgetFsUas::GadgetFsUas(ScsiTarget& target, std::function<void()> onVanish,
                         std::function<void()> cutWaits, bool verbose)
    : session_(target),
      onVanish_(std::move(onVanish)),
      cutWaits_(std::move(cutWaits)),
      verbose_(verbose) {}

bool GadgetFsUas::Prepare(const std::string& dir, const std::string& udc, std::string& error) {
  dir_ = dir;
  udc_ = udc;
  if (!IsMountPoint(dir)) {
    MakeDirectory(dir);
    // The kernel loads the module on the first mount when it can; after that, ENODEV means
    // that GadgetFS found no controller without a gadget.
    const int result = Mount("gadgetfs", dir, "gadgetfs");
    mountedHere_ = result == 0;
    if (result == ENODEV && !KnowsFilesystem("gadgetfs")) {
      error = "GadgetFS is not available (modprobe gadgetfs)";
      return false;
    }
    if (result == ENODEV) {
      error = "the gadget controller " + udc + " is already in use";
      return false;
    }
    if (result != 0) {
      error = "cannot mount GadgetFS on " + dir + ": " + ErrorText(result);
      return false;
    }
  }
  controllerPath_ = ControllerFile(dir);
  if (controllerPath_.empty()) {
    error = "GadgetFS at " + dir + " offers no controller file (is a device registered already?)";
    return false;
  }
  return true;
}

bool GadgetFsUas::Open(const UsbIdentity& identity, std::string& error) {
  identity_ = identity;
  controller_ = UniqueFd(::open(controllerPath_.c_str(), O_RDWR | O_CLOEXEC));
  if (!controller_.valid()) {
    // GadgetFS lets one program at a time hold the controller file.
    error = errno == EBUSY ? "the gadget controller " + udc_ + " is already in use"
                           : controllerPath_ + ": " + ErrorText(errno);
    return false;
  }
  if (!WriteAll(controller_.get(), ControllerSetup(identity))) {
    const int result = errno;
    controller_.Reset();
    error = result == EBUSY || result == ENODEV
                ? "the gadget controller " + udc_ + " is already in use"
                : "GadgetFS refused the device: " + ErrorText(result);
    return false;
  }
  ep0Worker_.Start([this] { Ep0Loop(); });
  return true;
}

void GadgetFsUas::Close() {
  ep0Worker_.Stop();
  StopCommands();
  status_.Reset();
  command_.Reset();
  dataIn_.Reset();
  dataOut_.Reset();
  controller_.Reset();
}

void GadgetFsUas::Unmount() {
  Close();
  if (mountedHere_) ::umount(dir_.c_str());
  mountedHere_ = false;
}

void GadgetFsUas::Ep0Loop() {
  ReadEvents<usb_gadgetfs_event, 5>(controller_.get(), ep0Worker_, [this](const auto& event) {
    if (event.type == GADGETFS_SETUP) HandleSetup(&event.u.setup);
    if (event.type == GADGETFS_DISCONNECT) ++generation_;
    if (verbose_ && event.type != GADGETFS_SETUP) Say("ep0 event " + std::to_string(event.type));
  });
}

void GadgetFsUas::HandleSetup(const void* request) {
  const auto& setup = *static_cast<const usb_ctrlrequest*>(request);
  const unsigned value = le16toh(setup.wValue);
  if (setup.bRequestType == USB_DIR_IN && setup.bRequest == USB_REQ_GET_DESCRIPTOR &&
      (value >> 8) == USB_DT_STRING) {
    StringDescriptor(value & 0xFF, le16toh(setup.wLength));
    return;
  }
  if (setup.bRequestType == USB_RECIP_DEVICE && setup.bRequest == USB_REQ_SET_CONFIGURATION) {
    Configure(value & 0xFF);
    if (::read(controller_.get(), nullptr, 0) < 0) Say("SET_CONFIGURATION: " + ErrorText(errno));
    return;
  }
  if (setup.bRequestType == USB_RECIP_INTERFACE && setup.bRequest == USB_REQ_SET_INTERFACE) {
    if (::read(controller_.get(), nullptr, 0) < 0) Say("SET_INTERFACE: " + ErrorText(errno));
    return;
  }
  // Anything else is stalled: GadgetFS halts ep0 on I/O in the wrong direction.
  if ((setup.bRequestType & USB_DIR_IN) != 0) {
    [[maybe_unused]] const ssize_t ignored = ::read(controller_.get(), nullptr, 0);
  } else {
    [[maybe_unused]] const ssize_t ignored = ::write(controller_.get(), nullptr, 0);
  }
}

void GadgetFsUas::StringDescriptor(unsigned index, unsigned maxLength) {
  std::vector<std::uint8_t> bytes{4, USB_DT_STRING, 0x09, 0x04};  // index 0: US English
  const std::array<const std::string*, 4> texts{&identity_.manufacturer, &identity_.product,
                                                &identity_.serial, nullptr};
  if (index > 0) {
    if (index > texts.size()) {
      [[maybe_unused]] const ssize_t stall = ::read(controller_.get(), nullptr, 0);
      return;
    }
    const std::string text = texts[index - 1] ? *texts[index - 1] : kInterfaceName;
    bytes = {static_cast<std::uint8_t>(2 + 2 * text.size()), USB_DT_STRING};
    for (const char c : text) bytes.insert(bytes.end(), {static_cast<std::uint8_t>(c), 0});
  }
  bytes.resize(std::min<std::size_t>(bytes.size(), maxLength));
  if (::write(controller_.get(), bytes.data(), bytes.size()) < 0)
    Say("string: " + ErrorText(errno));
}

void GadgetFsUas::StopCommands() {
  ++generation_;  // whatever the command thread still computes goes nowhere
  if (cutWaits_) cutWaits_();
  commandWorker_.Stop();
}

void GadgetFsUas::Configure(unsigned value) {
  // The host configures after a reset too, and waits for the answer: a command thread still
  // spending a late answer's delay must not hold it up.
  StopCommands();
  status_.Reset();
  command_.Reset();
  dataIn_.Reset();
  dataOut_.Reset();
  if (value != 1) return;
  if (!OpenPipes()) {
    Say("cannot open the UAS pipes: " + ErrorText(errno));
    return;
  }
  commandWorker_.Start([this] { CommandLoop(); });
}

bool GadgetFsUas::OpenPipes() {
  status_ = OpenPipe(dir_, kStatusPipe);
  command_ = OpenPipe(dir_, kCommandPipe);
  dataIn_ = OpenPipe(dir_, kDataInPipe);
  dataOut_ = OpenPipe(dir_, kDataOutPipe);
  return status_.valid() && command_.valid() && dataIn_.valid() && dataOut_.valid();
}

void GadgetFsUas::CommandLoop() {
  std::array<std::uint8_t, 1024> block{};
  while (!commandWorker_.stopping()) {
    const ssize_t got = ::read(command_.get(), block.data(), block.size());
    if (got < 0 && errno == EINTR) continue;
    // The pipes fail once the host disconnects; the next SET_CONFIGURATION starts a new loop.
    if (got < 0) return;
    const UasIu unit = ParseIu(std::span(block).first(static_cast<std::size_t>(got)));
    if (unit.taskManagement) {
      Say("task management function " + std::to_string(unit.taskManagement->function));
      WriteAll(status_.get(), MakeResponseIu(unit.taskManagement->tag));
    } else if (unit.command) {
      Serve(*unit.command);
    } else {
      Say("ignored an information unit of " + std::to_string(got) + " bytes");
    }
  }
}

void GadgetFsUas::Serve(const UasCommand& command) {
  const unsigned generation = generation_;
  const DataPhase phase = PhaseOf(ToField(command.cdb));
  std::vector<std::uint8_t> dataOut;
  if (command.lun == 0 && phase.direction == DataDirection::Out && phase.length > 0) {
    if (!WriteAll(status_.get(), MakeReadyIu(iu::kWriteReady, command.tag))) return;
    if (!ReadDataOut(dataOut, phase.length)) return;
  }
  const UasAnswer answer = session_.Answer(command, dataOut, kHighSpeedPacket);
  if (!answer.present) {
    onVanish_();  // a real unplug: the host hears nothing more from this disk
    return;
  }
  if (generation != generation_) {
    Say("the answer to a command came after a disconnect; dropped");
    return;
  }
  if (answer.status == sim::scsi::kGood && phase.direction == DataDirection::In &&
      phase.length > 0 && !SendDataIn(answer, command.tag)) {
    return;
  }
  WriteAll(status_.get(), MakeSenseIu(command.tag, answer.status, answer.sense));
}

bool GadgetFsUas::ReadDataOut(std::vector<std::uint8_t>& data, std::uint32_t length) {
  data.assign(length, 0);
  std::size_t done = 0;
  while (done < length) {
    const std::size_t chunk = std::min(kChunk, length - done);
    const ssize_t got = ::read(dataOut_.get(), data.data() + done, chunk);
    if (got < 0) return false;
    done += static_cast<std::size_t>(got);
    if (static_cast<std::size_t>(got) < chunk) break;  // a short packet ends the data early
  }
  data.resize(done);
  return true;
}

bool GadgetFsUas::SendDataIn(const UasAnswer& answer, std::uint16_t tag) {
  if (!WriteAll(status_.get(), MakeReadyIu(iu::kReadReady, tag))) return false;
  const std::optional<std::size_t> taken =
      PushDataIn(answer.dataIn, answer.zeroLengthPacket, kChunk,
                 [this](std::span<const std::uint8_t> bytes) -> std::int64_t {
                   // EINTR fails too: only the wake signal interrupts, and it means "stop".
                   return ::write(dataIn_.get(), bytes.data(), bytes.size());
                 });
  if (!taken) return false;
  if (verbose_ && *taken < answer.dataIn.size()) {
    Say("data-in overrun: the host took " + std::to_string(*taken) + " of " +
        std::to_string(answer.dataIn.size()) + " bytes");
  }
  return true;
}

}  // namespace korvane::gadget
