#include "SimulatedBridge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace korvane::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

// CDBs written out from the protocol tables, independent of the builders in device/.
const Bytes kReadIdentity{0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kReadIdentityAlt{0xFE, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kReadStatus{0xFF, 0x04, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kReadChipTag{0xFF, 0x04, 0x30, 0x08, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kReadFlashType{0xFF, 0x04, 0x23, 0x04, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kUnknownItem{0xFF, 0x04, 0x99, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes kReadConfigWord{0xDF, 0x10, 0, 0, 0x02, 0, 0, 0, 0, 0, 0, 0xFF};
const Bytes kReadVendorB5{0xB5, 0, 0, 0, 0, 0x64, 0, 0, 0x01, 0, 0, 0};
const Bytes kRequestSense{0x03, 0, 0, 0, 0x12, 0, 0, 0, 0, 0, 0, 0};
const Bytes kDescriptor{0x3C, 0x03, 0, 0, 0, 0, 0, 0, 0x04, 0};
const Bytes kActivate{0x3B, 0x0F, 0, 0, 0, 0, 0, 0, 0, 0};

constexpr std::uint16_t kJms583Number = 0x0583;
constexpr std::uint16_t kJms578Number = 0x0579;
using Kind = std::array<std::uint8_t, 4>;
constexpr Kind kFirmwareKind{0x03, 0x03, 0x05, 0x05};
constexpr Kind kLoaderKind{0x04, 0x04, 0x06, 0x06};

std::uint8_t B(std::uint32_t value, int shift) { return static_cast<std::uint8_t>(value >> shift); }

Bytes Inquiry(std::uint16_t length) {
  return {0x12, 0, 0, B(length, 8), B(length, 0), 0, 0, 0, 0, 0, 0, 0};
}

Bytes Nvram(std::uint8_t byte1, std::uint32_t address, std::uint32_t length, std::uint8_t item) {
  return {0xDF, byte1, B(length, 16),  B(length, 8),  B(length, 0),  0,
          0,    0,     B(address, 16), B(address, 8), B(address, 0), item};
}
Bytes ReadNvram(std::uint32_t address, std::uint32_t length) {
  return Nvram(0x10, address, length, 0xFA);
}
Bytes ReadMemory(std::uint16_t address, std::uint16_t length) {
  return {0xDF, 0x10, 0, B(length, 8), B(length, 0), 0, B(address, 8), B(address, 0),
          0,    0,    0, 0xFD};
}
Bytes Buffer(std::uint8_t opcode, std::uint8_t mode, std::uint8_t id, std::uint32_t offset,
             std::uint32_t length) {
  return {opcode,       mode,          id,           B(offset, 16), B(offset, 8),
          B(offset, 0), B(length, 16), B(length, 8), B(length, 0),  0};
}
Bytes WriteBlock(std::uint32_t offset) { return Buffer(0x3B, 0x0E, 0, offset, 1024); }
Bytes ReadBlock(std::uint32_t offset) { return Buffer(0x3C, 0x01, 0, offset, 1024); }
Bytes LoaderDownload(std::uint32_t length) { return Buffer(0x3B, 0x06, 0, 0, length); }
const Bytes kOpenFlash = Nvram(0x03, 0, 0, 0xFB);

BridgeResponse Send(SimulatedBridge& bridge, const Bytes& cdb) {
  return bridge.Execute(cdb, Direction::In, {});
}
BridgeResponse Send(SimulatedBridge& bridge, const Bytes& cdb, std::span<const std::uint8_t> data) {
  return bridge.Execute(cdb, Direction::Out, data);
}
/// Sends data-out for the write commands (WRITE BUFFER, the 0xDF write) and data-in otherwise.
BridgeResponse SendEither(SimulatedBridge& bridge, const Bytes& cdb, const Bytes& data) {
  const bool out = cdb[0] == 0x3B || (cdb[0] == 0xDF && cdb[11] == 0xFB);
  return out ? Send(bridge, cdb, data) : Send(bridge, cdb);
}

/// Sense key and additional sense code that REQUEST SENSE reports now.
std::pair<int, int> Sense(SimulatedBridge& bridge) {
  const Bytes sense = Send(bridge, kRequestSense).dataIn;
  EXPECT_EQ(sense.size(), 18u);
  EXPECT_EQ(sense[0], 0x70);
  return {sense[2], sense[12]};
}

/// A pattern under the header 01 00 15 2D, the chip number and the kind of image.
Bytes Headed(std::size_t size, std::uint16_t chipNumber, Kind kind) {
  Bytes image(size);
  for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + i / 1024);
  const Bytes header{0x01, 0x00, 0x15, 0x2D, B(chipNumber, 8), B(chipNumber, 0)};
  std::ranges::copy(header, image.begin());
  std::ranges::copy(kind, image.begin() + 6);
  return image;
}

/// A loader image: the header with 04 04 06 06 and no signature.
Bytes Loader(std::size_t size, std::uint16_t chipNumber, Kind kind = kLoaderKind) {
  return Headed(size, chipNumber, kind);
}

/// A firmware image: the header, its version at 0x19 and the signature at 0x200.
Bytes Image(std::size_t size, std::uint16_t chipNumber, std::array<std::uint8_t, 4> version,
            bool signed_ = true) {
  Bytes image = Headed(size, chipNumber, kFirmwareKind);
  std::ranges::copy(version, image.begin() + 0x19);
  const Bytes signature{0x5A, 0xC3, 0x69, 0xE1, 0, 0, 0, 0};
  if (signed_) std::ranges::copy(signature, image.begin() + 0x200);
  return image;
}

std::size_t WriteImage(SimulatedBridge& bridge, const Bytes& image) {
  std::size_t accepted = 0;
  for (std::uint32_t at = 0; at < image.size(); at += 1024) {
    const auto block = std::span(image).subspan(at, 1024);
    accepted += Send(bridge, WriteBlock(at), block).status == scsi::kGood ? 1 : 0;
  }
  return accepted;
}

Bytes ReadBack(SimulatedBridge& bridge, std::size_t size) {
  Bytes flash;
  for (std::uint32_t at = 0; at < size; at += 1024) {
    const Bytes block = Send(bridge, ReadBlock(at)).dataIn;
    flash.insert(flash.end(), block.begin(), block.end());
  }
  return flash;
}

Bytes VersionOf(SimulatedBridge& bridge) {
  const Bytes block = Send(bridge, kReadIdentity).dataIn;
  return {block.begin() + 12, block.end()};
}

/// Identity byte 6: the firmware's code version, zero from the boot ROM and from a loader.
std::uint8_t CodeVersionOf(SimulatedBridge& bridge) {
  return Send(bridge, kReadIdentity).dataIn.at(6);
}

/// True when the bytes read back equal the image everywhere but in its second block.
bool MatchesOutsideSecondBlock(const Bytes& flash, const Bytes& image) {
  return flash.size() == image.size() &&
         std::equal(image.begin(), image.begin() + 512, flash.begin()) &&
         std::equal(image.begin() + 1024, image.end(), flash.begin() + 1024);
}

/// A JMS583 bridge whose boot ROM runs; with a loader sent, the loader runs.
SimulatedBridge RomBridge(bool withLoader, std::vector<Fault> faults = {}) {
  BridgeConfig config = DefaultConfig(Chip::Jms583);
  config.romMode = true;
  config.faults = std::move(faults);
  SimulatedBridge bridge(config);
  if (withLoader) {
    EXPECT_EQ(Send(bridge, LoaderDownload(65536), Loader(65536, kJms583Number)).status,
              scsi::kGood);
  }
  return bridge;
}

TEST(SimulatedBridgeTest, IdentityBlockOfEachChip) {
  const struct {
    Chip chip;
    Bytes block;
  } cases[] = {
      {Chip::Jms583,
       {0xF4, 0xE7, 0x15, 0x2D, 0x05, 0x83, 0x03, 0x05, '5', '8', '3', '1', 0, 0, 0, 8}},
      {Chip::Jms578,
       {0xF4, 0xE7, 0x15, 0x2D, 0x05, 0x78, 0x03, 0x05, '5', '7', '9', '1', 0, 1, 0, 3}},
  };
  for (const auto& c : cases) {
    SimulatedBridge bridge(DefaultConfig(c.chip));
    EXPECT_EQ(Send(bridge, kReadIdentity).dataIn, c.block);
    EXPECT_EQ(Send(bridge, kReadIdentityAlt).dataIn, c.block);
  }
  BridgeConfig config = DefaultConfig(Chip::Jms583);
  config.identityAlt.reset();
  SimulatedBridge bridge(config);
  EXPECT_EQ(Send(bridge, kReadIdentityAlt).status, scsi::kCheckCondition);
}

TEST(SimulatedBridgeTest, InquiryAnswersTheAllocationLength) {
  const struct {
    Chip chip;
    Bytes cdb;
    std::string expectTail;  // bytes 32 up to what was answered
  } cases[] = {
      {Chip::Jms583, Inquiry(40), std::string("0100j583")},
      {Chip::Jms578, Inquiry(40), std::string("0100\0\0\0\0", 8)},
      {Chip::Jms583, Inquiry(48), std::string("0100j583")},
      {Chip::Jms583, Inquiry(34), "01"},
      {Chip::Jms583, Inquiry(300), std::string("0100j583")},
      {Chip::Jms583, {0x12, 0, 0, 0x01, 0x2C, 0}, std::string("0100j583")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.cdb));
    SimulatedBridge bridge(DefaultConfig(c.chip));
    const Bytes data = Send(bridge, c.cdb).dataIn;
    ASSERT_EQ(data.size(), 32 + c.expectTail.size());
    EXPECT_EQ(data[0], 0x00);
    EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 32), "JMicron Generic         ");
    EXPECT_EQ(std::string(data.begin() + 32, data.end()), c.expectTail);
  }
  BridgeConfig failing = DefaultConfig(Chip::Jms583);
  failing.inquiry.fails = true;
  SimulatedBridge bridge(failing);
  EXPECT_EQ(Send(bridge, Inquiry(40)).status, scsi::kCheckCondition);
}

TEST(SimulatedBridgeTest, StatusIsBusyForTheConfiguredReadsAfterEachPowerOn) {
  BridgeConfig config = DefaultConfig(Chip::Jms578);
  config.busyReads = 2;
  SimulatedBridge bridge(config);
  for (int round = 0; round < 2; ++round) {
    Bytes seen;
    for (int i = 0; i < 4; ++i) seen.push_back(Send(bridge, kReadStatus).dataIn.at(0));
    EXPECT_EQ(seen, (Bytes{1, 1, 0, 0}));
    bridge.Replug();
  }
}

TEST(SimulatedBridgeTest, OptionalCommandsAnswerOrFailAsConfigured) {
  BridgeConfig config = DefaultConfig(Chip::Jms583);
  config.chipTag = "j335C0-extra";
  config.memoryFdb1 = 0xB4;
  SimulatedBridge bridge(config);
  EXPECT_EQ(Send(bridge, kReadChipTag).dataIn, Bytes({'j', '3', '3', '5', 'C', '0', '-', 'e'}));
  EXPECT_EQ(Send(bridge, ReadMemory(0xFDB0, 4)).dataIn, Bytes({0x00, 0xB4, 0x00, 0x00}));
  EXPECT_EQ(Send(bridge, ReadMemory(0xFFFE, 4)).status, scsi::kCheckCondition);

  // An opcode the chip lacks is an invalid operation code; an item of an opcode it has, whether
  // no chip knows it or only this one lacks it, an invalid field.
  const struct {
    const char* what;
    Bytes cdb;
    void (*lack)(BridgeConfig&);
    std::pair<int, int> sense;
  } refused[] = {
      {"vendor 0xB5", kReadVendorB5, [](BridgeConfig&) {}, {0x05, 0x20}},
      {"alternate identity",
       kReadIdentityAlt,
       [](BridgeConfig& c) { c.identityAlt.reset(); },
       {0x05, 0x20}},
      {"unknown 0xFF item", kUnknownItem, [](BridgeConfig&) {}, {0x05, 0x24}},
      {"chip tag", kReadChipTag, [](BridgeConfig& c) { c.chipTag.reset(); }, {0x05, 0x24}},
      {"flash type", kReadFlashType, [](BridgeConfig& c) { c.flashType.reset(); }, {0x05, 0x24}},
      {"configuration word",
       kReadConfigWord,
       [](BridgeConfig& c) { c.configWord.reset(); },
       {0x05, 0x24}},
  };
  for (const auto& r : refused) {
    SCOPED_TRACE(r.what);
    BridgeConfig lacking = DefaultConfig(Chip::Jms583);
    r.lack(lacking);
    SimulatedBridge plain(lacking);
    EXPECT_EQ(Send(plain, r.cdb).status, scsi::kCheckCondition);
    EXPECT_EQ(Sense(plain), r.sense);
  }
}

TEST(SimulatedBridgeTest, AnOpcodeTheChipLacksIsInvalidWhateverItsForm) {
  const Bytes badField{0xB5, 0x01, 0, 0, 0, 0x64, 0, 0, 0x01, 0, 0, 0};
  const Bytes shortB5{0xB5, 0, 0, 0, 0, 0x64, 0, 0, 0x01, 0};
  const Bytes badAlt{0xFE, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0, 0, 0x01};
  const auto without = [](BridgeConfig&) {};
  const auto withB5 = [](BridgeConfig& c) { c.vendorB5 = true; };
  const struct {
    const char* what;
    Bytes cdb;
    void (*configure)(BridgeConfig&);
    std::pair<int, int> sense;
  } cases[] = {
      {"0xB5 well-formed, chip without it", kReadVendorB5, without, {0x05, 0x20}},
      {"0xB5 with a bad field, chip without it", badField, without, {0x05, 0x20}},
      {"0xB5 of the wrong length, chip without it", shortB5, without, {0x05, 0x20}},
      {"0xB5 with a bad field, chip with it", badField, withB5, {0x05, 0x24}},
      {"0xFE with a bad field, chip without it",
       badAlt,
       [](BridgeConfig& c) { c.identityAlt.reset(); },
       {0x05, 0x20}},
      {"unknown 0xFF item, chip without vendor commands",
       kUnknownItem,
       [](BridgeConfig& c) { c.vendorCommands = false; },
       {0x05, 0x20}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    BridgeConfig config = DefaultConfig(Chip::Jms583);
    c.configure(config);
    SimulatedBridge bridge(config);
    EXPECT_EQ(Send(bridge, c.cdb).status, scsi::kCheckCondition);
    EXPECT_EQ(Sense(bridge), c.sense);
  }
}

TEST(SimulatedBridgeTest, NvramRecordStartsAsTheTemplateOfEachChip) {
  const struct {
    Chip chip;
    std::uint32_t address;
    Bytes usbIds;
    std::string product;
  } cases[] = {
      {Chip::Jms583, 0x11000, {0x2D, 0x15, 0x83, 0x05}, "USB to PCIE Bridge"},
      {Chip::Jms578, 0xD000, {0x2D, 0x15, 0x78, 0x05}, "USB to ATA/ATAPI Bridge"},
  };
  for (const auto& c : cases) {
    SimulatedBridge bridge(DefaultConfig(c.chip));
    const Bytes record = Send(bridge, ReadNvram(c.address, 512)).dataIn;
    ASSERT_EQ(record.size(), 512u);
    EXPECT_EQ(Bytes(record.begin(), record.begin() + 4), c.usbIds);
    EXPECT_EQ(std::string(record.begin() + 0x32, record.begin() + 0x30 + record[0x30]), c.product);
    EXPECT_EQ(std::string(record.begin() + 200, record.begin() + 215), "JMicron Generic");
  }
}

TEST(SimulatedBridgeTest, NvramWriteRoundTripsAndRejectsWithoutChange) {
  SimulatedBridge bridge(DefaultConfig(Chip::Jms583));
  Bytes record(512);
  std::ranges::generate(record, [n = 0]() mutable { return static_cast<std::uint8_t>(n++); });
  ASSERT_EQ(Send(bridge, Nvram(0x01, 0x11000, 512, 0xFB), record).dataOutTaken, 512u);
  EXPECT_EQ(Send(bridge, ReadNvram(0x11000, 512)).dataIn, record);

  const struct {
    const char* what;
    Bytes cdb;
    std::size_t dataSize;
  } rejected[] = {
      {"mode 3 loader start", Nvram(0x03, 0, 0, 0xFB), 0},
      {"mode 0x87", Nvram(0x87, 0x11000, 512, 0xFB), 512},
      {"past the end", Nvram(0x01, 0x11001, 512, 0xFB), 512},
      {"less data than length", Nvram(0x01, 0x11000, 512, 0xFB), 511},
      {"read past the end", ReadNvram(0x11000, 513), 0},
  };
  for (const auto& r : rejected) {
    SCOPED_TRACE(r.what);
    const Bytes zeros(r.dataSize, 0);
    const auto direction = r.cdb[11] == 0xFB ? Direction::Out : Direction::In;
    EXPECT_EQ(bridge.Execute(r.cdb, direction, zeros).status, scsi::kCheckCondition);
    EXPECT_EQ(Sense(bridge), std::make_pair(0x05, 0x24));
    EXPECT_TRUE(std::ranges::equal(bridge.nvramRecord(), record));
  }
}

TEST(SimulatedBridgeTest, FirmwareDownloadIsDeferredUntilReplug) {
  const struct {
    Chip chip;
    std::uint16_t chipNumber;
    Bytes descriptor;
    std::size_t blocks;
    std::array<std::uint8_t, 4> imageVersion;
    Bytes factory, reported;
  } cases[] = {
      {Chip::Jms583,
       kJms583Number,
       {0x0A, 0x01, 0x04, 0x00},
       65,
       {0, 0, 1, 2},
       {0, 0, 0, 8},
       {0, 0, 1, 2}},
      {Chip::Jms578,
       kJms578Number,
       {0x0A, 0x00, 0xC4, 0x00},
       49,
       {'0', '1', '0', '4'},
       {0, 1, 0, 3},
       {0, 1, 0, 4}},
  };
  for (const auto& c : cases) {
    SimulatedBridge bridge(DefaultConfig(c.chip));
    EXPECT_EQ(Send(bridge, kDescriptor).dataIn, c.descriptor);
    const Bytes image = Image(c.blocks * 1024, c.chipNumber, c.imageVersion);
    EXPECT_EQ(WriteImage(bridge, image), c.blocks);
    EXPECT_EQ(VersionOf(bridge), c.factory);

    const Bytes flash = ReadBack(bridge, image.size());
    EXPECT_TRUE(MatchesOutsideSecondBlock(flash, image));
    EXPECT_FALSE(std::equal(image.begin() + 512, image.begin() + 1024, flash.begin() + 512))
        << "the bridge rewrites the second block";

    bridge.Replug();
    EXPECT_EQ(VersionOf(bridge), c.reported);
    EXPECT_EQ(bridge.runState(), RunState::Firmware);
  }
}

TEST(SimulatedBridgeTest, ReplugBootsOnlyASignedImageForThisChip) {
  const struct {
    const char* what;
    Bytes image;
    RunState booted;
    Bytes version;
    Bytes descriptor;
  } cases[] = {
      {"signed, this chip", Image(66560, kJms583Number, {0, 0, 1, 2}), RunState::Firmware,
       Bytes{0, 0, 1, 2}, Bytes{0x0A, 0x01, 0x04, 0x00}},
      {"no signature", Image(66560, kJms583Number, {0, 0, 1, 2}, false), RunState::BootRom,
       Bytes{0, 0, 0, 0}, Bytes{0xFF, 0x01, 0x00, 0x00}},
      {"another chip's image", Image(66560, kJms578Number, {0, 0, 1, 2}), RunState::BootRom,
       Bytes{0, 0, 0, 0}, Bytes{0xFF, 0x01, 0x00, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatedBridge bridge(DefaultConfig(Chip::Jms583));
    EXPECT_EQ(WriteImage(bridge, c.image), 65u);
    bridge.Replug();
    EXPECT_EQ(bridge.runState(), c.booted);
    EXPECT_EQ(VersionOf(bridge), c.version);
    EXPECT_EQ(CodeVersionOf(bridge) == 0, c.booted == RunState::BootRom);
    EXPECT_EQ(Send(bridge, kDescriptor).dataIn, c.descriptor);
    const bool takesBlocks = c.booted == RunState::Firmware;
    EXPECT_EQ(Send(bridge, WriteBlock(0), Bytes(1024)).status == scsi::kGood, takesBlocks);
  }
}

TEST(SimulatedBridgeTest, RomLoaderPathBootsTheNewFirmwareAfterReplug) {
  const struct {
    Chip chip;
    std::uint16_t chipNumber;
    std::uint32_t romCapacity;
    Bytes romDescriptor, loaderDescriptor;
    std::size_t blocks;
    std::array<std::uint8_t, 4> imageVersion;
    Bytes reported;
  } cases[] = {
      {Chip::Jms583,
       kJms583Number,
       65536,
       {0xFF, 0x01, 0x00, 0x00},
       {0x0A, 0x01, 0x04, 0x00},
       65,
       {0, 0, 1, 2},
       {0, 0, 1, 2}},
      {Chip::Jms578,
       kJms578Number,
       50176,
       {0xFF, 0x00, 0xC4, 0x00},
       {0x0A, 0x00, 0xC4, 0x00},
       49,
       {'0', '2', '1', '4'},
       {0, 2, 1, 4}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.chip));
    BridgeConfig config = DefaultConfig(c.chip);
    config.romMode = true;
    SimulatedBridge bridge(config);
    EXPECT_EQ(Send(bridge, kDescriptor).dataIn, c.romDescriptor);

    const BridgeResponse download =
        Send(bridge, LoaderDownload(c.romCapacity), Loader(c.romCapacity, c.chipNumber));
    ASSERT_EQ(download.status, scsi::kGood);
    EXPECT_EQ(download.dataOutTaken, c.romCapacity);
    EXPECT_EQ(bridge.runState(), RunState::Loader);
    EXPECT_EQ(CodeVersionOf(bridge), 0) << "the loader answers like the boot ROM";
    EXPECT_EQ(VersionOf(bridge), Bytes({0, 0, 0, 0}));
    EXPECT_EQ(Send(bridge, kDescriptor).dataIn, c.loaderDescriptor);

    // Two passes, as after a failed block: the flash opens again and takes the whole image.
    const Bytes image = Image(c.blocks * 1024, c.chipNumber, c.imageVersion);
    for (int pass = 0; pass < 2; ++pass) {
      ASSERT_EQ(Send(bridge, kOpenFlash, {}).status, scsi::kGood);
      EXPECT_EQ(WriteImage(bridge, image), c.blocks);
    }
    EXPECT_TRUE(MatchesOutsideSecondBlock(ReadBack(bridge, image.size()), image));
    EXPECT_EQ(VersionOf(bridge), Bytes({0, 0, 0, 0})) << "saved for the next power-on only";

    bridge.Replug();
    EXPECT_EQ(bridge.runState(), RunState::Firmware);
    EXPECT_EQ(VersionOf(bridge), c.reported);
    EXPECT_EQ(CodeVersionOf(bridge), 0x03);
  }
}

TEST(SimulatedBridgeTest, CommandsOutsideTheirStateAreRejectedWithoutChange) {
  const Bytes loader = Loader(65536, kJms583Number);
  const struct {
    const char* what;
    RunState state;
    Bytes cdb;
    Bytes data;
  } cases[] = {
      {"loader one byte short", RunState::BootRom, LoaderDownload(65535),
       Loader(65535, kJms583Number)},
      {"loader of the firmware area's size", RunState::BootRom, LoaderDownload(66560),
       Loader(66560, kJms583Number)},
      {"loader for another chip", RunState::BootRom, LoaderDownload(65536),
       Loader(65536, kJms578Number)},
      {"firmware image as loader", RunState::BootRom, LoaderDownload(65536),
       Loader(65536, kJms583Number, kFirmwareKind)},
      {"loader at an offset", RunState::BootRom, Buffer(0x3B, 0x06, 0, 1024, 65536), loader},
      {"loader into buffer 1", RunState::BootRom, Buffer(0x3B, 0x06, 1, 0, 65536), loader},
      {"less data than length", RunState::BootRom, LoaderDownload(65536),
       Bytes(loader.begin(), loader.end() - 1)},
      {"open flash in the boot ROM", RunState::BootRom, kOpenFlash, {}},
      {"block in the boot ROM", RunState::BootRom, WriteBlock(0), Bytes(1024)},
      {"read flash in the boot ROM", RunState::BootRom, ReadBlock(0), {}},
      {"activation in the boot ROM", RunState::BootRom, kActivate, {}},
      {"second loader", RunState::Loader, LoaderDownload(65536), loader},
      {"block before the flash is opened", RunState::Loader, WriteBlock(0), Bytes(1024)},
      {"open flash at an address", RunState::Loader, Nvram(0x03, 0x11000, 0, 0xFB), {}},
      {"open flash with data", RunState::Loader, Nvram(0x03, 0, 512, 0xFB), Bytes(512)},
      {"activation in the loader", RunState::Loader, kActivate, {}},
      {"loader while firmware runs", RunState::Firmware, LoaderDownload(65536), loader},
      {"open flash while firmware runs", RunState::Firmware, kOpenFlash, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatedBridge bridge = c.state == RunState::Firmware
                                 ? SimulatedBridge(DefaultConfig(Chip::Jms583))
                                 : RomBridge(c.state == RunState::Loader);
    ASSERT_EQ(bridge.runState(), c.state);
    const Bytes flash(bridge.flash().begin(), bridge.flash().end());
    EXPECT_EQ(SendEither(bridge, c.cdb, c.data).status, scsi::kCheckCondition);
    EXPECT_EQ(Sense(bridge), std::make_pair(0x05, 0x24));
    EXPECT_EQ(bridge.runState(), c.state);
    EXPECT_TRUE(std::ranges::equal(bridge.flash(), flash));
  }
}

TEST(SimulatedBridgeTest, OnlyAWhollyWrittenImageBoots) {
  const Bytes image = Image(66560, kJms583Number, {0, 0, 1, 2});
  for (const std::size_t written : {std::size_t{1}, std::size_t{2}, std::size_t{64}}) {
    SCOPED_TRACE(written);
    SimulatedBridge bridge(DefaultConfig(Chip::Jms583));
    for (std::uint32_t block = 0; block < written; ++block) {
      const auto bytes = std::span(image).subspan(block * 1024, 1024);
      ASSERT_EQ(Send(bridge, WriteBlock(block * 1024), bytes).status, scsi::kGood);
    }
    bridge.Replug();
    EXPECT_EQ(bridge.runState(), RunState::BootRom) << "a good first block is not enough";
  }
  SimulatedBridge whole(DefaultConfig(Chip::Jms583));
  EXPECT_EQ(WriteImage(whole, image), 65u);
  whole.Replug();
  EXPECT_EQ(whole.runState(), RunState::Firmware);
}

TEST(SimulatedBridgeTest, PowerLossBeforeTheFirstBlockLeavesTheBootRomInCharge) {
  // Commands: the loader (1), opening the flash (2), the first block (3).
  SimulatedBridge bridge =
      RomBridge(true, {{.nth = 3, .effect = FaultEffect::Vanish, .anyCommand = true}});
  ASSERT_EQ(Send(bridge, kOpenFlash, {}).status, scsi::kGood);
  EXPECT_FALSE(Send(bridge, WriteBlock(0), Image(1024, kJms583Number, {0, 0, 1, 2})).present);
  bridge.Replug();
  EXPECT_EQ(bridge.runState(), RunState::BootRom);
  EXPECT_EQ(Send(bridge, kDescriptor).dataIn, Bytes({0xFF, 0x01, 0x00, 0x00}))
      << "the loader is gone and must be sent again";
}

TEST(SimulatedBridgeTest, BufferCommandsOutsideTheDownloadAreRejectedWithoutChange) {
  SimulatedBridge bridge(DefaultConfig(Chip::Jms578));
  const Bytes before(bridge.flash().begin(), bridge.flash().end());
  const Bytes block(2048, 0x55);
  const struct {
    const char* what;
    Bytes cdb;
    std::size_t dataSize;
  } cases[] = {
      {"offset not on a block", Buffer(0x3B, 0x0E, 0, 512, 1024), 1024},
      {"runs past capacity", Buffer(0x3B, 0x0E, 0, 49152, 2048), 2048},
      {"less data than length", Buffer(0x3B, 0x0E, 0, 0, 1024), 1000},
      {"buffer id 1", Buffer(0x3B, 0x0E, 1, 0, 1024), 1024},
      {"loader download mode 6", Buffer(0x3B, 0x06, 0, 0, 1024), 1024},
      {"activation mode 15", Buffer(0x3B, 0x0F, 0, 0, 0), 0},
      {"read off a block", Buffer(0x3C, 0x01, 0, 512, 1024), 0},
      {"descriptor of buffer 1", Buffer(0x3C, 0x03, 1, 0, 4), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto direction = c.cdb[0] == 0x3B ? Direction::Out : Direction::In;
    EXPECT_EQ(bridge.Execute(c.cdb, direction, std::span(block).first(c.dataSize)).status,
              scsi::kCheckCondition);
    EXPECT_EQ(Sense(bridge), std::make_pair(0x05, 0x24));
  }
  EXPECT_TRUE(std::ranges::equal(bridge.flash(), before));
}

TEST(SimulatedBridgeTest, SenseTellsWhyTheLastCommandFailedOnce) {
  enum class Then { Nothing, RequestSense, Delivered, Completed };
  const struct {
    const char* what;
    Bytes failing;
    Then then;
    std::pair<int, int> reported;
  } cases[] = {
      {"kept until asked for", kUnknownItem, Then::Nothing, {0x05, 0x24}},
      {"reported once", kUnknownItem, Then::RequestSense, {0x00, 0x00}},
      {"delivered with the failure", kUnknownItem, Then::Delivered, {0x00, 0x00}},
      {"cleared by a completed command",
       {0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0},  // wrong length
       Then::Completed,
       {0x00, 0x00}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatedBridge bridge(DefaultConfig(Chip::Jms583));
    EXPECT_EQ(Send(bridge, c.failing).status, scsi::kCheckCondition);
    if (c.then == Then::RequestSense) Sense(bridge);
    if (c.then == Then::Delivered) {
      EXPECT_EQ(bridge.TakeSense()[12], 0x24);
    }
    if (c.then == Then::Completed) Send(bridge, kReadStatus);
    EXPECT_EQ(Sense(bridge), c.reported);
  }
}

TEST(SimulatedBridgeTest, MediumCommandsAreRefusedAndCounted) {
  SimulatedBridge bridge(DefaultConfig(Chip::Jms583));
  const Bytes medium[] = {
      {0x2A, 0, 0, 0, 0, 0, 0, 0, 0x01, 0},  // WRITE(10)
      {0x04, 0, 0, 0, 0, 0},                 // FORMAT UNIT
      {0x28, 0, 0, 0, 0, 0, 0, 0, 0x01, 0},  // READ(10)
  };
  for (const Bytes& cdb : medium) {
    EXPECT_EQ(Send(bridge, cdb, Bytes(512)).status, scsi::kCheckCondition);
    EXPECT_EQ(Sense(bridge), std::make_pair(0x05, 0x20));
  }
  EXPECT_EQ(bridge.mediumAccessAttempts(), 3u);
}

TEST(SimulatedBridgeTest, FaultsStrikeTheNthCommandOfTheirOperation) {
  const Bytes record(512, 0xA5);
  const Bytes write = Nvram(0x01, 0x11000, 512, 0xFB);
  const struct {
    FaultEffect effect;
    bool present;
    std::uint8_t status;
    std::uint8_t storedFirstByte;
  } cases[] = {
      {FaultEffect::Fail, true, scsi::kCheckCondition, 0x02},
      {FaultEffect::Refuse, true, scsi::kCheckCondition, 0x02},
      {FaultEffect::Busy, true, scsi::kBusy, 0x02},
      {FaultEffect::Vanish, false, scsi::kGood, 0x02},
      {FaultEffect::Corrupt, true, scsi::kGood, 0x5A},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.effect));
    BridgeConfig config = DefaultConfig(Chip::Jms583);
    config.faults = {{Operation::WriteNvram, 2, c.effect}};
    SimulatedBridge bridge(config);
    ASSERT_EQ(Send(bridge, write, Bytes(512, 0x02)).status, scsi::kGood);
    const BridgeResponse second = Send(bridge, write, record);
    EXPECT_EQ(second.present, c.present);
    if (c.present) {
      EXPECT_EQ(second.status, c.status);
    }
    EXPECT_EQ(bridge.present(), c.present);
    EXPECT_EQ(bridge.nvramRecord()[0], c.storedFirstByte);
    EXPECT_EQ(bridge.nvramRecord()[1], c.effect == FaultEffect::Corrupt ? 0xA5 : 0x02);
  }
}

TEST(SimulatedBridgeTest, FaultsOnDataInCommands) {
  BridgeConfig config = DefaultConfig(Chip::Jms583);
  config.faults = {{Operation::ReadStatus, 1, FaultEffect::Busy},
                   {Operation::ReadIdentity, 1, FaultEffect::Busy},
                   {Operation::ReadIdentity, 2, FaultEffect::Corrupt, 15},
                   {Operation::ReadIdentity, 3, FaultEffect::Fail}};
  SimulatedBridge bridge(config);
  EXPECT_EQ(Send(bridge, kReadStatus).dataIn, Bytes{0x01});
  EXPECT_EQ(Send(bridge, kReadStatus).dataIn, Bytes{0x00});
  const BridgeResponse busy = Send(bridge, kReadIdentity);
  EXPECT_EQ(busy.status, scsi::kBusy);
  EXPECT_TRUE(busy.dataIn.empty());
  EXPECT_EQ(VersionOf(bridge), Bytes({0, 0, 0, 0xF7}));
  EXPECT_EQ(Send(bridge, kReadIdentity).status, scsi::kCheckCondition);
  EXPECT_EQ(Sense(bridge), std::make_pair(0x04, 0x44));
  EXPECT_EQ(VersionOf(bridge), Bytes({0, 0, 0, 8}));
}

TEST(SimulatedBridgeTest, AnyCommandFaultsCountEveryCommandRejectedOnesIncluded) {
  BridgeConfig config = DefaultConfig(Chip::Jms583);
  config.faults = {{Operation::ReadStatus, 1, FaultEffect::Busy},
                   {.nth = 1, .effect = FaultEffect::Fail, .anyCommand = true},
                   {.nth = 3, .effect = FaultEffect::Fail, .anyCommand = true},
                   {.nth = 5, .effect = FaultEffect::Busy, .anyCommand = true}};
  SimulatedBridge bridge(config);
  EXPECT_EQ(Send(bridge, kReadStatus).dataIn, Bytes{0x01}) << "the first listed fault strikes";
  EXPECT_EQ(Send(bridge, {0x2A, 0, 0, 0, 0, 0, 0, 0, 0x01, 0}, Bytes(512)).status,
            scsi::kCheckCondition);
  EXPECT_EQ(Send(bridge, kReadIdentity).status, scsi::kCheckCondition);
  EXPECT_EQ(Sense(bridge), std::make_pair(0x04, 0x44)) << "the third command, a fault";
  EXPECT_EQ(Send(bridge, {0xE0, 0xF4, 0xE7, 0, 0, 0, 0, 0, 0, 0}).status, scsi::kBusy)
      << "the fifth command, malformed: the fault comes first";
  EXPECT_EQ(Send(bridge, kReadIdentity).status, scsi::kGood);
  EXPECT_EQ(Send(bridge, kReadStatus).dataIn, Bytes{0x00});
}

TEST(SimulatedBridgeTest, VanishedBridgeAnswersNothingUntilReplugged) {
  BridgeConfig config = DefaultConfig(Chip::Jms578);
  config.faults = {{Operation::ReadStatus, 1, FaultEffect::Vanish}};
  SimulatedBridge bridge(config);
  EXPECT_FALSE(Send(bridge, kReadStatus).present);
  EXPECT_FALSE(Send(bridge, kReadIdentity).present);
  bridge.Replug();
  EXPECT_EQ(Send(bridge, kReadStatus).dataIn, Bytes{0x00}) << "the fault struck its nth only";
  ASSERT_EQ(bridge.log().size(), 2u) << "nothing reaches a bridge that is gone";
  EXPECT_EQ(bridge.log()[1].operation, Operation::ReadStatus);
  EXPECT_EQ(bridge.log()[1].cdb, kReadStatus);
}

}  // namespace
}  // namespace korvane::sim
