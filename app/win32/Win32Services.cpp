#include "Win32Services.h"

#include <string>

#include "WindowLayout.h"

namespace korvane::win32 {
namespace {

void Box(HWND owner, std::string_view text, std::string_view caption, UINT icon) {
  const std::string body(text);
  const std::string title(caption);
  // Without an owner the box keeps the rest of the program's windows from taking input until it
  // is answered, as an owned box would.
  const UINT modality = owner != nullptr ? MB_APPLMODAL : MB_TASKMODAL;
  MessageBoxA(owner, body.c_str(), title.c_str(), MB_OK | icon | modality);
}

}  // namespace

void MessageBoxSink::ShowMessage(std::string_view text, std::string_view caption,
                                 MessageIcon icon) {
  Box(owner_ ? owner_() : nullptr, text, caption,
      icon == MessageIcon::Error ? MB_ICONERROR : MB_ICONWARNING);
}

void DebugStringOutput::Write(std::string_view text) {
  const std::string line(text);
  OutputDebugStringA(line.c_str());
}

void ShowExceptionBox(HWND owner, std::string_view message) {
  Box(owner, message, layout::kApplicationTitle, MB_ICONERROR);
}

HWND OwnerIfShown(HWND window) {
  return window != nullptr && IsWindowVisible(window) ? window : nullptr;
}

}  // namespace korvane::win32
