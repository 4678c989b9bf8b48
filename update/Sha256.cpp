#include "Sha256.h"

#include <algorithm>
#include <cstddef>

#include "Text.h"

namespace korvane {
namespace {

constexpr std::size_t kBlockSize = 64;
constexpr std::size_t kLengthSize = 8;
constexpr std::uint8_t kPadStart = 0x80;

using State = std::array<std::uint32_t, 8>;
using Block = std::span<const std::uint8_t, kBlockSize>;

constexpr State kInitialState{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr std::array<std::uint32_t, 64> kRoundConstants{
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::uint32_t RotateRight(std::uint32_t value, int bits) {
  return (value >> bits) | (value << (32 - bits));
}

/// The 64 words of the message schedule for one block.
std::array<std::uint32_t, 64> Schedule(Block block) {
  std::array<std::uint32_t, 64> words{};
  for (std::size_t i = 0; i < 16; ++i) {
    words[i] = std::uint32_t{block[4 * i]} << 24 | std::uint32_t{block[4 * i + 1]} << 16 |
               std::uint32_t{block[4 * i + 2]} << 8 | std::uint32_t{block[4 * i + 3]};
  }
  for (std::size_t i = 16; i < words.size(); ++i) {
    const std::uint32_t w15 = words[i - 15];
    const std::uint32_t w2 = words[i - 2];
    const std::uint32_t s0 = RotateRight(w15, 7) ^ RotateRight(w15, 18) ^ (w15 >> 3);
    const std::uint32_t s1 = RotateRight(w2, 17) ^ RotateRight(w2, 19) ^ (w2 >> 10);
    words[i] = words[i - 16] + s0 + words[i - 7] + s1;
  }
  return words;
}

/// One round on the working variables a..h with the round's constant and schedule word added.
void Round(State& v, std::uint32_t constantAndWord) {
  const std::uint32_t s1 = RotateRight(v[4], 6) ^ RotateRight(v[4], 11) ^ RotateRight(v[4], 25);
  const std::uint32_t choice = (v[4] & v[5]) ^ (~v[4] & v[6]);
  const std::uint32_t t1 = v[7] + s1 + choice + constantAndWord;
  const std::uint32_t s0 = RotateRight(v[0], 2) ^ RotateRight(v[0], 13) ^ RotateRight(v[0], 22);
  const std::uint32_t majority = (v[0] & v[1]) ^ (v[0] & v[2]) ^ (v[1] & v[2]);
  std::copy_backward(v.begin(), v.end() - 1, v.end());
  v[4] += t1;
  v[0] = t1 + s0 + majority;
}

void Compress(State& state, Block block) {
  const std::array<std::uint32_t, 64> words = Schedule(block);
  State working = state;
  for (std::size_t i = 0; i < words.size(); ++i) Round(working, kRoundConstants[i] + words[i]);
  for (std::size_t i = 0; i < state.size(); ++i) state[i] += working[i];
}

/// The last one or two blocks: the rest of the message, 0x80, zeros and the length in bits.
void CompressTail(State& state, std::span<const std::uint8_t> rest, std::uint64_t totalBytes) {
  std::array<std::uint8_t, 2 * kBlockSize> tail{};
  std::ranges::copy(rest, tail.begin());
  tail[rest.size()] = kPadStart;
  const std::size_t size = rest.size() + 1 + kLengthSize <= kBlockSize ? kBlockSize : tail.size();
  const std::uint64_t bits = totalBytes * 8;
  for (std::size_t i = 0; i < kLengthSize; ++i) {
    tail[size - 1 - i] = static_cast<std::uint8_t>(bits >> (8 * i));
  }
  for (std::size_t at = 0; at < size; at += kBlockSize) {
    Compress(state, Block(tail.data() + at, kBlockSize));
  }
}

}  // namespace

Sha256Digest Sha256(std::span<const std::uint8_t> bytes) {
  State state = kInitialState;
  const std::size_t whole = bytes.size() - bytes.size() % kBlockSize;
  for (std::size_t at = 0; at < whole; at += kBlockSize) {
    Compress(state, Block(bytes.data() + at, kBlockSize));
  }
  CompressTail(state, bytes.subspan(whole), bytes.size());
  Sha256Digest digest{};
  for (std::size_t i = 0; i < state.size(); ++i) {
    for (std::size_t byte = 0; byte < 4; ++byte) {
      digest[4 * i + byte] = static_cast<std::uint8_t>(state[i] >> (24 - 8 * byte));
    }
  }
  return digest;
}

std::string Sha256Hex(std::span<const std::uint8_t> bytes) { return HexText(Sha256(bytes)); }

}  // namespace korvane
