#include "IdentityBlock.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace korvane {
namespace {

using Bytes = std::vector<std::uint8_t>;

/// A signed answer: vendor 152D, product 0583, the given ROM flag, model "583", revision '2'
/// and version 1.2.3.4; extra bytes follow the sixteen.
Bytes Answer(std::uint8_t romFlag, std::size_t extra = 0) {
  Bytes bytes{0xF4, 0xE7, 0x15, 0x2D, 0x05, 0x83, romFlag, 0x00, '5', '8', '3', '2', 1, 2, 3, 4};
  bytes.resize(bytes.size() + extra, 0xEE);
  return bytes;
}

TEST(IdentityBlock, ParsesTheFieldsOfSignedAnswersOnly) {
  const BridgeIdentity running{.vendor = {0x15, 0x2D},
                               .product = {0x05, 0x83},
                               .romMode = false,
                               .model = {'5', '8', '3'},
                               .revision = '2',
                               .version = {1, 2, 3, 4}};
  BridgeIdentity rom = running;
  rom.romMode = true;
  Bytes noSignature = Answer(1);
  noSignature[1] = 0xE6;
  Bytes shortAnswer = Answer(1);
  shortAnswer.pop_back();
  struct Case {
    const char* name;
    Bytes bytes;
    std::optional<BridgeIdentity> expected;
  };
  const Case cases[] = {
      {"firmware runs", Answer(1), running},
      {"any non-zero ROM flag means firmware", Answer(0x80), running},
      {"ROM flag 0: the boot ROM runs", Answer(0), rom},
      {"bytes past the block are not read", Answer(1, 4), running},
      {"signature missing", noSignature, std::nullopt},
      {"an all-zero answer", Bytes(16, 0), std::nullopt},
      {"fifteen bytes", shortAnswer, std::nullopt},
      {"nothing", {}, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseIdentityBlock(c.bytes), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace korvane
