#include "LinuxSystem.h"

#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>

namespace korvane::gadget {
namespace {

constexpr int kWakeSignal = SIGUSR1;

void IgnoreWake(int) {}

}  // namespace

std::string ErrorText(int error) { return std::strerror(error); }

int WriteText(const std::string& path, std::string_view text) {
  const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
  if (!fd.valid()) return errno;
  // configfs takes an attribute in one write; an empty one unbinds UDC, so send a newline.
  const std::string line = text.empty() ? std::string("\n") : std::string(text);
  if (::write(fd.get(), line.data(), line.size()) < 0) return errno;
  return 0;
}

int MakeDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return 0;
  return errno;
}

bool IsMountPoint(const std::string& path) {
  std::ifstream mounts("/proc/self/mounts");
  std::string device, point, rest;
  while (mounts >> device >> point && std::getline(mounts, rest)) {
    if (point == path) return true;
  }
  return false;
}

bool KnowsFilesystem(std::string_view type) {
  std::ifstream filesystems("/proc/filesystems");
  std::string line;
  while (std::getline(filesystems, line)) {
    const auto tab = line.rfind('\t');
    if (line.substr(tab == std::string::npos ? 0 : tab + 1) == type) return true;
  }
  return false;
}

int Mount(const std::string& source, const std::string& target, const std::string& type) {
  if (::mount(source.c_str(), target.c_str(), type.c_str(), 0, nullptr) == 0) return 0;
  return errno;
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
  while (!bytes.empty()) {
    // EINTR fails too: only the wake signal interrupts, and it means "stop".
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) return false;
    bytes = bytes.subspan(static_cast<std::size_t>(written));
  }
  return true;
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
  if (this != &other) {
    Reset();
    fd_ = other.Release();
  }
  return *this;
}

void UniqueFd::Reset() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

void InstallWakeSignal() {
  struct sigaction action {};
  action.sa_handler = IgnoreWake;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocking read must return EINTR
  sigaction(kWakeSignal, &action, nullptr);
}

void Worker::Start(std::function<void()> body) {
  Stop();
  stop_ = false;
  finished_ = false;
  thread_ = std::thread([this, body = std::move(body)] {
    body();
    finished_ = true;
  });
}

void Worker::Stop() {
  if (!thread_.joinable()) return;
  stop_ = true;
  // The signal may arrive just before the thread enters its read; keep waking it until it is out.
  while (!finished_) {
    pthread_kill(thread_.native_handle(), kWakeSignal);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  thread_.join();
}

void WakeableClock::Sleep(std::chrono::milliseconds duration) {
  std::unique_lock lock(mutex_);
  const unsigned start = wakeups_;
  woken_.wait_for(lock, duration, [&] { return wakeups_ != start; });
}

void WakeableClock::WakeAll() {
  {
    const std::lock_guard lock(mutex_);
    ++wakeups_;
  }
  woken_.notify_all();
}

}  // namespace korvane::gadget
