#include "MainWindow.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "Controls.h"

namespace korvane::win32 {
namespace {

/// The logic's name for a WM_DEVICECHANGE event.
DeviceChange DeviceChangeOf(WPARAM event) {
  switch (event) {
    case DBT_DEVNODES_CHANGED:
      return DeviceChange::NodesChanged;
    case DBT_DEVICEARRIVAL:
      return DeviceChange::Arrival;
    case DBT_DEVICEREMOVECOMPLETE:
      return DeviceChange::RemoveComplete;
    default:
      return DeviceChange::Other;
  }
}

// The USB device interface class, {A5DCBF10-6530-11D2-901F-00C04FB951ED}.
constexpr GUID kUsbDeviceInterface{
    0xA5DCBF10, 0x6530, 0x11D2, {0x90, 0x1F, 0x00, 0xC0, 0x4F, 0xB9, 0x51, 0xED}};
static_assert(sizeof(DEV_BROADCAST_DEVICEINTERFACE_A) == 32);

constexpr DWORD kFrameStyle =
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

int Id(std::string_view name) { return layout::ChildId(name); }

COLORREF ColourOf(layout::TextColour colour) {
  switch (colour) {
    case layout::TextColour::Grey:
      return RGB(128, 128, 128);
    case layout::TextColour::InactiveCaptionText:
      return GetSysColor(COLOR_INACTIVECAPTIONTEXT);
    case layout::TextColour::Default:
      break;
  }
  return GetSysColor(COLOR_MENUHILIGHT);
}

// The outer size of a window whose client area is the layout's.
SIZE FrameSize() {
  RECT frame{0, 0, layout::kClientWidth, layout::kClientHeight};
  AdjustWindowRectEx(&frame, kFrameStyle, FALSE, 0);
  return {frame.right - frame.left, frame.bottom - frame.top};
}

HWND CreateFormWindow(HINSTANCE instance, HWND owner, void* self) {
  const std::string type(layout::kWindowClass);
  if (!RegisterWindowClass(instance, type.c_str(), &MainWindow::WindowProc, 0, true)) {
    throw std::runtime_error("Cannot register the main window's class");
  }
  const SIZE size = FrameSize();
  HWND window = CreateWindowExA(0, type.c_str(), "", kFrameStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                                size.cx, size.cy, owner, nullptr, instance, self);
  if (window == nullptr) throw std::runtime_error("Cannot create the main window");
  return window;
}

HWND CreateProgressBar(HWND parent, const layout::ControlLayout& row, int id) {
  HWND bar = CreateChildWindow(parent, PROGRESS_CLASSA, PBS_SMOOTH, row, id);
  if (bar != nullptr) SendMessageA(bar, PBM_SETRANGE32, 0, 100);
  return bar;
}

HWND CreateDropDownList(HWND parent, const layout::ControlLayout& row, int id) {
  HWND list = CreateChildWindow(parent, "COMBOBOX", CBS_DROPDOWN | WS_VSCROLL, row, id);
  const std::string text(row.text);
  if (list != nullptr) SetWindowTextA(list, text.c_str());
  return list;
}

}  // namespace

FontSet::~FontSet() {
  for (const auto& [key, font] : fonts_) DeleteObject(font);
}

HFONT FontSet::For(const layout::ControlLayout& row) {
  const auto key = std::make_pair(row.fontHeight, row.bold);
  if (const auto found = fonts_.find(key); found != fonts_.end()) return found->second;
  const std::string face(layout::kFontFace);
  HFONT font = CreateFontA(-row.fontHeight, 0, 0, 0, row.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE,
                           FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                           DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, face.c_str());
  fonts_.emplace(key, font);
  return font;
}

OwnedWindow::~OwnedWindow() {
  if (handle == nullptr) return;
  SetWindowLongPtrA(handle, GWLP_USERDATA, 0);
  DestroyWindow(handle);
}

MainWindow::MainWindow(HINSTANCE instance, HWND owner, WindowServices services)
    : instance_(instance),
      owner_(owner),
      window_{CreateFormWindow(instance, owner, this)},
      view_(window_.handle, instance, PumpMessages),
      messages_([this] { return OwnerIfShown(handle()); }),
      form_(FormServices{services.devices, view_, messages_, debug_, services.images, desktop_}),
      shell_(ShellServices{form_, *this, messages_, debug_, services.changes}),
      animation_([window = window_.handle](std::size_t frame) {
        PostMessageA(window, kAnimationFrameMessage, frame, 0);
      }) {
  BuildControls();
  ready_ = true;
  animation_.Resume();
  shell_.ListenForChanges();
  shell_.FirstScan();
}

MainWindow::~MainWindow() {
  if (deviceNotifyHandle_ != nullptr) UnregisterDeviceNotification(deviceNotifyHandle_);
  deviceNotifyHandle_ = nullptr;
  // The animation posts to this window; it ends before the window does.
  animation_.Stop();
  ready_ = false;
}

void MainWindow::BuildControls() {
  for (std::size_t row = 0; row < layout::kControls.size(); ++row) {
    const layout::ControlLayout& control = layout::kControls[row];
    HWND child = CreateControl(control, layout::ChildId(row));
    if (child == nullptr) {
      throw std::runtime_error("Cannot create the control " + std::string(control.name));
    }
    SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(fonts_.For(control)), FALSE);
    // Each row lies above the rows before it.
    SetWindowPos(child, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    if (control.visibleAtStart) ShowWindow(child, SW_SHOWNA);
  }
}

HWND MainWindow::CreateControl(const layout::ControlLayout& row, int id) {
  HWND parent = handle();
  switch (row.kind) {
    case layout::Kind::Picture:
      return CreatePicture(parent, row, id);
    case layout::Kind::Label:
      return CreateLabel(parent, row, id,
                         LabelLook{fonts_.For(row), ColourOf(row.colour), row.name == "lblStaust"});
    case layout::Kind::DropDownList:
      return CreateDropDownList(parent, row, id);
    case layout::Kind::Button:
      return CreateChildWindow(parent, "BUTTON", BS_PUSHBUTTON, row, id);
    case layout::Kind::ProgressBar:
      return CreateProgressBar(parent, row, id);
  }
  return nullptr;
}

void MainWindow::FormCreate() {
  RegisterUsbNotification();
  if (shell_.listening()) {
    SetTimer(handle(), kChangePollTimerId, static_cast<UINT>(kChangePollInterval.count()), nullptr);
  }
  const std::string caption(layout::kCaption);
  SetWindowTextA(handle(), caption.c_str());
}

void MainWindow::RegisterUsbNotification() {
  DEV_BROADCAST_DEVICEINTERFACE_A filter{};
  filter.dbcc_size = sizeof filter;
  filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  filter.dbcc_classguid = kUsbDeviceInterface;
  deviceNotifyHandle_ = RegisterDeviceNotificationA(handle(), &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
}

// Centred on the screen; a screen smaller than the window keeps the caption in reach.
void MainWindow::ShowCentred() {
  const SIZE size = FrameSize();
  const int left = std::max(0, (GetSystemMetrics(SM_CXSCREEN) - static_cast<int>(size.cx)) / 2);
  const int top = std::max(0, (GetSystemMetrics(SM_CYSCREEN) - static_cast<int>(size.cy)) / 2);
  SetWindowPos(handle(), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  ShowWindow(handle(), SW_SHOW);
  UpdateWindow(handle());
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* creation = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr || !self->ready_) return DefWindowProcA(window, message, wParam, lParam);
  return self->Dispatch(message, wParam, lParam);
}

// The timer and device-change messages go to the logic and not on to the default handling.
LRESULT MainWindow::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_TIMER:
      OnTimer(wParam);
      return 0;
    case WM_DEVICECHANGE:
      shell_.OnDeviceChange(DeviceChangeOf(wParam));
      return TRUE;  // grants any query: the window never stands in a removal's way
    case kAnimationFrameMessage:
      view_.ShowFrame(wParam);
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wParam), HIWORD(wParam));
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_QUERYENDSESSION:
      return shell_.updateRunning() ? FALSE : TRUE;
    case WM_SYSCOMMAND:
      // The task-bar window stands for the program: minimising it hides this window with it.
      if ((wParam & 0xFFF0) == SC_MINIMIZE && owner_ != nullptr) {
        ShowWindow(owner_, SW_MINIMIZE);
        return 0;
      }
      break;
    default:
      break;
  }
  return DefWindowProcA(handle(), message, wParam, lParam);
}

void MainWindow::OnTimer(UINT_PTR id) {
  if (id != kChangePollTimerId) {
    shell_.Run(Running::Scan, [this, id] { form_.OnRescanTimer(id); });
  } else if (!shell_.PollDeviceChanges()) {
    KillTimer(handle(), kChangePollTimerId);
  }
}

void MainWindow::OnCommand(int id, int code) {
  if (code != BN_CLICKED) return;  // STN_CLICKED has the same value
  if (id == Id("lblStaust")) {
    shell_.Run(Running::Update, [this] { form_.lblStaustClick(); });
  } else if (id == Id("btn_upd")) {
    shell_.Run(Running::Update, [this] { form_.btn_updClick(); });
  } else if (id == Id("btn_Refresh")) {
    shell_.Run(Running::Scan, [this] { form_.btn_RefreshClick(); });
  } else if (id == Id("btn_Exit")) {
    btn_ExitClick();
  }
}

void MainWindow::btn_ExitClick() { PostMessageA(handle(), WM_CLOSE, 0, 0); }

void MainWindow::OnClose() {
  switch (shell_.RequestClose()) {
    case CloseAnswer::Refused:
      MessageBeep(MB_ICONWARNING);
      return;
    case CloseAnswer::Deferred:
      return;
    case CloseAnswer::Close:
      Close();
      return;
  }
}

void MainWindow::Close() {
  if (closing_) return;
  closing_ = true;
  ShowWindow(handle(), SW_HIDE);
  PostQuitMessage(0);
}

void MainWindow::RepeatClose() { PostMessageA(handle(), WM_CLOSE, 0, 0); }

void MainWindow::OfferClose(bool offered) {
  EnableMenuItem(GetSystemMenu(handle(), FALSE), SC_CLOSE,
                 MF_BYCOMMAND | (offered ? MF_ENABLED : MF_GRAYED));
}

void PumpMessages() {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      PostQuitMessage(static_cast<int>(message.wParam));
      return;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace korvane::win32
