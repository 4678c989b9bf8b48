#include "FunctionFsBot.h"

#include <errno.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "ByteOrder.h"
#include "UsbDescriptors.h"

namespace korvane::gadget {
namespace {

static_assert(sizeof(usb_functionfs_event) == 12, "FunctionFS events are 12 bytes");

constexpr std::uint8_t kInEndpoint = 1 | USB_DIR_IN;
constexpr std::uint8_t kOutEndpoint = 2 | USB_DIR_OUT;
constexpr std::uint8_t kProtocolBulkOnly = 0x50;
constexpr std::uint8_t kGetMaxLun = 0xFE;
constexpr std::uint8_t kBulkOnlyReset = 0xFF;
constexpr std::size_t kChunk = 65536;
constexpr char kInterfaceName[] = "Korvane Bulk-Only";

// FunctionFS headers carry the length of all they head in bytes 4-7.
void PutTotalLength(std::vector<std::uint8_t>& bytes) {
  put_le32(std::span(bytes).subspan<4, 4>(), static_cast<std::uint32_t>(bytes.size()));
}

usb_interface_descriptor Interface() { return MassStorageInterface(kProtocolBulkOnly, 2, 1); }

usb_ss_ep_comp_descriptor Companion() {
  usb_ss_ep_comp_descriptor comp{};
  comp.bLength = USB_DT_SS_EP_COMP_SIZE;
  comp.bDescriptorType = USB_DT_SS_ENDPOINT_COMP;
  return comp;
}

/// The interface at full, high and super speed, in FunctionFS's v2 layout.
std::vector<std::uint8_t> Descriptors() {
  std::vector<std::uint8_t> bytes;
  Append(bytes, usb_functionfs_descs_head_v2{
                    .magic = htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2),
                    .length = 0,
                    .flags = htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC |
                                     FUNCTIONFS_HAS_SS_DESC)});
  for (const std::uint32_t count : {3u, 3u, 5u}) Append(bytes, htole32(count));
  for (const std::uint16_t maxPacket : {64, 512}) {
    Append(bytes, Interface());
    Append(bytes, BulkEndpoint(kInEndpoint, maxPacket));
    Append(bytes, BulkEndpoint(kOutEndpoint, maxPacket));
  }
  Append(bytes, Interface());
  Append(bytes, BulkEndpoint(kInEndpoint, 1024));
  Append(bytes, Companion());
  Append(bytes, BulkEndpoint(kOutEndpoint, 1024));
  Append(bytes, Companion());
  PutTotalLength(bytes);
  return bytes;
}

std::vector<std::uint8_t> Strings() {
  std::vector<std::uint8_t> bytes;
  Append(bytes, usb_functionfs_strings_head{.magic = htole32(FUNCTIONFS_STRINGS_MAGIC),
                                            .length = 0,
                                            .str_count = htole32(1),
                                            .lang_count = htole32(1)});
  Append(bytes, htole16(0x0409));
  bytes.insert(bytes.end(), std::begin(kInterfaceName), std::end(kInterfaceName));
  PutTotalLength(bytes);
  return bytes;
}

void Say(const char* what, int error) {
  std::fprintf(stderr, "korvane-gadget: %s: %s\n", what, std::strerror(error));
}

}  // namespace

FunctionFsBot::FunctionFsBot(ScsiTarget& target, std::function<void()> onVanish,
                             std::function<void()> cutWaits, bool verbose)
    : session_(target),
      onVanish_(std::move(onVanish)),
      cutWaits_(std::move(cutWaits)),
      verbose_(verbose) {}

bool FunctionFsBot::Open(const std::string& mountDir, std::string& error) {
  ep0_ = UniqueFd(::open((mountDir + "/ep0").c_str(), O_RDWR | O_CLOEXEC));
  if (!ep0_.valid()) {
    error = mountDir + "/ep0: " + ErrorText(errno);
    return false;
  }
  if (!WriteAll(ep0_.get(), Descriptors()) || !WriteAll(ep0_.get(), Strings())) {
    error = "FunctionFS refused the descriptors: " + ErrorText(errno);
    return false;
  }
  in_ = UniqueFd(::open((mountDir + "/ep1").c_str(), O_RDWR | O_CLOEXEC));
  out_ = UniqueFd(::open((mountDir + "/ep2").c_str(), O_RDWR | O_CLOEXEC));
  if (!in_.valid() || !out_.valid()) {
    error = mountDir + ": the bulk endpoints: " + ErrorText(errno);
    return false;
  }
  ep0Worker_.Start([this] { Ep0Loop(); });
  commandWorker_.Start([this] { CommandLoop(); });
  return true;
}

void FunctionFsBot::Abandon() {
  ++generation_;  // whatever the command thread still computes goes nowhere
  if (cutWaits_) cutWaits_();
}

void FunctionFsBot::Close() {
  Abandon();
  commandWorker_.Stop();
  ep0Worker_.Stop();
  in_.Reset();
  out_.Reset();
  ep0_.Reset();
}

void FunctionFsBot::Ep0Loop() {
  ReadEvents<usb_functionfs_event, 4>(ep0_.get(), ep0Worker_, [this](const auto& event) {
    if (event.type == FUNCTIONFS_SETUP) HandleSetup(&event.u.setup);
    // A disabled function loses its transfers; whatever the command loop still computes is
    // for a host that has moved on.
    if (event.type == FUNCTIONFS_DISABLE) Abandon();
    if (verbose_ && event.type != FUNCTIONFS_SETUP) {
      std::fprintf(stderr, "korvane-gadget: ep0 event %u\n", event.type);
    }
  });
}

void FunctionFsBot::HandleSetup(const void* request) {
  const auto& setup = *static_cast<const usb_ctrlrequest*>(request);
  const std::uint8_t classInterface = USB_TYPE_CLASS | USB_RECIP_INTERFACE;
  if (setup.bRequestType == (USB_DIR_IN | classInterface) && setup.bRequest == kGetMaxLun) {
    const std::uint8_t maxLun = 0;
    if (::write(ep0_.get(), &maxLun, 1) < 0) Say("GET MAX LUN", errno);
    return;
  }
  if (setup.bRequestType == (USB_DIR_OUT | classInterface) && setup.bRequest == kBulkOnlyReset) {
    Abandon();
    if (::read(ep0_.get(), nullptr, 0) < 0) Say("Bulk-Only reset", errno);
    return;
  }
  // Anything else is stalled: FunctionFS halts ep0 on I/O in the wrong direction.
  if ((setup.bRequestType & USB_DIR_IN) != 0) {
    [[maybe_unused]] const ssize_t ignored = ::read(ep0_.get(), nullptr, 0);
  } else {
    [[maybe_unused]] const ssize_t ignored = ::write(ep0_.get(), nullptr, 0);
  }
}

void FunctionFsBot::CommandLoop() {
  std::array<std::uint8_t, 512> block{};
  while (!commandWorker_.stopping()) {
    const ssize_t got = ::read(out_.get(), block.data(), block.size());
    if (got < 0) {
      // Transfers fail while the host resets or unplugs us; wait for the next command then.
      if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    const std::optional<Cbw> cbw = ParseCbw(std::span(block).first(static_cast<std::size_t>(got)));
    if (!cbw) {
      std::fprintf(stderr, "korvane-gadget: ignored %zd bytes that are no command block\n", got);
      continue;
    }
    Serve(*cbw);
  }
}

void FunctionFsBot::Serve(const Cbw& cbw) {
  const unsigned generation = generation_;
  if (cbw.length > kMaxBotTransfer) {
    // Too large to hold; the phase error makes the host reset the device.
    const auto csw = MakeCsw(cbw.tag, cbw.length, csw::kPhaseError);
    WriteAll(in_.get(), csw);
    return;
  }
  std::vector<std::uint8_t> dataOut;
  if (cbw.direction() == DataDirection::Out && !ReadDataOut(dataOut, cbw.length)) return;
  const BotAnswer answer = session_.Answer(cbw, dataOut, InMaxPacket());
  if (!answer.present) {
    onVanish_();  // a real unplug: the host hears nothing more from this disk
    return;
  }
  if (generation != generation_) {
    std::fprintf(stderr, "korvane-gadget: the answer to %02X came after a reset; dropped\n",
                 cbw.cb[0]);
    return;
  }
  SendAnswer(answer);
}

bool FunctionFsBot::ReadDataOut(std::vector<std::uint8_t>& data, std::uint32_t length) {
  data.assign(length, 0);
  std::size_t done = 0;
  while (done < length) {
    const std::size_t chunk = std::min(kChunk, length - done);
    const ssize_t got = ::read(out_.get(), data.data() + done, chunk);
    if (got < 0 && errno == EINTR && !commandWorker_.stopping()) continue;
    if (got < 0) return false;
    done += static_cast<std::size_t>(got);
    if (static_cast<std::size_t>(got) < chunk) break;  // a short packet ends the data early
  }
  data.resize(done);
  return true;
}

bool FunctionFsBot::SendAnswer(const BotAnswer& answer) {
  const std::span<const std::uint8_t> data(answer.dataIn);
  for (std::size_t at = 0; at < data.size(); at += kChunk) {
    if (!WriteAll(in_.get(), data.subspan(at, std::min(kChunk, data.size() - at)))) return false;
  }
  // A read on an IN endpoint halts it: the STALL that ends a short answer on a packet boundary.
  if (answer.stallIn && ::read(in_.get(), nullptr, 0) < 0 && errno != EBADMSG) {
    Say("stalling the IN endpoint", errno);
  }
  return WriteAll(in_.get(), answer.csw);
}

std::uint32_t FunctionFsBot::InMaxPacket() const {
  usb_endpoint_descriptor descriptor{};
  if (::ioctl(in_.get(), FUNCTIONFS_ENDPOINT_DESC, &descriptor) == 0) {
    return le16toh(descriptor.wMaxPacketSize);
  }
  return 512;
}

}  // namespace korvane::gadget
