#include "SetupApiDiskLister.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

const HDEVINFO kSet = reinterpret_cast<HDEVINFO>(std::intptr_t{0x5E7});
// Bytes the fake places right after every allocation: a read past the end picks them up.
constexpr std::size_t kGuardSize = 16;
constexpr char kGuard = 'X';

const std::string kUsb = R"(\\?\usbstor#disk&ven_korvane&prod_ssd#1&2#{53f56307})";
const std::string kUasp = R"(\\?\scsi#disk&ven_korvane&prod_nvme#4&5#{53f56307})";
const std::string kFirewire = R"(\\?\sbp2#korvane&dock#6#{53f56307})";
const std::string kIde = R"(\\?\ide#diskinternal#7#{53f56307})";

Bytes GuidBytes(const GUID* guid) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(guid);
  return Bytes(bytes, bytes + sizeof(GUID));
}

const Bytes kDiskGuidBytes = {0x07, 0x63, 0xF5, 0x53, 0xBF, 0xB6, 0xD0, 0x11,
                              0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B};

struct SeenClassDevs {
  Bytes guid;
  bool enumerator = false;
  bool parent = false;
  DWORD flags = 0;
};

struct SeenEnum {
  HDEVINFO set = nullptr;
  bool deviceInfo = false;
  Bytes guid;
  DWORD index = 0;
  DWORD cbSize = 0;
};

struct SeenDetail {
  HDEVINFO set = nullptr;
  DWORD detailCbSize = 0;
  void* detail = nullptr;
  DWORD detailSize = 0;
  bool requiredSize = false;
  bool deviceInfo = false;
};

/// Plays SetupAPI over a list of interface paths, with failures injected by index.
class FakeSetupApi final : public SetupApi {
 public:
  explicit FakeSetupApi(std::vector<std::string> interfaces) : paths(std::move(interfaces)) {}

  HDEVINFO SetupDiGetClassDevsA(const GUID* guid, PCSTR enumerator, HWND parent,
                                DWORD flags) override {
    calls.push_back("SetupDiGetClassDevsA");
    classDevs.push_back({GuidBytes(guid), enumerator != nullptr, parent != nullptr, flags});
    return setFails ? static_cast<HDEVINFO>(INVALID_HANDLE_VALUE) : kSet;
  }

  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo, const GUID* guid,
                                   DWORD index, PSP_DEVICE_INTERFACE_DATA data) override {
    calls.push_back("SetupDiEnumDeviceInterfaces");
    enums.push_back({set, deviceInfo != nullptr, GuidBytes(guid), index, data->cbSize});
    // Spoil the size field so a caller that sets it only once is caught on the next call.
    data->cbSize = 0;
    if (index >= paths.size() || enumFailsAt == index) return FALSE;
    data->Reserved = index + 1;
    return TRUE;
  }

  BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                        PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD size,
                                        PDWORD required, PSP_DEVINFO_DATA deviceInfo) override {
    calls.push_back("SetupDiGetDeviceInterfaceDetailA");
    details.push_back(
        {set, detail->cbSize, detail, size, required != nullptr, deviceInfo != nullptr});
    const std::size_t index = data->Reserved - 1;
    if (detailFailsAt == index) return FALSE;
    // Writes what fits, with a terminator only when there is room for one.
    const std::string& path = paths.at(index);
    char* out = reinterpret_cast<char*>(detail) + 4;
    const std::size_t room = size - 4;
    std::memcpy(out, path.data(), std::min(path.size(), room));
    if (path.size() < room) out[path.size()] = '\0';
    return TRUE;
  }

  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override {
    calls.push_back("SetupDiDestroyDeviceInfoList");
    destroyed.push_back(set);
    return TRUE;
  }

  HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) override {
    calls.push_back("GlobalAlloc");
    allocFlags = flags;
    allocSize = bytes;
    if (allocFails) return nullptr;
    // Uninitialised memory is not zero unless asked for.
    const char fill = (flags & GMEM_ZEROINIT) != 0 ? '\0' : '\xCD';
    memory = std::make_unique<std::vector<char>>(bytes, fill);
    memory->insert(memory->end(), kGuardSize, kGuard);
    memory->push_back('\0');
    return memory->data();
  }

  HGLOBAL GlobalFree(HGLOBAL handle) override {
    calls.push_back("GlobalFree");
    freed.push_back(handle);
    return nullptr;
  }

  std::vector<std::string> paths;
  bool setFails = false;
  bool allocFails = false;
  std::optional<std::size_t> enumFailsAt;
  std::optional<std::size_t> detailFailsAt;

  std::vector<std::string> calls;
  std::vector<SeenClassDevs> classDevs;
  std::vector<SeenEnum> enums;
  std::vector<SeenDetail> details;
  std::vector<HDEVINFO> destroyed;
  std::vector<HGLOBAL> freed;
  UINT allocFlags = 0;
  SIZE_T allocSize = 0;
  std::unique_ptr<std::vector<char>> memory;
};

std::vector<std::string> PathsOf(const std::vector<DiskInterface>& disks) {
  std::vector<std::string> paths;
  for (const DiskInterface& disk : disks) paths.push_back(disk.path);
  return paths;
}

TEST(SetupApiDiskListerTest, DiskClassGuidHasTheRegisteredBytes) {
  EXPECT_EQ(GuidBytes(&kGuidDevInterfaceDisk), kDiskGuidBytes);
}

TEST(SetupApiDiskListerTest, AsksForPresentDiskInterfacesWithWellFormedRecords) {
  FakeSetupApi api({kUsb, kUasp, kFirewire});
  SetupApiDiskLister lister(api);
  EXPECT_EQ(PathsOf(lister.ListDisks()), (std::vector<std::string>{kUsb, kUasp, kFirewire}));

  ASSERT_EQ(api.classDevs.size(), 1u);
  EXPECT_EQ(api.classDevs[0].guid, kDiskGuidBytes);
  EXPECT_FALSE(api.classDevs[0].enumerator);
  EXPECT_FALSE(api.classDevs[0].parent);
  EXPECT_EQ(api.classDevs[0].flags, 0x12u);
  EXPECT_EQ(api.allocFlags, UINT{GMEM_ZEROINIT});
  EXPECT_EQ(api.allocSize, 1024u);

  ASSERT_EQ(api.enums.size(), 4u);  // the fourth call finds the end of the list
  for (DWORD i = 0; i < api.enums.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(api.enums[i].set, kSet);
    EXPECT_FALSE(api.enums[i].deviceInfo);
    EXPECT_EQ(api.enums[i].guid, kDiskGuidBytes);
    EXPECT_EQ(api.enums[i].index, i);
    EXPECT_EQ(api.enums[i].cbSize, 28u);
  }
  ASSERT_EQ(api.details.size(), 3u);
  for (const SeenDetail& detail : api.details) {
    EXPECT_EQ(detail.set, kSet);
    EXPECT_EQ(detail.detailCbSize, 5u);
    EXPECT_EQ(detail.detail, static_cast<void*>(api.memory->data()));
    EXPECT_EQ(detail.detailSize, 1024u);
    EXPECT_FALSE(detail.requiredSize);
    EXPECT_FALSE(detail.deviceInfo);
  }
}

TEST(SetupApiDiskListerTest, StopsAtTheFirstFailureAndAlwaysReleases) {
  struct Case {
    const char* name;
    std::optional<std::size_t> enumFailsAt;
    std::optional<std::size_t> detailFailsAt;
    std::vector<std::string> listed;
    std::size_t enumCalls;
  };
  const Case cases[] = {
      {"end of the list", std::nullopt, std::nullopt, {kUsb, kUasp, kFirewire}, 4},
      {"first enumeration fails", 0, std::nullopt, {}, 1},
      {"enumeration fails midway", 1, std::nullopt, {kUsb}, 2},
      {"first detail fails", std::nullopt, 0, {}, 1},
      {"detail fails midway: later disks are not reached", std::nullopt, 1, {kUsb}, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSetupApi api({kUsb, kUasp, kFirewire});
    api.enumFailsAt = c.enumFailsAt;
    api.detailFailsAt = c.detailFailsAt;
    SetupApiDiskLister lister(api);
    EXPECT_EQ(PathsOf(lister.ListDisks()), c.listed);
    EXPECT_EQ(api.enums.size(), c.enumCalls);
    EXPECT_EQ(api.freed, std::vector<HGLOBAL>{api.memory->data()});
    EXPECT_EQ(api.destroyed, std::vector<HDEVINFO>{kSet});
    // The buffer goes before the set it was filled from.
    EXPECT_EQ(api.calls.rbegin()[1], "GlobalFree");
    EXPECT_EQ(api.calls.back(), "SetupDiDestroyDeviceInfoList");
  }
}

TEST(SetupApiDiskListerTest, ListsNothingWithoutASetOrABuffer) {
  struct Case {
    const char* name;
    bool setFails;
    bool allocFails;
    std::vector<std::string> calls;
  };
  const Case cases[] = {
      {"no device set", true, false, {"SetupDiGetClassDevsA"}},
      {"no detail buffer",
       false,
       true,
       {"SetupDiGetClassDevsA", "GlobalAlloc", "SetupDiDestroyDeviceInfoList"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeSetupApi api({kUsb});
    api.setFails = c.setFails;
    api.allocFails = c.allocFails;
    SetupApiDiskLister lister(api);
    EXPECT_TRUE(lister.ListDisks().empty());
    EXPECT_EQ(api.calls, c.calls);
  }
}

TEST(SetupApiDiskListerTest, ReadsEachPathNoFurtherThanItsTerminatorOrTheBuffer) {
  const std::string filling(1020, 'p');  // 1024 bytes less the size field: no room for a NUL
  const std::string shorter = R"(\\?\usbstor#short)";
  FakeSetupApi api({filling, shorter});
  SetupApiDiskLister lister(api);
  EXPECT_EQ(PathsOf(lister.ListDisks()), (std::vector<std::string>{filling, shorter}));
}

TEST(SetupApiDiskListerTest, MarksComeFromThePath) {
  FakeSetupApi api({kUsb, kUasp, kFirewire, kIde});
  SetupApiDiskLister lister(api);
  const std::vector<DiskInterface> expected = {
      {kUsb, {.usbStorage = true}},
      {kUasp, {.scsi = true}},
      {kFirewire, {.ieee1394 = true}},
      {kIde, {}},
  };
  EXPECT_EQ(lister.ListDisks(), expected);
}

}  // namespace
}  // namespace korvane
