// The few system services the gadget's Linux side needs: files under /sys and /dev, mounts,
// owned descriptors, and worker threads that can be woken from a blocking read.
#pragma once

#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <thread>

#include "Clock.h"

namespace korvane::gadget {

/// A failure of the system around the gadget: one line for the user.
struct SystemError {
  std::string message;
};

/// The text of errno value error.
std::string ErrorText(int error);

/// Writes text to an existing file (a configfs attribute); 0 or the errno value.
int WriteText(const std::string& path, std::string_view text);
/// Creates a directory; 0 or the errno value (EEXIST counts as success).
int MakeDirectory(const std::string& path);
/// True when a mount point is at path.
bool IsMountPoint(const std::string& path);
/// True when the kernel knows the file system type (it appears in /proc/filesystems).
bool KnowsFilesystem(std::string_view type);
/// Mounts a file system; 0 or the errno value.
int Mount(const std::string& source, const std::string& target, const std::string& type);

/// Writes all bytes; false with errno set on failure, an interruption by the wake signal included.
bool WriteAll(int fd, std::span<const std::uint8_t> bytes);

/// An owned file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept;
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  /// The descriptor, -1 when none.
  int get() const { return fd_; }
  /// True when a descriptor is held.
  bool valid() const { return fd_ >= 0; }
  /// Closes the descriptor.
  void Reset();

 private:
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  int fd_ = -1;
};

/// Installs the no-op handler of the signal that wakes workers from blocking I/O; call once
/// before the first worker starts.
void InstallWakeSignal();

/// A thread running a loop until asked to stop. Stopping wakes it out of a blocking read with a
/// signal whose handler does nothing, so the loop sees EINTR and its stop flag; the thread is
/// never cancelled inside C++ code.
class Worker {
 public:
  Worker() = default;
  ~Worker() { Stop(); }
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  /// Starts body; it should return soon after stopping() turns true.
  void Start(std::function<void()> body);
  /// Asks the loop to stop, wakes it until it has returned, and joins it.
  void Stop();
  /// True once Stop was called.
  bool stopping() const { return stop_.load(); }
  /// True while the thread runs.
  bool running() const { return thread_.joinable() && !finished_.load(); }

 private:
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{false};
};

/// The real clock, whose pauses can be cut short: a bridge's latency or late answer must not
/// hold up a host that has reset the device, nor the program's exit.
class WakeableClock final : public Clock {
 public:
  void Sleep(std::chrono::milliseconds duration) override;
  std::chrono::microseconds Now() const override { return system_.Now(); }
  /// Ends every pause under way now.
  void WakeAll();

 private:
  SystemClock system_;
  std::mutex mutex_;
  std::condition_variable woken_;
  unsigned wakeups_ = 0;
};

/// Reads batches of the control file's events until the worker stops and hands each to handle.
/// A failed read is tried again after a pause: the file fails for a while around an unbind.
template <typename Event, std::size_t Batch, typename Handle>
void ReadEvents(int fd, const Worker& worker, Handle&& handle) {
  std::array<Event, Batch> events{};
  while (!worker.stopping()) {
    const ssize_t got = ::read(fd, events.data(), sizeof(events));
    if (got < 0) {
      if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(50));
      continue;
    }
    const auto count = static_cast<std::size_t>(got) / sizeof(Event);
    for (std::size_t i = 0; i < count; ++i) handle(events[i]);
  }
}

}  // namespace korvane::gadget
