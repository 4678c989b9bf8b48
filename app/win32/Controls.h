// The window's own picture and label controls. A picture draws its bitmap stretched over its
// area and names the bitmap in its window text; a label draws its text centred both ways in its
// font and colour, grey while disabled, and a clickable label shows the hand cursor and reports a
// click to its parent. Both keep their state in the window's extra bytes, so nothing is allocated.
#pragma once

#include <windows.h>

#include <string_view>

#include "WindowLayout.h"

namespace korvane::win32 {

inline constexpr char kPictureClass[] = "KorvanePicture";
inline constexpr char kLabelClass[] = "KorvaneLabel";

/// Registers a window class of this module with the window's background and the arrow cursor,
/// and the program's icon when withIcon is set; true also when it was registered before.
bool RegisterWindowClass(HINSTANCE instance, const char* name, WNDPROC procedure,
                         int extraBytes = 0, bool withIcon = false);

/// Registers the picture and label classes for this module; harmless when already registered.
bool RegisterControlClasses(HINSTANCE instance);

/// How a label draws its text.
struct LabelLook {
  HFONT font = nullptr;
  COLORREF colour = 0;
  bool clickable = false;  ///< hand cursor, and clicks reported as STN_CLICKED
};

/// Creates a hidden child window of the given class at the row's place, with the row's text and
/// the given identifier.
HWND CreateChildWindow(HWND parent, const char* type, DWORD style, const layout::ControlLayout& row,
                       int id);

/// Creates the control of one layout row as a child with the given identifier, hidden.
HWND CreatePicture(HWND parent, const layout::ControlLayout& row, int id);
HWND CreateLabel(HWND parent, const layout::ControlLayout& row, int id, const LabelLook& look);

/// Gives the picture a new bitmap, which it owns from now on, and names it in its window text;
/// the bitmap it held before is released. A null bitmap clears the picture.
void SetPictureBitmap(HWND picture, HBITMAP bitmap, std::string_view name);

}  // namespace korvane::win32
