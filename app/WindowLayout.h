// The one window as data: its size, titles, fonts and every control with its place, size, look
// and text, in drawing order (a later control lies above an earlier one). The native window
// builds itself from this table, and the tests that look at the running window check against it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace korvane::layout {

/// The client area, in pixels at 96 pixels per inch.
inline constexpr int kClientWidth = 997;
inline constexpr int kClientHeight = 756;

/// The window's caption, set once the window is created; it carries no version number.
inline constexpr std::string_view kCaption = "Korvane Update Tool";
/// The program's title on the task bar.
inline constexpr std::string_view kApplicationTitle = "KORVANE Update Tool";
/// The window's class name.
inline constexpr std::string_view kWindowClass = "TForm1";
/// The icon resource of the window and the program.
inline constexpr std::string_view kIconName = "MAINICON";

/// The face of every text in the window, and the window's default text height.
inline constexpr std::string_view kFontFace = "MS Sans Serif";
inline constexpr int kDefaultFontHeight = 11;

/// The busy animation's frames, in resource order.
inline constexpr std::array<std::string_view, 3> kLoadingFrames{"LOADING1", "LOADING2", "LOADING3"};

/// What kind of control a layout row builds.
enum class Kind : std::uint8_t { Picture, Label, DropDownList, Button, ProgressBar };

/// The colour a text is drawn in.
enum class TextColour : std::uint8_t {
  Default,              ///< the window's font colour: the system colour of highlighted menu items
  Grey,                 ///< a fixed mid grey
  InactiveCaptionText,  ///< the system colour of an inactive window's caption text
};

/// One control: where it sits, how it looks and what it says when the window is built.
struct ControlLayout {
  std::string_view name;
  Kind kind;
  int left;
  int top;
  int width;
  int height;
  bool visibleAtStart;
  std::string_view text;  ///< a label's or button's text; the drop-down list's initial text
  int fontHeight;         ///< pixels
  TextColour colour;
  bool bold;
};

/// The controls in drawing order.
inline constexpr std::array<ControlLayout, 14> kControls{{
    {"Image1", Kind::Picture, 0, 0, 1000, 400, true, "", kDefaultFontHeight, TextColour::Default,
     false},
    {"Image2", Kind::Picture, 432, 504, 150, 150, true, "", kDefaultFontHeight, TextColour::Default,
     false},
    {"lblStaust", Kind::Label, 56, 657, 905, 65, true, "", 21, TextColour::Default, false},
    {"Image3", Kind::Picture, 432, 506, 150, 150, true, "", kDefaultFontHeight, TextColour::Default,
     false},
    {"Label1", Kind::Label, 56, 402, 905, 17, true,
     "For Korvane Nova N1 and N2 NVMe enclosures (USB to NVMe) and Korvane Sata S1 and S2 "
     "enclosures (USB to SATA)",
     kDefaultFontHeight, TextColour::Grey, false},
    {"Label2", Kind::Label, 54, 721, 147, 33, true, "Technical Support", 16,
     TextColour::InactiveCaptionText, false},
    {"Label3", Kind::Label, 192, 721, 105, 33, true, "555-0142", 16,
     TextColour::InactiveCaptionText, true},
    {"Label4", Kind::Label, 430, 721, 147, 33, true, "korvane.example", 16,
     TextColour::InactiveCaptionText, false},
    {"Label5", Kind::Label, 712, 721, 241, 33, true, "korvane.example/support", 16,
     TextColour::InactiveCaptionText, false},
    {"cbb_DeviceList", Kind::DropDownList, 232, 426, 177, 22, false, "DeviceList",
     kDefaultFontHeight, TextColour::Default, false},
    {"btn_Refresh", Kind::Button, 88, 452, 97, 25, false, "Refresh", kDefaultFontHeight,
     TextColour::Default, false},
    {"btn_Exit", Kind::Button, 96, 484, 80, 33, false, "Exit", kDefaultFontHeight,
     TextColour::Default, false},
    {"btn_upd", Kind::Button, 96, 524, 80, 33, false, "Update", kDefaultFontHeight,
     TextColour::Default, false},
    {"UpdateProgressBar", Kind::ProgressBar, 400, 570, 225, 25, false, "", kDefaultFontHeight,
     TextColour::Default, false},
}};

/// The row of the control with that name, if there is one.
constexpr std::optional<std::size_t> IndexOf(std::string_view name) {
  for (std::size_t i = 0; i < kControls.size(); ++i) {
    if (kControls[i].name == name) return i;
  }
  return std::nullopt;
}

/// The child-window identifier of the control in row index: the rows count up from 1001.
constexpr int ChildId(std::size_t index) { return 1001 + static_cast<int>(index); }

/// The child-window identifier of the named control; 0 when there is no such control.
constexpr int ChildId(std::string_view name) {
  const auto index = IndexOf(name);
  return index ? ChildId(*index) : 0;
}

}  // namespace korvane::layout
