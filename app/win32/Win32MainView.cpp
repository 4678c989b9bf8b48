#include "Win32MainView.h"

#include <commctrl.h>

#include <string>

#include "Controls.h"
#include "WindowLayout.h"

namespace korvane::win32 {

Win32MainView::Win32MainView(HWND window, HINSTANCE resources, std::function<void()> pump)
    : window_(window), resources_(resources), pump_(std::move(pump)) {}

HWND Win32MainView::Child(std::string_view name) const {
  return GetDlgItem(window_, layout::ChildId(name));
}

HWND Win32MainView::Child(Control control) const { return Child(ControlName(control)); }

void Win32MainView::LoadPicture(HWND target, std::string_view name) {
  const std::string resource(name);
  auto bitmap = static_cast<HBITMAP>(
      LoadImageA(resources_, resource.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  SetPictureBitmap(target, bitmap, name);
}

void Win32MainView::ShowPicture(Control image, Picture picture) {
  LoadPicture(Child(image), PictureName(picture));
}

void Win32MainView::ShowFrame(std::size_t frame) {
  if (frame < layout::kLoadingFrames.size()) {
    LoadPicture(Child(Control::Image2), layout::kLoadingFrames[frame]);
  }
}

void Win32MainView::SetVisible(Control control, bool visible) {
  ShowWindow(Child(control), visible ? SW_SHOWNA : SW_HIDE);
}

void Win32MainView::SetEnabled(Control control, bool enabled) {
  EnableWindow(Child(control), enabled ? TRUE : FALSE);
}

void Win32MainView::SetStatusText(std::string_view text) {
  const std::string status(text);
  SetWindowTextA(Child(Control::lblStaust), status.c_str());
}

void Win32MainView::ClearDeviceList() {
  SendMessageA(Child(Control::cbb_DeviceList), CB_RESETCONTENT, 0, 0);
}

void Win32MainView::AddDeviceLine(std::string_view line) {
  const std::string text(line);
  SendMessageA(Child(Control::cbb_DeviceList), CB_ADDSTRING, 0,
               reinterpret_cast<LPARAM>(text.c_str()));
}

void Win32MainView::SelectDevice(int index) {
  SendMessageA(Child(Control::cbb_DeviceList), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

int Win32MainView::SelectedDevice() const {
  const LRESULT selected = SendMessageA(Child(Control::cbb_DeviceList), CB_GETCURSEL, 0, 0);
  return selected == CB_ERR ? -1 : static_cast<int>(selected);
}

void Win32MainView::StartTimer(std::uintptr_t id, std::chrono::milliseconds interval) {
  SetTimer(window_, id, static_cast<UINT>(interval.count()), nullptr);
  timers_.insert(id);
}

void Win32MainView::StopTimer(std::uintptr_t id) {
  KillTimer(window_, id);
  timers_.erase(id);
}

void Win32MainView::SetProgress(int percent) {
  SendMessageA(Child(Control::UpdateProgressBar), PBM_SETPOS, static_cast<WPARAM>(percent), 0);
}

}  // namespace korvane::win32
