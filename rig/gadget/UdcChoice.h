// Which gadget controller the gadget binds to.
#pragma once

#include <optional>
#include <string>
#include <variant>

namespace korvane::gadget {

/// Why no controller can be used, in one line.
struct UdcError {
  std::string message;
};

/// The controller named, or the first (by name) in classDir (/sys/class/udc on a live system).
std::variant<std::string, UdcError> ChooseUdc(const std::string& classDir,
                                              const std::optional<std::string>& name);

}  // namespace korvane::gadget
