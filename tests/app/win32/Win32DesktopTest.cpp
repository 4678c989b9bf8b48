// The desktop seam against the real Windows calls (under Wine in the cross build).
#include "Win32Desktop.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace korvane {
namespace {

TEST(Win32Desktop, ReportsTheSystemVersionThroughEitherRecord) {
  Win32Desktop desktop;
  const std::optional<OsVersion> extended = desktop.QueryVersion(VersionRecord::Extended);
  const std::optional<OsVersion> basic = desktop.QueryVersion(VersionRecord::Basic);
  ASSERT_TRUE(extended.has_value());
  ASSERT_TRUE(basic.has_value());
  EXPECT_EQ(extended->major, basic->major);
  EXPECT_EQ(extended->minor, basic->minor);
  EXPECT_GE(extended->major, 5u);
}

TEST(Win32Desktop, FindsAndClosesADialogByClassAndTitle) {
  Win32Desktop desktop;
  EXPECT_EQ(desktop.FindTopLevelWindow("#32770", "Korvane test dialog that is not there"), 0u);

  // A top-level window of the system dialog class stands in for the dialog the system raises.
  HWND dialog = ::CreateWindowExA(0, "#32770", "Korvane test dialog", WS_POPUP, 0, 0, 10, 10,
                                  nullptr, nullptr, ::GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(dialog, nullptr) << ::GetLastError();
  const DesktopWindow found = desktop.FindTopLevelWindow("#32770", "Korvane test dialog");
  EXPECT_EQ(found, reinterpret_cast<DesktopWindow>(dialog));
  EXPECT_TRUE(desktop.PostClose(found));
  MSG message{};
  ASSERT_TRUE(::PeekMessageA(&message, dialog, WM_CLOSE, WM_CLOSE, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_CLOSE));
  EXPECT_EQ(message.wParam, 0u);
  EXPECT_EQ(message.lParam, 0);
  ::DestroyWindow(dialog);
}

}  // namespace
}  // namespace korvane
