#include "Controls.h"

#include <string>

namespace korvane::win32 {
namespace {

// Extra bytes of each class, one LONG_PTR per slot.
constexpr int kPictureBitmap = 0;
constexpr int kPictureSlots = 1;
constexpr int kLabelFont = 0;
constexpr int kLabelColour = 1;
constexpr int kLabelClickable = 2;
constexpr int kLabelSlots = 3;

LONG_PTR Slot(HWND window, int slot) {
  return GetWindowLongPtrA(window, slot * static_cast<int>(sizeof(LONG_PTR)));
}

void SetSlot(HWND window, int slot, LONG_PTR value) {
  SetWindowLongPtrA(window, slot * static_cast<int>(sizeof(LONG_PTR)), value);
}

HBRUSH Background() { return GetSysColorBrush(COLOR_BTNHIGHLIGHT); }

void PaintPicture(HWND window, HDC dc) {
  RECT area;
  GetClientRect(window, &area);
  const auto bitmap = reinterpret_cast<HBITMAP>(Slot(window, kPictureBitmap));
  BITMAP info{};
  if (bitmap == nullptr || GetObjectA(bitmap, sizeof info, &info) == 0) {
    FillRect(dc, &area, Background());
    return;
  }
  HDC source = CreateCompatibleDC(dc);
  HGDIOBJ previous = SelectObject(source, bitmap);
  SetStretchBltMode(dc, HALFTONE);
  SetBrushOrgEx(dc, 0, 0, nullptr);
  StretchBlt(dc, 0, 0, area.right, area.bottom, source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  SelectObject(source, previous);
  DeleteDC(source);
}

// Both controls paint their whole area, so neither needs its background erased first.
LRESULT Painted(HWND window, void (*paint)(HWND, HDC)) {
  PAINTSTRUCT area;
  HDC dc = BeginPaint(window, &area);
  paint(window, dc);
  EndPaint(window, &area);
  return 0;
}

LRESULT CALLBACK PictureProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      return Painted(window, PaintPicture);
    case WM_NCDESTROY:
      DeleteObject(reinterpret_cast<HBITMAP>(Slot(window, kPictureBitmap)));
      SetSlot(window, kPictureBitmap, 0);
      break;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

std::string Text(HWND window) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

// Centres the text's lines in the area, both ways; lines longer than the area are cut at its
// edges, as a label of fixed size does.
void PaintLabel(HWND window, HDC dc) {
  RECT area;
  GetClientRect(window, &area);
  FillRect(dc, &area, Background());
  const std::string text = Text(window);
  HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HFONT>(Slot(window, kLabelFont)));
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, IsWindowEnabled(window) ? static_cast<COLORREF>(Slot(window, kLabelColour))
                                           : GetSysColor(COLOR_GRAYTEXT));
  constexpr UINT kFormat = DT_CENTER | DT_NOPREFIX;
  RECT measured = area;
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &measured, kFormat | DT_CALCRECT);
  RECT placed = area;
  placed.top = area.top + (area.bottom - area.top - (measured.bottom - measured.top)) / 2;
  DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &placed, kFormat);
  SelectObject(dc, previous);
}

// A click counts when the button goes down and comes up again over the label. The parent hears
// of it through a posted message, so whatever it starts runs from its own message loop rather
// than inside this label's handler.
LRESULT LabelMouse(HWND window, UINT message, LPARAM lParam) {
  if (Slot(window, kLabelClickable) == 0) return 0;
  if (message == WM_LBUTTONDOWN) {
    SetCapture(window);
    return 0;
  }
  if (GetCapture() != window) return 0;
  ReleaseCapture();
  RECT area;
  GetClientRect(window, &area);
  const POINT at{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
  if (PtInRect(&area, at)) {
    const int id = GetDlgCtrlID(window);
    PostMessageA(GetParent(window), WM_COMMAND, MAKEWPARAM(id, STN_CLICKED),
                 reinterpret_cast<LPARAM>(window));
  }
  return 0;
}

LRESULT CALLBACK LabelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      return 1;
    case WM_PAINT:
      return Painted(window, PaintLabel);
    case WM_SETTEXT: {
      const LRESULT result = DefWindowProcA(window, message, wParam, lParam);
      InvalidateRect(window, nullptr, FALSE);
      return result;
    }
    case WM_ENABLE:
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case WM_SETCURSOR:
      if (Slot(window, kLabelClickable) == 0) break;
      SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32649)));  // IDC_HAND
      return TRUE;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      return LabelMouse(window, message, lParam);
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

HICON ProgramIcon(HINSTANCE instance, int size) {
  const std::string name(layout::kIconName);
  return static_cast<HICON>(LoadImageA(instance, name.c_str(), IMAGE_ICON, size, size, 0));
}

}  // namespace

bool RegisterWindowClass(HINSTANCE instance, const char* name, WNDPROC procedure, int extraBytes,
                         bool withIcon) {
  WNDCLASSEXA type{};
  type.cbSize = sizeof type;
  type.lpfnWndProc = procedure;
  type.cbWndExtra = extraBytes;
  type.hInstance = instance;
  if (withIcon) {
    type.hIcon = ProgramIcon(instance, GetSystemMetrics(SM_CXICON));
    type.hIconSm = ProgramIcon(instance, GetSystemMetrics(SM_CXSMICON));
  }
  type.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  type.hbrBackground = Background();
  type.lpszClassName = name;
  return RegisterClassExA(&type) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

bool RegisterControlClasses(HINSTANCE instance) {
  constexpr int kSlot = static_cast<int>(sizeof(LONG_PTR));
  return RegisterWindowClass(instance, kPictureClass, PictureProc, kPictureSlots * kSlot) &&
         RegisterWindowClass(instance, kLabelClass, LabelProc, kLabelSlots * kSlot);
}

HWND CreateChildWindow(HWND parent, const char* type, DWORD style, const layout::ControlLayout& row,
                       int id) {
  const std::string text(row.text);
  return CreateWindowExA(
      0, type, text.c_str(), WS_CHILD | WS_CLIPSIBLINGS | style, row.left, row.top, row.width,
      row.height, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(parent, GWLP_HINSTANCE)), nullptr);
}

HWND CreatePicture(HWND parent, const layout::ControlLayout& row, int id) {
  return CreateChildWindow(parent, kPictureClass, 0, row, id);
}

HWND CreateLabel(HWND parent, const layout::ControlLayout& row, int id, const LabelLook& look) {
  HWND label = CreateChildWindow(parent, kLabelClass, 0, row, id);
  if (label == nullptr) return nullptr;
  SetSlot(label, kLabelFont, reinterpret_cast<LONG_PTR>(look.font));
  SetSlot(label, kLabelColour, static_cast<LONG_PTR>(look.colour));
  SetSlot(label, kLabelClickable, look.clickable ? 1 : 0);
  return label;
}

void SetPictureBitmap(HWND picture, HBITMAP bitmap, std::string_view name) {
  const auto previous = reinterpret_cast<HBITMAP>(
      SetWindowLongPtrA(picture, kPictureBitmap, reinterpret_cast<LONG_PTR>(bitmap)));
  if (previous != nullptr && previous != bitmap) DeleteObject(previous);
  const std::string text(bitmap != nullptr ? name : std::string_view{});
  SetWindowTextA(picture, text.c_str());
  InvalidateRect(picture, nullptr, FALSE);
}

}  // namespace korvane::win32
