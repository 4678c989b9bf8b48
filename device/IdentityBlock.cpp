#include "IdentityBlock.h"

#include <algorithm>

namespace korvane {
namespace {

template <std::size_t Offset, std::size_t Size>
std::array<std::uint8_t, Size> Bytes(std::span<const std::uint8_t, kIdentityBlockSize> block) {
  std::array<std::uint8_t, Size> field{};
  std::ranges::copy(block.subspan<Offset, Size>(), field.begin());
  return field;
}

}  // namespace

std::optional<BridgeIdentity> ParseIdentityBlock(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kIdentityBlockSize || !HasIdentitySignature(bytes)) return std::nullopt;
  const auto block = bytes.first<kIdentityBlockSize>();
  return BridgeIdentity{.vendor = Bytes<2, 2>(block),
                        .product = Bytes<4, 2>(block),
                        .romMode = block[6] == 0,
                        .model = Bytes<8, 3>(block),
                        .revision = block[11],
                        .version = Bytes<12, 4>(block)};
}

}  // namespace korvane
