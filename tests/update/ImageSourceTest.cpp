#include "ImageSource.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kUntouched = 0xEE;
constexpr std::size_t kGuard = 8;

class FakeImages final : public ImageSource {
 public:
  std::optional<std::span<const std::uint8_t>> Find(std::string_view name,
                                                    std::string_view type) const override {
    const auto found = images.find({std::string(name), std::string(type)});
    if (found == images.end()) return std::nullopt;
    return std::span<const std::uint8_t>(found->second);
  }
  bool development() const override { return true; }

  std::map<std::pair<std::string, std::string>, Bytes> images;
};

FakeImages TenByteImage() {
  FakeImages fake;
  fake.images[{"IMAGE", "FW"}] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  return fake;
}

/// What the destination holds afterwards: the copied bytes, then untouched ones.
Bytes Expected(std::size_t room, Bytes copied) {
  copied.resize(room + kGuard, kUntouched);
  return copied;
}

TEST(ImageSourceTest, CopiesTheRequestedBytesAndReturnsTheWholeSize) {
  constexpr std::size_t kFar = std::numeric_limits<std::size_t>::max();
  const struct {
    const char* what;
    std::size_t room;
    std::size_t offset;
    std::size_t count;
    Bytes copied;
  } cases[] = {
      {"count 0 copies everything", 16, 0, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}},
      {"count 0 from an offset copies to the end", 16, 4, 0, {5, 6, 7, 8, 9, 10}},
      {"a count inside the image", 16, 4, 3, {5, 6, 7}},
      {"a count past the end is cut", 16, 6, 100, {7, 8, 9, 10}},
      {"a count reaching exactly the end", 16, 7, 3, {8, 9, 10}},
      {"an offset at the end copies nothing", 16, 10, 0, {}},
      {"an offset past the end copies nothing", 16, 11, 5, {}},
      {"a far offset copies nothing", 16, kFar, 1, {}},
      {"a far count is cut", 16, 8, kFar, {9, 10}},
      {"a small destination is not overrun", 4, 0, 0, {1, 2, 3, 4}},
      {"a small destination bounds an explicit count", 3, 2, 8, {3, 4, 5}},
      {"an empty destination takes nothing", 0, 0, 0, {}},
  };
  const FakeImages images = TenByteImage();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes buffer(c.room + kGuard, kUntouched);
    const std::span<std::uint8_t> destination(buffer.data(), c.room);
    EXPECT_EQ(LoadImageResource(images, "IMAGE", "FW", destination, c.offset, c.count), 10u);
    EXPECT_EQ(buffer, Expected(c.room, c.copied));
  }
}

TEST(ImageSourceTest, AnImageNotCarriedGivesZeroAndLeavesTheDestination) {
  const struct {
    const char* name;
    const char* type;
  } cases[] = {{"OTHER", "FW"}, {"IMAGE", "MFG"}, {"", ""}, {"image", "FW"}};
  const FakeImages images = TenByteImage();
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " in " + c.type);
    Bytes buffer(16, kUntouched);
    EXPECT_EQ(LoadImageResource(images, c.name, c.type, buffer), 0u);
    EXPECT_EQ(buffer, Bytes(16, kUntouched));
  }
}

TEST(ImageSourceTest, FindsTheDevelopmentMarkerAnywhereWhole) {
  const std::string marker(kDevelopmentMarker);
  const struct {
    const char* what;
    std::string bytes;
    bool carries;
  } cases[] = {
      {"nothing", "", false},
      {"the marker alone", marker, true},
      {"the marker inside other bytes", std::string("\x01\x00\xFF", 3) + marker + "JMS578_FW",
       true},
      {"the marker at the very end", std::string(100, '\0') + marker, true},
      {"the marker without its last letter", marker.substr(0, marker.size() - 1), false},
      {"the marker in lower case", "korvane development image", false},
      {"two halves apart", marker.substr(0, 8) + "-" + marker.substr(8), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes bytes(c.bytes.begin(), c.bytes.end());
    EXPECT_EQ(CarriesDevelopmentMarker(bytes), c.carries);
  }
}

}  // namespace
}  // namespace korvane
