#include "SetupApi.h"

namespace korvane {

HDEVINFO SystemSetupApi::SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                              DWORD flags) {
  return ::SetupDiGetClassDevsA(classGuid, enumerator, parent, flags);
}

BOOL SystemSetupApi::SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo,
                                                 const GUID* interfaceGuid, DWORD index,
                                                 PSP_DEVICE_INTERFACE_DATA data) {
  return ::SetupDiEnumDeviceInterfaces(set, deviceInfo, interfaceGuid, index, data);
}

BOOL SystemSetupApi::SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                      DWORD detailSize, PDWORD requiredSize,
                                                      PSP_DEVINFO_DATA deviceInfo) {
  return ::SetupDiGetDeviceInterfaceDetailA(set, data, detail, detailSize, requiredSize,
                                            deviceInfo);
}

BOOL SystemSetupApi::SetupDiDestroyDeviceInfoList(HDEVINFO set) {
  return ::SetupDiDestroyDeviceInfoList(set);
}

HGLOBAL SystemSetupApi::GlobalAlloc(UINT flags, SIZE_T bytes) {
  return ::GlobalAlloc(flags, bytes);
}

HGLOBAL SystemSetupApi::GlobalFree(HGLOBAL memory) { return ::GlobalFree(memory); }

}  // namespace korvane
