// Message boxes and the debugger output of a Windows program.
#pragma once

#include <windows.h>

#include <functional>
#include <string_view>

#include "DebugOutput.h"
#include "MessageSink.h"

namespace korvane::win32 {

/// MessageBoxA, owned by the window when it is on screen. A box raised while the window is still
/// hidden (during the first scan) has no owner, so it appears on its own before the window does.
class MessageBoxSink final : public MessageSink {
 public:
  /// owner gives the window to own the boxes, or null.
  explicit MessageBoxSink(std::function<HWND()> owner) : owner_(std::move(owner)) {}
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;

 private:
  std::function<HWND()> owner_;
};

/// OutputDebugStringA.
class DebugStringOutput final : public DebugOutput {
 public:
  void Write(std::string_view text) override;
};

/// Shows an exception's message the way the program reports every unexpected failure: the
/// application title as caption and the error icon.
void ShowExceptionBox(HWND owner, std::string_view message);

/// The window if it is on screen, otherwise null.
HWND OwnerIfShown(HWND window);

}  // namespace korvane::win32
