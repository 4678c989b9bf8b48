// On Windows the images are custom resources of the exe, language 1028, from the generated
// EmbeddedImages.rc.
#include <windows.h>

#include <string>

#include "EmbeddedImages.h"

namespace korvane {

std::optional<std::span<const std::uint8_t>> EmbeddedImages::Find(std::string_view name,
                                                                  std::string_view type) const {
  // The resource calls stop at the first NUL, so "JMS578_FW\0x" would find JMS578_FW.
  if (name.find('\0') != std::string_view::npos || type.find('\0') != std::string_view::npos)
    return std::nullopt;
  const std::string resourceName(name);
  const std::string resourceType(type);
  const HMODULE module = GetModuleHandleA(nullptr);
  const HRSRC found = FindResourceA(module, resourceName.c_str(), resourceType.c_str());
  if (found == nullptr) return std::nullopt;
  const DWORD size = SizeofResource(module, found);
  const HGLOBAL loaded = LoadResource(module, found);
  const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
  // Bytes that cannot be reached are no image: a size without them would report a copy that
  // never happened.
  if (bytes == nullptr) return std::nullopt;
  return std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(bytes), size);
}

}  // namespace korvane
