#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "JobRig.h"

namespace korvane::testing {
namespace {

using ::testing::ElementsAreArray;

// The declared steps in order, the step each run ends at, and whether anything reached the
// flash or the NVRAM record: a refused backup or a refusal of the write sends no write at all.
TEST(UpdateRunTest, TheRunWalksItsStepsAndSaysWhereItEndedAndWhetherItWrote) {
  struct Case {
    const char* what;
    bool backupFirst;
    std::optional<std::string> notReady;
    bool keepFails;
    std::vector<sim::Fault> faults;
    MountState::Kind mounts;
    std::vector<std::string> steps;
    JobStep reached;
    Refusal refusal;
    bool written;
    UpdateStep failed;
  };
  const std::vector<std::string> kWhole{"ready",      "begin backup", "keep",
                                        "end backup", "begin write",  "end write"};
  const std::vector<std::string> kWrite{"begin write", "end write"};
  const Case cases[] = {
      {"backup, then the write",
       true,
       std::nullopt,
       false,
       {},
       MountState::Kind::Free,
       kWhole,
       JobStep::Done,
       Refusal::None,
       true,
       UpdateStep::None},
      {"no backup",
       false,
       std::nullopt,
       false,
       {},
       MountState::Kind::Free,
       kWrite,
       JobStep::Done,
       Refusal::None,
       true,
       UpdateStep::None},
      {"no place for the backup",
       true,
       "no state folder",
       false,
       {},
       MountState::Kind::Free,
       {"ready"},
       JobStep::Backup,
       Refusal::Backup,
       false,
       UpdateStep::Backup},
      {"the backup read is not kept",
       true,
       std::nullopt,
       true,
       {},
       MountState::Kind::Free,
       {"ready", "begin backup", "keep", "end backup"},
       JobStep::Backup,
       Refusal::Backup,
       false,
       UpdateStep::Backup},
      {"the backup's second read differs",
       true,
       std::nullopt,
       false,
       {On(sim::Operation::ReadBuffer, 2, sim::FaultEffect::Corrupt, 0x40)},
       MountState::Kind::Free,
       {"ready", "begin backup", "keep", "end backup"},
       JobStep::Backup,
       Refusal::Backup,
       false,
       UpdateStep::Backup},
      {"disk in use",
       false,
       std::nullopt,
       false,
       {},
       MountState::Kind::Mounted,
       kWrite,
       JobStep::Write,
       Refusal::InUse,
       false,
       UpdateStep::InUse},
      {"the first block fails",
       false,
       std::nullopt,
       false,
       {On(sim::Operation::WriteBuffer, 1, sim::FaultEffect::Vanish)},
       MountState::Kind::Free,
       kWrite,
       JobStep::Write,
       Refusal::None,
       true,
       UpdateStep::WriteBlock},
      {"the record written differs",
       false,
       std::nullopt,
       false,
       {On(sim::Operation::WriteNvram, 1, sim::FaultEffect::Corrupt, 0x10)},
       MountState::Kind::Free,
       kWrite,
       JobStep::Nvram,
       Refusal::None,
       true,
       UpdateStep::NvramVerify},
  };
  const ChipUpdate& chip = Jms583();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JobRig rig;
    rig.mounts.state.kind = c.mounts;
    sim::BridgeConfig config = RunningConfig(chip, {0, 0, 0, 8});
    config.faults = c.faults;
    sim::SimulatedBridge& bridge = rig.Plug(kJobDisk, config);
    const std::vector<std::uint8_t> flash(bridge.flash().begin(), bridge.flash().end());
    const std::vector<std::uint8_t> record(bridge.nvramRecord().begin(),
                                           bridge.nvramRecord().end());
    UpdateRequest request;
    request.path = kJobDisk;
    request.info = MakeBridgeInfo(chip.chipCode, 0);
    request.backupFirst = c.backupFirst;
    const Preparation prepared = rig.job.Prepare(request);
    ASSERT_TRUE(prepared.plan.has_value());
    RecordingSteps steps(rig.view);
    steps.notReady = c.notReady;
    steps.keepFails = c.keepFails;

    const JobOutcome outcome = rig.job.Run(*prepared.plan, steps);
    EXPECT_THAT(steps.log, ElementsAreArray(c.steps));
    EXPECT_EQ(outcome.reached, c.reached);
    EXPECT_EQ(outcome.complete(), c.reached == JobStep::Done);
    EXPECT_EQ(outcome.refusal, c.refusal);
    EXPECT_EQ(outcome.written, c.written);
    EXPECT_EQ(outcome.failure.step, c.failed);
    EXPECT_EQ(outcome.noRights, false);
    if (!c.written) {
      EXPECT_TRUE(std::ranges::equal(bridge.flash(), flash)) << "the flash was written";
      EXPECT_TRUE(std::ranges::equal(bridge.nvramRecord(), record)) << "the record was written";
      EXPECT_EQ(rig.Received(kJobDisk, sim::Operation::WriteBuffer), 0u);
    }
    if (outcome.reached != JobStep::Nvram && !outcome.complete()) {
      EXPECT_EQ(rig.Received(kJobDisk, sim::Operation::WriteNvram), 0u)
          << "the NVRAM record follows only a verified firmware";
    }
  }
}

}  // namespace
}  // namespace korvane::testing
