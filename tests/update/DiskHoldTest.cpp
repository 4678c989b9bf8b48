#include "DiskHold.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "EmbeddedImages.h"
#include "UpdateJob.h"
#include "UpdateRig.h"

namespace korvane::testing {
namespace {

using ::testing::Contains;
using ::testing::HasSubstr;

/// A holder that notes how far the bridge's log had come when the hold was taken and released.
class WatchingHolder final : public DiskHolder {
 public:
  WatchingHolder(const sim::SimulatedBridge& bridge, std::optional<std::string> refusal,
                 std::string gaps)
      : bridge_(bridge), refusal_(std::move(refusal)), gaps_(std::move(gaps)) {}

  std::variant<std::unique_ptr<DiskHold>, std::string> Hold(std::string_view) override {
    takenAt = bridge_.log().size();
    if (refusal_) return *refusal_;
    return std::make_unique<Watched>(*this);
  }

  std::optional<std::size_t> takenAt;
  std::optional<std::size_t> releasedAt;

 private:
  class Watched final : public DiskHold {
   public:
    explicit Watched(WatchingHolder& holder) : holder_(holder) {}
    ~Watched() override { holder_.releasedAt = holder_.bridge_.log().size(); }
    std::string gaps() const override { return holder_.gaps_; }

   private:
    WatchingHolder& holder_;
  };

  const sim::SimulatedBridge& bridge_;
  std::optional<std::string> refusal_;
  std::string gaps_;
};

struct NoDisks final : DiskLister {
  std::vector<DiskInterface> ListDisks() override { return {}; }
};

/// The disk is held from before the first command until the NVRAM record is written, and let go
/// however the update ends; a disk that cannot be held is refused before anything is sent.
TEST(DiskHold, TheDiskIsHeldForTheWholeUpdate) {
  struct Case {
    std::string_view name;
    std::vector<sim::Fault> faults;
    std::optional<std::string> refusal;
    bool complete;
  };
  const Case cases[] = {
      {"complete", {}, std::nullopt, true},
      {"a block fails",
       {On(sim::Operation::WriteBuffer, 3, sim::FaultEffect::Fail),
        On(sim::Operation::WriteBuffer, 5, sim::FaultEffect::Fail)},
       std::nullopt,
       false},
      {"refused", {}, "a program has files open on E:", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ChipUpdate& chip = *FindChipUpdate(kChipCodeJms583);
    UpdateRig rig(chip, Config(chip, false, c.faults));
    WatchingHolder holder(rig.bridge(), c.refusal, "the volume F: was flushed but not locked");
    NoDisks lister;
    const EmbeddedImages images;
    const DeviceServices devices{rig.io(), lister,  rig.clock(), Enclosures::Simulated,
                                 nullptr,  nullptr, &holder};
    UpdateJob job(JobServices{devices, rig.sink(), rig.debug(), images});
    EXPECT_EQ(job.Update(kEnclosurePath, MakeBridgeInfo(chip.chipCode, 0), rig.view()), c.complete);
    ASSERT_EQ(holder.takenAt, 0u) << "the hold comes before any command";
    if (c.refusal) {
      EXPECT_EQ(job.failure().step, UpdateStep::InUse);
      EXPECT_EQ(job.failure().reason, *c.refusal);
      EXPECT_TRUE(rig.bridge().log().empty());
      continue;
    }
    EXPECT_EQ(holder.releasedAt, rig.bridge().log().size()) << "held until the last command";
    EXPECT_EQ(rig.NvramWrites(1), c.complete ? 1u : 0u);
    EXPECT_THAT(rig.debug().lines, Contains(HasSubstr("Disk hold: the volume F: was flushed")));
  }
}

}  // namespace
}  // namespace korvane::testing
