#include "ChipIdentification.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "SimulatedBus.h"
#include "SimulatedClock.h"

namespace korvane {
namespace {

using sim::BridgeConfig;
using sim::Operation;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

constexpr std::string_view kPath = R"(\\?\usbstor#disk&ven_test#1)";

/// Remembers every message instead of showing it.
struct RecordingMessages final : MessageSink {
  struct Shown {
    std::string text, caption;
    MessageIcon icon;
  };
  std::vector<Shown> shown;
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override {
    shown.push_back({std::string(text), std::string(caption), icon});
  }
};

/// A signed identity block: vendor and product ids, then four characters for bytes 8-11.
std::array<std::uint8_t, 16> Identity(std::uint16_t vendor, std::uint16_t product,
                                      std::string_view chars) {
  std::array<std::uint8_t, 16> block{0xF4, 0xE7};
  block[2] = static_cast<std::uint8_t>(vendor >> 8);
  block[3] = static_cast<std::uint8_t>(vendor);
  block[4] = static_cast<std::uint8_t>(product >> 8);
  block[5] = static_cast<std::uint8_t>(product);
  block[6] = 0x03;
  for (std::size_t i = 0; i < 4; ++i) block[8 + i] = static_cast<std::uint8_t>(chars[i]);
  return block;
}

sim::IdentityConfig Answering(std::array<std::uint8_t, 16> bytes) {
  sim::IdentityConfig identity;
  identity.bytes = bytes;
  return identity;
}

std::array<std::uint8_t, 2> Word(std::uint16_t word) {
  return {static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8)};
}

std::string TagText(std::string_view chars) { return std::string(chars); }

struct Case {
  const char* name;
  std::function<void(BridgeConfig&)> give;
  std::uint8_t chipCode;
  std::uint8_t revision;
};

/// A bridge that answers INQUIRY without a tag and rejects every vendor command, until a case
/// gives it more to say.
class Identification : public ::testing::Test {
 protected:
  BridgeInfo Identify(const BridgeConfig& config) {
    bridge = &bus.AddDisk(kPath, sim::SimulatedBridge(config));
    return IdentifyBridge(io, kPath, messages);
  }
  void Check(std::span<const Case> cases) {
    for (const Case& c : cases) {
      BridgeConfig config;
      c.give(config);
      const BridgeInfo info = Identify(config);
      EXPECT_EQ(ChipCodeOf(info), c.chipCode) << c.name;
      EXPECT_EQ(RevisionOf(info), c.revision) << c.name;
    }
  }
  std::vector<Operation> Sent() const {
    std::vector<Operation> operations;
    for (const auto& command : bridge->log()) operations.push_back(command.operation);
    return operations;
  }

  sim::SimulatedClock clock;
  sim::SimulatedBus bus{clock};
  Transport io{bus};
  RecordingMessages messages;
  sim::SimulatedBridge* bridge = nullptr;
};

TEST(ChipCodeTable, LookupTakesTheLowestIndexSoHigherDuplicatesAreNeverFound) {
  const auto look = [](std::string_view text) {
    std::array<std::uint8_t, 3> chars{};
    std::ranges::copy(text, chars.begin());
    return LookUpChipCode(chars);
  };
  EXPECT_EQ(look("337"), 3);
  EXPECT_EQ(look("339"), 5);
  EXPECT_EQ(look("335"), 1);
  EXPECT_EQ(look("336"), 2);
  EXPECT_EQ(look("356"), 9);
  EXPECT_EQ(look("352"), 7);
  EXPECT_EQ(look("357"), 11);
  EXPECT_EQ(look("583"), 22);
  EXPECT_EQ(look("579"), 19);
  EXPECT_EQ(look("355"), 0);
  EXPECT_EQ(look(std::string_view("\0\0\0", 3)), 0);
}

TEST(BridgeInfo, PacksChipCodeLowAndRevisionHigh) {
  EXPECT_EQ(MakeBridgeInfo(22, 2), 0x0216);
  EXPECT_EQ(ChipCodeOf(0x3113), 0x13);
  EXPECT_EQ(RevisionOf(0x3113), 0x31);
}

TEST_F(Identification, InquiryTagDecidesFirst) {
  const Case cases[] = {
      {"j583", [](BridgeConfig& b) { b.inquiry.chipTag = "j583"; }, 22, 0},
      {"j579", [](BridgeConfig& b) { b.inquiry.chipTag = "j579"; }, 19, 0},
      {"j337 is the first 337, not 4", [](BridgeConfig& b) { b.inquiry.chipTag = "j337"; }, 3, 0},
      {"j337 then tag j337A3",
       [](BridgeConfig& b) {
         b.inquiry.chipTag = "j337";
         b.chipTag = "j337A3";
       },
       4, 0},
      {"j355 is not in the table", [](BridgeConfig& b) { b.inquiry.chipTag = "j355"; }, 9, 0},
      {"x583 is no tag",
       [](BridgeConfig& b) {
         b.inquiry.chipTag = "x583";
         b.configWord = Word(0);
         b.identity = Answering(Identity(0x152D, 0x0578, "5791"));
       },
       19, 1},
      {"a tag beats the identity",
       [](BridgeConfig& b) {
         b.inquiry.chipTag = "j583";
         b.configWord = Word(0);
         b.identity = Answering(Identity(0x152D, 0x0578, "5791"));
       },
       22, 0},
      {"unknown tag falls through to nothing", [](BridgeConfig& b) { b.inquiry.chipTag = "j999"; },
       0, 0},
  };
  Check(cases);
}

TEST_F(Identification, IdentityBlockBehindAConfigurationWord) {
  const Case cases[] = {
      {"152D 2336 whatever bytes 8-11",
       [](BridgeConfig& b) {
         b.configWord = Word(0);
         b.identity = Answering(Identity(0x152D, 0x2336, "5832"));
       },
       39, 0},
      {"152D 0583 reads 5832",
       [](BridgeConfig& b) {
         b.configWord = Word(0);
         b.identity = Answering(Identity(0x152D, 0x0583, "5832"));
       },
       22, 2},
      {"another vendor is fine",
       [](BridgeConfig& b) {
         b.configWord = Word(0);
         b.identity = Answering(Identity(0x1234, 0x2336, "5791"));
       },
       19, 1},
      {"355 gives 9",
       [](BridgeConfig& b) {
         b.configWord = Word(0);
         b.identity = Answering(Identity(0x152D, 0x0355, "3553"));
       },
       9, 3},
      {"no entry: code 0, revision still taken, then the chip tag decides",
       [](BridgeConfig& b) {
         b.configWord = Word(0);
         b.identity = Answering(Identity(0x152D, 0x0999, "9997"));
       },
       0, 7},
      {"revision wraps in 8 bits",
       [](BridgeConfig& b) {
         b.configWord = Word(0);
         b.identity = Answering(Identity(0x152D, 0x0583, "583 "));
       },
       22, 0xF0},
  };
  Check(cases);
}

TEST_F(Identification, UnsignedIdentityTakesTheFamilyFromBitsFiveAndSixOfTheWord) {
  std::array<std::uint8_t, 16> unsigned_block = Identity(0x152D, 0x0583, "5831");
  unsigned_block[0] = 0xF5;
  const std::pair<std::uint16_t, std::uint8_t> words[] = {{0x0000, 35}, {0x0020, 36}, {0x0040, 37},
                                                          {0x0060, 38}, {0xFF9F, 35}, {0x40E0, 38}};
  for (const auto& [word, code] : words) {
    BridgeConfig config;
    config.configWord = Word(word);
    config.identity = Answering(unsigned_block);
    const BridgeInfo info = Identify(config);
    EXPECT_EQ(ChipCodeOf(info), code) << std::hex << word;
    EXPECT_EQ(RevisionOf(info), 0) << std::hex << word;
  }
}

TEST_F(Identification, AlternateIdentityWhenTheIdentityReadFails) {
  const Case cases[] = {
      {"alt 5791",
       [](BridgeConfig& b) {
         b.configWord = Word(0);
         b.identityAlt = Answering(Identity(0x152D, 0x0578, "5791"));
       },
       19, 1},
      {"alt has no 2336 rule",
       [](BridgeConfig& b) {
         b.configWord = Word(0);
         b.identityAlt = Answering(Identity(0x152D, 0x2336, "5832"));
       },
       22, 2},
      {"alt has no 355 rule",
       [](BridgeConfig& b) {
         b.configWord = Word(0);
         b.identityAlt = Answering(Identity(0x152D, 0x0355, "3551"));
       },
       0, 1},
      {"alt unsigned says nothing",
       [](BridgeConfig& b) {
         b.configWord = Word(0);
         auto block = Identity(0x152D, 0x0583, "5831");
         block[1] = 0;
         b.identityAlt = Answering(block);
       },
       0, 0},
  };
  Check(cases);
}

sim::BufferOneConfig BufferOne(std::uint8_t boundary, std::vector<std::uint8_t> data) {
  return {.boundary = boundary, .data = std::move(data)};
}

TEST_F(Identification, BufferDescriptorWhenTheConfigurationWordFails) {
  const Case cases[] = {
      {"0579 at bytes 4-5",
       [](BridgeConfig& b) {
         b.bufferOne = BufferOne(3, {0, 0, 0, 0, 0x05, 0x79, 0, 0});
       },
       19, 0},
      {"0569 at bytes 4-5",
       [](BridgeConfig& b) {
         b.bufferOne = BufferOne(3, {0, 0, 0, 0, 0x05, 0x69, 0, 0});
       },
       14, 0},
      {"561 at bytes 3-5",
       [](BridgeConfig& b) {
         b.bufferOne = BufferOne(3, {0, 0, 0, '5', '6', '1', 0, 0});
       },
       15, 0},
      {"nothing known",
       [](BridgeConfig& b) {
         b.bufferOne = BufferOne(3, {0, 0, 0, '5', '6', '2', 0, 0});
       },
       0, 0},
      {"4 bytes are too short to say anything",
       [](BridgeConfig& b) {
         b.bufferOne = BufferOne(2, {0, 0, 0, 0, 0x05, 0x79, 0, 0});
       },
       0, 0},
      {"the identity is not asked without the word",
       [](BridgeConfig& b) { b.identity = Answering(Identity(0x152D, 0x0583, "5831")); }, 0, 0},
  };
  Check(cases);
}

TEST_F(Identification, HugeDescriptorExponentIsBoundedTo64KiB) {
  std::vector<std::uint8_t> data(0x20000, 0);
  data[4] = 0x05;
  data[5] = 0x79;
  BridgeConfig config;
  config.bufferOne = BufferOne(0xFF, data);
  EXPECT_EQ(ChipCodeOf(Identify(config)), 19);
  const auto& last = bridge->log().back();
  ASSERT_EQ(last.operation, Operation::ReadBuffer);
  EXPECT_THAT(std::vector(last.cdb.begin() + 6, last.cdb.begin() + 9), ElementsAre(1, 0, 0));
}

TEST_F(Identification, ChipTagRefinesTheFamilies) {
  const auto tagged = [](std::string tag) { return [tag](BridgeConfig& b) { b.chipTag = tag; }; };
  const Case cases[] = {
      {"j352 with 0 in byte 5", tagged(TagText(std::string_view("j352\0\0\0\0", 8))), 7, 1},
      {"j352 with '1' in byte 5", tagged("j352A1"), 7, 2},
      {"j339E0: the byte plus one", tagged("j339E0"), 34, 0x31},
      {"j339E with 0xFF wraps", tagged("j339E\xFF"), 34, 0},
      {"j335C0", tagged("j335C0"), 1, 1},
      {"j339C3", tagged("j339C3"), 5, 4},
      {"j519A2", tagged("j519A2"), 32, 3},
      {"j2357 with a blank wraps", tagged("j2357 "), 11, 0xF1},
      {"j337A3 keeps the revision", tagged("j337A35"), 4, 0},
      {"unknown tag", tagged("j999A1"), 0, 0},
      {"text ends at a zero byte",
       tagged(TagText(std::string_view("j33\0"
                                       "5C0",
                                       7))),
       0, 0},
      {"only bytes 0-7 count", tagged("j33XXXXXj335C0"), 0, 0},
      {"code 1 from INQUIRY without a tag answer gets revision 1",
       [](BridgeConfig& b) { b.inquiry.chipTag = "j335"; }, 1, 1},
      {"code 11 from INQUIRY refined",
       [](BridgeConfig& b) {
         b.inquiry.chipTag = "j357";
         b.chipTag = "j23574";
       },
       11, 5},
      {"code 9 is not refined",
       [](BridgeConfig& b) {
         b.inquiry.chipTag = "j356";
         b.chipTag = "j335C0";
       },
       9, 0},
  };
  Check(cases);
}

TEST_F(Identification, ChipCode8MustTellItsRevision) {
  struct RevisionCase {
    const char* name;
    std::optional<std::array<std::uint8_t, 16>> identity;
    std::uint8_t revision;
    bool message;
  };
  auto unsigned_block = Identity(0x152D, 0x0353, "3532");
  unsigned_block[0] = 0;
  const RevisionCase cases[] = {
      {"'1'", Identity(0x152D, 0x0353, "3531"), 1, false},
      {"'2'", Identity(0x152D, 0x0353, "3532"), 2, false},
      {"'3'", Identity(0x152D, 0x0353, "3533"), 0, true},
      {"unsigned", unsigned_block, 0, true},
      {"no answer", std::nullopt, 0, true},
  };
  for (const RevisionCase& c : cases) {
    messages.shown.clear();
    BridgeConfig config;
    config.inquiry.chipTag = "j353";
    if (c.identity) config.identity = Answering(*c.identity);
    const BridgeInfo info = Identify(config);
    EXPECT_EQ(ChipCodeOf(info), 8) << c.name;
    EXPECT_EQ(RevisionOf(info), c.revision) << c.name;
    ASSERT_EQ(messages.shown.size(), c.message ? 1u : 0u) << c.name;
    if (c.message) {
      EXPECT_EQ(messages.shown[0].text, "Get chip information fail !");
      EXPECT_EQ(messages.shown[0].caption, "Error");
      EXPECT_EQ(messages.shown[0].icon, MessageIcon::Error);
    }
    // The short read asks for 12 bytes.
    EXPECT_EQ(bridge->log().back().cdb[0], 0xE0) << c.name;
  }
}

TEST_F(Identification, ChipCode12AsksTheB5ReadThenTheMemory) {
  const Case cases[] = {
      {"answers B5",
       [](BridgeConfig& b) {
         b.inquiry.chipTag = "j551";
         b.vendorB5 = true;
         b.memoryFdb1 = 0xB4;
       },
       30, 0},
      {"late revision",
       [](BridgeConfig& b) {
         b.inquiry.chipTag = "j551";
         b.vendorCommands = true;
         b.memoryFdb1 = 0xB4;
       },
       12, 5},
      {"early revision",
       [](BridgeConfig& b) {
         b.inquiry.chipTag = "j551";
         b.memoryFdb1 = 0xB3;
       },
       12, 0},
      {"memory unreadable",
       [](BridgeConfig& b) {
         b.inquiry.chipTag = "j551";
         b.vendorCommands = false;
         b.memoryFdb1 = 0xFF;
       },
       12, 0},
  };
  Check(cases);
}

TEST_F(Identification, SilentBridgeIsUnknownWithoutAMessage) {
  BridgeConfig config;
  config.inquiry.fails = true;
  config.vendorCommands = false;
  EXPECT_EQ(Identify(config), 0);
  EXPECT_TRUE(messages.shown.empty());
  EXPECT_THAT(Sent(), ElementsAre(Operation::Inquiry, Operation::ReadChipTag));
}

TEST_F(Identification, QuestionsGoInTheirFixedOrder) {
  BridgeConfig config;
  config.configWord = Word(0);
  config.identity = Answering(Identity(0x152D, 0x0999, "9991"));
  Identify(config);
  EXPECT_THAT(Sent(), ElementsAre(Operation::Inquiry, Operation::ReadConfigWord,
                                  Operation::ReadIdentity, Operation::ReadChipTag));

  config = BridgeConfig{};
  config.configWord = Word(0);
  Identify(config);
  EXPECT_THAT(Sent(),
              ElementsAre(Operation::Inquiry, Operation::ReadConfigWord, Operation::ReadIdentity,
                          Operation::ReadIdentityAlt, Operation::ReadChipTag));

  config = BridgeConfig{};
  config.bufferOne = BufferOne(3, std::vector<std::uint8_t>(8, 0));
  Identify(config);
  // A failed buffer read is followed by REQUEST SENSE; the descriptor read answers here.
  EXPECT_THAT(Sent(), ElementsAreArray({Operation::Inquiry, Operation::ReadConfigWord,
                                        Operation::ReadBuffer, Operation::ReadBuffer,
                                        Operation::ReadChipTag}));
}

TEST_F(Identification, TheTwoChipsWeUpdateAsTheyLeaveTheFactory) {
  EXPECT_EQ(Identify(sim::DefaultConfig(sim::Chip::Jms583)), MakeBridgeInfo(22, 0));
  EXPECT_THAT(Sent(), ElementsAre(Operation::Inquiry));
  EXPECT_EQ(Identify(sim::DefaultConfig(sim::Chip::Jms578)), MakeBridgeInfo(19, 1));
}

}  // namespace
}  // namespace korvane

namespace korvane {
namespace {

/// Any bytes at all, from a fixed seed so that a failure can be replayed.
class Garbage {
 public:
  explicit Garbage(std::uint32_t seed) : state_(seed) {}
  std::uint8_t Byte() {
    state_ = state_ * 1664525u + 1013904223u;
    return static_cast<std::uint8_t>(state_ >> 24);
  }
  bool Coin() { return (Byte() & 1) != 0; }
  std::string Text(std::size_t size) {
    std::string text;
    for (std::size_t i = 0; i < size; ++i) text.push_back(static_cast<char>(Byte()));
    return text;
  }
  template <std::size_t N>
  std::array<std::uint8_t, N> Bytes() {
    std::array<std::uint8_t, N> bytes{};
    for (auto& byte : bytes) byte = Byte();
    return bytes;
  }

 private:
  std::uint32_t state_;
};

/// Three characters: half the time a chip text of the table, so that the branches behind a
/// match are reached too.
std::string ChipChars(Garbage& g) {
  if (g.Coin()) return g.Text(3);
  return std::string(ChipCodeTable[1 + g.Byte() % (ChipCodeTable.size() - 1)]);
}

std::array<std::uint8_t, 16> GarbageIdentity(Garbage& g) {
  auto block = g.Bytes<16>();
  if (g.Coin()) {
    block[0] = 0xF4;
    block[1] = 0xE7;
  }
  const std::string chars = ChipChars(g);
  if (g.Coin()) std::copy_n(chars.begin(), 3, block.begin() + 8);
  return block;
}

BridgeConfig GarbageBridge(Garbage& g) {
  BridgeConfig config;
  config.inquiry.fails = g.Coin() && g.Coin();
  config.inquiry.chipTag = (g.Coin() ? "j" : g.Text(1)) + ChipChars(g);
  if (g.Coin()) config.identity = Answering(GarbageIdentity(g));
  if (g.Coin()) config.identityAlt = Answering(GarbageIdentity(g));
  if (g.Coin()) config.configWord = g.Bytes<2>();
  if (g.Coin()) {
    const std::uint8_t boundary = g.Byte();
    std::vector<std::uint8_t> data(g.Byte() % 12);
    for (auto& byte : data) byte = g.Byte();
    config.bufferOne = sim::BufferOneConfig{boundary, data};
  }
  if (g.Coin()) config.chipTag = "j" + g.Text(g.Byte() % 9);
  config.vendorB5 = g.Coin();
  config.memoryFdb1 = g.Byte();
  return config;
}

// Whatever a bridge answers, identification ends with a code of the table and never reads
// past an answer; the sanitizer configuration turns any overrun into a failure here.
TEST_F(Identification, GarbageAnswersNeverLeaveTheTable) {
  std::set<std::uint8_t> codes;
  for (std::uint32_t seed = 1; seed <= 2000; ++seed) {
    Garbage garbage(seed);
    const std::size_t shownBefore = messages.shown.size();
    const BridgeInfo info = Identify(GarbageBridge(garbage));
    EXPECT_LT(ChipCodeOf(info), ChipCodeTable.size()) << "seed " << seed;
    EXPECT_LE(messages.shown.size() - shownBefore, 1u) << "seed " << seed;
    codes.insert(ChipCodeOf(info));
  }
  // The garbage must reach several branches, or this test proves little.
  EXPECT_GE(codes.size(), 6u);
}

}  // namespace
}  // namespace korvane
