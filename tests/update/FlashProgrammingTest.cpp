#include "FlashProgramming.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>

#include "ImageLayout.h"
#include "Scenario.h"
#include "UpdateRig.h"
#include "device/FakePort.h"

namespace korvane::testing {
namespace {

using sim::FaultEffect;
using sim::Operation;
using ::testing::Each;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

constexpr std::uint8_t kModeLoader = 0x06;
constexpr std::uint8_t kModeDeferred = 0x0E;
constexpr std::uint8_t kModeActivate = 0x0F;
constexpr std::uint8_t kModeStartLoader = 3;

/// Buffer offsets of the mode-0x0E blocks, in the order they were sent.
std::vector<std::uint32_t> BlockOffsets(const UpdateRig& rig) {
  std::vector<std::uint32_t> offsets;
  for (const auto& cdb : rig.Cdbs(Operation::WriteBuffer)) {
    if (cdb[1] != kModeDeferred) continue;
    EXPECT_EQ((cdb[6] << 16) | (cdb[7] << 8) | cdb[8], 1024) << "every block is 1024 bytes";
    offsets.push_back(static_cast<std::uint32_t>((cdb[3] << 16) | (cdb[4] << 8) | cdb[5]));
  }
  return offsets;
}

std::vector<std::uint32_t> Offsets(std::size_t blocks) {
  std::vector<std::uint32_t> offsets(blocks);
  for (std::size_t i = 0; i < blocks; ++i) offsets[i] = static_cast<std::uint32_t>(i * 1024);
  return offsets;
}

struct ChipCase {
  const ChipUpdate& chip;
  std::size_t blocks;
  int lastBlockProgress;
  sim::FirmwareVersion versionAfter;
};

std::vector<ChipCase> ChipCases() {
  return {{Jms583(), 65, 99, {0, 0, 1, 2}}, {Jms578(), 49, 98, {0, 2, 1, 4}}};
}

/// The progress a clean pass shows: 0 before, one value per block, 100 at the end.
std::vector<int> CleanProgress(std::size_t blocks) {
  std::vector<int> progress{0};
  const std::size_t total = blocks * 1024;
  for (std::size_t remaining = total; remaining > 0; remaining -= 1024) {
    progress.push_back(static_cast<int>(100 - remaining * 100 / total));
  }
  progress.push_back(100);
  return progress;
}

TEST(FlashProgrammingTest, RunningFirmwareGetsEveryBlockOnceAndBootsTheImageAfterReplug) {
  for (const ChipCase& c : ChipCases()) {
    SCOPED_TRACE(std::string(c.chip.chipName));
    UpdateRig rig(c.chip);
    ASSERT_TRUE(rig.Update());
    EXPECT_EQ(BlockOffsets(rig), Offsets(c.blocks));
    const std::vector<int> progress = CleanProgress(c.blocks);
    EXPECT_EQ(rig.view().progress, progress);
    EXPECT_EQ(progress[1], 0);
    EXPECT_EQ(progress[progress.size() - 2], c.lastBlockProgress);
    EXPECT_EQ(rig.view().pumps, c.blocks);
    EXPECT_TRUE(rig.FlashHoldsImage());
    // The bridge keeps its own stamp in the second block, so the read-back never matches there.
    EXPECT_FALSE(std::ranges::equal(FirmwareImage(c.chip).subspan(512, 512),
                                    rig.bridge().flash().subspan(512, 512)));
    EXPECT_EQ(rig.Cdbs(Operation::ReadBuffer).size(), 2 + c.blocks) << "two descriptors";
    EXPECT_EQ(rig.WriteBuffers(kModeLoader) + rig.WriteBuffers(kModeActivate), 0u);
    EXPECT_EQ(rig.bus().openHandles(), 0u);
    EXPECT_EQ(rig.clock().sleeps(), 0u);

    rig.bridge().Replug();
    EXPECT_EQ(rig.bridge().runState(), sim::RunState::Firmware);
    EXPECT_EQ(rig.bridge().runningVersion(), c.versionAfter);
  }
}

TEST(FlashProgrammingTest, DescriptorsThatCannotTakeTheImageAreRefusedBeforeAnyBlock) {
  struct Case {
    std::string_view name;
    bool romMode;
    sim::Fault fault;
    std::string_view reason;
  };
  // A corrupted descriptor stands in for a bridge that reports it: byte 0 is the offset boundary,
  // byte 3 the low byte of the capacity.
  const std::vector<Case> cases{
      {"boundary 0xF5 from firmware", false, On(Operation::ReadBuffer, 1, FaultEffect::Corrupt, 0),
       "offset boundary 0xF5"},
      {"capacity not in whole blocks", false, On(Operation::ReadBuffer, 1, FaultEffect::Corrupt, 3),
       "not a whole number"},
      {"ROM capacity off by 255", true, On(Operation::ReadBuffer, 1, FaultEffect::Corrupt, 3),
       "capacity"},
      {"ROM boundary 0x00", true, On(Operation::ReadBuffer, 1, FaultEffect::Corrupt, 0),
       "offset boundary 0x00"},
      {"descriptor fails", false, On(Operation::ReadBuffer, 1, FaultEffect::Fail), "rejected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateRig rig(Jms583(), Config(Jms583(), c.romMode, {c.fault}));
    const std::vector<std::uint8_t> before(rig.bridge().flash().begin(),
                                           rig.bridge().flash().end());
    EXPECT_FALSE(
        ProgramFlash(rig.Context(), kEnclosurePath, FirmwareImage(Jms583()), 66560, c.romMode, 0));
    EXPECT_TRUE(rig.Cdbs(Operation::WriteBuffer).empty());
    EXPECT_TRUE(rig.Cdbs(Operation::WriteNvram).empty());
    EXPECT_TRUE(std::ranges::equal(before, rig.bridge().flash()));
    EXPECT_EQ(rig.view().progress, std::vector<int>{0}) << "an early end leaves the bar";
    EXPECT_EQ(rig.failure().step, UpdateStep::Descriptor);
    EXPECT_THAT(rig.failure().reason, HasSubstr(c.reason));
  }
}

TEST(FlashProgrammingTest, CapacitySmallerOrLargerThanTheImageIsRefused) {
  struct Case {
    std::uint32_t capacity;
    std::string_view reason;
  };
  for (const Case& c : std::vector<Case>{{65536, "too small"},
                                         {67584, "more than"},
                                         {0, "capacity of 0"},
                                         {66048, "not a whole number"}}) {
    SCOPED_TRACE(c.capacity);
    sim::BridgeConfig config = Config(Jms583());
    config.firmwareCapacity = c.capacity;
    UpdateRig rig(Jms583(), config);
    EXPECT_FALSE(rig.Update());
    EXPECT_TRUE(rig.Cdbs(Operation::WriteBuffer).empty());
    EXPECT_THAT(rig.failure().reason, HasSubstr(c.reason));
  }
}

TEST(FlashProgrammingTest, VerificationIgnoresOnlyTheSecondBlock) {
  struct Case {
    std::size_t readBackBlock;  // which data block of the read-back is corrupted
    std::size_t byte;
    bool secondAttempt;
  };
  // The read-back is the second ReadBuffer descriptor's followers: ReadBuffer 1 is the descriptor
  // before writing, 2 the one before reading, 3 onwards the blocks.
  for (const Case& c : std::vector<Case>{
           {0, 511, true}, {0, 512, false}, {0, 1023, false}, {1, 0, true}, {64, 1023, true}}) {
    SCOPED_TRACE(::testing::Message() << "block " << c.readBackBlock << " byte " << c.byte);
    const unsigned nth = static_cast<unsigned>(3 + c.readBackBlock);
    UpdateRig rig(Jms583(), Config(Jms583(), false,
                                   {On(Operation::ReadBuffer, nth, FaultEffect::Corrupt, c.byte)}));
    EXPECT_TRUE(rig.Update());
    EXPECT_EQ(BlockOffsets(rig).size(), c.secondAttempt ? 130u : 65u);
    EXPECT_EQ(rig.failure().step, UpdateStep::None) << "a good update leaves no failure";
  }
}

TEST(FlashProgrammingTest, TwoFailedAttemptsFailTheUpdate) {
  // The first block of each attempt is stored with one byte inverted.
  UpdateRig rig(Jms583(), Config(Jms583(), false,
                                 {On(Operation::WriteBuffer, 1, FaultEffect::Corrupt, 16),
                                  On(Operation::WriteBuffer, 66, FaultEffect::Corrupt, 16)}));
  EXPECT_FALSE(rig.Update());
  EXPECT_EQ(BlockOffsets(rig).size(), 130u);
  EXPECT_EQ(rig.failure().step, UpdateStep::Verify);
  EXPECT_THAT(rig.failure().reason, HasSubstr("offset 16"));
}

TEST(FlashProgrammingTest, AFailedReadBackFailsTheAttemptWithoutAComparison) {
  // Each attempt reads two descriptors and then the blocks: the first block of each read-back.
  UpdateRig rig(Jms583(), Config(Jms583(), false,
                                 {On(Operation::ReadBuffer, 3, FaultEffect::Fail),
                                  On(Operation::ReadBuffer, 70, FaultEffect::Fail)}));
  EXPECT_FALSE(rig.Update());
  EXPECT_EQ(BlockOffsets(rig).size(), 130u);
  EXPECT_EQ(rig.failure().step, UpdateStep::ReadBack);
  EXPECT_THAT(rig.failure().reason, HasSubstr("block at offset 0"));
}

TEST(FlashProgrammingTest, RomModeDownloadsTheLoaderWaitsAndWritesThroughIt) {
  UpdateRig rig(Jms583(), Config(Jms583(), true));
  ASSERT_TRUE(rig.Update());
  const auto writes = rig.Cdbs(Operation::WriteBuffer);
  ASSERT_FALSE(writes.empty());
  // The whole 65536-byte loader in one mode-6 command at offset 0.
  EXPECT_THAT(writes.front(), ElementsAre(0x3B, 0x06, 0, 0, 0, 0, 0x01, 0x00, 0x00, 0));
  EXPECT_EQ(rig.WriteBuffers(kModeLoader), 1u);
  EXPECT_EQ(rig.NvramWrites(kModeStartLoader), 1u);
  EXPECT_THAT(rig.Cdbs(Operation::WriteNvram).front(),
              ElementsAre(0xDF, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFB));
  EXPECT_EQ(BlockOffsets(rig), Offsets(65));
  EXPECT_EQ(rig.clock().Now(), std::chrono::milliseconds(2500));
  EXPECT_EQ(rig.clock().sleeps(), 2u);
  EXPECT_TRUE(rig.FlashHoldsImage());
  rig.bridge().Replug();
  EXPECT_EQ(rig.bridge().runState(), sim::RunState::Firmware);
  EXPECT_EQ(rig.bridge().runningVersion(), (sim::FirmwareVersion{0, 0, 1, 2}));
}

TEST(FlashProgrammingTest, BuiltInRomScenarioIsUpdatedThroughTheLoader) {
  const auto loaded = sim::LoadScenario("jms583-rom");
  ASSERT_TRUE(std::holds_alternative<sim::Scenario>(loaded));
  UpdateRig rig(Jms583(), std::get<sim::Scenario>(loaded).disks.at(0).bridge);
  EXPECT_EQ(rig.bridge().runState(), sim::RunState::BootRom);
  EXPECT_TRUE(rig.Update());
  EXPECT_EQ(rig.WriteBuffers(kModeLoader), 1u);
  rig.bridge().Replug();
  EXPECT_EQ(rig.bridge().runningVersion(), (sim::FirmwareVersion{0, 0, 1, 2}));
}

TEST(FlashProgrammingTest, RomModeRepeatsAFailedPassAtMostThreeTimes) {
  // WriteBuffer 1 is the loader; each pass after it sends 65 blocks.
  struct Case {
    std::vector<unsigned> failingWrites;
    bool result;
    std::size_t passes;
  };
  for (const Case& c : std::vector<Case>{
           {{2}, true, 2}, {{2, 3}, true, 3}, {{40, 41, 42}, false, 3}, {{2, 3, 4}, false, 3}}) {
    SCOPED_TRACE(::testing::Message() << "first failing write " << c.failingWrites.front());
    std::vector<sim::Fault> faults;
    for (const unsigned nth : c.failingWrites) {
      faults.push_back(On(Operation::WriteBuffer, nth, FaultEffect::Fail));
    }
    UpdateRig rig(Jms583(), Config(Jms583(), true, faults));
    EXPECT_EQ(rig.Update(), c.result);
    EXPECT_EQ(rig.NvramWrites(kModeStartLoader), c.passes);
    EXPECT_EQ(rig.WriteBuffers(kModeLoader), 1u)
        << "a second attempt finds the loader running and stops at the descriptor";
    EXPECT_EQ(rig.clock().Now(), std::chrono::milliseconds(2000 + 500 * c.passes));
    // A failed second attempt stops at the loader's descriptor, after setting the bar to 0.
    EXPECT_EQ(rig.view().progress.back(), c.result ? 100 : 0);
  }
}

TEST(FlashProgrammingTest, LoaderStartFailureEndsTheJms583ButNotTheJms578) {
  // The JMS578 loader is not carried; an image set that has one shows the tolerated failure.
  FakeImages images;
  images.images[{"JMS578_FW", "FW"}] =
      std::vector<std::uint8_t>(FirmwareImage(Jms578()).begin(), FirmwareImage(Jms578()).end());
  std::vector<std::uint8_t> loader(50176, 0);
  const std::array<std::uint8_t, 10> header{0x01, 0x00, 0x15, 0x2D, 0x05, 0x79, 4, 4, 6, 6};
  std::ranges::copy(header, loader.begin());
  images.images[{"JMS579_ROM0_MFG", "FW"}] = loader;

  const sim::Fault startFails = On(Operation::WriteNvram, 1, FaultEffect::Fail);
  UpdateRig jms583(Jms583(), Config(Jms583(), true, {startFails}));
  EXPECT_FALSE(jms583.Update());
  EXPECT_EQ(jms583.failure().step, UpdateStep::LoaderStart);
  EXPECT_EQ(BlockOffsets(jms583).size(), 0u);

  UpdateRig jms578(Jms578(), Config(Jms578(), true, {startFails}));
  EXPECT_TRUE(jms578.Update(&images));
  EXPECT_EQ(jms578.NvramWrites(kModeStartLoader), 2u)
      << "the loader took no block before it was started, so a second pass ran";
  EXPECT_TRUE(jms578.FlashHoldsImage());
}

TEST(FlashProgrammingTest, Jms578InRomModeStopsAtTheMissingLoaderBeforeAnyWrite) {
  UpdateRig rig(Jms578(), Config(Jms578(), true));
  EXPECT_FALSE(rig.Update());
  EXPECT_EQ(rig.failure().step, UpdateStep::Loader);
  EXPECT_THAT(rig.failure().reason, HasSubstr("JMS579_ROM0_MFG"));
  EXPECT_TRUE(rig.Cdbs(Operation::WriteBuffer).empty());
  EXPECT_TRUE(rig.Cdbs(Operation::WriteNvram).empty());
}

TEST(FlashProgrammingTest, NothingIsSentForAMissingImageOrAnUnservedChip) {
  FakeImages none;
  UpdateRig missing(Jms583());
  EXPECT_FALSE(missing.Update(&none));
  EXPECT_EQ(missing.failure().step, UpdateStep::Image);

  FakeImages shortImage;
  shortImage.images[{"JMS583_V234_01_00_02", "FW"}] = std::vector<std::uint8_t>(66560, 0);
  UpdateRig wrongSize(Jms583());
  EXPECT_FALSE(wrongSize.Update(&shortImage));
  EXPECT_EQ(wrongSize.failure().step, UpdateStep::Image);

  UpdateRig other(Jms583());
  UpdateContext context = other.Context();
  context.currentBridgeInfo = MakeBridgeInfo(21, 0);
  EXPECT_FALSE(UpdateFirmware(context, kEnclosurePath));
  EXPECT_EQ(other.failure().step, UpdateStep::Chip);

  for (UpdateRig* rig : {&missing, &wrongSize, &other}) {
    EXPECT_TRUE(rig->bridge().log().empty());
  }
}

TEST(FlashProgrammingTest, AFailedOrUnsignedIdentityReadStopsBeforeAnyWrite) {
  UpdateRig failing(Jms583(),
                    Config(Jms583(), false, {On(Operation::ReadIdentity, 1, FaultEffect::Fail)}));
  EXPECT_FALSE(failing.Update());
  UpdateRig unsigned_(
      Jms583(), Config(Jms583(), false, {On(Operation::ReadIdentity, 1, FaultEffect::Corrupt, 0)}));
  EXPECT_FALSE(unsigned_.Update());
  for (UpdateRig* rig : {&failing, &unsigned_}) {
    EXPECT_EQ(rig->failure().step, UpdateStep::Identity);
    EXPECT_TRUE(rig->Cdbs(Operation::WriteBuffer).empty());
    EXPECT_EQ(rig->bridge().log().size(), 1u);
  }
}

TEST(FlashProgrammingTest, DevelopmentImagesAreNeverSentToARealDevice) {
  struct Case {
    std::string_view name;
    bool development;
    bool marker;
    bool file;  ///< the image is a file the user gave, not the carried one
    bool refused;
  };
  std::vector<std::uint8_t> image(FirmwareImage(Jms583()).begin(), FirmwareImage(Jms583()).end());
  std::vector<std::uint8_t> clean = image;
  // Vendor images carry no marker; blank it out for the cases that stand for them.
  for (auto at = std::ranges::search(clean, kDevelopmentMarker).begin(); at != clean.end();
       at = std::ranges::search(clean, kDevelopmentMarker).begin()) {
    *at = 'k';
  }
  for (const Case& c :
       std::vector<Case>{{"development build", true, false, false, true},
                         {"marker in a vendor build", false, true, false, true},
                         {"vendor images", false, false, false, false},
                         {"a vendor's file in a development build", true, false, true, false},
                         {"a development image as a file", false, true, true, true}}) {
    SCOPED_TRACE(c.name);
    FakeImages images;
    images.isDevelopment = c.development;
    const std::vector<std::uint8_t>& written = c.marker ? image : clean;
    images.images[{"JMS583_V234_01_00_02", "FW"}] = c.file ? clean : written;
    FakePort port;
    Transport io(port);
    RecordingView view;
    RecordingSink sink;
    RecordingDebug debug;
    sim::SimulatedClock clock;
    UpdateFailure failure;
    UpdateContext context{
        io, clock, view, sink, debug, images, MakeBridgeInfo(kChipCodeJms583, 0), &failure};
    if (c.file) context.fileImage = written;
    EXPECT_FALSE(UpdateFirmware(context, kEnclosurePath));
    if (c.refused) {
      EXPECT_TRUE(port.opens.empty()) << "nothing may reach the device";
      ASSERT_EQ(sink.texts.size(), 1u);
      EXPECT_THAT(sink.texts[0], HasSubstr("development firmware image"));
      EXPECT_EQ(failure.step, UpdateStep::Guard);
    } else {
      // The fake answers zeros, so the identity block lacks its signature: the update got as far
      // as its first command.
      EXPECT_EQ(port.opens.size(), 1u);
      EXPECT_TRUE(sink.texts.empty());
      EXPECT_EQ(failure.step, UpdateStep::Identity);
    }
  }
}

/// Hands every call to another port and adds nothing, as a port that wraps another does.
class PassingPort final : public ForwardingPort {
 public:
  using ForwardingPort::ForwardingPort;
};

// Only the device stack's answer lifts the guard, whatever port the commands go through: the same
// simulated enclosure takes development images when the stack said simulated, and none under the
// context's default.
TEST(FlashProgrammingTest, TheGuardFollowsTheStacksAnswerNotThePort) {
  struct Case {
    std::string_view name;
    bool wrapped;
    bool stackSaysSimulated;
  };
  FakeImages development;
  development.isDevelopment = true;
  const std::span<const std::uint8_t> image = FirmwareImage(Jms583());
  development.images[{"JMS583_V234_01_00_02", "FW"}].assign(image.begin(), image.end());
  for (const Case& c : std::vector<Case>{{"simulated stack", false, true},
                                         {"simulated stack, wrapping port", true, true},
                                         {"default", false, false},
                                         {"default, wrapping port", true, false}}) {
    SCOPED_TRACE(c.name);
    UpdateRig rig(Jms583());
    PassingPort wrapper(rig.bus());
    Transport wrapped(wrapper);
    const UpdateContext base = rig.Context(&development);
    UpdateContext context{c.wrapped ? wrapped : rig.io(),
                          base.clock,
                          base.view,
                          base.messages,
                          base.debug,
                          base.images,
                          base.currentBridgeInfo,
                          base.failure};
    if (c.stackSaysSimulated) context.enclosures = Enclosures::Simulated;
    EXPECT_EQ(UpdateFirmware(context, kEnclosurePath), c.stackSaysSimulated);
    EXPECT_EQ(rig.FlashHoldsImage(), c.stackSaysSimulated);
    if (!c.stackSaysSimulated) {
      EXPECT_EQ(rig.failure().step, UpdateStep::Guard);
      EXPECT_TRUE(rig.bridge().log().empty()) << "nothing may reach the device";
    }
  }
}

/// The engine asks the mount check before it sends anything: a disk in use, or one whose use
/// cannot be told, is refused; a free one is written.
TEST(FlashProgrammingTest, ADiskInUseIsRefusedBeforeAnyCommand) {
  struct FixedMounts final : MountCheck {
    MountState state;
    MountState CheckMounts(std::string_view) override { return state; }
  };
  struct Case {
    MountState state;
    bool written;
    std::string_view reason;
  };
  const Case cases[] = {
      {{MountState::Kind::Free, ""}, true, ""},
      {{MountState::Kind::Mounted, "/media/nvme"}, false, "is mounted at /media/nvme: unmount it"},
      {{MountState::Kind::Swap, "/dev/sdb2"}, false, "turn it off with swapoff /dev/sdb2"},
      {{MountState::Kind::Stacked, "dm-0 on sdb1"}, false, "carries the volume dm-0 on sdb1"},
      {{MountState::Kind::Unknown, "no mount table"}, false, "could not be told (no mount table)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    UpdateRig rig(Jms583());
    FixedMounts mounts;
    mounts.state = c.state;
    UpdateContext context = rig.Context();
    context.mounts = &mounts;
    EXPECT_EQ(UpdateFirmware(context, kEnclosurePath), c.written);
    EXPECT_EQ(rig.FlashHoldsImage(), c.written);
    if (c.written) continue;
    EXPECT_EQ(rig.failure().step, UpdateStep::InUse);
    EXPECT_THAT(rig.failure().reason, HasSubstr(c.reason));
    EXPECT_TRUE(rig.bridge().log().empty()) << "nothing may reach the device";
  }
}

TEST(FlashProgrammingTest, ReadBackReadsTheReportedCapacityIntoABufferThatHoldsIt) {
  struct Case {
    std::uint32_t capacity;
    std::size_t outLength;
    bool result;
    std::size_t reads;
  };
  for (const Case& c : std::vector<Case>{{66560, 67072, true, 65},
                                         {0, 67072, false, 0},
                                         {66560, 66048, false, 0},
                                         {66048, 67072, false, 65}}) {
    SCOPED_TRACE(c.capacity);
    sim::BridgeConfig config = Config(Jms583());
    config.firmwareCapacity = c.capacity;
    UpdateRig rig(Jms583(), config);
    std::vector<std::uint8_t> out(c.outLength, 0xEE);
    UpdateFailure failure;
    EXPECT_EQ(ReadBackFlash(rig.io(), kEnclosurePath, out, &failure), c.result);
    EXPECT_EQ(rig.Cdbs(Operation::ReadBuffer).size(), 1 + c.reads);
    if (c.result) {
      EXPECT_TRUE(std::ranges::equal(rig.bridge().flash(), std::span(out).first(c.capacity)));
      EXPECT_THAT(std::span(out).subspan(c.capacity), Each(0)) << "zeros after the capacity";
    } else {
      EXPECT_EQ(failure.step, UpdateStep::ReadBack);
    }
  }
}

}  // namespace
}  // namespace korvane::testing
