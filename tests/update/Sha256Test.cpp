#include "Sha256.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace korvane {
namespace {

std::vector<std::uint8_t> Text(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

Sha256Digest FromHex(const std::string& hex) {
  Sha256Digest digest{};
  for (std::size_t i = 0; i < digest.size() && 2 * i + 2 <= hex.size(); ++i) {
    digest[i] = static_cast<std::uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
  }
  return digest;
}

// The examples of FIPS 180-4: they cover no block, one block, the padding that needs a second
// block (56 and 112 bytes) and a message of many whole blocks.
TEST(Sha256Test, DigestsOfTheStandardsExamples) {
  const struct {
    const char* what;
    std::vector<std::uint8_t> message;
    const char* digest;
  } cases[] = {
      {"empty", {}, "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", Text("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"448 bits", Text("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"896 bits",
       Text("abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnop"
            "qr"
            "lmnopqrsmnopqrstnopqrstu"),
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {"one million a", std::vector<std::uint8_t>(1'000'000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Sha256(c.message), FromHex(c.digest));
    EXPECT_EQ(Sha256Hex(c.message), c.digest);
  }
}

}  // namespace
}  // namespace korvane
