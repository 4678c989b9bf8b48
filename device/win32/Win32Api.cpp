#include "Win32Api.h"

namespace korvane {

HANDLE SystemWin32Api::CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                                   LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                                   HANDLE templateFile) {
  return ::CreateFileA(path, access, shareMode, security, creation, flags, templateFile);
}

BOOL SystemWin32Api::DeviceIoControl(HANDLE device, DWORD code, LPVOID inBuffer, DWORD inSize,
                                     LPVOID outBuffer, DWORD outSize, LPDWORD returned,
                                     LPOVERLAPPED overlapped) {
  return ::DeviceIoControl(device, code, inBuffer, inSize, outBuffer, outSize, returned,
                           overlapped);
}

DWORD SystemWin32Api::GetLastError() { return ::GetLastError(); }

void SystemWin32Api::SetLastError(DWORD error) { ::SetLastError(error); }

BOOL SystemWin32Api::CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }

}  // namespace korvane
