#include "UeventMonitor.h"

#include <linux/netlink.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

namespace korvane {
namespace {

/// The multicast group the kernel sends its uevents to; udevd resends them on group 2, which
/// is not asked for.
constexpr unsigned kKernelGroup = 1;
/// A uevent is at most a page; the kernel's own buffer for one is 2048 bytes of environment.
constexpr std::size_t kMessageSize = 8192;

/// The zero-terminated texts of a message, the last one also when its zero is missing.
template <typename Visit>
void ForEachText(std::span<const char> message, Visit visit) {
  while (!message.empty()) {
    const auto end = std::ranges::find(message, '\0');
    visit(std::string_view(message.data(), static_cast<std::size_t>(end - message.begin())));
    if (end == message.end()) return;
    message = message.subspan(static_cast<std::size_t>(end - message.begin()) + 1);
  }
}

void Take(std::string_view text, Uevent& event) {
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return;
  const std::string_view key = text.substr(0, equals);
  const std::string value(text.substr(equals + 1));
  if (key == "ACTION") event.action = value;
  if (key == "DEVPATH") event.devpath = value;
  if (key == "SUBSYSTEM") event.subsystem = value;
}

std::string ErrnoText(int error) { return std::strerror(error); }

}  // namespace

std::optional<Uevent> ParseUevent(std::span<const char> message) {
  const auto headerEnd = std::ranges::find(message, '\0');
  const std::string_view header(message.data(),
                                static_cast<std::size_t>(headerEnd - message.begin()));
  // udevd's messages begin "libudev" and carry a binary header: not ours to read.
  if (header.find('@') == std::string_view::npos || header.starts_with("libudev")) {
    return std::nullopt;
  }
  Uevent event;
  ForEachText(message, [&event](std::string_view text) { Take(text, event); });
  if (event.action.empty() || event.devpath.empty() || event.subsystem.empty()) {
    return std::nullopt;
  }
  return event;
}

bool ChangesDisks(const Uevent& event) {
  const bool disk = event.subsystem == "block" || event.subsystem == "scsi_generic";
  return disk && (event.action == "add" || event.action == "remove");
}

UeventMonitor::~UeventMonitor() {
  if (socket_ >= 0) close(socket_);
}

std::optional<std::string> UeventMonitor::Listen() {
  if (socket_ >= 0) return std::nullopt;
  const int fd =
      socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
  if (fd < 0) return "no kernel uevent socket: " + ErrnoText(errno);
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = kKernelGroup;
  if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    close(fd);
    return "the kernel's uevents cannot be received: " + ErrnoText(error);
  }
  socket_ = fd;
  return std::nullopt;
}

ChangeWait UeventMonitor::Wait(std::chrono::milliseconds timeout) {
  if (socket_ < 0) return ChangeWait::Ended;
  pollfd entry{socket_, POLLIN, 0};
  const int ready = poll(&entry, 1, static_cast<int>(timeout.count()));
  if (ready <= 0) return ChangeWait::Quiet;
  return DrainMessages() ? ChangeWait::Change : ChangeWait::Quiet;
}

bool UeventMonitor::DrainMessages() {
  bool changed = false;
  std::array<char, kMessageSize> buffer{};
  for (;;) {
    sockaddr_nl sender{};
    iovec part{buffer.data(), buffer.size()};
    msghdr header{};
    header.msg_name = &sender;
    header.msg_namelen = sizeof sender;
    header.msg_iov = &part;
    header.msg_iovlen = 1;
    const ssize_t size = recvmsg(socket_, &header, 0);
    // A full socket drops messages: one of them may have been the disk, so count it as a change.
    if (size < 0) return changed || errno == ENOBUFS;
    // Only the kernel speaks for the devices; another process on the group is not believed.
    if (sender.nl_pid != 0) continue;
    const auto event =
        ParseUevent(std::span<const char>(buffer.data(), static_cast<std::size_t>(size)));
    changed = changed || (event && ChangesDisks(*event));
  }
}

}  // namespace korvane
