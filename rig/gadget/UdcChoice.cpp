#include "UdcChoice.h"

#include <algorithm>
#include <filesystem>
#include <vector>

namespace korvane::gadget {
namespace {

std::vector<std::string> Controllers(const std::string& classDir) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(classDir, error)) {
    names.push_back(entry.path().filename().string());
  }
  std::ranges::sort(names);
  return names;
}

}  // namespace

std::variant<std::string, UdcError> ChooseUdc(const std::string& classDir,
                                              const std::optional<std::string>& name) {
  const std::vector<std::string> names = Controllers(classDir);
  if (names.empty()) {
    return UdcError{"no gadget controller: " + classDir +
                    " is empty or missing (is dummy_hcd loaded?)"};
  }
  if (!name) return names.front();
  if (std::ranges::find(names, *name) == names.end()) {
    return UdcError{"no gadget controller named " + *name + " in " + classDir};
  }
  return *name;
}

}  // namespace korvane::gadget
