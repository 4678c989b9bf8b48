#include "MainView.h"

#include <array>
#include <cstddef>

namespace korvane {

std::string_view ControlName(Control control) {
  static constexpr std::array<std::string_view, 7> kNames{
      "Image1", "Image2", "Image3", "lblStaust", "cbb_DeviceList", "btn_upd", "UpdateProgressBar"};
  return kNames[static_cast<std::size_t>(control)];
}

}  // namespace korvane
