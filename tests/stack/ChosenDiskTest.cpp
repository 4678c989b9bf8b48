#include "ChosenDisk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "SimulatedBus.h"
#include "SimulatedClock.h"

namespace korvane {
namespace {

constexpr InterfaceMarks kUsb{.usbStorage = true};

/// Devices whose lister answers a script of listings, the last one again once they run out.
class ScriptedDevices final : public Devices {
 public:
  explicit ScriptedDevices(std::vector<std::vector<DiskInterface>> listings)
      : lister_(std::move(listings)) {}
  Port& port() override { return bus_; }
  DiskLister& lister() override { return lister_; }
  Clock& clock() override { return clock_; }
  DeviceChanges& changes() override { return changes_; }
  Enclosures enclosures() const override { return Enclosures::Simulated; }
  MountState CheckMounts(std::string_view) override { return {}; }
  int listed() const { return lister_.calls; }

 private:
  struct Lister final : DiskLister {
    explicit Lister(std::vector<std::vector<DiskInterface>> script) : listings(std::move(script)) {}
    std::vector<DiskInterface> ListDisks() override {
      const auto at = std::min<std::size_t>(static_cast<std::size_t>(calls++), listings.size() - 1);
      return listings[at];
    }
    std::vector<std::vector<DiskInterface>> listings;
    int calls = 0;
  };
  sim::SimulatedClock clock_;
  sim::SimulatedBus bus_{clock_};
  NoDeviceChanges changes_;
  Lister lister_;
};

std::vector<std::string> Paths(const std::vector<DiskInterface>& disks) {
  std::vector<std::string> paths;
  for (const DiskInterface& disk : disks) paths.push_back(disk.path);
  return paths;
}

// Each case lists the disks some times; the replug is expected before the listing at followFrom.
TEST(ChosenDisk, DiscoverySeesTheChosenDiskAloneAndAfterAReplugWhatTakesItsPlace) {
  struct Case {
    const char* what;
    std::string chosen;
    std::vector<std::vector<DiskInterface>> listings;
    std::size_t followFrom;  ///< the listing before which the replug is expected
    std::vector<std::vector<std::string>> seen;
  };
  const DiskInterface a{"/dev/sg1", kUsb}, b{"/dev/sg2", kUsb}, c{"/dev/sg3", kUsb};
  const DiskInterface d{"/dev/sg4", kUsb};
  const Case cases[] = {
      {"one of three", "/dev/sg2", {{a, b, c}}, 9, {{"/dev/sg2"}}},
      {"without regard to case", "/DEV/SG2", {{a, b}}, 9, {{"/dev/sg2"}}},
      {"gone, and nothing stands in before a replug",
       "/dev/sg2",
       {{a, b}, {a, d}},
       9,
       {{"/dev/sg2"}, {}}},
      {"back under a new path after the replug",
       "/dev/sg2",
       {{a, b, c}, {a, c}, {a, c, d}},
       1,
       {{"/dev/sg2"}, {}, {"/dev/sg4"}}},
      {"its own path first", "/dev/sg2", {{a, b}, {a, b, d}}, 1, {{"/dev/sg2"}, {"/dev/sg2"}}},
      {"a disk listed before never stands in",
       "/dev/sg2",
       {{a, b}, {a}, {a, c}},
       2,
       {{"/dev/sg2"}, {}, {"/dev/sg3"}}},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.what);
    ScriptedDevices inner(test.listings);
    ChosenDisk chosen(inner, test.chosen);
    for (std::size_t i = 0; i < test.seen.size(); ++i) {
      if (i == test.followFrom) chosen.ExpectReplug();
      EXPECT_EQ(Paths(chosen.lister().ListDisks()), test.seen[i]) << "listing " << i;
    }
    EXPECT_EQ(inner.listed(), static_cast<int>(test.seen.size()));
  }
}

// The standing is told from the first listing, which the first scan then gets: listing once.
TEST(ChosenDisk, StandingIsToldFromTheListingTheFirstScanGets) {
  struct Case {
    std::string chosen;
    ChosenStanding standing;
  };
  const std::vector<DiskInterface> disks{{"/dev/sg0", {}},
                                         {"/dev/sg1", {.ieee1394 = true}},
                                         {"/dev/sg2", kUsb},
                                         {"/dev/sg3", {.scsi = true}}};
  const Case cases[] = {
      {"/dev/sg0", ChosenStanding::NotCandidate}, {"/dev/sg1", ChosenStanding::Listed},
      {"/dev/sg2", ChosenStanding::Listed},       {"/dev/sg3", ChosenStanding::Listed},
      {"/dev/sg9", ChosenStanding::NotListed},    {"/dev/sg", ChosenStanding::NotListed}};
  for (const Case& test : cases) {
    ScriptedDevices inner({disks, {}});
    ChosenDisk chosen(inner, test.chosen);
    EXPECT_EQ(chosen.Standing(), test.standing) << test.chosen;
    const auto first = chosen.lister().ListDisks();
    EXPECT_EQ(inner.listed(), 1) << test.chosen;
    EXPECT_EQ(first.size(), test.standing == ChosenStanding::NotListed ? 0u : 1u) << test.chosen;
  }
}

}  // namespace
}  // namespace korvane
