#include "VolumeHold.h"

// winioctl.h relies on types that only windows.h declares.
#include <windows.h>

#include <winioctl.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <cwchar>
#include <optional>
#include <utility>
#include <vector>

#include "Text.h"

namespace korvane {
namespace {

static_assert(sizeof(wchar_t) == 2, "names from the system are UTF-16");

// A program that has just closed its last file on the volume lets go of it within moments;
// one that keeps files open does not, and waiting longer only delays the refusal.
constexpr std::chrono::milliseconds kLockRetry{100};
constexpr std::chrono::milliseconds kLockWait{3000};
// Bounds the retries by count too, so a clock that does not move cannot hold the update forever.
constexpr int kLockAttempts = static_cast<int>(kLockWait / kLockRetry) + 1;

// A volume's GUID name is 49 characters; the walk gets room for any path.
constexpr DWORD kVolumeNameLength = MAX_PATH;
constexpr std::size_t kMaxVolumes = 4096;
// A volume spanning more extents than this is not one a bridge's disk is part of in practice;
// the bound keeps a count the driver claims from sizing the buffer.
constexpr DWORD kMaxExtents = 1024;
constexpr int kExtentQueries = 3;
constexpr DWORD kMaxPathNamesLength = 32768;

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;
constexpr std::size_t kExtentsHeader = offsetof(VOLUME_DISK_EXTENTS, Extents);

// What a refused control call or flush says: its access was checked when the volume was opened.
std::string ErrorText(DWORD error) { return "Windows error " + std::to_string(error); }

// Why a device could not be opened or queried.
std::string Reason(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
      return "the program needs administrator rights";
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DEVICE_NOT_CONNECTED:
      return "it is no longer attached";
    case ERROR_INVALID_DATA:
      return "Windows answered with too few bytes";
    default:
      return ErrorText(error);
  }
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// UTF-16 from the system as UTF-8; a surrogate without its pair becomes U+FFFD.
std::string Utf8(std::wstring_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t c = static_cast<char16_t>(text[i]);
    const char32_t next = i + 1 < text.size() ? static_cast<char16_t>(text[i + 1]) : 0;
    if (IsHighSurrogate(c) && IsLowSurrogate(next)) {
      c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      c = 0xFFFD;
    }
    AppendUtf8(out, c);
  }
  return out;
}

// The text up to the first NUL, never past the buffer's end.
std::wstring Terminated(const std::vector<wchar_t>& buffer) {
  return std::wstring(buffer.data(), wcsnlen(buffer.data(), buffer.size()));
}

// Volume names end in a backslash, which opens the root folder instead of the volume.
std::wstring DeviceName(const std::wstring& volume) {
  if (!volume.empty() && volume.back() == L'\\') return volume.substr(0, volume.size() - 1);
  return volume;
}

/// A handle that is closed when it goes out of scope.
class OwnedHandle {
 public:
  OwnedHandle(VolumeApi& api, HANDLE handle) : api_(&api), handle_(handle) {}
  OwnedHandle(OwnedHandle&& other) noexcept
      : api_(other.api_), handle_(std::exchange(other.handle_, INVALID_HANDLE_VALUE)) {}
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  OwnedHandle& operator=(OwnedHandle&&) = delete;
  ~OwnedHandle() {
    if (valid()) api_->CloseHandle(handle_);
  }

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr; }
  HANDLE get() const { return handle_; }

 private:
  VolumeApi* api_;
  HANDLE handle_;
};

/// Ends the walk over the volumes however it ends.
class VolumeWalk {
 public:
  VolumeWalk(VolumeApi& api, HANDLE find) : api_(api), find_(find) {}
  VolumeWalk(const VolumeWalk&) = delete;
  VolumeWalk& operator=(const VolumeWalk&) = delete;
  ~VolumeWalk() { api_.FindVolumeClose(find_); }

 private:
  VolumeApi& api_;
  HANDLE find_;
};

// The last error of a call that failed, never ERROR_SUCCESS.
DWORD LastFailure(VolumeApi& api) {
  const DWORD error = api.GetLastError();
  return error == ERROR_SUCCESS ? ERROR_GEN_FAILURE : error;
}

// ERROR_SUCCESS, or why the control call failed.
DWORD Control(VolumeApi& api, HANDLE device, DWORD code) {
  DWORD returned = 0;
  if (api.DeviceIoControl(device, code, nullptr, 0, nullptr, 0, &returned, nullptr)) {
    return ERROR_SUCCESS;
  }
  return LastFailure(api);
}

/// The disks a volume lies on, as far as it told.
struct Extents {
  bool answered = false;  ///< false: the volume refused the query
  bool complete = false;  ///< false: it has more extents than it delivered
  std::vector<DWORD> disks;
};

DWORD ExtentCount(const std::vector<std::uint8_t>& buffer) {
  DWORD count = 0;
  std::memcpy(&count, buffer.data() + offsetof(VOLUME_DISK_EXTENTS, NumberOfDiskExtents),
              sizeof count);
  return count;
}

// The disks of the extents that the returned bytes cover, no more than claimed.
std::vector<DWORD> ExtentDisks(const std::vector<std::uint8_t>& buffer, DWORD returned,
                               DWORD claimed) {
  const std::size_t covered = std::min<std::size_t>(returned, buffer.size());
  const std::size_t delivered =
      covered < kExtentsHeader ? 0 : (covered - kExtentsHeader) / sizeof(DISK_EXTENT);
  std::vector<DWORD> disks;
  for (std::size_t i = 0; i < std::min<std::size_t>(delivered, claimed); ++i) {
    DISK_EXTENT extent;
    std::memcpy(&extent, buffer.data() + kExtentsHeader + i * sizeof extent, sizeof extent);
    disks.push_back(extent.DiskNumber);
  }
  return disks;
}

std::size_t ExtentsSize(DWORD capacity) {
  return kExtentsHeader + std::max<DWORD>(capacity, 1) * sizeof(DISK_EXTENT);
}

// Asks again with room for as many extents as the volume says it has, a bounded number of times.
Extents ReadExtents(VolumeApi& api, HANDLE volume) {
  Extents extents;
  DWORD capacity = 1;
  for (int query = 0; query < kExtentQueries; ++query) {
    std::vector<std::uint8_t> buffer(ExtentsSize(capacity), 0);
    DWORD returned = 0;
    const BOOL ok =
        api.DeviceIoControl(volume, IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, nullptr, 0, buffer.data(),
                            static_cast<DWORD>(buffer.size()), &returned, nullptr);
    if (!ok && api.GetLastError() != ERROR_MORE_DATA) return extents;
    extents.answered = true;
    const DWORD claimed = ExtentCount(buffer);
    extents.disks = ok ? ExtentDisks(buffer, returned, claimed) : std::vector<DWORD>{};
    extents.complete = ok && extents.disks.size() == claimed;
    if (extents.complete || claimed <= capacity || claimed > kMaxExtents) return extents;
    capacity = claimed;
  }
  return extents;
}

enum class Placement : std::uint8_t { Elsewhere, OnDisk, Unknown };

Placement Place(const Extents& extents, DWORD disk) {
  if (std::find(extents.disks.begin(), extents.disks.end(), disk) != extents.disks.end()) {
    return Placement::OnDisk;
  }
  // A volume that refuses the query, such as a CD drive without a disc, has no extent anywhere.
  if (!extents.answered || extents.complete) return Placement::Elsewhere;
  return Placement::Unknown;
}

// The first drive letter or mount folder of a volume, or its GUID name when it has none.
std::string DisplayName(VolumeApi& api, const std::wstring& volume) {
  std::vector<wchar_t> names(MAX_PATH + 1, 0);
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD needed = 0;
    // One element is kept back so the list ends in a NUL whatever is written.
    const DWORD length = static_cast<DWORD>(names.size() - 1);
    if (api.GetVolumePathNamesForVolumeNameW(volume.c_str(), names.data(), length, &needed)) {
      const std::wstring first = Terminated(names);
      if (!first.empty()) return Printable(Utf8(first));
      break;
    }
    if (api.GetLastError() != ERROR_MORE_DATA || needed <= length || needed > kMaxPathNamesLength) {
      break;
    }
    names.assign(needed + 1, 0);
  }
  return Printable(Utf8(volume));
}

std::string CannotTell(std::string_view disk, const std::string& reason) {
  return "cannot tell which volumes lie on " + Printable(disk) + ": " + reason +
         "; writing a disk whose volumes cannot be told is not safe";
}

/// One volume taken from the system: locked unless dismounted by force.
struct HeldVolume {
  OwnedHandle handle;
  bool locked = false;
};

/// The volumes of one disk, unlocked and closed in the reverse order of taking.
class VolumeHold final : public DiskHold {
 public:
  explicit VolumeHold(VolumeApi& api) : api_(api) {}
  VolumeHold(const VolumeHold&) = delete;
  VolumeHold& operator=(const VolumeHold&) = delete;
  ~VolumeHold() override {
    while (!held_.empty()) {
      if (held_.back().locked) Control(api_, held_.back().handle.get(), FSCTL_UNLOCK_VOLUME);
      held_.pop_back();
    }
  }

  void Keep(OwnedHandle handle, bool locked) { held_.push_back({std::move(handle), locked}); }
  void Note(std::string gap) { gaps_.push_back(std::move(gap)); }

  std::string gaps() const override {
    std::string text;
    for (const std::string& gap : gaps_) text += (text.empty() ? "" : "; ") + gap;
    return text;
  }

 private:
  VolumeApi& api_;
  std::vector<HeldVolume> held_;
  std::vector<std::string> gaps_;
};

/// The steps of one Hold call.
class Taker {
 public:
  Taker(VolumeApi& api, Clock& clock, bool forceDismount)
      : api_(api), clock_(clock), forceDismount_(forceDismount) {}

  std::optional<std::string> FindDiskNumber(std::string_view path, DWORD& number);
  std::optional<std::string> FindVolumes(std::string_view path, DWORD disk,
                                         std::vector<std::wstring>& found);
  std::optional<std::string> TakeVolume(VolumeHold& hold, const std::wstring& volume);

 private:
  std::optional<std::string> Consider(std::string_view path, DWORD disk, const std::wstring& volume,
                                      std::vector<std::wstring>& found);
  DWORD Lock(HANDLE volume);
  std::optional<std::string> DismountByForce(VolumeHold& hold, OwnedHandle volume,
                                             const std::wstring& name);

  VolumeApi& api_;
  Clock& clock_;
  bool forceDismount_;
};

std::optional<std::string> Taker::FindDiskNumber(std::string_view path, DWORD& number) {
  // CreateFileA stops at the first NUL, so such a path would name some other device.
  if (path.find('\0') != std::string_view::npos)
    return CannotTell(path, Reason(ERROR_INVALID_NAME));
  const std::string terminated(path);
  // The number is a query that needs no access to the disk.
  OwnedHandle disk(
      api_, api_.CreateFileA(terminated.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!disk.valid()) return CannotTell(path, Reason(LastFailure(api_)));
  STORAGE_DEVICE_NUMBER answer{};
  DWORD returned = 0;
  if (!api_.DeviceIoControl(disk.get(), IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &answer,
                            sizeof answer, &returned, nullptr)) {
    return CannotTell(path, Reason(LastFailure(api_)));
  }
  if (returned < sizeof answer) return CannotTell(path, Reason(ERROR_INVALID_DATA));
  number = answer.DeviceNumber;
  return std::nullopt;
}

std::optional<std::string> Taker::Consider(std::string_view path, DWORD disk,
                                           const std::wstring& volume,
                                           std::vector<std::wstring>& found) {
  OwnedHandle handle(api_, api_.CreateFileW(DeviceName(volume).c_str(), 0, kShareAll, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
  // One that cannot even be opened for a query has gone, like one that refuses the query.
  if (!handle.valid()) return std::nullopt;
  switch (Place(ReadExtents(api_, handle.get()), disk)) {
    case Placement::OnDisk:
      found.push_back(volume);
      return std::nullopt;
    case Placement::Unknown:
      return CannotTell(path, DisplayName(api_, volume) + " does not list all the disks it spans");
    default:
      return std::nullopt;
  }
}

std::optional<std::string> Taker::FindVolumes(std::string_view path, DWORD disk,
                                              std::vector<std::wstring>& found) {
  // One element is kept back so every name ends in a NUL whatever is written.
  std::vector<wchar_t> name(kVolumeNameLength + 1, 0);
  const HANDLE find = api_.FindFirstVolumeW(name.data(), kVolumeNameLength);
  if (find == INVALID_HANDLE_VALUE) {
    const DWORD error = LastFailure(api_);
    if (error == ERROR_NO_MORE_FILES) return std::nullopt;
    return CannotTell(path, "the volumes could not be listed: " + Reason(error));
  }
  const VolumeWalk walk(api_, find);
  for (std::size_t count = 1;; ++count) {
    if (count > kMaxVolumes) return CannotTell(path, "Windows lists too many volumes");
    const std::wstring volume = Terminated(name);
    if (!volume.empty()) {
      if (auto refusal = Consider(path, disk, volume, found)) return refusal;
    }
    std::fill(name.begin(), name.end(), L'\0');
    if (!api_.FindNextVolumeW(find, name.data(), kVolumeNameLength)) {
      const DWORD error = LastFailure(api_);
      if (error == ERROR_NO_MORE_FILES) return std::nullopt;
      return CannotTell(path, "the volumes could not be listed: " + Reason(error));
    }
  }
}

// ERROR_SUCCESS once the volume is locked, or the last refusal once retrying is over.
DWORD Taker::Lock(HANDLE volume) {
  const auto start = clock_.Now();
  for (int attempt = 1;; ++attempt) {
    const DWORD error = Control(api_, volume, FSCTL_LOCK_VOLUME);
    if (error == ERROR_SUCCESS) return error;
    if (attempt >= kLockAttempts || clock_.Now() - start >= kLockWait) return error;
    clock_.Sleep(kLockRetry);
  }
}

std::string LockRefusal(const std::string& name, DWORD error) {
  if (error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION) {
    return "cannot take " + name +
           " from Windows for the update: a program has files open there; close it and try "
           "again (on a desktop it is often Explorer or the search indexer)";
  }
  return "cannot take " + name + " from Windows for the update: " + ErrorText(error);
}

std::optional<std::string> Taker::DismountByForce(VolumeHold& hold, OwnedHandle volume,
                                                  const std::wstring& name) {
  const DWORD error = Control(api_, volume.get(), FSCTL_DISMOUNT_VOLUME);
  const std::string shown = DisplayName(api_, name);
  if (error != ERROR_SUCCESS) return "cannot dismount " + shown + ": " + ErrorText(error);
  hold.Keep(std::move(volume), false);
  hold.Note(shown +
            " was dismounted without its lock: the files other programs had open on it were "
            "invalidated, and Windows may mount it again during the update");
  return std::nullopt;
}

std::optional<std::string> Taker::TakeVolume(VolumeHold& hold, const std::wstring& name) {
  OwnedHandle volume(api_, api_.CreateFileW(DeviceName(name).c_str(), GENERIC_READ | GENERIC_WRITE,
                                            kShareAll, nullptr, OPEN_EXISTING, 0, nullptr));
  if (!volume.valid()) {
    const DWORD error = LastFailure(api_);
    return "cannot open " + DisplayName(api_, name) +
           " to take it for the update: " + Reason(error);
  }
  if (!api_.FlushFileBuffers(volume.get())) {
    const DWORD error = LastFailure(api_);
    hold.Note(DisplayName(api_, name) + " could not be flushed: " + ErrorText(error));
  }
  const DWORD refused = Lock(volume.get());
  if (refused != ERROR_SUCCESS) {
    if (forceDismount_) return DismountByForce(hold, std::move(volume), name);
    return LockRefusal(DisplayName(api_, name), refused);
  }
  const DWORD notDismounted = Control(api_, volume.get(), FSCTL_DISMOUNT_VOLUME);
  if (notDismounted != ERROR_SUCCESS) {
    hold.Note(DisplayName(api_, name) +
              " is locked but could not be dismounted: " + ErrorText(notDismounted));
  }
  hold.Keep(std::move(volume), true);
  return std::nullopt;
}

}  // namespace

std::variant<std::unique_ptr<DiskHold>, std::string> VolumeHolder::Hold(std::string_view path) {
  Taker taker(api_, clock_, forceDismount_);
  DWORD disk = 0;
  if (auto refusal = taker.FindDiskNumber(path, disk)) return *refusal;
  std::vector<std::wstring> volumes;
  if (auto refusal = taker.FindVolumes(path, disk, volumes)) return *refusal;
  // Destroying a hold that is not handed out lets go of what it took so far.
  auto hold = std::make_unique<VolumeHold>(api_);
  for (const std::wstring& volume : volumes) {
    if (auto refusal = taker.TakeVolume(*hold, volume)) return *refusal;
  }
  return std::unique_ptr<DiskHold>(std::move(hold));
}

}  // namespace korvane
