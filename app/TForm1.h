// The window's logic without a toolkit: its state, the scan, the version check, the update
// command and the rescans after device changes. A window (or the command line) implements
// MainView, forwards its events to the handlers below and shows what they set.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Desktop.h"
#include "DialogSweep.h"
#include "IDEAccess.h"
#include "ImageSource.h"
#include "MainView.h"
#include "UpdateContext.h"
#include "UpdateJob.h"
#include "Verdict.h"
#include "VersionCheck.h"

namespace korvane {

/// The one line of the device list when the scan found no candidate.
inline constexpr std::string_view kNoDeviceLine = "No available device!!!";

/// Lines the device list and DeviceTable hold.
inline constexpr std::size_t kDeviceTableSize = 128;
/// The rescan timer.
inline constexpr std::uintptr_t kRescanTimerId = 101;

/// What a device-change message told, as the window's logic tells changes apart; each window
/// maps its platform's events onto these.
enum class DeviceChange : std::uint8_t {
  NodesChanged,    ///< a device node was added or removed somewhere
  Arrival,         ///< a device interface arrived
  RemoveComplete,  ///< a device interface was removed
  Other,           ///< any other device-change event
};

/// One listed disk's device path, as the scan stored it (lower case).
struct DeviceEntry {
  std::string path;
};

/// What the window keeps between its handlers.
struct FormState {
  std::array<DeviceEntry, kDeviceTableSize> DeviceTable{};
  std::int32_t EnumeratedDiskCount = 0;  ///< candidates the last scan's discovery returned
  BridgeInfo CurrentBridgeInfo = 0;      ///< identification of the disk examined last
  std::int32_t UpdateInProgress = 0;     ///< 1 while the update command runs
};

/// Which of the window's displays stands, as the last handler left it.
enum class Display : std::uint8_t {
  None,             ///< no scan has run yet
  Searching,        ///< a scan or check is under way
  NothingFound,     ///< the scan found no candidate
  Multiple,         ///< the scan listed several enclosures
  UpToDate,         ///< GOOD, "Your product is up to date"
  Offer,            ///< UPDATE, the chip's offer text, clickable
  NothingToUpdate,  ///< CROSS, the JMS583 runs firmware this program does not replace
  Failure,          ///< CROSS, the check could not decide; the device list is emptied
  Updating,
  UpdateComplete,
  UpdateFail,
};

/// How the last scan ended.
enum class ScanOutcome : std::uint8_t {
  None,          ///< no scan has run yet
  NothingFound,  ///< no candidate
  Multiple,      ///< several enclosures listed
  Checked,       ///< one disk (or an unrecognised one) went through the version check
};

/// The seams the window's logic works through.
struct FormServices {
  /// What the program's device stack lends the engine, handed on to the job as it is.
  const DeviceServices& devices;
  MainView& view;
  MessageSink& messages;
  DebugOutput& debug;
  const ImageSource& images;
  Desktop& desktop;
};

/// The window's state and handlers, toolkit-free.
class TForm1 {
 public:
  explicit TForm1(FormServices services);

  /// The scan: finds the enclosures, lists them and ends with the version check.
  void btn_RefreshClick();
  /// Decides for the selected disk whether an update is offered, and shows the verdict.
  void CheckFirmwareVersion();
  /// A click on the status text: starts the update while the text is enabled, else nothing.
  void lblStaustClick();
  /// The update command: writes and verifies the firmware, then the NVRAM identity.
  void btn_updClick();
  /// A device-change message.
  void OnDeviceChange(DeviceChange change);
  /// A timer message with its timer id.
  void OnRescanTimer(std::uintptr_t timerId);
  /// Asks one system dialog titled "Microsoft Windows" to close; 1 when there was one.
  int CloseSystemDialog() { return korvane::CloseSystemDialog(services_.desktop); }

  const FormState& state() const { return state_; }
  Display display() const { return display_; }
  /// Whether a click on lblStaust starts the update.
  bool statusEnabled() const { return statusEnabled_; }
  /// How the last scan ended, and what its version check read and decided.
  ScanOutcome scanOutcome() const { return scanOutcome_; }
  /// How many scans have started so far.
  std::uint32_t scans() const { return scans_; }
  const VersionCheck& lastCheck() const { return job_.check(); }
  /// Why the last update failed; step None after a success.
  const UpdateFailure& updateFailure() const { return job_.failure(); }
  /// True when missing rights explain what the last scan and check came to.
  bool RightsExplain() const { return job_.RightsExplain(); }
  /// True from the start of a scan, check or update command to its end.
  bool busy() const { return activity_ > 0; }

 private:
  class Activity;
  class WindowSteps;

  // The scan.
  void ShowSearching();
  void Enumerated(int count);
  void Examined(const ListedDisk& disk);
  void ShowNothingFound();
  void FinishList();
  void ListDisk(const ListedDisk& disk);
  void ShowMultiple();

  // The version check.
  std::string SelectedPath() const;
  void ShowChecking();
  void ShowRuled(VersionVerdict ruled);
  void ShowVerdict(CheckVerdict verdict);
  void ShowFailure();

  // The update command.
  void ShowUpdating();
  void ShowUpdateOutcome(bool ok);

  void SetStatus(std::string_view text, bool enabled);
  void SetStatusEnabled(bool enabled);
  void Pump();

  FormServices services_;
  UpdateJob job_;
  FormState state_;
  Display display_ = Display::None;
  bool statusEnabled_ = true;
  std::size_t listedCount_ = 0;  ///< lines the running scan has put in the device list
  ScanOutcome scanOutcome_ = ScanOutcome::None;
  std::uint32_t scans_ = 0;
  int activity_ = 0;
};

}  // namespace korvane
