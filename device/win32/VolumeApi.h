// The Windows calls that find, lock and dismount the volumes of a disk, behind one interface, so
// the hold can be driven by a fake set of volumes instead of the machine's own.
#pragma once

#include <windows.h>

namespace korvane {

/// The Windows calls the volume hold makes, and nothing else.
class VolumeApi {
 public:
  virtual ~VolumeApi() = default;

  /// Opens a device by a narrow path (the disk's interface path); INVALID_HANDLE_VALUE on failure.
  virtual HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                             LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                             HANDLE templateFile) = 0;
  /// Opens a device by a wide path (a volume's name); INVALID_HANDLE_VALUE on failure.
  virtual HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode,
                             LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                             HANDLE templateFile) = 0;
  /// Sends a control code to a device driver.
  virtual BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID inBuffer, DWORD inSize,
                               LPVOID outBuffer, DWORD outSize, LPDWORD returned,
                               LPOVERLAPPED overlapped) = 0;
  /// Writes what the system caches for a volume to it.
  virtual BOOL FlushFileBuffers(HANDLE handle) = 0;
  /// Starts the walk over the system's volumes with the first one's name; INVALID_HANDLE_VALUE
  /// on failure.
  virtual HANDLE FindFirstVolumeW(LPWSTR name, DWORD length) = 0;
  /// The next volume's name; FALSE past the last one or on failure.
  virtual BOOL FindNextVolumeW(HANDLE find, LPWSTR name, DWORD length) = 0;
  /// Ends a walk that FindFirstVolumeW started.
  virtual BOOL FindVolumeClose(HANDLE find) = 0;
  /// The drive letters and mount folders of a volume, one after the other, each ended by a NUL
  /// and the list by another.
  virtual BOOL GetVolumePathNamesForVolumeNameW(LPCWSTR volumeName, LPWCH names, DWORD length,
                                                PDWORD returnLength) = 0;
  /// The calling thread's last-error value.
  virtual DWORD GetLastError() = 0;
  /// Closes a handle that CreateFileA or CreateFileW returned.
  virtual BOOL CloseHandle(HANDLE handle) = 0;
};

/// The real calls into kernel32.
class SystemVolumeApi final : public VolumeApi {
 public:
  HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                     DWORD creation, DWORD flags, HANDLE templateFile) override;
  HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                     DWORD creation, DWORD flags, HANDLE templateFile) override;
  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer,
                       DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) override;
  BOOL FlushFileBuffers(HANDLE handle) override;
  HANDLE FindFirstVolumeW(LPWSTR name, DWORD length) override;
  BOOL FindNextVolumeW(HANDLE find, LPWSTR name, DWORD length) override;
  BOOL FindVolumeClose(HANDLE find) override;
  BOOL GetVolumePathNamesForVolumeNameW(LPCWSTR volumeName, LPWCH names, DWORD length,
                                        PDWORD returnLength) override;
  DWORD GetLastError() override;
  BOOL CloseHandle(HANDLE handle) override;
};

}  // namespace korvane
