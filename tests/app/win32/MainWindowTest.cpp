#include "MainWindow.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <dbt.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <variant>

#include "Controls.h"
#include "DemoProgram.h"
#include "EmbeddedImages.h"
#include "SimulatedClock.h"
#include "SimulatedDevices.h"
#include "WindowLayout.h"

namespace korvane::win32 {
namespace {

constexpr std::string_view kOffer =
    "Click here to download and update the Korvane NVMe Bridge 234.01.00.02";

std::string Text(HWND window) {
  std::string text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1, '\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

RECT ClientRectOf(HWND child) {
  RECT place;
  GetWindowRect(child, &place);
  MapWindowPoints(nullptr, GetParent(child), reinterpret_cast<POINT*>(&place), 2);
  return place;
}

/// The window over a simulated scenario, on this test's thread; every command sent is counted.
class MainWindowTest : public ::testing::Test {
 protected:
  void Open(const std::string& scenario) {
    Load(scenario);
    if (!HasFatalFailure()) Build(nullptr);
  }
  /// The window that follows the stack's changes, as the demonstration's does, on stack time that
  /// keeps up with realTime_.
  void OpenFollowingTheStack(const std::string& scenario) {
    Load(scenario);
    if (HasFatalFailure()) return;
    paced_ =
        std::make_unique<demo::PacedChanges>(devices_->changes(), devices_->clock(), realTime_);
    Build(paced_.get());
  }

  void Load(const std::string& scenario) {
    auto loaded = SimulatedDevices(scenario);
    ASSERT_TRUE(std::holds_alternative<std::unique_ptr<Devices>>(loaded))
        << std::get<std::string>(loaded);
    devices_ = std::move(std::get<std::unique_ptr<Devices>>(loaded));
    io_ = std::make_unique<Transport>(devices_->port());
    io_->SetTrace([this](const TraceRecord&) { ++commands_; });
  }

  void Build(DeviceChanges* changes) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    ASSERT_TRUE(RegisterControlClasses(GetModuleHandleA(nullptr)));
    services_ = std::make_unique<DeviceServices>(
        DeviceServices{*io_, devices_->lister(), devices_->clock(), devices_->enclosures()});
    window_ = std::make_unique<MainWindow>(GetModuleHandleA(nullptr), nullptr,
                                           WindowServices{*services_, images_, changes});
  }

  /// A scenario file of this test, removed after it.
  std::string ScenarioFile(std::string_view json) {
    scenarioFile_ = std::filesystem::temp_directory_path() / "korvane-window-scenario.json";
    std::ofstream(scenarioFile_) << json;
    return scenarioFile_.string();
  }

  void TearDown() override {
    if (!scenarioFile_.empty()) std::filesystem::remove(scenarioFile_);
    window_.reset();
    // A close asks the message loop to end; this thread has none, so the request is dropped.
    MSG message;
    while (PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
  }

  HWND Child(std::string_view name) const {
    return GetDlgItem(window_->handle(), layout::ChildId(name));
  }
  std::string Status() const { return Text(Child("lblStaust")); }

  /// A press and release of the mouse button over the status text, then the messages it posts.
  void ClickStatus() {
    HWND label = Child("lblStaust");
    SendMessageA(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
    SendMessageA(label, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
    PumpMessages();
  }

  EmbeddedImages images_;
  std::unique_ptr<Devices> devices_;
  std::unique_ptr<Transport> io_;
  std::unique_ptr<DeviceServices> services_;
  sim::SimulatedClock realTime_;
  std::unique_ptr<demo::PacedChanges> paced_;
  std::unique_ptr<MainWindow> window_;
  std::filesystem::path scenarioFile_;
  int commands_ = 0;
};

TEST_F(MainWindowTest, IsBuiltHiddenWithItsFirstVerdictAndTheLayoutsControls) {
  Open("jms583-outdated");
  HWND window = window_->handle();

  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_EQ(Text(window), "");  // the caption comes with FormCreate
  EXPECT_EQ(Status(), kOffer);
  EXPECT_TRUE(IsWindowEnabled(Child("lblStaust")));
  EXPECT_EQ(Text(Child("Image1")), "BACKGROUND");
  EXPECT_EQ(Text(Child("Image3")), "UPDATE");
  EXPECT_TRUE(IsWindowVisible(Child("Image3")) || !IsWindowVisible(window));
  EXPECT_EQ(GetWindowLongA(Child("Image3"), GWL_STYLE) & WS_VISIBLE, WS_VISIBLE);
  EXPECT_EQ(GetWindowLongA(Child("Image2"), GWL_STYLE) & WS_VISIBLE, 0);

  RECT client;
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, layout::kClientWidth);
  EXPECT_EQ(client.bottom, layout::kClientHeight);
  const LONG style = GetWindowLongA(window, GWL_STYLE);
  EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
            WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
  EXPECT_EQ(style & (WS_MAXIMIZEBOX | WS_THICKFRAME), 0);

  for (const layout::ControlLayout& row : layout::kControls) {
    HWND child = Child(row.name);
    ASSERT_NE(child, nullptr) << row.name;
    const RECT place = ClientRectOf(child);
    EXPECT_EQ(place.left, row.left) << row.name;
    EXPECT_EQ(place.top, row.top) << row.name;
    EXPECT_EQ(place.right - place.left, row.width) << row.name;
    if (row.kind != layout::Kind::DropDownList) {
      EXPECT_EQ(place.bottom - place.top, row.height) << row.name;
    }
    if (row.kind == layout::Kind::Button || row.kind == layout::Kind::DropDownList) {
      EXPECT_EQ(GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE, 0) << row.name;
    }
  }
}

TEST_F(MainWindowTest, LaterControlsLieAboveEarlierOnes) {
  Open("jms583-outdated");
  // Image3 is built after Image2 and must cover it where they overlap.
  HWND above = Child("Image3");
  bool image2Below = false;
  for (HWND next = GetWindow(above, GW_HWNDNEXT); next != nullptr;
       next = GetWindow(next, GW_HWNDNEXT)) {
    image2Below = image2Below || next == Child("Image2");
  }
  EXPECT_TRUE(image2Below);
}

TEST_F(MainWindowTest, FormCreateSetsTheCaptionAndShowingCentresTheWindow) {
  Open("no-enclosure");
  window_->FormCreate();
  window_->ShowCentred();

  EXPECT_EQ(Text(window_->handle()), layout::kCaption);
  EXPECT_TRUE(IsWindowVisible(window_->handle()));
  EXPECT_EQ(Status(), "Cannot find any outdated Korvane devices. ");
  EXPECT_EQ(Text(Child("Image3")), "CROSS");
  RECT frame;
  GetWindowRect(window_->handle(), &frame);
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  if (frame.right - frame.left <= screenWidth && frame.bottom - frame.top <= screenHeight) {
    EXPECT_LE(std::abs(frame.left + frame.right - screenWidth), 1);
    EXPECT_LE(std::abs(frame.top + frame.bottom - screenHeight), 1);
  }
}

TEST_F(MainWindowTest, ClickOnTheOfferRunsTheUpdateToItsOutcome) {
  Open("jms583-outdated");
  const int beforeClick = commands_;

  ClickStatus();

  EXPECT_GT(commands_, beforeClick + 60);  // a block per KiB of the image, and more
  EXPECT_EQ(Status(), "Update complete");
  EXPECT_EQ(Text(Child("Image3")), "GOOD");
  EXPECT_FALSE(IsWindowEnabled(Child("lblStaust")));
  EXPECT_EQ(GetWindowLongA(Child("UpdateProgressBar"), GWL_STYLE) & WS_VISIBLE, 0);
  EXPECT_EQ(SendMessageA(Child("UpdateProgressBar"), PBM_GETPOS, 0, 0), 100);
}

TEST_F(MainWindowTest, ClicksElsewhereAndOnADisabledStatusStartNothing) {
  Open("jms583-current");
  const int before = commands_;
  ASSERT_FALSE(IsWindowEnabled(Child("lblStaust")));

  ClickStatus();
  for (std::string_view name : {"Image1", "Image3", "Label1", "Label3", "Label5"}) {
    SendMessageA(Child(name), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(5, 5));
    SendMessageA(Child(name), WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  }
  PumpMessages();

  EXPECT_EQ(commands_, before);
  EXPECT_EQ(Status(), "Cannot find any outdated Korvane devices. ");
}

TEST_F(MainWindowTest, ACloseDuringTheUpdateIsRefusedUntilTheOutcomeIsShown) {
  Open("jms583-outdated");
  window_->FormCreate();
  window_->ShowCentred();
  // The close arrives at the update's first message pump.
  HWND label = Child("lblStaust");
  SendMessageA(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10));
  SendMessageA(label, WM_LBUTTONUP, 0, MAKELPARAM(10, 10));
  PostMessageA(window_->handle(), WM_CLOSE, 0, 0);

  PumpMessages();

  EXPECT_FALSE(window_->closing());
  EXPECT_TRUE(IsWindowVisible(window_->handle()));
  EXPECT_EQ(Status(), "Update complete");
  const UINT closeItem = GetMenuState(GetSystemMenu(window_->handle(), FALSE), SC_CLOSE, 0);
  EXPECT_EQ(closeItem & MF_GRAYED, 0u);

  PostMessageA(window_->handle(), WM_CLOSE, 0, 0);
  PumpMessages();
  EXPECT_TRUE(window_->closing());
  EXPECT_FALSE(IsWindowVisible(window_->handle()));
}

TEST_F(MainWindowTest, ACloseDuringAScanWaitsForItsVerdict) {
  Open("jms583-outdated");
  window_->FormCreate();
  window_->ShowCentred();
  const int before = commands_;
  PostMessageA(window_->handle(), WM_COMMAND,
               MAKEWPARAM(layout::ChildId("btn_Refresh"), BN_CLICKED),
               reinterpret_cast<LPARAM>(Child("btn_Refresh")));
  PostMessageA(window_->handle(), WM_CLOSE, 0, 0);

  PumpMessages();

  EXPECT_GT(commands_, before);
  EXPECT_EQ(Status(), kOffer);
  EXPECT_TRUE(window_->closing());
}

TEST_F(MainWindowTest, DeviceChangesArmTheRescanTimerWhoseTickScans) {
  Open("jms583-outdated");
  HWND window = window_->handle();

  SendMessageA(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0);
  EXPECT_FALSE(window_->view().TimerArmed(101));
  SendMessageA(window, WM_DEVICECHANGE, DBT_DEVNODES_CHANGED, 0);
  EXPECT_TRUE(window_->view().TimerArmed(101));

  const int before = commands_;
  SendMessageA(window, WM_TIMER, 102, 0);
  EXPECT_EQ(commands_, before);
  SendMessageA(window, WM_TIMER, 101, 0);
  EXPECT_GT(commands_, before);
  EXPECT_FALSE(window_->view().TimerArmed(101));
  EXPECT_EQ(Status(), kOffer);
}

// Simulated enclosures come and go only on the stack: no notification tells the window of them.
TEST_F(MainWindowTest, AnEnclosureTheStackPlugsInLaterIsFoundByTheRescanItsChangeBrings) {
  using namespace std::chrono_literals;
  OpenFollowingTheStack(ScenarioFile(R"({"disks": [{"path": "\\\\?\\usbstor#disk&ven_korvane#1",
      "bridge": "jms583", "firmware": "0.0.0.8", "plug_in_after_ms": 60000}]})"));
  window_->FormCreate();
  HWND window = window_->handle();
  EXPECT_EQ(Status(), "Cannot find any outdated Korvane devices. ");

  SendMessageA(window, WM_TIMER, kChangePollTimerId, 0);
  EXPECT_FALSE(window_->view().TimerArmed(101));
  realTime_.Advance(60s);
  SendMessageA(window, WM_TIMER, kChangePollTimerId, 0);
  EXPECT_TRUE(window_->view().TimerArmed(101));
  EXPECT_EQ(Status(), "Cannot find any outdated Korvane devices. ") << "no rescan before the tick";

  SendMessageA(window, WM_TIMER, 101, 0);
  EXPECT_EQ(Status(), kOffer);
  EXPECT_FALSE(window_->view().TimerArmed(101));
}

TEST_F(MainWindowTest, AnimationFramesReachImage2AsMessages) {
  Open("jms583-outdated");
  HWND window = window_->handle();

  SendMessageA(window, kAnimationFrameMessage, 0, 0);
  EXPECT_EQ(Text(Child("Image2")), "LOADING1");
  SendMessageA(window, kAnimationFrameMessage, 2, 0);
  EXPECT_EQ(Text(Child("Image2")), "LOADING3");
  SendMessageA(window, kAnimationFrameMessage, 3, 0);  // no such frame: the picture stays
  EXPECT_EQ(Text(Child("Image2")), "LOADING3");
}

}  // namespace
}  // namespace korvane::win32
