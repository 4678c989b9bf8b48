#include "VolumeHold.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <winioctl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "SimulatedClock.h"

namespace korvane {
namespace {

constexpr std::string_view kDisk =
    R"(\\?\usbstor#disk&ven_korvane&prod_bridge#1#{53f56307-b6bf-11d0-94f2-00a0c91efb8b})";
constexpr DWORD kDiskNumber = 3;
constexpr DWORD kOtherDisk = 0;
constexpr int kAlways = INT_MAX;
constexpr std::size_t kHeader = offsetof(VOLUME_DISK_EXTENTS, Extents);
const HANDLE kFind = reinterpret_cast<HANDLE>(std::intptr_t{0xF1D});

/// One volume of the fake system.
struct FakeVolume {
  std::string label;                    ///< how the log names it
  std::vector<DWORD> disks;             ///< the disk of each extent
  std::wstring paths;                   ///< drive letters and mount folders, NUL between them
  std::optional<DWORD> extentsError;    ///< the extents query refused with this
  std::optional<DWORD> claimedExtents;  ///< the count it claims instead of its own
  std::optional<DWORD> openError;       ///< opening it to take it fails with this
  int lockRefusals = 0;                 ///< refused this many times before granted
  DWORD lockError = ERROR_ACCESS_DENIED;
  bool flushFails = false;
  bool dismountFails = false;
};

std::wstring GuidName(const FakeVolume& volume) {
  const std::wstring label(volume.label.begin(), volume.label.end());
  return L"\\\\?\\Volume{" + label + L"-0000-11d0-94f2-00a0c91efb8b}\\";
}

std::string NarrowGuidName(const FakeVolume& volume) {
  return R"(\\?\Volume{)" + volume.label + "-0000-11d0-94f2-00a0c91efb8b}\\";
}

/// Plays the volume manager over a list of volumes; logs what changes their state.
class FakeVolumeApi final : public VolumeApi {
 public:
  HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES, DWORD creation,
                     DWORD, HANDLE) override {
    diskOpens.push_back({path, access, share, creation});
    if (diskOpenError) return Fail(*diskOpenError);
    return Open(kDiskEntry, false);
  }

  HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD,
                     HANDLE) override {
    const int index = Find(path);
    // A name with its trailing backslash opens the root folder, not the volume.
    if (index < 0) return Fail(ERROR_PATH_NOT_FOUND);
    const bool taking = access != 0;
    if (taking) Log("open " + volumes[index].label);
    if (taking && volumes[index].openError) return Fail(*volumes[index].openError);
    return Open(index, taking);
  }

  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID, DWORD, LPVOID out, DWORD outSize,
                       LPDWORD returned, LPOVERLAPPED) override {
    const auto it = handles.find(device);
    if (it == handles.end()) return FailBool(ERROR_INVALID_HANDLE);
    if (it->second.index == kDiskEntry) return DeviceNumber(code, out, outSize, returned);
    FakeVolume& volume = volumes[it->second.index];
    switch (code) {
      case IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS:
        return Extents(volume, out, outSize, returned);
      case FSCTL_LOCK_VOLUME:
        return LockVolume(volume, it->second.taking);
      case FSCTL_DISMOUNT_VOLUME:
        Log("dismount " + volume.label + (volume.dismountFails ? " refused" : ""));
        return volume.dismountFails ? FailBool(ERROR_ACCESS_DENIED) : TRUE;
      case FSCTL_UNLOCK_VOLUME:
        Log("unlock " + volume.label);
        return TRUE;
      default:
        return FailBool(ERROR_INVALID_FUNCTION);
    }
  }

  BOOL FlushFileBuffers(HANDLE handle) override {
    const FakeVolume& volume = volumes[handles.at(handle).index];
    Log("flush " + volume.label);
    return volume.flushFails ? FailBool(ERROR_INVALID_FUNCTION) : TRUE;
  }

  HANDLE FindFirstVolumeW(LPWSTR name, DWORD length) override {
    next = 0;
    if (!FindNextVolumeW(kFind, name, length)) return INVALID_HANDLE_VALUE;
    walking = true;
    return kFind;
  }

  BOOL FindNextVolumeW(HANDLE, LPWSTR name, DWORD length) override {
    if (next >= volumes.size()) return FailBool(ERROR_NO_MORE_FILES);
    const std::wstring text = GuidName(volumes[next++]);
    if (text.size() + 1 > length) return FailBool(ERROR_FILENAME_EXCED_RANGE);
    std::copy(text.begin(), text.end(), name);
    name[text.size()] = L'\0';
    return TRUE;
  }

  BOOL FindVolumeClose(HANDLE) override {
    walking = false;
    return TRUE;
  }

  BOOL GetVolumePathNamesForVolumeNameW(LPCWSTR volumeName, LPWCH names, DWORD length,
                                        PDWORD returnLength) override {
    const auto it = std::find_if(volumes.begin(), volumes.end(),
                                 [&](const FakeVolume& v) { return GuidName(v) == volumeName; });
    if (it == volumes.end()) return FailBool(ERROR_INVALID_NAME);
    const std::wstring list = it->paths + std::wstring(2, L'\0');
    *returnLength = static_cast<DWORD>(list.size());
    if (list.size() > length) return FailBool(ERROR_MORE_DATA);
    std::copy(list.begin(), list.end(), names);
    return TRUE;
  }

  DWORD GetLastError() override { return lastError; }

  BOOL CloseHandle(HANDLE handle) override {
    const auto it = handles.find(handle);
    if (it == handles.end()) return FailBool(ERROR_INVALID_HANDLE);
    if (it->second.taking) Log("close " + volumes[it->second.index].label);
    handles.erase(it);
    return TRUE;
  }

  /// The log, a run of the same event written once with its count.
  std::vector<std::string> Events() const {
    std::vector<std::string> events;
    for (const auto& [event, count] : log) {
      events.push_back(count == 1 ? event : event + " x" + std::to_string(count));
    }
    return events;
  }

  struct DiskOpen {
    std::string path;
    DWORD access = 0;
    DWORD share = 0;
    DWORD creation = 0;
  };

  std::vector<FakeVolume> volumes;
  std::optional<DWORD> diskOpenError;
  std::optional<DWORD> numberError;
  DWORD numberReturned = sizeof(STORAGE_DEVICE_NUMBER);
  std::vector<DiskOpen> diskOpens;
  std::vector<std::pair<std::string, int>> log;
  std::map<HANDLE, int> lockAttempts;
  std::size_t largestExtentsBuffer = 0;
  bool walking = false;

  struct Entry {
    int index = 0;
    bool taking = false;
  };
  std::map<HANDLE, Entry> handles;

 private:
  static constexpr int kDiskEntry = -1;

  void Log(const std::string& event) {
    if (!log.empty() && log.back().first == event) {
      ++log.back().second;
    } else {
      log.emplace_back(event, 1);
    }
  }

  int Find(LPCWSTR path) const {
    for (std::size_t i = 0; i < volumes.size(); ++i) {
      const std::wstring name = GuidName(volumes[i]);
      if (name.substr(0, name.size() - 1) == path) return static_cast<int>(i);
    }
    return -1;
  }

  HANDLE Open(int index, bool taking) {
    const HANDLE handle = reinterpret_cast<HANDLE>(++handleCount * 4);
    handles[handle] = {index, taking};
    return handle;
  }

  HANDLE Fail(DWORD error) {
    lastError = error;
    return INVALID_HANDLE_VALUE;
  }

  BOOL FailBool(DWORD error) {
    lastError = error;
    return FALSE;
  }

  BOOL DeviceNumber(DWORD code, LPVOID out, DWORD outSize, LPDWORD returned) {
    if (code != IOCTL_STORAGE_GET_DEVICE_NUMBER) return FailBool(ERROR_INVALID_FUNCTION);
    if (numberError) return FailBool(*numberError);
    if (outSize < sizeof(STORAGE_DEVICE_NUMBER)) return FailBool(ERROR_INSUFFICIENT_BUFFER);
    STORAGE_DEVICE_NUMBER number{FILE_DEVICE_DISK, kDiskNumber, 0};
    std::memcpy(out, &number, sizeof number);
    *returned = numberReturned;
    return TRUE;
  }

  BOOL Extents(const FakeVolume& volume, LPVOID out, DWORD outSize, LPDWORD returned) {
    largestExtentsBuffer = std::max<std::size_t>(largestExtentsBuffer, outSize);
    if (volume.extentsError) return FailBool(*volume.extentsError);
    if (outSize < sizeof(VOLUME_DISK_EXTENTS)) return FailBool(ERROR_INSUFFICIENT_BUFFER);
    auto* bytes = static_cast<std::uint8_t*>(out);
    const DWORD claimed = volume.claimedExtents.value_or(volume.disks.size());
    std::memcpy(bytes, &claimed, sizeof claimed);
    const std::size_t room = (outSize - kHeader) / sizeof(DISK_EXTENT);
    const std::size_t written = std::min(room, volume.disks.size());
    for (std::size_t i = 0; i < written; ++i) {
      DISK_EXTENT extent{};
      extent.DiskNumber = volume.disks[i];
      extent.ExtentLength.QuadPart = 1 << 20;
      std::memcpy(bytes + kHeader + i * sizeof extent, &extent, sizeof extent);
    }
    if (room < claimed) {
      *returned = sizeof(VOLUME_DISK_EXTENTS);
      return FailBool(ERROR_MORE_DATA);
    }
    *returned = static_cast<DWORD>(kHeader + written * sizeof(DISK_EXTENT));
    return TRUE;
  }

  BOOL LockVolume(const FakeVolume& volume, bool taking) {
    if (!taking) return FailBool(ERROR_ACCESS_DENIED);
    const int attempt = ++lockCount[volume.label];
    if (attempt <= volume.lockRefusals) {
      Log("lock " + volume.label + " refused");
      return FailBool(volume.lockError);
    }
    Log("lock " + volume.label);
    return TRUE;
  }

  DWORD lastError = 0;
  std::size_t next = 0;
  std::intptr_t handleCount = 0;
  std::map<std::string, int> lockCount;
};

FakeVolume On(std::string label, std::vector<DWORD> disks, std::wstring paths = {}) {
  FakeVolume volume;
  volume.label = std::move(label);
  volume.disks = std::move(disks);
  volume.paths = std::move(paths);
  return volume;
}

FakeVolume Refusing(FakeVolume volume, int refusals, DWORD error = ERROR_ACCESS_DENIED) {
  volume.lockRefusals = refusals;
  volume.lockError = error;
  return volume;
}

using Events = std::vector<std::string>;

const Events kTakeE = {"open E", "flush E", "lock E", "dismount E"};
const Events kTakeF = {"open F", "flush F", "lock F", "dismount F"};
const Events kReleaseE = {"unlock E", "close E"};
const Events kReleaseF = {"unlock F", "close F"};

Events Join(std::initializer_list<Events> parts) {
  Events all;
  for (const Events& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

struct Outcome {
  std::optional<std::string> refusal;
  Events taking;
  Events releasing;
  std::string gaps;
};

Outcome HoldAndRelease(FakeVolumeApi& api, Clock& clock, bool force) {
  VolumeHolder holder(api, clock, force);
  auto result = holder.Hold(kDisk);
  Outcome outcome;
  outcome.taking = api.Events();
  if (auto* refusal = std::get_if<std::string>(&result)) {
    outcome.refusal = *refusal;
    return outcome;
  }
  outcome.gaps = std::get<std::unique_ptr<DiskHold>>(result)->gaps();
  api.log.clear();
  result = std::string();  // destroys the hold
  outcome.releasing = api.Events();
  return outcome;
}

TEST(VolumeHoldTest, TakesEveryVolumeOfTheDiskAndGivesThemBack) {
  struct Case {
    const char* name;
    std::vector<FakeVolume> volumes;
    bool force = false;
    std::optional<DWORD> numberError;
    Events taking;
    Events releasing;
    std::string refusal;  ///< empty: the hold is had
    std::string gaps;
    std::size_t sleeps = 0;
  };
  const std::string filesOpen =
      R"(cannot take F:\ from Windows for the update: a program has files open there; close it )"
      "and try again (on a desktop it is often Explorer or the search indexer)";
  const std::string cannotTell =
      std::string("cannot tell which volumes lie on ") + std::string(kDisk) + ": ";
  const std::string notSafe = "; writing a disk whose volumes cannot be told is not safe";
  FakeVolume cdDrive = On("D", {});
  cdDrive.extentsError = ERROR_NOT_READY;
  FakeVolume unflushed = On("E", {kDiskNumber}, L"E:\\");
  unflushed.flushFails = true;
  FakeVolume stuck = On("E", {kDiskNumber}, L"E:\\");
  stuck.dismountFails = true;
  FakeVolume closed = On("F", {kDiskNumber}, L"F:\\");
  closed.openError = ERROR_ACCESS_DENIED;
  FakeVolume forcedAndStuck = Refusing(On("E", {kDiskNumber}, L"E:\\"), kAlways);
  forcedAndStuck.dismountFails = true;
  const Case cases[] = {
      {"no volume at all", {}, false, {}, {}, {}, "", "", 0},
      {"only a volume on another disk",
       {On("C", {kOtherDisk}, L"C:\\")},
       false,
       {},
       {},
       {},
       "",
       "",
       0},
      {"one volume", {On("E", {kDiskNumber}, L"E:\\")}, false, {}, kTakeE, kReleaseE, "", "", 0},
      {"two volumes beside one on another disk",
       {On("C", {kOtherDisk}, L"C:\\"), On("E", {kDiskNumber}, L"E:\\"),
        On("F", {kDiskNumber}, L"F:\\")},
       false,
       {},
       Join({kTakeE, kTakeF}),
       Join({kReleaseF, kReleaseE}),
       "",
       "",
       0},
      {"a volume spanning another disk and this one",
       {On("E", {kOtherDisk, kDiskNumber}, L"E:\\")},
       false,
       {},
       kTakeE,
       kReleaseE,
       "",
       "",
       0},
      {"a drive without medium refuses the query and is passed by",
       {cdDrive, On("E", {kDiskNumber}, L"E:\\")},
       false,
       {},
       kTakeE,
       kReleaseE,
       "",
       "",
       0},
      {"a lock granted after three refusals",
       {Refusing(On("E", {kDiskNumber}, L"E:\\"), 3)},
       false,
       {},
       {"open E", "flush E", "lock E refused x3", "lock E", "dismount E"},
       kReleaseE,
       "",
       "",
       3},
      {"a lock refused for three seconds lets go of the first",
       {On("E", {kDiskNumber}, L"E:\\"), Refusing(On("F", {kDiskNumber}, L"F:\\"), kAlways)},
       false,
       {},
       Join({kTakeE, {"open F", "flush F", "lock F refused x31", "close F"}, kReleaseE}),
       {},
       filesOpen,
       "",
       30},
      {"a lock refused for another reason says which",
       {Refusing(On("F", {kDiskNumber}, L"F:\\"), kAlways, ERROR_NOT_READY)},
       false,
       {},
       {"open F", "flush F", "lock F refused x31", "close F"},
       {},
       R"(cannot take F:\ from Windows for the update: Windows error 21)",
       "",
       30},
      {"forced dismount where the lock is refused",
       {Refusing(On("E", {kDiskNumber}, L"E:\\"), kAlways)},
       true,
       {},
       {"open E", "flush E", "lock E refused x31", "dismount E"},
       {"close E"},
       "",
       R"(E:\ was dismounted without its lock: the files other programs had open on it were )"
       "invalidated, and Windows may mount it again during the update",
       30},
      {"forced dismount refused too",
       {forcedAndStuck},
       true,
       {},
       {"open E", "flush E", "lock E refused x31", "dismount E refused", "close E"},
       {},
       R"(cannot dismount E:\: Windows error 5)",
       "",
       30},
      {"forced dismount unused while locks are granted",
       {On("E", {kDiskNumber}, L"E:\\")},
       true,
       {},
       kTakeE,
       kReleaseE,
       "",
       "",
       0},
      {"a volume that cannot be opened lets go of the first",
       {On("E", {kDiskNumber}, L"E:\\"), closed},
       false,
       {},
       Join({kTakeE, {"open F"}, kReleaseE}),
       {},
       R"(cannot open F:\ to take it for the update: the program needs administrator rights)",
       "",
       0},
      {"a flush refused is a gap",
       {unflushed},
       false,
       {},
       kTakeE,
       kReleaseE,
       "",
       R"(E:\ could not be flushed: Windows error 1)",
       0},
      {"a locked volume not dismounted is a gap",
       {stuck},
       false,
       {},
       {"open E", "flush E", "lock E", "dismount E refused"},
       kReleaseE,
       "",
       R"(E:\ is locked but could not be dismounted: Windows error 5)",
       0},
      {"the disk's number refused",
       {On("E", {kDiskNumber}, L"E:\\")},
       false,
       ERROR_INVALID_FUNCTION,
       {},
       {},
       cannotTell + "Windows error 1" + notSafe,
       "",
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeVolumeApi api;
    api.volumes = c.volumes;
    api.numberError = c.numberError;
    sim::SimulatedClock clock;
    const Outcome outcome = HoldAndRelease(api, clock, c.force);
    EXPECT_EQ(outcome.taking, c.taking);
    EXPECT_EQ(outcome.releasing, c.releasing);
    EXPECT_EQ(outcome.refusal.value_or(""), c.refusal);
    EXPECT_EQ(outcome.gaps, c.gaps);
    EXPECT_EQ(clock.sleeps(), c.sleeps);
    EXPECT_EQ(clock.Now(), std::chrono::milliseconds(100) * c.sleeps);
    EXPECT_TRUE(api.handles.empty()) << "handles left open";
    EXPECT_FALSE(api.walking) << "the walk over the volumes was not ended";
    ASSERT_EQ(api.diskOpens.size(), 1u);
    EXPECT_EQ(api.diskOpens[0].path, kDisk);
    EXPECT_EQ(api.diskOpens[0].access, 0u) << "the number needs no access";
    EXPECT_EQ(api.diskOpens[0].share, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE});
    EXPECT_EQ(api.diskOpens[0].creation, DWORD{OPEN_EXISTING});
  }
}

TEST(VolumeHoldTest, RefusesWhenTheDiskCannotBeTold) {
  struct Case {
    const char* name;
    std::optional<DWORD> openError;
    std::optional<DWORD> numberError;
    DWORD numberReturned;
    std::string reason;
  };
  const Case cases[] = {
      {"the disk is gone",
       ERROR_FILE_NOT_FOUND,
       {},
       sizeof(STORAGE_DEVICE_NUMBER),
       "it is no longer attached"},
      {"the number refused",
       {},
       ERROR_NOT_SUPPORTED,
       sizeof(STORAGE_DEVICE_NUMBER),
       "Windows error 50"},
      {"the number's answer too short", {}, {}, 4, "Windows answered with too few bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeVolumeApi api;
    api.volumes = {On("E", {kDiskNumber}, L"E:\\")};
    api.diskOpenError = c.openError;
    api.numberError = c.numberError;
    api.numberReturned = c.numberReturned;
    sim::SimulatedClock clock;
    const Outcome outcome = HoldAndRelease(api, clock, false);
    EXPECT_EQ(outcome.refusal.value_or(""),
              "cannot tell which volumes lie on " + std::string(kDisk) + ": " + c.reason +
                  "; writing a disk whose volumes cannot be told is not safe");
    EXPECT_TRUE(outcome.taking.empty());
    EXPECT_TRUE(api.handles.empty());
  }
}

TEST(VolumeHoldTest, ReadsAsManyExtentsAsTheVolumeHasWithinBounds) {
  struct Case {
    const char* name;
    std::vector<DWORD> disks;
    std::optional<DWORD> claimed;
    bool held;
    std::string refusal;
  };
  std::vector<DWORD> fiveDisks = {0, 1, 2, 4, kDiskNumber};
  std::vector<DWORD> elsewhere(40, kOtherDisk);
  const std::string cannotTell = std::string("cannot tell which volumes lie on ") +
                                 std::string(kDisk) +
                                 R"(: E:\ does not list all the disks it spans; writing a disk )"
                                 "whose volumes cannot be told is not safe";
  const Case cases[] = {
      {"our disk as the fifth extent", fiveDisks, {}, true, ""},
      {"forty extents elsewhere", elsewhere, {}, false, ""},
      {"a count beyond any buffer", {kOtherDisk}, 1000000, false, cannotTell},
      {"more claimed than delivered", {kOtherDisk, kOtherDisk}, 3, false, cannotTell},
      {"our disk among fewer delivered than claimed", {kDiskNumber}, 3, true, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeVolumeApi api;
    FakeVolume volume = On("E", c.disks, L"E:\\");
    volume.claimedExtents = c.claimed;
    api.volumes = {volume};
    sim::SimulatedClock clock;
    const Outcome outcome = HoldAndRelease(api, clock, false);
    EXPECT_EQ(outcome.refusal.value_or(""), c.refusal);
    EXPECT_EQ(outcome.taking, c.held ? kTakeE : Events{});
    EXPECT_LE(api.largestExtentsBuffer, kHeader + 1024 * sizeof(DISK_EXTENT));
    EXPECT_TRUE(api.handles.empty());
  }
}

TEST(VolumeHoldTest, NamesTheRefusedVolumeAsPrintableText) {
  struct Case {
    const char* name;
    std::wstring paths;
    std::string shown;
  };
  const FakeVolume plain = On("F", {kDiskNumber});
  const Case cases[] = {
      {"a drive letter", L"F:\\", R"(F:\)"},
      {"the first of several", std::wstring(L"F:\\\0C:\\Disks\\F\\", 15), R"(F:\)"},
      {"a mount folder beyond MAX_PATH", L"C:\\" + std::wstring(300, L'm') + L"\\",
       "C:\\" + std::string(300, 'm') + "\\"},
      {"no letter nor folder", L"", NarrowGuidName(plain)},
      {"non-ASCII and a control character", L"C:\\Caf\u00e9\x1b[2J\\", "C:\\Caf\xC3\xA9\\x1b[2J\\"},
      {"a surrogate pair and a lone one", L"C:\\\xD83D\xDCBE\xD800\\",
       "C:\\\xF0\x9F\x92\xBE\xEF\xBF\xBD\\"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeVolumeApi api;
    FakeVolume volume = Refusing(plain, kAlways);
    volume.paths = c.paths;
    api.volumes = {volume};
    sim::SimulatedClock clock;
    const Outcome outcome = HoldAndRelease(api, clock, false);
    EXPECT_EQ(outcome.refusal.value_or(""),
              "cannot take " + c.shown +
                  " from Windows for the update: a program has files open there; close it and "
                  "try again (on a desktop it is often Explorer or the search indexer)");
  }
}

}  // namespace
}  // namespace korvane
