// The scan and the version check, through a recording window over simulated enclosures.
#include "TForm1.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FormRig.h"
#include "Text.h"

namespace korvane::testing {
namespace {

using sim::Chip;
using sim::Operation;

const std::string kModel = "Korvane NVMe Enclosure  ";  // INQUIRY bytes 8-31, blank-padded

std::vector<std::string> Slice(const std::vector<std::string>& log, std::size_t from,
                               std::size_t count) {
  return {log.begin() + static_cast<std::ptrdiff_t>(from),
          log.begin() + static_cast<std::ptrdiff_t>(std::min(from + count, log.size()))};
}

// ---- The scan ----------------------------------------------------------------------------------

TEST(TForm1Scan, WithoutACandidateShowsNothingFoundAndRunsNoCheck) {
  FormRig rig;
  sim::BridgeConfig stick;
  stick.vendorCommands = false;
  rig.Plug(kOtherPath, stick);
  rig.desktop.extended = OsVersion{6, 1};
  rig.Scan();

  const std::vector<std::string> expected{
      "picture Image1 BACKGROUND",
      "show Image2",
      "hide Image3",
      "text Looking for Korvane adaptor",
      "disable lblStaust",
      "pump",
      "picture Image3 CROSS",
      "clear list",
      "hide Image2",
      "show Image3",
      "text Cannot find any outdated Korvane devices. ",
      "disable lblStaust",
      "line No available device!!!",
      "select 0",
      "disable cbb_DeviceList",
  };
  EXPECT_EQ(rig.view.log(), expected);
  EXPECT_EQ(rig.form.display(), Display::NothingFound);
  EXPECT_EQ(rig.form.state().EnumeratedDiskCount, 0);
  EXPECT_EQ(rig.desktop.finds, 0u) << "the dialog sweep belongs to the check";
}

TEST(TForm1Scan, ListsOneEnclosureWithItsBusTagAndChecksIt) {
  struct Case {
    std::string_view path;
    std::string tag;
  };
  for (const Case& c :
       {Case{kUsbPath, "<<USB>> "}, Case{kUaspPath, "<<UASP>> "}, Case{k1394Path, "<<1394>> "}}) {
    SCOPED_TRACE(c.tag);
    FormRig rig;
    rig.Plug(c.path, Enclosure(Chip::Jms583, {0, 0, 0, 8}));
    rig.Scan();

    EXPECT_EQ(rig.view.lines(), std::vector<std::string>{c.tag + kModel});
    EXPECT_EQ(rig.view.SelectedDevice(), 0);
    EXPECT_TRUE(rig.view.enabled(Control::cbb_DeviceList));
    EXPECT_EQ(rig.form.state().DeviceTable[0].path, AsciiLower(c.path));
    EXPECT_EQ(rig.form.lastCheck().path, AsciiLower(c.path));
    EXPECT_EQ(rig.form.display(), Display::Offer);
    // The listed disk's text is drawn before its line is added.
    const std::vector<std::string> listing{"text Getting model#", "disable lblStaust", "pump",
                                           "line " + c.tag + kModel};
    EXPECT_EQ(Slice(rig.view.log(), rig.view.Find("text Getting model#"), 4), listing);
    // The check says what it does while the busy picture still shows.
    const std::vector<std::string> checking{"text Checking for FW update", "disable lblStaust",
                                            "pump"};
    const std::size_t at = rig.view.Find(checking.front());
    EXPECT_EQ(Slice(rig.view.log(), at, 3), checking);
    EXPECT_LT(at, rig.view.Find("hide Image2"));
  }
}

TEST(TForm1Scan, SeveralEnclosuresAreListedAndNoneIsChecked) {
  FormRig rig;
  rig.Plug(kUsbPath, Enclosure(Chip::Jms583, {0, 0, 0, 8}));
  rig.Plug(kUaspPath, Enclosure(Chip::Jms578, {0, 1, 0, 3}, "SATA Enclosure"));
  rig.Scan();

  EXPECT_EQ(rig.view.lines(),
            (std::vector<std::string>{"<<USB>> " + kModel, "<<UASP>> Korvane SATA Enclosure  "}));
  EXPECT_EQ(rig.view.text(), status::kMultiple);
  EXPECT_EQ(rig.view.picture(Control::Image3), Picture::Cross);
  EXPECT_TRUE(rig.view.visible(Control::Image3));
  EXPECT_FALSE(rig.view.visible(Control::Image2));
  EXPECT_FALSE(rig.view.enabled(Control::lblStaust));
  EXPECT_EQ(rig.view.Count("hide btn_upd"), 1u);
  EXPECT_EQ(rig.view.Count("text Checking for FW update"), 0u);
  EXPECT_EQ(rig.Received(kUsbPath, Operation::ReadFlashType), 0u);
  EXPECT_EQ(rig.Received(kUaspPath, Operation::ReadFlashType), 0u);
  EXPECT_EQ(rig.form.display(), Display::Multiple);
}

TEST(TForm1Scan, AnUnrecognisedSecondDiskDoesNotTakeTheEnclosuresPlace) {
  for (const bool enclosureFirst : {true, false}) {
    SCOPED_TRACE(enclosureFirst ? "enclosure first" : "enclosure last");
    FormRig rig;
    if (enclosureFirst) rig.Plug(kUsbPath, Enclosure(Chip::Jms583, {0, 0, 0, 8}));
    rig.Plug(kOtherPath, UnknownBridge());
    if (!enclosureFirst) rig.Plug(kUsbPath, Enclosure(Chip::Jms583, {0, 0, 0, 8}));
    rig.Scan();

    EXPECT_EQ(rig.form.state().EnumeratedDiskCount, 2);
    EXPECT_EQ(rig.view.lines(), std::vector<std::string>{"<<USB>> " + kModel});
    EXPECT_EQ(rig.form.state().DeviceTable[0].path, AsciiLower(kUsbPath));
    EXPECT_EQ(rig.form.lastCheck().path, AsciiLower(kUsbPath));
    EXPECT_EQ(rig.form.display(), Display::Offer);
  }
}

TEST(TForm1Scan, CandidatesWithoutARecognisedBridgeLeaveTheVerdictToTheCheck) {
  FormRig rig;
  rig.Plug(kOtherPath, UnknownBridge());
  rig.Scan();

  // One empty line in an enabled list, then the check's failure replaces it.
  const std::size_t empty = rig.view.Find("line ");
  ASSERT_LT(empty, rig.view.log().size());
  EXPECT_EQ(Slice(rig.view.log(), empty - 1, 3),
            (std::vector<std::string>{"enable cbb_DeviceList", "line ", "select 0"}));
  EXPECT_EQ(rig.form.display(), Display::Failure);
  EXPECT_EQ(rig.view.lines(), std::vector<std::string>{std::string(kNoDeviceLine)});
  EXPECT_FALSE(rig.view.enabled(Control::cbb_DeviceList));
  EXPECT_EQ(rig.form.lastCheck().path, AsciiLower(kOtherPath));
}

TEST(TForm1Scan, AFailedInquiryGivesAnEmptyModelTextNotTheLastDisks) {
  FormRig rig;
  rig.Plug(kUsbPath, Enclosure(Chip::Jms583, {0, 0, 0, 8}));
  sim::BridgeConfig mute = Enclosure(Chip::Jms578, {0, 1, 0, 3});
  // The probe's INQUIRY passes; the scan's own is the second.
  mute.faults = {On(Operation::Inquiry, 2, sim::FaultEffect::Fail)};
  rig.Plug(kUaspPath, mute);
  rig.Scan();

  EXPECT_EQ(rig.view.lines(), (std::vector<std::string>{"<<USB>> " + kModel, "<<UASP>> "}));
}

// ---- The version check -------------------------------------------------------------------------

struct VersionCase {
  Chip chip;
  sim::FirmwareVersion version;
  Display display;
};

TEST(TForm1Check, VersionRulesPickTheDisplay) {
  const std::vector<VersionCase> cases{
      {Chip::Jms578, {0, 1, 1, 4}, Display::UpToDate},
      {Chip::Jms578, {0, 2, 1, 4}, Display::UpToDate},
      {Chip::Jms578, {0, 2, 1, 200}, Display::UpToDate},
      {Chip::Jms578, {0, 2, 1, 3}, Display::Offer},
      {Chip::Jms578, {0, 1, 1, 3}, Display::Offer},
      {Chip::Jms578, {0, 3, 1, 9}, Display::Offer},
      {Chip::Jms578, {1, 1, 1, 4}, Display::Offer},
      {Chip::Jms578, {0, 1, 0, 9}, Display::Offer},
      {Chip::Jms583, {0, 0, 0, 8}, Display::Offer},
      {Chip::Jms583, {234, 1, 0, 2}, Display::Offer},
      {Chip::Jms583, {0, 0, 1, 2}, Display::NothingToUpdate},
      {Chip::Jms583, {9, 9, 255, 9}, Display::NothingToUpdate},
  };
  for (const VersionCase& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << (c.chip == Chip::Jms578 ? "JMS578 " : "JMS583 ") << +c.version[0] << '.'
                 << +c.version[1] << '.' << +c.version[2] << '.' << +c.version[3]);
    FormRig rig;
    rig.Plug(kUsbPath, Enclosure(c.chip, c.version));
    rig.Scan();

    EXPECT_EQ(rig.form.display(), c.display);
    EXPECT_TRUE(rig.view.visible(Control::Image3));
    EXPECT_FALSE(rig.view.visible(Control::Image2));
    ASSERT_TRUE(rig.form.lastCheck().firmware.has_value());
    EXPECT_EQ(*rig.form.lastCheck().firmware, c.version);
    switch (c.display) {
      case Display::UpToDate:
        EXPECT_EQ(rig.view.text(), status::kUpToDate);
        EXPECT_EQ(rig.view.picture(Control::Image3), Picture::Good);
        EXPECT_FALSE(rig.view.enabled(Control::lblStaust));
        break;
      case Display::Offer:
        EXPECT_EQ(rig.view.text(), c.chip == Chip::Jms578 ? status::OfferText(kChipCodeJms578)
                                                          : status::OfferText(kChipCodeJms583));
        EXPECT_EQ(rig.view.picture(Control::Image3), Picture::Update);
        EXPECT_TRUE(rig.view.enabled(Control::lblStaust));
        EXPECT_TRUE(rig.form.statusEnabled());
        break;
      default:
        EXPECT_EQ(rig.view.text(), status::kNothingFound);
        EXPECT_EQ(rig.view.picture(Control::Image3), Picture::Cross);
        EXPECT_FALSE(rig.view.enabled(Control::lblStaust));
        // Unlike a failure, the device list stays as the scan left it.
        EXPECT_EQ(rig.view.lines(), std::vector<std::string>{"<<USB>> " + kModel});
        EXPECT_TRUE(rig.view.enabled(Control::cbb_DeviceList));
        break;
    }
  }
}

/// A check that must end in the failure display, with what the disk was set up to do.
struct FailureCase {
  std::string name;
  sim::BridgeConfig config;
};

/// The last command of that operation in a clean check of the config is the check's own.
unsigned ChecksOwn(const sim::BridgeConfig& config, Operation operation) {
  FormRig clean;
  clean.Plug(kUsbPath, config);
  clean.Scan();
  return static_cast<unsigned>(clean.Received(kUsbPath, operation));
}

sim::BridgeConfig FailingOwn(sim::BridgeConfig config, Operation operation) {
  config.faults = {On(operation, ChecksOwn(config, operation), sim::FaultEffect::Fail)};
  return config;
}

sim::BridgeConfig Excluded(Chip chip, std::string product) {
  sim::BridgeConfig config = Enclosure(chip, {0, 0, 0, 8});
  config.inquiry.product = std::move(product);
  return config;
}

sim::BridgeConfig Unsupported() {
  sim::BridgeConfig config;
  config.inquiry.chipTag = "";
  config.identity = sim::IdentityConfig{
      .bytes = std::array<std::uint8_t, 16>{0xF4, 0xE7, 0x15, 0x2D, 0x05, 0x80, 0x03, 0x05, '5',
                                            '8', '0', '1', 0x00, 0x01, 0x02, 0x00}};
  config.identityAlt = config.identity;
  config.configWord = std::array<std::uint8_t, 2>{0, 0};
  return config;
}

TEST(TForm1Check, EveryFailureEndsInTheFailureDisplay) {
  sim::BridgeConfig rom578 = Enclosure(Chip::Jms578, {0, 1, 0, 3});
  rom578.romMode = true;
  const sim::BridgeConfig jms583 = Enclosure(Chip::Jms583, {0, 0, 0, 8});
  const sim::BridgeConfig jms578 = Enclosure(Chip::Jms578, {0, 1, 0, 3});
  const std::vector<FailureCase> cases{
      {"a chip the update does not serve", Unsupported()},
      {"a JMS578 running its boot ROM", rom578},
      {"the excluded word in lower case", Excluded(Chip::Jms583, "vornix ssd")},
      {"the excluded word in mixed case", Excluded(Chip::Jms578, "Box VorNix")},
      {"the excluded word across vendor and product",
       [] {
         // The vendor field is full, so the word runs on into the product text.
         sim::BridgeConfig config = Excluded(Chip::Jms583, "IX DOCK");
         config.inquiry.vendor = "ACMEVORN";
         return config;
       }()},
      {"a failed flash-type read", FailingOwn(jms583, Operation::ReadFlashType)},
      {"a failed identity read", FailingOwn(jms578, Operation::ReadIdentity)},
      {"a failed INQUIRY", FailingOwn(jms583, Operation::Inquiry)},
      {"a failed NVRAM read (JMS583)", FailingOwn(jms583, Operation::ReadNvram)},
      {"a failed NVRAM read (JMS578)", FailingOwn(jms578, Operation::ReadNvram)},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    FormRig rig;
    rig.Plug(kUsbPath, c.config);
    rig.Scan();

    EXPECT_EQ(rig.form.display(), Display::Failure);
    EXPECT_EQ(rig.view.text(), status::kNothingFound);
    EXPECT_EQ(rig.view.picture(Control::Image3), Picture::Cross);
    EXPECT_FALSE(rig.view.enabled(Control::lblStaust));
    EXPECT_EQ(rig.view.lines(), std::vector<std::string>{std::string(kNoDeviceLine)});
    EXPECT_EQ(rig.view.SelectedDevice(), 0);
    EXPECT_FALSE(rig.view.enabled(Control::cbb_DeviceList));
    EXPECT_FALSE(rig.form.lastCheck().failure.empty());
  }
}

TEST(TForm1Check, AFailedNvramReadReplacesTheVerdictItShowedFirst) {
  FormRig rig;
  rig.Plug(kUsbPath, FailingOwn(Enclosure(Chip::Jms583, {0, 0, 0, 8}), Operation::ReadNvram));
  rig.Scan();

  const std::size_t offer =
      rig.view.Find("text " + std::string(status::OfferText(kChipCodeJms583)));
  ASSERT_LT(offer, rig.view.log().size()) << "the offer is shown for a moment";
  const std::vector<std::string> after{
      "enable lblStaust", "pump",        "picture Image3 CROSS",
      "hide Image2",      "show Image3", "text " + std::string(status::kNothingFound)};
  EXPECT_EQ(Slice(rig.view.log(), offer + 1, after.size()), after);
  EXPECT_FALSE(rig.view.enabled(Control::lblStaust));
}

TEST(TForm1Check, AJms583RunningItsBootRomIsStillOfferedTheUpdate) {
  FormRig rig;
  sim::BridgeConfig config = Enclosure(Chip::Jms583, {0, 0, 0, 8});
  config.romMode = true;
  rig.Plug(kUsbPath, config);
  rig.Scan();

  EXPECT_EQ(rig.form.display(), Display::Offer);
  EXPECT_TRUE(rig.form.lastCheck().romMode);
}

TEST(TForm1Check, WithoutACandidateItChangesNothingAndSendsNothing) {
  FormRig rig;
  rig.Plug(kUsbPath, Enclosure(Chip::Jms583, {0, 0, 0, 8}));
  rig.desktop.extended = OsVersion{10, 0};
  rig.form.CheckFirmwareVersion();

  EXPECT_TRUE(rig.view.log().empty());
  EXPECT_TRUE(rig.bus.Find(kUsbPath)->log().empty());
  EXPECT_EQ(rig.desktop.finds, 0u);
}

TEST(TForm1Check, TheDialogSweepRunsOnTheSystemsThatRaiseTheDialog) {
  struct Case {
    std::optional<OsVersion> extended;
    std::optional<OsVersion> basic;
    bool sweeps;
  };
  const std::vector<Case> cases{
      {OsVersion{6, 0}, std::nullopt, false}, {OsVersion{6, 1}, std::nullopt, true},
      {OsVersion{6, 2}, std::nullopt, true},  {OsVersion{6, 3}, std::nullopt, true},
      {OsVersion{10, 0}, std::nullopt, true}, {OsVersion{10, 1}, std::nullopt, false},
      {OsVersion{5, 1}, std::nullopt, false}, {std::nullopt, OsVersion{6, 1}, true},
      {std::nullopt, OsVersion{6, 0}, false}, {std::nullopt, std::nullopt, false},
  };
  for (const Case& c : cases) {
    for (const bool failing : {false, true}) {
      FormRig rig;
      rig.desktop.extended = c.extended;
      rig.desktop.basic = c.basic;
      rig.desktop.dialog = 0x1234;
      rig.Plug(kUsbPath, failing ? Unsupported() : Enclosure(Chip::Jms583, {0, 0, 0, 8}));
      rig.Scan();
      const std::size_t passes = c.sweeps ? kDialogSweepPasses : 0;
      EXPECT_EQ(rig.desktop.finds, passes) << "case " << (&c - cases.data()) << " " << failing;
      EXPECT_EQ(rig.desktop.closed.size(), passes);
      EXPECT_EQ(rig.clock.sleeps(), passes) << "each pass pauses 2 ms; nothing else waits here";
    }
  }
}

TEST(TForm1Check, CloseSystemDialogClosesOneDialogWhenThereIsOne) {
  FormRig rig;
  EXPECT_EQ(rig.form.CloseSystemDialog(), 0);
  EXPECT_TRUE(rig.desktop.closed.empty());
  rig.desktop.dialog = 0x42;
  EXPECT_EQ(rig.form.CloseSystemDialog(), 1);
  EXPECT_EQ(rig.desktop.closed, std::vector<DesktopWindow>{0x42});
}

}  // namespace
}  // namespace korvane::testing
