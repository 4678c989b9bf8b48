#include "BridgeCommands.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

#include "ByteOrder.h"

namespace korvane {
namespace {

constexpr std::uint8_t kVendorCdbLength = 12;
constexpr std::uint8_t kBufferCdbLength = 10;
constexpr std::size_t kChipTagMinimum = 8;
constexpr std::uint32_t kLateRevisionAddress = 0xFDB0;
constexpr std::uint8_t kLateRevisionFirst = 0xB4;

/// The bytes [Offset, Offset + Size) of a CDB, checked at compile time.
template <std::size_t Offset, std::size_t Size>
std::span<std::uint8_t, Size> Field(BuiltCdb& cdb) {
  return std::span<std::uint8_t, 16>(cdb.bytes).subspan<Offset, Size>();
}

BuiltCdb Vendor(std::uint8_t b0, std::uint8_t b1, std::uint8_t b2, std::uint8_t b3,
                std::uint8_t b4) {
  BuiltCdb cdb;
  cdb.bytes[0] = b0;
  cdb.bytes[1] = b1;
  cdb.bytes[2] = b2;
  cdb.bytes[3] = b3;
  cdb.bytes[4] = b4;
  cdb.length = kVendorCdbLength;
  return cdb;
}

BuiltCdb Identity(std::uint8_t op) {
  return Vendor(op, kIdentitySignature[0], kIdentitySignature[1], 0, 0);
}

BuiltCdb NvramCommand(std::uint8_t mode, std::uint32_t address, std::size_t length,
                      std::uint8_t selector) {
  BuiltCdb cdb = Vendor(opcode::kNvram, mode, 0, 0, 0);
  put_be24(Field<2, 3>(cdb), static_cast<std::uint32_t>(length));
  put_be24(Field<8, 3>(cdb), address);
  cdb.bytes[11] = selector;
  return cdb;
}

BuiltCdb BufferCommand(std::uint8_t op, std::uint8_t mode, std::uint8_t bufferId,
                       std::uint32_t offset, std::size_t length) {
  BuiltCdb cdb;
  cdb.bytes[0] = op;
  cdb.bytes[1] = mode;
  cdb.bytes[2] = bufferId;
  put_be24(Field<3, 3>(cdb), offset);
  put_be24(Field<6, 3>(cdb), static_cast<std::uint32_t>(length));
  cdb.length = kBufferCdbLength;
  return cdb;
}

/// A span's size as the transport's signed length; an oversized span is refused there.
std::int32_t LengthOf(std::size_t size) {
  return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<std::int32_t>(size);
}

bool SendIn(Transport& io, std::string_view path, const BuiltCdb& cdb,
            std::span<std::uint8_t> buffer, std::uint32_t* transferred = nullptr) {
  return io.ScsiCommandIn(path, cdb.view(), buffer.data(), LengthOf(buffer.size()), transferred);
}

bool SendOut(Transport& io, std::string_view path, const BuiltCdb& cdb,
             std::span<const std::uint8_t> buffer) {
  return io.ScsiCommandOut(path, cdb.view(), buffer.data(), LengthOf(buffer.size()));
}

/// A failed buffer transfer is followed by one REQUEST SENSE, whose outcome changes nothing:
/// the reason kept for messages stays the one of the transfer.
bool SenseOnFailure(Transport& io, std::string_view path, bool ok) {
  if (ok) return true;
  const CommandOutcome failure = io.LastOutcome();
  RequestSense(io, path);
  io.RestoreOutcome(failure);
  return false;
}

}  // namespace

BuiltCdb BuildReadIdentity() { return Identity(opcode::kIdentity); }

BuiltCdb BuildReadIdentityAlt() { return Identity(opcode::kIdentityAlt); }

BuiltCdb BuildInquiry(std::size_t length) {
  return Vendor(opcode::kInquiry, 0, 0, 0, static_cast<std::uint8_t>(length));
}

BuiltCdb BuildReadStatus() { return Vendor(opcode::kShortRead, 0x04, 0x12, 0x00, 0); }

BuiltCdb BuildReadFlashType() { return Vendor(opcode::kShortRead, 0x04, 0x23, 0x04, 0); }

BuiltCdb BuildReadChipTag() { return Vendor(opcode::kShortRead, 0x04, 0x30, 0x08, 0); }

BuiltCdb BuildReadNvram(std::uint32_t address, std::size_t length) {
  return NvramCommand(kNvramReadMode, address, length, nvramselector::kRead);
}

BuiltCdb BuildWriteNvram(NvramWriteMode mode, std::uint32_t address, std::size_t length) {
  return NvramCommand(Byte(mode) & kNvramWriteModeBits, address, length, nvramselector::kWrite);
}

BuiltCdb BuildReadMemory(std::uint32_t address, std::size_t length) {
  BuiltCdb cdb = Vendor(opcode::kNvram, kNvramReadMode, 0, 0, 0);
  put_be16(Field<3, 2>(cdb), static_cast<std::uint32_t>(length));
  put_be16(Field<6, 2>(cdb), address);
  cdb.bytes[11] = nvramselector::kMemory;
  return cdb;
}

BuiltCdb BuildReadConfigWord() {
  BuiltCdb cdb = Vendor(opcode::kNvram, kNvramReadMode, 0, 0, 0x02);
  cdb.bytes[11] = nvramselector::kConfigWord;
  return cdb;
}

BuiltCdb BuildReadVendorB5(std::uint8_t first, std::uint8_t second) {
  BuiltCdb cdb = Vendor(opcode::kVendorB5, 0, 0, 0, 0);
  cdb.bytes[5] = first;
  cdb.bytes[8] = second;
  return cdb;
}

BuiltCdb BuildReadBuffer(ReadBufferMode mode, BufferId bufferId, std::uint32_t offset,
                         std::size_t length) {
  return BufferCommand(opcode::kReadBuffer, Byte(mode), Byte(bufferId), offset, length);
}

BuiltCdb BuildWriteBuffer(WriteBufferMode mode, BufferId bufferId, std::uint32_t offset,
                          std::size_t length) {
  if (mode == WriteBufferMode::ActivateDeferred) {
    // Activation carries no buffer id, offset or length.
    BuiltCdb cdb;
    cdb.bytes[0] = opcode::kWriteBuffer;
    cdb.bytes[1] = Byte(mode);
    cdb.length = kBufferCdbLength;
    return cdb;
  }
  return BufferCommand(opcode::kWriteBuffer, Byte(mode), Byte(bufferId), offset, length);
}

BuiltCdb BuildRequestSense() {
  return Vendor(opcode::kRequestSense, 0, 0, 0, static_cast<std::uint8_t>(kSenseLength));
}

bool ReadIdentity(Transport& io, std::string_view path, std::span<std::uint8_t> buffer,
                  std::uint32_t* transferred) {
  return SendIn(io, path, BuildReadIdentity(), buffer, transferred);
}

namespace {

IdentityRead Decoded(bool answered, std::span<const std::uint8_t> block) {
  if (!answered) return {};
  return {true, ParseIdentityBlock(block)};
}

}  // namespace

IdentityRead ReadBridgeIdentity(Transport& io, std::string_view path) {
  std::array<std::uint8_t, kIdentityBlockSize> block{};
  return Decoded(ReadIdentity(io, path, block), block);
}

IdentityRead ReadBridgeIdentityAlt(Transport& io, std::string_view path) {
  std::array<std::uint8_t, kIdentityBlockSize> block{};
  return Decoded(ReadIdentityAlt(io, path, block), block);
}

bool ReadIdentityAlt(Transport& io, std::string_view path, std::span<std::uint8_t> buffer,
                     std::uint32_t* transferred) {
  return SendIn(io, path, BuildReadIdentityAlt(), buffer, transferred);
}

bool Inquiry(Transport& io, std::string_view path, std::span<std::uint8_t> buffer) {
  return SendIn(io, path, BuildInquiry(buffer.size()), buffer);
}

bool ReadStatus(Transport& io, std::string_view path, std::uint8_t& status) {
  return SendIn(io, path, BuildReadStatus(), {&status, 1});
}

bool ReadFlashType(Transport& io, std::string_view path, std::span<std::uint8_t, 4> buffer) {
  return SendIn(io, path, BuildReadFlashType(), buffer);
}

bool ReadChipTag(Transport& io, std::string_view path, std::span<std::uint8_t> buffer) {
  if (buffer.size() < kChipTagMinimum) {
    // A caller bug, not a device answer: stop before anything is sent.
    std::fputs("Assertion failed: length >= 0x08\n", stderr);
    std::abort();
  }
  return SendIn(io, path, BuildReadChipTag(), buffer);
}

bool ReadNvram(Transport& io, std::string_view path, std::uint32_t address,
               std::span<std::uint8_t> buffer) {
  return SendIn(io, path, BuildReadNvram(address, buffer.size()), buffer);
}

bool WriteNvram(Transport& io, std::string_view path, NvramWriteMode mode, std::uint32_t address,
                std::span<const std::uint8_t> buffer) {
  return SendOut(io, path, BuildWriteNvram(mode, address, buffer.size()), buffer);
}

bool ReadMemory(Transport& io, std::string_view path, std::uint32_t address,
                std::span<std::uint8_t> buffer) {
  return SendIn(io, path, BuildReadMemory(address, buffer.size()), buffer);
}

bool ReadConfigWord(Transport& io, std::string_view path, std::span<std::uint8_t, 2> buffer) {
  return SendIn(io, path, BuildReadConfigWord(), buffer);
}

bool ReadVendorB5(Transport& io, std::string_view path, std::uint8_t first, std::uint8_t second,
                  std::span<std::uint8_t> buffer) {
  return SendIn(io, path, BuildReadVendorB5(first, second), buffer);
}

bool ReadBuffer(Transport& io, std::string_view path, ReadBufferMode mode, BufferId bufferId,
                std::uint32_t offset, std::span<std::uint8_t> buffer) {
  const BuiltCdb cdb = BuildReadBuffer(mode, bufferId, offset, buffer.size());
  return SenseOnFailure(io, path, SendIn(io, path, cdb, buffer));
}

bool WriteBuffer(Transport& io, std::string_view path, WriteBufferMode mode, BufferId bufferId,
                 std::uint32_t offset, std::span<const std::uint8_t> buffer) {
  const BuiltCdb cdb = BuildWriteBuffer(mode, bufferId, offset, buffer.size());
  return SenseOnFailure(io, path, SendOut(io, path, cdb, buffer));
}

bool RequestSense(Transport& io, std::string_view path) {
  std::array<std::uint8_t, kSenseLength> sense{};
  const bool ok = SendIn(io, path, BuildRequestSense(), sense);
  if (ok) io.KeepSense(sense);
  return ok;
}

bool WaitUntilReady(Transport& io, Clock& clock, std::string_view path) {
  // A failed read leaves whatever the transport wrote into the status byte, and the loop
  // goes on from that value; only the busy bit decides.
  std::uint8_t status = 0;
  ReadStatus(io, path, status);
  for (int rereads = 0; (status & kStatusBusy) != 0 && rereads < kReadyRereads; ++rereads) {
    clock.Sleep(kReadyPause);
    ReadStatus(io, path, status);
  }
  return (status & kStatusBusy) == 0;
}

bool IsLateRevision(Transport& io, std::string_view path) {
  std::array<std::uint8_t, 4> memory{};
  if (!ReadMemory(io, path, kLateRevisionAddress, memory)) return false;
  return memory[1] >= kLateRevisionFirst;
}

}  // namespace korvane
