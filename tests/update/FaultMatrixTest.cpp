// The whole update, run once for every command position with that command failing, the disk
// vanishing there, or the data of that transfer damaged. Whatever happens, a reported success
// means the enclosure holds the image and the rewritten record, and a failed firmware step never
// reaches the NVRAM record.
#include <gtest/gtest.h>

#include <iostream>

#include "FlashProgramming.h"
#include "NvramIdentity.h"
#include "UpdateJob.h"
#include "UpdateRig.h"

namespace korvane::testing {
namespace {

using sim::FaultEffect;
using sim::Operation;

constexpr std::uint8_t kModeWriteRecord = 1;
constexpr std::uint8_t kModeWriteFlash = 0x0E;  // a firmware block, saved and deferred
/// The byte a damaging fault inverts: inside the header of the first block, inside the USB
/// descriptors of the NVRAM record, the capacity of a descriptor.
constexpr std::size_t kDamagedByte = 0x10;

struct PathCase {
  const ChipUpdate& chip;
  bool romMode;
  bool cleanResult;  ///< what the update gives without a fault
};

struct UpdateRun {
  bool result = false;
  bool firmwareOk = false;
  bool written = false;
};

struct NoDisks final : DiskLister {
  std::vector<DiskInterface> ListDisks() override { return {}; }
};

struct WindowSteps final : UpdateSteps {
  explicit WindowSteps(UpdateView& shown) : shown_(shown) {}
  UpdateView& view() override { return shown_; }
  BackupEnd KeepBackup(const FirmwareBackup& read, UpdateFailure&) override { return read.end; }

 private:
  UpdateView& shown_;
};

/// The window's request, prepared and run by the job: the firmware step and, after it succeeded,
/// the NVRAM step.
UpdateRun WholeUpdate(UpdateRig& rig) {
  NoDisks lister;
  const EmbeddedImages images;
  const DeviceServices devices{rig.io(), lister, rig.clock(), Enclosures::Simulated};
  UpdateJob job(JobServices{devices, rig.sink(), rig.debug(), images});
  UpdateRequest request;
  request.path = kEnclosurePath;
  request.info = MakeBridgeInfo(rig.chip().chipCode, 0);
  const Preparation prepared = job.Prepare(request);
  WindowSteps steps(rig.view());
  const JobOutcome outcome = job.Run(*prepared.plan, steps);
  return {outcome.complete(), outcome.complete() || outcome.reached == JobStep::Nvram,
          outcome.written};
}

sim::NvramRecord FactoryRecord(const ChipUpdate& chip) {
  return sim::DefaultConfig(SimChip(chip)).nvramRecord;
}

/// The factory record with our name over the maker's at 200.
sim::NvramRecord RewrittenRecord(const ChipUpdate& chip) {
  sim::NvramRecord record = FactoryRecord(chip);
  std::ranges::copy(std::string_view("Korvane"), record.begin() + 200);
  return record;
}

bool Writes(Operation operation) {
  return operation == Operation::WriteBuffer || operation == Operation::WriteNvram;
}

/// Position (from 1) of the last command that wrote to the bridge; 0 when none did.
std::size_t LastWrite(const sim::SimulatedBridge& bridge) {
  const auto& log = bridge.log();
  for (std::size_t i = log.size(); i > 0; --i) {
    if (Writes(log[i - 1].operation)) return i;
  }
  return 0;
}

/// Commands whose data the update checks: the flash transfers and the NVRAM record write.
bool Damageable(Operation operation) {
  return operation == Operation::ReadBuffer || Writes(operation);
}

void CheckRun(UpdateRig& rig, const PathCase& path, std::size_t k, const UpdateRun& run) {
  const bool flashGood = rig.FlashHoldsImage();
  const bool recordGood =
      std::ranges::equal(rig.bridge().nvramRecord(), RewrittenRecord(path.chip));
  if (run.result) {
    EXPECT_TRUE(flashGood && recordGood) << "success reported for an enclosure not updated";
    EXPECT_EQ(std::string(rig.bridge().nvramRecord().begin() + 200,
                          rig.bridge().nvramRecord().begin() + 207),
              "Korvane");
  } else if (flashGood && recordGood) {
    // Only a fault on a verifying read after the last write leaves a good enclosure unconfirmed.
    EXPECT_GT(k, LastWrite(rig.bridge())) << "failure reported for an updated enclosure";
  }
  if (!run.written) {
    EXPECT_EQ(rig.WriteBuffers(kModeWriteFlash), 0u) << "a block was sent, but the run says not";
  }
  if (!run.firmwareOk) {
    EXPECT_EQ(rig.NvramWrites(kModeWriteRecord), 0u)
        << "NVRAM written after a failed firmware step";
    EXPECT_TRUE(std::ranges::equal(rig.bridge().nvramRecord(), FactoryRecord(path.chip)));
  }
  EXPECT_EQ(rig.bus().openHandles(), 0u);
  if (run.result) {
    rig.bridge().Replug();
    EXPECT_EQ(rig.bridge().runState(), sim::RunState::Firmware);
  }
}

TEST(FaultMatrixTest, EveryCommandFailingVanishingOrDamagedNeverGivesAFalseSuccess) {
  const std::vector<PathCase> paths{{Jms583(), false, true},
                                    {Jms583(), true, true},
                                    {Jms578(), false, true},
                                    {Jms578(), true, false}};
  std::size_t cases = 0;
  for (const PathCase& path : paths) {
    SCOPED_TRACE(std::string(path.chip.chipName) + (path.romMode ? " in ROM mode" : ""));
    UpdateRig clean(path.chip, Config(path.chip, path.romMode));
    ASSERT_EQ(WholeUpdate(clean).result, path.cleanResult);
    const std::vector<sim::LoggedCommand> commands = clean.bridge().log();
    // One position past the last command: the fault never strikes and the clean result holds.
    for (std::size_t k = 1; k <= commands.size() + 1; ++k) {
      for (const FaultEffect effect :
           {FaultEffect::Fail, FaultEffect::Vanish, FaultEffect::Corrupt}) {
        const bool struck = k <= commands.size();
        if (effect == FaultEffect::Corrupt && (!struck || !Damageable(commands[k - 1].operation))) {
          continue;
        }
        SCOPED_TRACE(::testing::Message()
                     << "command " << k << " effect " << static_cast<int>(effect));
        UpdateRig rig(path.chip,
                      Config(path.chip, path.romMode,
                             {OnCommand(static_cast<unsigned>(k), effect, kDamagedByte)}));
        const UpdateRun run = WholeUpdate(rig);
        ++cases;
        CheckRun(rig, path, k, run);
        if (!struck) {
          EXPECT_EQ(run.result, path.cleanResult);
        }
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
  std::cout << "[ fault matrix ] " << cases << " cases\n";
  ::testing::Test::RecordProperty("cases", static_cast<int>(cases));
  EXPECT_GT(cases, 1000u);
}

}  // namespace
}  // namespace korvane::testing
