# Writes the SHA-256 of each carried image as C++ source, so a program names the image it carries
# without hashing it again on every run. Run as a script at build time, after the images exist:
#   cmake -DFOLDER=<images> -DOUTPUT=<file.cpp> -P ImageDigests.cmake
include(${CMAKE_CURRENT_LIST_DIR}/FirmwareImages.cmake)

set(rows "")
foreach(name IN LISTS KORVANE_IMAGE_NAMES)
  file(SHA256 "${FOLDER}/${name}.bin" digest)
  string(APPEND rows "    CarriedDigest{\"${name}\", \"${KORVANE_IMAGE_${name}}\", \"${digest}\"},\n")
endforeach()

set(content "// Generated from the carried images at build time; do not edit.
#include <array>
#include <string_view>

#include \"EmbeddedImages.h\"

namespace korvane {
namespace {

struct CarriedDigest {
  std::string_view name;
  std::string_view type;
  std::string_view sha256;
};

constexpr std::array kCarriedDigests{
${rows}};

}  // namespace

std::optional<std::string> EmbeddedImages::Digest(std::string_view name,
                                                  std::string_view type) const {
  for (const CarriedDigest& carried : kCarriedDigests) {
    if (carried.name == name && carried.type == type) return std::string(carried.sha256);
  }
  return std::nullopt;
}

}  // namespace korvane
")

# Unchanged text leaves the file's time alone, so nothing that depends on it is rebuilt.
set(written "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" written)
endif()
if(NOT written STREQUAL content)
  file(WRITE "${OUTPUT}" "${content}")
endif()
