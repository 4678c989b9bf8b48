#include "SimulatedBridge.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "ByteOrder.h"

namespace korvane::sim {
namespace {

constexpr std::uint8_t kErased = 0xFF;  // unprogrammed flash reads as all ones

constexpr std::size_t kInquiryStandardSize = 36;
constexpr std::size_t kInquiryTagSize = 4;
constexpr std::uint8_t kInquiryVersionSpc4 = 0x06;
constexpr std::uint8_t kInquiryResponseFormat = 0x02;

constexpr std::size_t kIdentitySize = 16;
constexpr std::uint8_t kStatusBusyBit = 0x01;
constexpr std::size_t kChipTagSize = 8;
constexpr std::size_t kVendorB5AnswerSize = 512;
constexpr std::size_t kMemorySize = 0x10000;
constexpr std::size_t kLateRevisionAt = 0xFDB1;
constexpr std::uint8_t kNvramWriteRecord = 1;
constexpr std::uint8_t kNvramOpenFlash = 3;  // the loader's signal that blocks follow

constexpr std::uint8_t kReadBufferData = 0x01;
constexpr std::uint8_t kReadBufferDescriptor = 0x03;
constexpr std::uint8_t kWriteBufferLoader = 0x06;
constexpr std::uint8_t kWriteBufferDeferred = 0x0E;
constexpr std::uint8_t kFirmwareBufferId = 0;
constexpr std::uint8_t kVendorBufferId = 1;
constexpr std::size_t kDescriptorSize = 4;
constexpr std::uint8_t kOffsetBoundary = 0x0A;  // 2^10: offsets in whole 1024-byte blocks
constexpr std::uint8_t kNoOffsets = 0xFF;       // the boot ROM takes no buffer offsets
constexpr std::uint32_t kBlockSize = 1u << kOffsetBoundary;

// Where a firmware image keeps what the boot code looks at.
constexpr std::size_t kHeaderSize = 10;
constexpr std::size_t kChipNumberAt = 4;
constexpr std::array<std::uint8_t, 4> kHeaderStart{0x01, 0x00, 0x15, 0x2D};
constexpr std::array<std::uint8_t, 4> kFirmwareKind{0x03, 0x03, 0x05, 0x05};
constexpr std::array<std::uint8_t, 4> kLoaderKind{0x04, 0x04, 0x06, 0x06};
constexpr std::size_t kModelAt = 0x0A;
constexpr std::string_view kModelPrefix = "JMicron JMS";  // then the chip number's last 3 digits
constexpr std::size_t kHeaderOneAt = 0x18;
constexpr std::size_t kImageVersionAt = 0x19;
constexpr std::size_t kImageSignatureAt = 0x200;
constexpr std::array<std::uint8_t, 4> kImageSignature{0x5A, 0xC3, 0x69, 0xE1};
constexpr std::size_t kSecondBlockBegin = 512;
constexpr std::size_t kStampAt = 0x204;
constexpr std::size_t kStampSize = 4;
constexpr std::size_t kVersionCopyAt = 0x208;  // the JMS583 keeps its version there too
constexpr std::size_t kCodeBegin = 0x400;
constexpr std::size_t kTailVersionBack = 0x14;  // the version again, this far before the end
constexpr std::size_t kTrailerBack = 0x10;      // the JMS578's trailer
constexpr std::array<std::uint8_t, 8> kJms578Trailer{0x55, 0xAA, 0xAA, 0x55, '5', '7', '8', '0'};
constexpr std::uint16_t kJms578ChipNumber = 0x0579;
constexpr std::uint16_t kJms583ChipNumber = 0x0583;
// What the factory image's code region holds: a fixed filler, since nothing reads the code.
constexpr std::uint8_t kCodeFiller = 0x5A;

std::uint32_t Field16(std::span<const std::uint8_t> cdb, std::size_t at) {
  return get_be16(std::span<const std::uint8_t, 2>(cdb.subspan(at, 2)));
}

std::uint32_t Field24(std::span<const std::uint8_t> cdb, std::size_t at) {
  return get_be24(std::span<const std::uint8_t, 3>(cdb.subspan(at, 3)));
}

/// True when [address, address + length) lies inside a store of the given size.
bool Inside(std::size_t address, std::size_t length, std::size_t size) {
  return address <= size && length <= size - address;
}

BridgeResponse Answer(std::span<const std::uint8_t> bytes) {
  return {.dataIn = std::vector<std::uint8_t>(bytes.begin(), bytes.end())};
}

BridgeResponse Taken(std::uint32_t count) { return {.dataOutTaken = count}; }

/// Copies text into a blank-padded field, as INQUIRY strings are.
void PutPadded(std::span<std::uint8_t> field, std::string_view text) {
  std::ranges::fill(field, ' ');
  std::copy_n(text.begin(), std::min(field.size(), text.size()), field.begin());
}

std::array<std::uint8_t, kSenseSize> MakeSense(std::uint8_t key, std::uint8_t asc) {
  std::array<std::uint8_t, kSenseSize> sense{};
  sense[0] = 0x70;  // current error, fixed format
  sense[2] = key;
  sense[7] = kSenseSize - 8;  // additional sense length
  sense[12] = asc;
  return sense;
}

void EncodeVersion(std::span<std::uint8_t, 4> out, FirmwareVersion version,
                   VersionEncoding encoding) {
  const bool ascii = encoding == VersionEncoding::AsciiDigits;
  for (std::size_t i = 0; i < out.size(); ++i) {
    out[i] = static_cast<std::uint8_t>(ascii ? '0' + version[i] : version[i]);
  }
}

FirmwareVersion DecodeVersion(std::span<const std::uint8_t, 4> in, VersionEncoding encoding) {
  FirmwareVersion version{};
  const bool ascii = encoding == VersionEncoding::AsciiDigits;
  for (std::size_t i = 0; i < in.size(); ++i) {
    version[i] = static_cast<std::uint8_t>(ascii ? in[i] - '0' : in[i]);
  }
  return version;
}

/// The first bytes of an image: its maker, the chip it was built for and what kind it is.
std::array<std::uint8_t, kHeaderSize> Header(std::uint16_t chipNumber,
                                             std::span<const std::uint8_t, 4> kind) {
  std::array<std::uint8_t, kHeaderSize> header{};
  const std::span<std::uint8_t, kHeaderSize> all(header);
  std::ranges::copy(kHeaderStart, header.begin());
  put_be16(all.subspan<kChipNumberAt, 2>(), chipNumber);
  std::ranges::copy(kind, header.begin() + kChipNumberAt + 2);
  return header;
}

/// True when the image starts with the header of that kind for that chip.
bool HasHeader(std::span<const std::uint8_t> image, std::uint16_t chipNumber,
               std::span<const std::uint8_t, 4> kind) {
  return image.size() >= kHeaderSize &&
         std::ranges::equal(image.first(kHeaderSize), Header(chipNumber, kind));
}

/// The boot code starts an image only when it carries the signature and was built for this chip;
/// another chip's firmware would not run, so the boot ROM stays in charge.
bool Bootable(std::span<const std::uint8_t> flash, std::uint16_t chipNumber) {
  if (flash.size() < kImageSignatureAt + kImageSignature.size()) return false;
  const bool signedImage =
      std::ranges::equal(flash.subspan(kImageSignatureAt, kImageSignature.size()), kImageSignature);
  return signedImage && get_be16(flash.subspan<kChipNumberAt, 2>()) == chipNumber;
}

/// "JMicron JMS" and the last three hex digits of the chip number: "JMicron JMS583".
void PutModel(std::span<std::uint8_t> image, std::uint16_t chipNumber) {
  constexpr std::string_view kDigits = "0123456789ABCDEF";
  auto at = std::ranges::copy(kModelPrefix, image.begin() + kModelAt).out;
  for (int shift = 8; shift >= 0; shift -= 4) *at++ = kDigits[(chipNumber >> shift) & 0xF];
}

/// Bytes 0x000-0x01C: the header, the model text, a byte 01 and the version.
void PutImageHeader(std::span<std::uint8_t> image, const BridgeConfig& config) {
  std::ranges::copy(Header(config.chipNumber, kFirmwareKind), image.begin());
  PutModel(image, config.chipNumber);
  image[kHeaderOneAt] = 0x01;
  EncodeVersion(image.subspan<kImageVersionAt, 4>(), config.firmwareVersion,
                config.versionEncoding);
}

/// The version again before the end of the area and, on the JMS578, its trailer.
void PutImageEnd(std::span<std::uint8_t> image, const BridgeConfig& config) {
  const auto tail = image.end() - kTailVersionBack;
  std::fill(tail, image.end(), 0);
  std::ranges::copy(image.subspan<kImageVersionAt, 4>(), tail);
  if (config.chipNumber == kJms578ChipNumber) {
    std::ranges::copy(kJms578Trailer, image.end() - kTrailerBack);
  }
}

/// The flash as it leaves the factory: a bootable image of the configured version that has the
/// layout of a whole firmware area, else erased. A flash too small for that layout holds the
/// image's first two blocks as far as they fit. One pass fills it: the code region's filler,
/// with the fields and the zeros around them written over it.
std::vector<std::uint8_t> FactoryFlash(const BridgeConfig& config) {
  const std::size_t size = config.firmwareCapacity;
  if (config.romMode || size < kImageSignatureAt + kImageSignature.size()) {
    return std::vector<std::uint8_t>(size, kErased);
  }
  const bool wholeArea = size >= kCodeBegin + kTailVersionBack;
  std::vector<std::uint8_t> flash(size, wholeArea ? kCodeFiller : 0);
  const std::span<std::uint8_t> image(flash);
  std::fill_n(image.begin(), std::min(size, kCodeBegin), 0);
  PutImageHeader(image, config);
  std::ranges::copy(kImageSignature, image.begin() + kImageSignatureAt);
  if (config.chipNumber == kJms583ChipNumber && size >= kVersionCopyAt + 4) {
    std::ranges::copy(image.subspan<kImageVersionAt, 4>(), image.begin() + kVersionCopyAt);
  }
  if (wholeArea) PutImageEnd(image, config);
  return flash;
}

std::vector<std::uint8_t> FactoryNvram(const BridgeConfig& config) {
  std::vector<std::uint8_t> nvram(std::size_t{config.nvramAddress} + kNvramRecordSize, kErased);
  std::ranges::copy(config.nvramRecord, nvram.begin() + config.nvramAddress);
  return nvram;
}

std::vector<std::uint8_t> FactoryMemory(const BridgeConfig& config) {
  std::vector<std::uint8_t> memory(kMemorySize, 0);
  memory[kLateRevisionAt] = config.memoryFdb1;
  return memory;
}

void Invert(std::span<std::uint8_t> bytes, std::size_t index) {
  if (bytes.empty()) return;
  bytes[std::min(index, bytes.size() - 1)] ^= 0xFF;
}

}  // namespace

SimulatedBridge::SimulatedBridge(BridgeConfig config)
    : config_(std::move(config)),
      runningVersion_(config_.firmwareVersion),
      flash_(FactoryFlash(config_)),
      nvram_(FactoryNvram(config_)),
      memory_(FactoryMemory(config_)),
      busyReadsLeft_(config_.busyReads),
      sense_(MakeSense(sense::kNoSense, 0)) {
  if (config_.romMode) {
    runState_ = RunState::BootRom;
    runningVersion_ = {};
  }
}

std::span<const std::uint8_t> SimulatedBridge::nvramRecord() const {
  return std::span(nvram_).subspan(config_.nvramAddress, kNvramRecordSize);
}

BridgeResponse SimulatedBridge::Execute(std::span<const std::uint8_t> cdb, Direction direction,
                                        std::span<const std::uint8_t> dataOut) {
  if (!present_) return {.present = false};
  const DecodedCdb decoded = Decode(cdb, direction);
  log_.push_back({decoded.operation, {cdb.begin(), cdb.end()}});
  if (decoded.check == CdbCheck::ForeignOpcode) ++mediumAccesses_;
  ++received_[static_cast<std::size_t>(decoded.operation)];
  ++receivedAll_;
  BridgeResponse response = Respond(decoded, cdb, direction, dataOut, FindFault(decoded.operation));
  // Sense data describes the last command; a later command that completes clears it.
  if (response.status == scsi::kGood && decoded.operation != Operation::RequestSense) {
    sense_ = MakeSense(sense::kNoSense, 0);
  }
  return response;
}

void SimulatedBridge::Replug() {
  present_ = true;
  busyReadsLeft_ = config_.busyReads;
  sense_ = MakeSense(sense::kNoSense, 0);
  Boot();
}

void SimulatedBridge::RunInstead(std::optional<FirmwareVersion> version) {
  runState_ = version ? RunState::Firmware : RunState::BootRom;
  runningVersion_ = version.value_or(FirmwareVersion{});
}

void SimulatedBridge::Boot() {
  const std::span<const std::uint8_t> flash(flash_);
  flashOpen_ = false;  // a loader lives in memory only and is gone after a power cycle
  if (!unwrittenBlocks_.empty() || !Bootable(flash, config_.chipNumber)) {
    runState_ = RunState::BootRom;
    runningVersion_ = {};
    return;
  }
  runState_ = RunState::Firmware;
  runningVersion_ = DecodeVersion(flash.subspan<kImageVersionAt, 4>(), config_.versionEncoding);
}

BridgeResponse SimulatedBridge::Respond(const DecodedCdb& decoded,
                                        std::span<const std::uint8_t> cdb, Direction direction,
                                        std::span<const std::uint8_t> dataOut, const Fault* fault) {
  if (fault != nullptr && fault->effect == FaultEffect::Late) {
    BridgeResponse response = Respond(decoded, cdb, direction, dataOut, nullptr);
    response.delay = fault->delay;
    return response;
  }
  if (fault != nullptr && fault->effect != FaultEffect::Corrupt) {
    return Inject(*fault, decoded.operation);
  }
  // The chip looks at the opcode before the fields: one it lacks is refused as an opcode, however
  // the rest of the CDB is filled.
  if (LacksOpcode(decoded.operation)) return Unsupported();
  if (!Answerable(decoded.check)) return Reject(decoded.check);
  if (fault != nullptr) return RespondCorrupted(*fault, decoded.operation, cdb, direction, dataOut);
  return Dispatch(decoded.operation, cdb, dataOut);
}

const Fault* SimulatedBridge::FindFault(Operation operation) const {
  const unsigned nthOfOperation = received_[static_cast<std::size_t>(operation)];
  // The first fault in the list that matches strikes, whether it counts this operation or all.
  const auto found = std::ranges::find_if(config_.faults, [&](const Fault& fault) {
    if (fault.anyCommand) return fault.nth == receivedAll_;
    return fault.operation == operation && fault.nth == nthOfOperation;
  });
  return found == config_.faults.end() ? nullptr : &*found;
}

BridgeResponse SimulatedBridge::Inject(const Fault& fault, Operation operation) {
  switch (fault.effect) {
    case FaultEffect::Vanish:
      present_ = false;
      return {.present = false};
    case FaultEffect::Busy:
      if (operation == Operation::ReadStatus) return Answer(std::array{kStatusBusyBit});
      return {.status = scsi::kBusy};
    case FaultEffect::Refuse:
      return CheckCondition(sense::kIllegalRequest, sense::kInvalidField);
    case FaultEffect::Fail:
    case FaultEffect::Corrupt:
    case FaultEffect::Late:
      break;
  }
  return CheckCondition(sense::kHardwareError, sense::kInternalFailure);
}

BridgeResponse SimulatedBridge::RespondCorrupted(const Fault& fault, Operation operation,
                                                 std::span<const std::uint8_t> cdb,
                                                 Direction direction,
                                                 std::span<const std::uint8_t> dataOut) {
  if (direction == Direction::Out) {
    std::vector<std::uint8_t> damaged(dataOut.begin(), dataOut.end());
    Invert(damaged, fault.byte);
    return Dispatch(operation, cdb, damaged);
  }
  BridgeResponse response = Dispatch(operation, cdb, dataOut);
  Invert(response.dataIn, fault.byte);
  return response;
}

BridgeResponse SimulatedBridge::Dispatch(Operation operation, std::span<const std::uint8_t> cdb,
                                         std::span<const std::uint8_t> dataOut) {
  // Respond has refused every opcode this chip lacks (LacksOpcode).
  switch (operation) {
    case Operation::Inquiry:
      return Inquiry(cdb);
    case Operation::RequestSense:
      return RequestSense(cdb);
    case Operation::ReadIdentity:
      return Identity(config_.identity);
    case Operation::ReadIdentityAlt:
      return Identity(config_.identityAlt);
    case Operation::ReadStatus:
      return Status();
    case Operation::ReadFlashType:
      return config_.flashType ? Answer(*config_.flashType) : MissingItem();
    case Operation::ReadChipTag:
      return ChipTag();
    case Operation::ReadNvram:
      return ReadNvram(cdb);
    case Operation::WriteNvram:
      return WriteNvram(cdb, dataOut);
    case Operation::ReadMemory:
      return ReadMemory(cdb);
    case Operation::ReadConfigWord:
      return config_.configWord ? Answer(*config_.configWord) : MissingItem();
    case Operation::ReadVendorB5:
      return Answer(std::vector<std::uint8_t>(kVendorB5AnswerSize, 0));
    case Operation::ReadBuffer:
      return ReadBuffer(cdb);
    case Operation::WriteBuffer:
      return WriteBuffer(cdb, dataOut);
    case Operation::Unknown:
      break;
  }
  return Unsupported();
}

bool SimulatedBridge::LacksOpcode(Operation operation) const {
  if (operation == Operation::Inquiry || operation == Operation::RequestSense) return false;
  // Without vendor commands every other opcode is missing, an unknown item's group included.
  if (!config_.vendorCommands) return true;
  if (operation == Operation::ReadIdentity) return !config_.identity;
  if (operation == Operation::ReadIdentityAlt) return !config_.identityAlt;
  return operation == Operation::ReadVendorB5 && !config_.vendorB5;
}

BridgeResponse SimulatedBridge::Reject(CdbCheck check) {
  if (check == CdbCheck::ForeignOpcode) return Unsupported();
  return InvalidField();
}

BridgeResponse SimulatedBridge::CheckCondition(std::uint8_t key, std::uint8_t asc) {
  sense_ = MakeSense(key, asc);
  return {.status = scsi::kCheckCondition};
}

BridgeResponse SimulatedBridge::Inquiry(std::span<const std::uint8_t> cdb) {
  const InquiryConfig& inquiry = config_.inquiry;
  if (inquiry.fails) return Unsupported();
  std::array<std::uint8_t, kInquiryStandardSize + kInquiryTagSize> data{};
  const bool tagged = !inquiry.chipTag.empty();
  const std::size_t size = kInquiryStandardSize + (tagged ? kInquiryTagSize : 0);
  data[2] = kInquiryVersionSpc4;
  data[3] = kInquiryResponseFormat;
  data[4] = static_cast<std::uint8_t>(size - 5);  // additional length
  const std::span<std::uint8_t> all(data);
  PutPadded(all.subspan(8, 8), inquiry.vendor);
  PutPadded(all.subspan(16, 16), inquiry.product);
  PutPadded(all.subspan(32, 4), inquiry.revision);
  if (tagged) PutPadded(all.subspan(kInquiryStandardSize, kInquiryTagSize), inquiry.chipTag);
  // The allocation length has two bytes; bytes 36-39 are sent, zeros on a chip without a tag.
  return Answer(std::span(data).first(std::min<std::size_t>(Field16(cdb, 3), data.size())));
}

std::array<std::uint8_t, kSenseSize> SimulatedBridge::TakeSense() {
  return std::exchange(sense_, MakeSense(sense::kNoSense, 0));
}

BridgeResponse SimulatedBridge::RequestSense(std::span<const std::uint8_t> cdb) {
  const std::size_t count = std::min<std::size_t>(cdb[4], sense_.size());
  BridgeResponse response = Answer(std::span(sense_).first(count));
  sense_ = MakeSense(sense::kNoSense, 0);  // reported once, then gone
  return response;
}

BridgeResponse SimulatedBridge::Identity(const std::optional<IdentityConfig>& identity) {
  if (!identity) return Unsupported();
  if (identity->bytes) return Answer(*identity->bytes);
  const bool firmware = runState_ == RunState::Firmware;
  std::array<std::uint8_t, kIdentitySize> block{};
  const std::span<std::uint8_t, kIdentitySize> all(block);
  std::ranges::copy(identity->signature, block.begin());
  put_be16(all.subspan<2, 2>(), identity->usbVendor);
  put_be16(all.subspan<4, 2>(), identity->usbProduct);
  block[6] = firmware ? identity->codeVersion : 0;
  block[7] = identity->codeVersionMinor;
  std::ranges::copy(identity->chipCode, block.begin() + 8);
  block[11] = static_cast<std::uint8_t>(identity->revision);
  std::ranges::copy(runningVersion_, block.begin() + 12);
  return Answer(block);
}

BridgeResponse SimulatedBridge::Status() {
  const bool busy = busyReadsLeft_ > 0;
  if (busy) --busyReadsLeft_;
  return Answer(std::array{busy ? kStatusBusyBit : std::uint8_t{0}});
}

BridgeResponse SimulatedBridge::ChipTag() {
  if (!config_.chipTag) return MissingItem();
  std::array<std::uint8_t, kChipTagSize> tag{};
  std::copy_n(config_.chipTag->begin(), std::min(tag.size(), config_.chipTag->size()), tag.begin());
  return Answer(tag);
}

BridgeResponse SimulatedBridge::ReadNvram(std::span<const std::uint8_t> cdb) {
  const std::uint32_t length = Field24(cdb, 2);
  const std::uint32_t address = Field24(cdb, 8);
  if (!Inside(address, length, nvram_.size())) return InvalidField();
  return Answer(std::span(nvram_).subspan(address, length));
}

BridgeResponse SimulatedBridge::WriteNvram(std::span<const std::uint8_t> cdb,
                                           std::span<const std::uint8_t> data) {
  const std::uint32_t length = Field24(cdb, 2);
  const std::uint32_t address = Field24(cdb, 8);
  switch (cdb[1]) {
    case kNvramWriteRecord:
      return WriteRecord(address, length, data);
    case kNvramOpenFlash:
      return OpenFlash(address, length, data);
    default:
      return InvalidField();
  }
}

BridgeResponse SimulatedBridge::WriteRecord(std::uint32_t address, std::uint32_t length,
                                            std::span<const std::uint8_t> data) {
  if (data.size() < length || !Inside(address, length, nvram_.size())) return InvalidField();
  std::copy_n(data.begin(), length, nvram_.begin() + address);
  return Taken(length);
}

BridgeResponse SimulatedBridge::OpenFlash(std::uint32_t address, std::uint32_t length,
                                          std::span<const std::uint8_t> data) {
  // Only a running loader knows this request; it carries nothing but the request itself.
  if (runState_ != RunState::Loader || address != 0 || length != 0 || !data.empty()) {
    return InvalidField();
  }
  flashOpen_ = true;
  return Taken(0);
}

BridgeResponse SimulatedBridge::ReadMemory(std::span<const std::uint8_t> cdb) {
  const std::uint32_t length = Field16(cdb, 3);
  const std::uint32_t address = Field16(cdb, 6);
  if (!Inside(address, length, memory_.size())) return InvalidField();
  return Answer(std::span(memory_).subspan(address, length));
}

BridgeResponse SimulatedBridge::ReadBuffer(std::span<const std::uint8_t> cdb) {
  const std::uint32_t offset = Field24(cdb, 3);
  const std::uint32_t length = Field24(cdb, 6);
  if (cdb[2] == kVendorBufferId) return ReadBufferOne(cdb[1], offset, length);
  if (cdb[2] != kFirmwareBufferId) return InvalidField();
  switch (cdb[1]) {
    case kReadBufferDescriptor:
      return offset == 0 ? Descriptor(length) : InvalidField();
    case kReadBufferData:
      return ReadFlash(offset, length);
    default:
      return InvalidField();
  }
}

BridgeResponse SimulatedBridge::WriteBuffer(std::span<const std::uint8_t> cdb,
                                            std::span<const std::uint8_t> data) {
  const std::uint32_t offset = Field24(cdb, 3);
  const std::uint32_t length = Field24(cdb, 6);
  if (cdb[2] != kFirmwareBufferId) return InvalidField();
  // Activation (mode 15) is never accepted: new firmware runs only after a power cycle.
  switch (cdb[1]) {
    case kWriteBufferLoader:
      return StartLoader(offset, length, data);
    case kWriteBufferDeferred:
      return StoreFirmware(offset, length, data);
    default:
      return InvalidField();
  }
}

BridgeResponse SimulatedBridge::StartLoader(std::uint32_t offset, std::uint32_t length,
                                            std::span<const std::uint8_t> data) {
  // The boot ROM takes a loader whole, in one command that fills exactly its buffer.
  if (runState_ != RunState::BootRom || offset != 0 || length != config_.romCapacity) {
    return InvalidField();
  }
  if (data.size() < length || !HasHeader(data.first(length), config_.chipNumber, kLoaderKind)) {
    return InvalidField();
  }
  runState_ = RunState::Loader;
  flashOpen_ = false;
  return Taken(length);
}

BridgeResponse SimulatedBridge::Descriptor(std::uint32_t length) const {
  // The loader takes blocks at offsets like the firmware; the boot ROM takes one whole loader.
  const bool offsets = runState_ != RunState::BootRom;
  std::array<std::uint8_t, kDescriptorSize> descriptor{};
  descriptor[0] = offsets ? kOffsetBoundary : kNoOffsets;
  put_be24(std::span(descriptor).subspan<1, 3>(),
           offsets ? config_.firmwareCapacity : config_.romCapacity);
  return Answer(std::span(descriptor).first(std::min<std::size_t>(length, kDescriptorSize)));
}

BridgeResponse SimulatedBridge::ReadBufferOne(std::uint8_t mode, std::uint32_t offset,
                                              std::uint32_t length) {
  if (!config_.bufferOne || offset != 0) return InvalidField();
  const BufferOneConfig& buffer = *config_.bufferOne;
  if (mode == kReadBufferDescriptor) {
    std::array<std::uint8_t, kDescriptorSize> descriptor{};
    descriptor[0] = buffer.boundary;
    put_be24(std::span(descriptor).subspan<1, 3>(), static_cast<std::uint32_t>(buffer.data.size()));
    return Answer(std::span(descriptor).first(std::min<std::size_t>(length, kDescriptorSize)));
  }
  if (mode != kReadBufferData) return InvalidField();
  return Answer(std::span(buffer.data).first(std::min<std::size_t>(length, buffer.data.size())));
}

BridgeResponse SimulatedBridge::ReadFlash(std::uint32_t offset, std::uint32_t length) {
  if (runState_ == RunState::BootRom) return InvalidField();
  if (offset % kBlockSize != 0 || !Inside(offset, length, flash_.size())) return InvalidField();
  return Answer(std::span(flash_).subspan(offset, length));
}

BridgeResponse SimulatedBridge::StoreFirmware(std::uint32_t offset, std::uint32_t length,
                                              std::span<const std::uint8_t> data) {
  const bool writable =
      runState_ == RunState::Firmware || (runState_ == RunState::Loader && flashOpen_);
  if (!writable) return InvalidField();
  if (offset % kBlockSize != 0 || data.size() < length) return InvalidField();
  if (!Inside(offset, length, flash_.size())) return InvalidField();
  std::copy_n(data.begin(), length, flash_.begin() + offset);
  flashWritten_ = true;
  // Stored for the next power-on only: what runs now and its version stay as they are.
  if (offset < kBlockSize && offset + length > kSecondBlockBegin) StampSecondBlock();
  NoteRewrite(offset, length);
  return Taken(length);
}

void SimulatedBridge::NoteRewrite(std::uint32_t offset, std::uint32_t length) {
  // The boot code checks the whole image before it starts it, so a rewrite that stops part of
  // the way leaves nothing bootable, however good its first block looks.
  const std::size_t blocks = (flash_.size() + kBlockSize - 1) / kBlockSize;
  if (unwrittenBlocks_.empty()) unwrittenBlocks_.assign(blocks, true);
  const std::size_t end =
      std::min<std::size_t>((std::size_t{offset} + length + kBlockSize - 1) / kBlockSize, blocks);
  for (std::size_t block = offset / kBlockSize; block < end; ++block) {
    unwrittenBlocks_[block] = false;
  }
  if (std::ranges::none_of(unwrittenBlocks_, [](bool unwritten) { return unwritten; })) {
    unwrittenBlocks_.clear();
  }
}

void SimulatedBridge::StampSecondBlock() {
  // The bridge keeps its own record of programming cycles in the image's second block, which is
  // why a read-back of bytes 512-1023 never matches the image that was sent.
  if (flash_.size() < kStampAt + kStampSize) return;
  ++secondBlockPrograms_;
  const std::array<std::uint8_t, kStampSize> stamp{
      0x4B, 0x53, static_cast<std::uint8_t>(secondBlockPrograms_ >> 8),
      static_cast<std::uint8_t>(secondBlockPrograms_)};
  std::ranges::copy(stamp, flash_.begin() + kStampAt);
}

}  // namespace korvane::sim
