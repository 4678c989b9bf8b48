#include "Win32Desktop.h"

#include <windows.h>

#include <string>

namespace korvane {
namespace {

static_assert(sizeof(OSVERSIONINFOEXA) == 156);
static_assert(sizeof(OSVERSIONINFOA) == 148);

template <typename Record>
std::optional<OsVersion> AskVersion() {
  Record info{};
  info.dwOSVersionInfoSize = sizeof(info);
  if (!::GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&info))) return std::nullopt;
  return OsVersion{info.dwMajorVersion, info.dwMinorVersion};
}

}  // namespace

std::optional<OsVersion> Win32Desktop::QueryVersion(VersionRecord record) {
  if (record == VersionRecord::Extended) return AskVersion<OSVERSIONINFOEXA>();
  return AskVersion<OSVERSIONINFOA>();
}

DesktopWindow Win32Desktop::FindTopLevelWindow(std::string_view className, std::string_view title) {
  // The names must end at their terminators, which a view does not promise.
  const std::string classText(className);
  const std::string titleText(title);
  return reinterpret_cast<DesktopWindow>(::FindWindowA(classText.c_str(), titleText.c_str()));
}

bool Win32Desktop::PostClose(DesktopWindow window) {
  return ::PostMessageA(reinterpret_cast<HWND>(window), WM_CLOSE, 0, 0) != 0;
}

}  // namespace korvane
