#include "SetupApiDiskLister.h"

#include <cstddef>
#include <new>
#include <string>
#include <string_view>
#include <utility>

namespace korvane {
namespace {

// SetupAPI rejects a record whose cbSize is not the size of its own build's structure, so the
// sizes it expects are checked here rather than discovered on a customer's machine.
#ifndef _WIN64
static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5);
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == 4);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
#endif

constexpr DWORD kPresentInterfaces = DIGCF_PRESENT | DIGCF_DEVICEINTERFACE;
static_assert(kPresentInterfaces == 0x12);

// Room for the longest interface path Windows builds; a longer one fails the detail call.
constexpr DWORD kDetailSize = 1024;
constexpr std::size_t kPathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);

/// Destroys the device information set when the walk leaves, however it leaves.
class DeviceSet {
 public:
  DeviceSet(SetupApi& api, HDEVINFO set) : api_(api), set_(set) {}
  DeviceSet(const DeviceSet&) = delete;
  DeviceSet& operator=(const DeviceSet&) = delete;
  ~DeviceSet() { api_.SetupDiDestroyDeviceInfoList(set_); }

 private:
  SetupApi& api_;
  HDEVINFO set_;
};

/// The zero-filled interface detail buffer, freed when the walk leaves.
class DetailBuffer {
 public:
  explicit DetailBuffer(SetupApi& api)
      : api_(api), memory_(api.GlobalAlloc(GMEM_ZEROINIT, kDetailSize)) {
    if (memory_ != nullptr) Get()->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  }
  DetailBuffer(const DetailBuffer&) = delete;
  DetailBuffer& operator=(const DetailBuffer&) = delete;
  ~DetailBuffer() {
    if (memory_ != nullptr) api_.GlobalFree(memory_);
  }

  bool Allocated() const { return memory_ != nullptr; }
  // GMEM_FIXED memory: the handle is the address.
  PSP_DEVICE_INTERFACE_DETAIL_DATA_A Get() const {
    return static_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(memory_);
  }

 private:
  SetupApi& api_;
  HGLOBAL memory_;
};

/// The DevicePath text, read no further than the buffer: a path that fills it without a
/// terminator ends at the buffer's end instead of running into whatever memory follows.
std::string DevicePathOf(PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail) {
  const std::string_view room(reinterpret_cast<const char*>(detail) + kPathOffset,
                              kDetailSize - kPathOffset);
  return std::string(room.substr(0, room.find('\0')));
}

}  // namespace

std::vector<DiskInterface> SetupApiDiskLister::ListDisks() {
  const HDEVINFO set =
      api_.SetupDiGetClassDevsA(&kGuidDevInterfaceDisk, nullptr, nullptr, kPresentInterfaces);
  if (set == INVALID_HANDLE_VALUE) return {};
  // Declared in this order so the buffer is freed before the set is destroyed.
  const DeviceSet owned(api_, set);
  const DetailBuffer detail(api_);
  if (!detail.Allocated()) return {};

  std::vector<DiskInterface> disks;
  try {
    Walk(set, detail.Get(), disks);
  } catch (const std::bad_alloc&) {
    // Out of memory mid-walk: the disks listed so far are still good, as after a failed call.
  }
  return disks;
}

void SetupApiDiskLister::Walk(HDEVINFO set, PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                              std::vector<DiskInterface>& disks) {
  for (DWORD index = 0;; ++index) {
    // Set anew for every call: SetupAPI checks it, and nothing promises it survives a call.
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!api_.SetupDiEnumDeviceInterfaces(set, nullptr, &kGuidDevInterfaceDisk, index, &data)) {
      return;
    }
    // A disk whose details cannot be read ends the walk rather than being skipped.
    if (!api_.SetupDiGetDeviceInterfaceDetailA(set, &data, detail, kDetailSize, nullptr, nullptr)) {
      return;
    }
    std::string path = DevicePathOf(detail);
    const InterfaceMarks marks = MarksFromPath(path);
    disks.push_back({std::move(path), marks});
  }
}

}  // namespace korvane
