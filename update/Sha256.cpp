#include "Sha256.h"

#include <cstdio>
#include <cstdlib>

#include "Text.h"

#ifdef _WIN32
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <algorithm>
#include <vector>
#else
#include <nettle/sha2.h>
#endif

namespace korvane {
namespace {

#ifdef _WIN32

/// A digest that Windows could not give is no digest at all: naming a file by a wrong one could
/// let a damaged backup pass for its record, so the program stops rather than go on without it.
[[noreturn]] void CngFailed(const char* call) {
  std::fprintf(stderr, "korvane: SHA-256: Windows' %s failed\n", call);
  std::abort();
}

void Check(NTSTATUS status, const char* call) {
  if (!BCRYPT_SUCCESS(status)) CngFailed(call);
}

/// The SHA-256 provider, opened once for the program's life; Windows closes it at exit.
BCRYPT_ALG_HANDLE Provider() {
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE opened = nullptr;
    Check(BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0),
          "BCryptOpenAlgorithmProvider");
    return opened;
  }();
  return provider;
}

/// The size of the hash object the caller provides: Vista does not allocate one itself.
ULONG HashObjectSize(BCRYPT_ALG_HANDLE provider) {
  DWORD size = 0;
  ULONG written = 0;
  Check(BCryptGetProperty(provider, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&size),
                          sizeof size, &written, 0),
        "BCryptGetProperty");
  return size;
}

/// One hash of bytes, fed to CNG in pieces that its ULONG lengths hold.
void HashInto(BCRYPT_HASH_HANDLE hash, std::span<const std::uint8_t> bytes) {
  constexpr std::size_t kPiece = 1u << 30;
  for (std::size_t at = 0; at < bytes.size(); at += kPiece) {
    const std::size_t size = std::min(kPiece, bytes.size() - at);
    // CNG does not write the input; its signature only lacks the const.
    Check(BCryptHashData(hash, const_cast<PUCHAR>(bytes.data() + at), static_cast<ULONG>(size), 0),
          "BCryptHashData");
  }
}

Sha256Digest Digest(std::span<const std::uint8_t> bytes) {
  const BCRYPT_ALG_HANDLE provider = Provider();
  std::vector<UCHAR> object(HashObjectSize(provider));
  BCRYPT_HASH_HANDLE hash = nullptr;
  Check(BCryptCreateHash(provider, &hash, object.data(), static_cast<ULONG>(object.size()), nullptr,
                         0, 0),
        "BCryptCreateHash");
  HashInto(hash, bytes);
  Sha256Digest digest{};
  const NTSTATUS finished = BCryptFinishHash(hash, digest.data(), digest.size(), 0);
  BCryptDestroyHash(hash);
  Check(finished, "BCryptFinishHash");
  return digest;
}

#else

Sha256Digest Digest(std::span<const std::uint8_t> bytes) {
  static_assert(SHA256_DIGEST_SIZE == std::tuple_size_v<Sha256Digest>);
  sha256_ctx context;
  sha256_init(&context);
  sha256_update(&context, bytes.size(), bytes.data());
  Sha256Digest digest{};
  sha256_digest(&context, digest.size(), digest.data());
  return digest;
}

#endif

}  // namespace

Sha256Digest Sha256(std::span<const std::uint8_t> bytes) { return Digest(bytes); }

std::string Sha256Hex(std::span<const std::uint8_t> bytes) { return HexText(Sha256(bytes)); }

}  // namespace korvane
