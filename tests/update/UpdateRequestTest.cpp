#include "UpdateRequest.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ImageCheck.h"
#include "ImageLayout.h"
#include "JobRig.h"
#include "NvramIdentity.h"

namespace korvane::testing {
namespace {

using ::testing::HasSubstr;
using Version = std::array<std::uint8_t, 4>;
using Bytes = std::vector<std::uint8_t>;

/// A header naming version; the version rule reads nothing else of a file.
Bytes HeaderNaming(Version version) {
  Bytes image(0x200, 0);
  std::ranges::copy(version, image.begin() + kImageVersionAt);
  return image;
}

VersionCheck Running(const ChipUpdate& chip, std::optional<Version> firmware,
                     bool romMode = false) {
  VersionCheck check;
  check.chip = &chip;
  check.firmware = firmware;
  check.romMode = romMode;
  return check;
}

void ExpectRefusal(const std::optional<std::string>& refusal, std::string_view expected) {
  if (expected.empty()) {
    EXPECT_EQ(refusal, std::nullopt);
    return;
  }
  ASSERT_TRUE(refusal.has_value());
  EXPECT_THAT(*refusal, HasSubstr(std::string(expected)));
}

// Each byte decides where those before it are equal; the bytes after it, set to say the opposite,
// do not count.
TEST(UpdateRequestTest, EveryByteOfTheVersionDecidesInTurn) {
  constexpr Version kFile{2, 2, 2, 2};
  for (std::size_t at = 0; at < kFile.size(); ++at) {
    Version newer = kFile;
    Version older = kFile;
    newer[at] = 3;
    older[at] = 1;
    for (std::size_t after = at + 1; after < kFile.size(); ++after) {
      newer[after] = 0;
      older[after] = 9;
    }
    SCOPED_TRACE(::testing::Message() << "byte " << at);
    ExpectRefusal(VersionRefusal(Running(Jms583(), newer), Jms583(), HeaderNaming(kFile), {}),
                  "the file holds 2.2.2.2, older than the running");
    ExpectRefusal(VersionRefusal(Running(Jms583(), older), Jms583(), HeaderNaming(kFile), {}), "");
  }
  ExpectRefusal(VersionRefusal(Running(Jms583(), kFile), Jms583(), HeaderNaming(kFile), {}),
                "which the bridge runs already: add --allow-reinstall");
}

TEST(UpdateRequestTest, EachLeaveLiftsOnlyItsOwnVersionRefusal) {
  struct Case {
    const char* what;
    const ChipUpdate& chip;
    std::optional<Version> running;
    bool romMode;
    VersionLeave leave;
    std::string_view refusal;
  };
  constexpr Version kFile{2, 2, 2, 2};
  const Case cases[] = {
      {"older, allowed", Jms583(), Version{3, 0, 0, 0}, false, {.allowOlder = true}, ""},
      {"older, other leaves",
       Jms583(),
       Version{3, 0, 0, 0},
       false,
       {.allowReinstall = true, .force = true},
       "add --allow-older"},
      {"the same, allowed", Jms583(), kFile, false, {.allowReinstall = true}, ""},
      {"the same, other leaves",
       Jms583(),
       kFile,
       false,
       {.allowOlder = true, .force = true},
       "add --allow-reinstall"},
      {"boot ROM: nothing runs to keep", Jms583(), Version{9, 9, 9, 9}, true, {}, ""},
      {"running version unread",
       Jms583(),
       std::nullopt,
       false,
       {true, true, true},
       "the running version could not be read"},
      {"JMS578 cannot be ordered",
       Jms578(),
       Version{0, 1, 0, 3},
       false,
       {.allowOlder = true, .allowReinstall = true},
       "which cannot be ordered against the running 0.1.0.3: add --force"},
      {"JMS578 forced", Jms578(), Version{0, 1, 0, 3}, false, {.force = true}, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ExpectRefusal(
        VersionRefusal(Running(c.chip, c.running, c.romMode), c.chip, HeaderNaming(kFile), c.leave),
        c.refusal);
  }
}

// The record's USB ids lead it; the serial string descriptor sits at 0x54.
TEST(UpdateRequestTest, ARecordGoesBackOnlyToTheEnclosureWithItsIdsAndSerial) {
  struct Case {
    const char* what;
    std::size_t changed;  ///< the byte of the saved record changed; 0xFFFF: none
    bool refused;
  };
  const Case cases[] = {
      {"its own", 0xFFFF, false},       {"vendor id, low", 0, true},
      {"vendor id, high", 1, true},     {"product id, low", 2, true},
      {"product id, high", 3, true},    {"serial length", 0x54, true},
      {"serial character", 0x56, true}, {"a byte of neither", 200, false},
  };
  const sim::NvramRecord own = sim::DefaultConfig(sim::Chip::Jms583).nvramRecord;
  ASSERT_FALSE(SerialDescriptor(own).empty());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::NvramRecord saved = own;
    if (c.changed < saved.size()) saved[c.changed] ^= 0x01;
    EXPECT_EQ(RestoreRecordRefusal(saved, own).has_value(), c.refused);
  }
}

constexpr Version kOld583{0, 0, 0, 8};

/// A sibling chip of the family that discovery accepts and the update turns down.
sim::BridgeConfig UnknownChip() {
  const auto loaded = sim::LoadScenario("unsupported-bridge");
  return std::get<sim::Scenario>(loaded).disks.front().bridge;
}

/// A copy of the carried image of chip, cut short by cut bytes.
Bytes CarriedCopy(const ChipUpdate& chip, std::size_t cut = 0) {
  const auto image = FirmwareImage(chip);
  return Bytes(image.begin(), image.end() - static_cast<std::ptrdiff_t>(cut));
}

// The command line's request, prepared against one check: which refusal each rule makes, under
// which step name, and that a refused request sends nothing more than the check did.
TEST(UpdateRequestTest, PrepareRefusesBeforeAnythingIsWritten) {
  struct Case {
    const char* what;
    sim::BridgeConfig config;
    std::optional<Bytes> file;
    Enclosures enclosures = Enclosures::Simulated;
    bool development = false;
    MountState::Kind mounts = MountState::Kind::Free;
    /// 1: the file's record is to be written back; 2: and the file is a simulated one's backup.
    int restore = 0;
    Refusal refusal = Refusal::None;
    std::string_view step = "";
    std::string_view reason = "";
    VersionLeave leave = {};
    bool window = false;  ///< the window's request, which keeps the fixed rules
  };
  const Version carried = *CarriedRunningVersion(Jms583());
  const Version newer{1, 0, 0, 0};
  const Case cases[] = {
      {"carried, offered", RunningConfig(Jms583(), kOld583), std::nullopt, Enclosures::Simulated,
       false, MountState::Kind::Free, false, Refusal::None, "", ""},
      {"carried, development images, real", RunningConfig(Jms583(), kOld583), std::nullopt,
       Enclosures::Real, true, MountState::Kind::Free, false, Refusal::Guard, "guard",
       "development firmware images only"},
      {"carried, vendor's images, real", RunningConfig(Jms583(), kOld583), std::nullopt,
       Enclosures::Real, false, MountState::Kind::Free, false, Refusal::None, "", ""},
      {"carried, up to date", RunningConfig(Jms583(), carried), std::nullopt, Enclosures::Simulated,
       false, MountState::Kind::Free, false, Refusal::NotOffered, "none", ""},
      // The fixed rules offer the carried image over a newer version; the command line orders it
      // as a file.
      {"carried, older than what runs", RunningConfig(Jms583(), newer), std::nullopt,
       Enclosures::Simulated, false, MountState::Kind::Free, false, Refusal::Version, "version",
       "the carried firmware is 0.0.1.2, older than the running 1.0.0.0: add --allow-older"},
      {"carried, older, allowed", RunningConfig(Jms583(), newer), std::nullopt,
       Enclosures::Simulated, false, MountState::Kind::Free, false, Refusal::None, "", "",
       VersionLeave{.allowOlder = true}},
      {"carried, older, the window's request",
       RunningConfig(Jms583(), newer),
       std::nullopt,
       Enclosures::Simulated,
       false,
       MountState::Kind::Free,
       false,
       Refusal::None,
       "",
       "",
       {},
       true},
      {"file, up to date, the same version", RunningConfig(Jms583(), carried),
       CarriedCopy(Jms583()), Enclosures::Simulated, false, MountState::Kind::Free, false,
       Refusal::Version, "version", "runs already"},
      {"file of another chip", RunningConfig(Jms583(), kOld583), CarriedCopy(Jms578()),
       Enclosures::Simulated, false, MountState::Kind::Free, false, Refusal::FileChip, "image",
       "new.bin is an image for a JMS578; the enclosure's bridge is a JMS583"},
      {"file cut short", RunningConfig(Jms583(), kOld583), CarriedCopy(Jms583(), 1),
       Enclosures::Simulated, false, MountState::Kind::Free, false, Refusal::FileImage, "image",
       "new.bin: "},
      {"file, disk mounted", RunningConfig(Jms583(), kOld583), CarriedCopy(Jms583()),
       Enclosures::Simulated, false, MountState::Kind::Mounted, false, Refusal::InUse, "mounted",
       "the enclosure"},
      {"file, restore of no backup", RunningConfig(Jms583(), kOld583), CarriedCopy(Jms583()),
       Enclosures::Simulated, false, MountState::Kind::Free, true, Refusal::Restore, "image",
       "not a backup this program made"},
      {"file, restore of a simulated backup to a real one", RunningConfig(Jms583(), kOld583),
       CarriedCopy(Jms583()), Enclosures::Real, false, MountState::Kind::Free, 2, Refusal::Restore,
       "image", "the backup of a simulated enclosure"},
      {"file, no chip of ours", UnknownChip(), CarriedCopy(Jms583()), Enclosures::Simulated, false,
       MountState::Kind::Free, false, Refusal::Chip, "chip",
       "no enclosure of a chip this program updates was identified"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JobRig rig(c.enclosures);
    rig.images.isDevelopment = c.development;
    rig.mounts.state.kind = c.mounts;
    rig.Plug(kJobDisk, c.config);
    rig.job.ScanAndCheck();
    const std::size_t sent = rig.bus.Find(kJobDisk)->log().size();
    const FirmwareFile file{
        "new.bin",
        c.file ? std::span<const std::uint8_t>(*c.file) : std::span<const std::uint8_t>(), "",
        c.restore == 2, c.restore == 2};
    UpdateRequest request = rig.Request(c.file ? &file : nullptr);
    request.restoreNvram = c.restore != 0;
    request.leave = c.leave;
    request.orderCarried = !c.window;

    const Preparation prepared = rig.job.Prepare(request);
    EXPECT_EQ(prepared.refusal, c.refusal);
    EXPECT_EQ(rig.bus.Find(kJobDisk)->log().size(), sent) << "preparing sent a command";
    if (c.refusal != Refusal::None) {
      EXPECT_FALSE(prepared.plan.has_value());
      EXPECT_EQ(UpdateStepName(RefusalStep(c.refusal)), c.step);
      EXPECT_THAT(prepared.reason, HasSubstr(std::string(c.reason)));
      continue;
    }
    ASSERT_TRUE(prepared.plan.has_value());
    EXPECT_EQ(prepared.plan->chip, &Jms583());
    EXPECT_EQ(prepared.plan->path, rig.job.check().path);
    EXPECT_EQ(prepared.plan->running, carried) << "what the bridge runs once it runs the image";
  }
}

// A backup of this very enclosure gives its record back; one of another enclosure does not, and
// neither sends more than the one read of the enclosure's own record.
TEST(UpdateRequestTest, PrepareComparesARestoredRecordWithTheEnclosuresOwn) {
  for (const bool other : {false, true}) {
    SCOPED_TRACE(other ? "another enclosure's backup" : "its own backup");
    JobRig rig;
    rig.Plug(kJobDisk, RunningConfig(Jms583(), kOld583));
    rig.job.ScanAndCheck();
    Bytes backup = CarriedCopy(Jms583());
    const auto current = rig.bus.Find(kJobDisk)->nvramRecord();
    const Bytes own(current.begin(), current.end());
    std::ranges::copy(own, backup.begin() + Jms583().firmwareArea);
    if (other) backup[Jms583().firmwareArea + 0x56] ^= 0x01;
    const FirmwareFile file{"backup.bin", backup, "", true, true};
    UpdateRequest request = rig.Request(&file);
    request.leave.allowOlder = true;
    request.restoreNvram = true;
    const std::size_t reads = rig.Received(kJobDisk, sim::Operation::ReadNvram);

    const Preparation prepared = rig.job.Prepare(request);
    EXPECT_EQ(rig.Received(kJobDisk, sim::Operation::ReadNvram), reads + 1);
    if (other) {
      EXPECT_EQ(prepared.refusal, Refusal::Restore);
      EXPECT_THAT(prepared.reason, HasSubstr("made of another enclosure"));
      continue;
    }
    ASSERT_TRUE(prepared.plan.has_value());
    EXPECT_TRUE(std::ranges::equal(prepared.plan->write.restoreNvram, own));
  }
}

}  // namespace
}  // namespace korvane::testing
