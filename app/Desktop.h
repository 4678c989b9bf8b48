// The few things the window asks of the desktop besides its own controls: which version of the
// operating system runs, and system dialogs it closes after a check.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace korvane {

/// The operating system's version as the platform reports it.
struct OsVersion {
  std::uint32_t major = 0;
  std::uint32_t minor = 0;
};

/// The two version records the platform can be asked with.
enum class VersionRecord : std::uint8_t {
  Extended,  ///< 156 bytes
  Basic,     ///< 148 bytes
};

/// A top-level window as the desktop identifies it; 0 is none.
using DesktopWindow = std::uintptr_t;

/// The desktop the window lives on.
class Desktop {
 public:
  virtual ~Desktop() = default;
  /// The version, or nothing when the platform refuses the record.
  virtual std::optional<OsVersion> QueryVersion(VersionRecord record) = 0;
  /// The top-level window of that class and title, or 0.
  virtual DesktopWindow FindTopLevelWindow(std::string_view className, std::string_view title) = 0;
  /// Posts the window a close request; true when it was posted.
  virtual bool PostClose(DesktopWindow window) = 0;
};

/// A desktop with no version to report and no dialogs: Linux, and the command line.
class NoDesktop final : public Desktop {
 public:
  std::optional<OsVersion> QueryVersion(VersionRecord) override { return std::nullopt; }
  DesktopWindow FindTopLevelWindow(std::string_view, std::string_view) override { return 0; }
  bool PostClose(DesktopWindow) override { return false; }
};

}  // namespace korvane
