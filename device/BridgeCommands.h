// The bridge command set: each operation builds one CDB and sends it through the transport.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "Clock.h"
#include "CommandSet.h"
#include "IdentityBlock.h"
#include "Transport.h"

namespace korvane {

/// A CDB as the builders fill it: zeros except the named bytes.
using Cdb = std::array<std::uint8_t, 16>;

/// A built command: its bytes and the length that is sent.
struct BuiltCdb {
  Cdb bytes{};
  std::uint8_t length = 12;
  std::span<const std::uint8_t> view() const { return {bytes.data(), length}; }
};

/// INQUIRY length every caller asks for: the standard data and the chip tag in bytes 36-39.
inline constexpr std::size_t kInquiryLength = 40;

/// Status byte bit that means busy.
inline constexpr std::uint8_t kStatusBusy = 0x01;
/// Status re-reads before WaitUntilReady gives up.
inline constexpr int kReadyRereads = 500;
/// Pause between two status reads.
inline constexpr std::chrono::milliseconds kReadyPause{10};

// Builders: one per command, each filling the bytes of its table. Builders and commands take
// their arguments in the order the CDB carries them: the mode, where the command acts (buffer id
// and offset, or address), then the data or its length.
BuiltCdb BuildReadIdentity();
BuiltCdb BuildReadIdentityAlt();
BuiltCdb BuildInquiry(std::size_t length);
BuiltCdb BuildReadStatus();
BuiltCdb BuildReadFlashType();
BuiltCdb BuildReadChipTag();
BuiltCdb BuildReadNvram(std::uint32_t address, std::size_t length);
BuiltCdb BuildWriteNvram(NvramWriteMode mode, std::uint32_t address, std::size_t length);
BuiltCdb BuildReadMemory(std::uint32_t address, std::size_t length);
BuiltCdb BuildReadConfigWord();
BuiltCdb BuildReadVendorB5(std::uint8_t first, std::uint8_t second);
BuiltCdb BuildReadBuffer(ReadBufferMode mode, BufferId bufferId, std::uint32_t offset,
                         std::size_t length);
BuiltCdb BuildWriteBuffer(WriteBufferMode mode, BufferId bufferId, std::uint32_t offset,
                          std::size_t length);
BuiltCdb BuildRequestSense();

/// Reads the 16-byte identity block (or its first bytes).
bool ReadIdentity(Transport& io, std::string_view path, std::span<std::uint8_t> buffer,
                  std::uint32_t* transferred = nullptr);
/// Reads the identity block through the alternate opcode.
bool ReadIdentityAlt(Transport& io, std::string_view path, std::span<std::uint8_t> buffer,
                     std::uint32_t* transferred = nullptr);
/// What reading the identity block gave: whether the bridge answered, and the answer's fields
/// when it carried the signature.
struct IdentityRead {
  bool answered = false;
  std::optional<BridgeIdentity> identity;
};
/// Reads the identity block and decodes it.
IdentityRead ReadBridgeIdentity(Transport& io, std::string_view path);
/// The same through the alternate opcode.
IdentityRead ReadBridgeIdentityAlt(Transport& io, std::string_view path);

/// Standard INQUIRY; the allocation length byte is the low byte of the buffer size.
bool Inquiry(Transport& io, std::string_view path, std::span<std::uint8_t> buffer);
/// One status byte; bit 0 set means busy.
bool ReadStatus(Transport& io, std::string_view path, std::uint8_t& status);
/// Four bytes naming the bridge's flash type.
bool ReadFlashType(Transport& io, std::string_view path, std::span<std::uint8_t, 4> buffer);
/// The chip tag text in bytes 0-7; the buffer must hold at least 8 bytes.
bool ReadChipTag(Transport& io, std::string_view path, std::span<std::uint8_t> buffer);
/// Reads NVRAM at a 24-bit address.
bool ReadNvram(Transport& io, std::string_view path, std::uint32_t address,
               std::span<std::uint8_t> buffer);
/// Writes NVRAM at a 24-bit address; only bits 0-2 and 7 of mode are sent.
bool WriteNvram(Transport& io, std::string_view path, NvramWriteMode mode, std::uint32_t address,
                std::span<const std::uint8_t> buffer);
/// Reads bridge memory at a 16-bit address.
bool ReadMemory(Transport& io, std::string_view path, std::uint32_t address,
                std::span<std::uint8_t> buffer);
/// Reads the two-byte configuration word.
bool ReadConfigWord(Transport& io, std::string_view path, std::span<std::uint8_t, 2> buffer);
/// Vendor 0xB5 read with its two parameter bytes.
bool ReadVendorB5(Transport& io, std::string_view path, std::uint8_t first, std::uint8_t second,
                  std::span<std::uint8_t> buffer);
/// READ BUFFER; sends one REQUEST SENSE after a failure.
bool ReadBuffer(Transport& io, std::string_view path, ReadBufferMode mode, BufferId bufferId,
                std::uint32_t offset, std::span<std::uint8_t> buffer);
/// WRITE BUFFER; ActivateDeferred sends only its first two bytes. One REQUEST SENSE after a
/// failure.
bool WriteBuffer(Transport& io, std::string_view path, WriteBufferMode mode, BufferId bufferId,
                 std::uint32_t offset, std::span<const std::uint8_t> buffer);
/// REQUEST SENSE for 18 bytes; the answer is kept by the transport for diagnostics only.
bool RequestSense(Transport& io, std::string_view path);
/// Polls the status until not busy: the first read and up to 500 more, 10 ms apart.
bool WaitUntilReady(Transport& io, Clock& clock, std::string_view path);
/// True when memory byte 0xFDB1 reads 0xB4 or more.
bool IsLateRevision(Transport& io, std::string_view path);

}  // namespace korvane
