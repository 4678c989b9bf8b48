#include "InquiryText.h"

#include <cstring>

namespace korvane {
namespace {

constexpr std::size_t kModelTextAt = 8;

}  // namespace

std::string ModelText(std::span<const std::uint8_t, kInquiryLength> inquiry) {
  const auto* text = reinterpret_cast<const char*>(inquiry.data() + kModelTextAt);
  return std::string(text, strnlen(text, kModelTextLength));
}

}  // namespace korvane
