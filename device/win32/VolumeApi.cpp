#include "VolumeApi.h"

namespace korvane {

HANDLE SystemVolumeApi::CreateFileA(LPCSTR path, DWORD access, DWORD shareMode,
                                    LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                                    HANDLE templateFile) {
  return ::CreateFileA(path, access, shareMode, security, creation, flags, templateFile);
}

HANDLE SystemVolumeApi::CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode,
                                    LPSECURITY_ATTRIBUTES security, DWORD creation, DWORD flags,
                                    HANDLE templateFile) {
  return ::CreateFileW(path, access, shareMode, security, creation, flags, templateFile);
}

BOOL SystemVolumeApi::DeviceIoControl(HANDLE device, DWORD code, LPVOID inBuffer, DWORD inSize,
                                      LPVOID outBuffer, DWORD outSize, LPDWORD returned,
                                      LPOVERLAPPED overlapped) {
  return ::DeviceIoControl(device, code, inBuffer, inSize, outBuffer, outSize, returned,
                           overlapped);
}

BOOL SystemVolumeApi::FlushFileBuffers(HANDLE handle) { return ::FlushFileBuffers(handle); }

HANDLE SystemVolumeApi::FindFirstVolumeW(LPWSTR name, DWORD length) {
  return ::FindFirstVolumeW(name, length);
}

BOOL SystemVolumeApi::FindNextVolumeW(HANDLE find, LPWSTR name, DWORD length) {
  return ::FindNextVolumeW(find, name, length);
}

BOOL SystemVolumeApi::FindVolumeClose(HANDLE find) { return ::FindVolumeClose(find); }

BOOL SystemVolumeApi::GetVolumePathNamesForVolumeNameW(LPCWSTR volumeName, LPWCH names,
                                                       DWORD length, PDWORD returnLength) {
  return ::GetVolumePathNamesForVolumeNameW(volumeName, names, length, returnLength);
}

DWORD SystemVolumeApi::GetLastError() { return ::GetLastError(); }

BOOL SystemVolumeApi::CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }

}  // namespace korvane
