// The four storage calls of the Windows API behind one interface, so the port can be driven by a
// fake that decodes the request it is handed.
#pragma once

#include <windows.h>

namespace korvane {

/// The Windows calls the pass-through port makes, and nothing else.
class Win32Api {
 public:
  virtual ~Win32Api() = default;

  /// Opens a file or device; INVALID_HANDLE_VALUE on failure.
  virtual HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                             LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                             HANDLE templateFile) = 0;
  /// Sends a control code to a device driver.
  virtual BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID inBuffer, DWORD inSize,
                               LPVOID outBuffer, DWORD outSize, LPDWORD returned,
                               LPOVERLAPPED overlapped) = 0;
  /// The calling thread's last-error value.
  virtual DWORD GetLastError() = 0;
  /// Sets the calling thread's last-error value.
  virtual void SetLastError(DWORD error) = 0;
  /// Closes a handle that CreateFileA returned.
  virtual BOOL CloseHandle(HANDLE handle) = 0;
};

/// The real calls into kernel32.
class SystemWin32Api final : public Win32Api {
 public:
  HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                     DWORD creation, DWORD flags, HANDLE templateFile) override;
  BOOL DeviceIoControl(HANDLE device, DWORD code, LPVOID inBuffer, DWORD inSize, LPVOID outBuffer,
                       DWORD outSize, LPDWORD returned, LPOVERLAPPED overlapped) override;
  DWORD GetLastError() override;
  void SetLastError(DWORD error) override;
  BOOL CloseHandle(HANDLE handle) override;
};

}  // namespace korvane
