// The SetupAPI and global-memory calls of the disk lister behind one interface, so the walk can be
// driven by a fake set of disk interfaces instead of the machine's own.
#pragma once

// setupapi.h relies on types that only windows.h declares.
#include <windows.h>

#include <setupapi.h>

namespace korvane {

/// The Windows calls the SetupAPI disk lister makes, and nothing else.
class SetupApi {
 public:
  virtual ~SetupApi() = default;

  /// Builds a device information set; INVALID_HANDLE_VALUE on failure.
  virtual HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                        DWORD flags) = 0;
  /// Fills data for the interface at index; FALSE past the last one or on failure.
  virtual BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo,
                                           const GUID* interfaceGuid, DWORD index,
                                           PSP_DEVICE_INTERFACE_DATA data) = 0;
  /// Writes the interface's path into detail, which holds detailSize bytes.
  virtual BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                                PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                DWORD detailSize, PDWORD requiredSize,
                                                PSP_DEVINFO_DATA deviceInfo) = 0;
  /// Releases a set that SetupDiGetClassDevsA built.
  virtual BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) = 0;
  /// Allocates global memory; nullptr on failure.
  virtual HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) = 0;
  /// Frees what GlobalAlloc returned; nullptr on success.
  virtual HGLOBAL GlobalFree(HGLOBAL memory) = 0;
};

/// The real calls into setupapi and kernel32.
class SystemSetupApi final : public SetupApi {
 public:
  HDEVINFO SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                DWORD flags) override;
  BOOL SetupDiEnumDeviceInterfaces(HDEVINFO set, PSP_DEVINFO_DATA deviceInfo,
                                   const GUID* interfaceGuid, DWORD index,
                                   PSP_DEVICE_INTERFACE_DATA data) override;
  BOOL SetupDiGetDeviceInterfaceDetailA(HDEVINFO set, PSP_DEVICE_INTERFACE_DATA data,
                                        PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail, DWORD detailSize,
                                        PDWORD requiredSize, PSP_DEVINFO_DATA deviceInfo) override;
  BOOL SetupDiDestroyDeviceInfoList(HDEVINFO set) override;
  HGLOBAL GlobalAlloc(UINT flags, SIZE_T bytes) override;
  HGLOBAL GlobalFree(HGLOBAL memory) override;
};

}  // namespace korvane
