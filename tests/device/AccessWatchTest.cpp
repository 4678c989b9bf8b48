#include "AccessWatch.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

#include "BridgeCommands.h"
#include "Transport.h"

namespace korvane {
namespace {

constexpr std::uint32_t kNoRights = 5;
constexpr std::uint32_t kNoCapability = 1;
constexpr std::uint32_t kGone = 2;

/// Opens "locked" disks never (no rights) and "gone" ones never (not there); on "raw" disks
/// every request fails for want of a capability, on "flaky" ones with another error.
class RulePort final : public Port {
 public:
  PortOpen Open(std::string_view path, Direction) override {
    if (path.find("locked") != std::string_view::npos) return {false, 0, kNoRights};
    if (path.find("gone") != std::string_view::npos) return {false, 0, kGone};
    ++opened;
    lastPath = path;
    return {true, opened, 0};
  }
  PortReply Execute(PortHandle, const PortRequest&) override {
    if (lastPath.find("raw") != std::string::npos) return {false, kNoCapability};
    if (lastPath.find("flaky") != std::string::npos) return {false, kGone};
    return {true, 0};
  }
  void Close(PortHandle) override { ++closed; }
  std::string Explain(std::string_view path, FailureStage, std::uint32_t error) const override {
    return "error " + std::to_string(error) + " on " + std::string(path);
  }
  bool DeniesAccess(FailureStage stage, std::uint32_t error) const override {
    return (stage == FailureStage::Open && error == kNoRights) ||
           (stage == FailureStage::Request && error == kNoCapability);
  }
  std::string ExplainStatus(std::uint16_t host, std::uint16_t) const override {
    return "host status " + std::to_string(host);
  }

  PortHandle opened = 0;
  int closed = 0;
  std::string lastPath;
};

TEST(AccessWatch, NotesOnlyRefusalsTheInnerPortCallsMissingRights) {
  struct Case {
    std::string path;
    bool denied;
  };
  const Case cases[] = {
      {"/dev/sg-fine", false},  {"/dev/sg-gone", false}, {"/dev/sg-flaky", false},
      {"/dev/sg-locked", true}, {"/dev/sd-raw", true},
  };
  for (const Case& c : cases) {
    RulePort inner;
    AccessWatch watch(inner);
    Transport io(watch);
    std::array<std::uint8_t, kIdentityBlockSize> block{};
    ReadIdentity(io, c.path, block);
    EXPECT_EQ(watch.denied(), c.denied) << c.path;
    EXPECT_EQ(watch.DeniedFor(c.path), c.denied) << c.path;
    EXPECT_EQ(inner.closed, static_cast<int>(inner.opened)) << c.path;
  }
}

// A decorator that drops one of the inner port's answers hides the kernel's words for a time-out.
TEST(AccessWatch, PassesOnTheInnerPortsWords) {
  RulePort inner;
  const AccessWatch watch(inner);
  EXPECT_EQ(watch.Explain("/dev/sg-gone", FailureStage::Open, kGone), "error 2 on /dev/sg-gone");
  EXPECT_EQ(watch.ExplainStatus(3, 0), "host status 3");
}

TEST(AccessWatch, KnowsWhichDiskWasRefusedWhateverItsLetterCase) {
  RulePort inner;
  AccessWatch watch(inner);
  Transport io(watch);
  std::array<std::uint8_t, kIdentityBlockSize> block{};
  ReadIdentity(io, "\\\\?\\USBSTOR#locked", block);
  ReadIdentity(io, "\\\\?\\usbstor#locked", block);
  ReadIdentity(io, "/dev/sg-fine", block);
  EXPECT_EQ(watch.denials(), 2u);
  EXPECT_TRUE(watch.DeniedFor("\\\\?\\usbstor#LOCKED"));
  EXPECT_FALSE(watch.DeniedFor("/dev/sg-fine"));
  // The reason still comes from the inner port.
  EXPECT_EQ(watch.Explain("x", FailureStage::Open, kNoRights), "error 5 on x");
}

}  // namespace
}  // namespace korvane
