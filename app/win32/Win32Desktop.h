// The desktop of a Windows session: the system's version and its top-level windows.
#pragma once

#include "Desktop.h"

namespace korvane {

/// GetVersionExA, FindWindowA and PostMessageA.
class Win32Desktop final : public Desktop {
 public:
  std::optional<OsVersion> QueryVersion(VersionRecord record) override;
  DesktopWindow FindTopLevelWindow(std::string_view className, std::string_view title) override;
  bool PostClose(DesktopWindow window) override;
};

}  // namespace korvane
