// Where things sit inside a firmware or loader image, as far as the update relies on them.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace korvane {

/// Size of one image block: the flash is written and read back in blocks of this size.
inline constexpr std::size_t kImageBlockSize = 1024;
/// The image's second block, which the read-back verification skips whole, as the bridge keeps
/// its stamp (kBridgeStampAt) in it.
inline constexpr std::size_t kSecondBlockBegin = 512;
inline constexpr std::size_t kSecondBlockEnd = 1024;
/// Offset and bytes of the signature that makes a firmware image bootable.
inline constexpr std::size_t kImageSignatureAt = 0x200;
inline constexpr std::array<std::uint8_t, 4> kImageSignature{0x5A, 0xC3, 0x69, 0xE1};
/// The bytes of the second block that the bridge rewrites as it stores the image: its count of
/// programming cycles, over the four zero bytes after the signature. Everything else a flash
/// gives back is what was written.
inline constexpr std::size_t kBridgeStampAt = 0x204;
inline constexpr std::size_t kBridgeStampSize = 4;
/// Header: bytes 01 00, the USB vendor id, the chip number, four kind bytes.
inline constexpr std::size_t kImageHeaderSize = 10;
inline constexpr std::array<std::uint8_t, 2> kImageStart{0x01, 0x00};
inline constexpr std::size_t kImageUsbVendorAt = 2;
inline constexpr std::array<std::uint8_t, 2> kImageUsbVendor{0x15, 0x2D};
inline constexpr std::size_t kImageChipNumberAt = 4;
inline constexpr std::size_t kImageKindAt = 6;
inline constexpr std::array<std::uint8_t, 4> kFirmwareKind{0x03, 0x03, 0x05, 0x05};
inline constexpr std::array<std::uint8_t, 4> kLoaderKind{0x04, 0x04, 0x06, 0x06};
/// After the header: the model text ("JMicron JMS583"), then a byte 01, then the version.
inline constexpr std::size_t kImageModelAt = 0x0A;
inline constexpr std::size_t kImageModelSize = 14;
inline constexpr std::size_t kImageOneAt = 0x18;
/// The firmware version field in the header; it appears again 0x14 bytes before the area's end.
inline constexpr std::size_t kImageVersionAt = 0x19;
inline constexpr std::size_t kImageVersionSize = 4;
inline constexpr std::size_t kImageTailVersionBack = 0x14;
/// Where the JMS583 firmware repeats its version inside the second block.
inline constexpr std::size_t kImageSecondBlockVersionAt = 0x208;

// A backup is judged like a file to write only because no judged field lies in the stamp.
static_assert(kImageSignatureAt + kImageSignature.size() <= kBridgeStampAt &&
                  kBridgeStampAt + kBridgeStampSize <= kImageSecondBlockVersionAt,
              "the bridge's stamp overlaps a field that makes an image bootable");
/// The JMS578 firmware's trailer, 0x10 bytes before the area's end.
inline constexpr std::size_t kImageTrailerBack = 0x10;
inline constexpr std::array<std::uint8_t, 8> kJms578Trailer{0x55, 0xAA, 0xAA, 0x55,
                                                            '5',  '7',  '8',  '0'};
/// Size of the NVRAM template that follows the firmware area.
inline constexpr std::size_t kNvramTemplateSize = 512;

}  // namespace korvane
