#include "TForm1.h"

#include <algorithm>
#include <span>

#include "BridgeCommands.h"

namespace korvane {

namespace {

/// The caption of the box that says why the update refused a disk.
constexpr std::string_view kRefusalCaption = "Error";

/// Raises UpdateInProgress for the update command and lowers it however the command ends, an
/// escaping exception included: a flag left raised would hold off every rescan for good.
class UpdateRunning {
 public:
  explicit UpdateRunning(FormState& state) : state_(state) { state_.UpdateInProgress = 1; }
  ~UpdateRunning() { state_.UpdateInProgress = 0; }
  UpdateRunning(const UpdateRunning&) = delete;
  UpdateRunning& operator=(const UpdateRunning&) = delete;

 private:
  FormState& state_;
};

/// The window's display once a verdict is shown.
Display DisplayAfter(CheckVerdict verdict) {
  switch (verdict) {
    case CheckVerdict::Offer:
      return Display::Offer;
    case CheckVerdict::UpToDate:
      return Display::UpToDate;
    case CheckVerdict::NothingToUpdate:
      return Display::NothingToUpdate;
    case CheckVerdict::NotFound:
      return Display::NothingFound;
    case CheckVerdict::Multiple:
      return Display::Multiple;
    case CheckVerdict::Failure:
      break;
  }
  return Display::Failure;
}

}  // namespace

/// Marks a scan, check or update command as running for as long as it lives.
class TForm1::Activity {
 public:
  explicit Activity(TForm1& form) : form_(form) { ++form_.activity_; }
  ~Activity() { --form_.activity_; }
  Activity(const Activity&) = delete;
  Activity& operator=(const Activity&) = delete;

 private:
  TForm1& form_;
};

TForm1::TForm1(FormServices services)
    : services_(services),
      job_(JobServices{services.devices, services.messages, services.debug, services.images}) {}

// ---- The scan ----------------------------------------------------------------------------------

void TForm1::btn_RefreshClick() {
  // A rescan that falls due while another scan, a check or the update runs waits for it: the
  // timer stays armed and its next tick comes back here.
  if (busy()) return;
  Activity activity(*this);
  ++scans_;
  ShowSearching();
  const ScanProgress progress{[this](int count) { Enumerated(count); },
                              [this](const ListedDisk& disk) { Examined(disk); }};
  const ScanResult& scan = job_.Scan(progress);
  if (scan.enumeratedDiskCount == 0) {
    scanOutcome_ = ScanOutcome::NothingFound;
    ShowNothingFound();
    return;
  }
  FinishList();
  if (job_.LeadsToCheck()) {
    CheckFirmwareVersion();
  } else {
    services_.view.SetVisible(Control::btn_upd, false);
    scanOutcome_ = ScanOutcome::Multiple;
    ShowMultiple();
  }
}

void TForm1::ShowSearching() {
  MainView& view = services_.view;
  display_ = Display::Searching;
  view.ShowPicture(Control::Image1, Picture::Background);
  view.SetVisible(Control::Image2, true);
  view.SetVisible(Control::Image3, false);
  SetStatus(status::kLooking, false);
  Pump();
}

void TForm1::Enumerated(int count) {
  state_.EnumeratedDiskCount = count;
  if (count == 0) return;
  services_.view.ClearDeviceList();
  listedCount_ = 0;
}

// The device table has room for every candidate discovery can return.
static_assert(kCandidateSlots <= kDeviceTableSize);

void TForm1::Examined(const ListedDisk& disk) {
  // An unrecognised disk's path stays in the entry until a recognised one takes it over.
  state_.DeviceTable[listedCount_].path = disk.path;
  state_.CurrentBridgeInfo = disk.bridgeInfo;
  if (ChipCodeOf(disk.bridgeInfo) != 0) ListDisk(disk);
}

void TForm1::ShowNothingFound() {
  MainView& view = services_.view;
  display_ = Display::NothingFound;
  listedCount_ = 0;
  const VerdictDisplay shown = DisplayOf(CheckVerdict::NotFound, 0);
  view.ShowPicture(Control::Image3, shown.picture);
  view.ClearDeviceList();
  view.SetVisible(Control::Image2, false);
  view.SetVisible(Control::Image3, true);
  SetStatus(shown.text, shown.Clickable());
  view.AddDeviceLine(kNoDeviceLine);
  view.SelectDevice(0);
  view.SetEnabled(Control::cbb_DeviceList, false);
}

void TForm1::FinishList() {
  MainView& view = services_.view;
  view.SetEnabled(Control::cbb_DeviceList, true);
  if (listedCount_ == 0) view.AddDeviceLine("");
  view.SelectDevice(0);
}

void TForm1::ListDisk(const ListedDisk& disk) {
  SetStatus(status::kGettingModel, false);
  Pump();
  services_.view.AddDeviceLine(disk.line);
  ++listedCount_;
}

void TForm1::ShowMultiple() {
  MainView& view = services_.view;
  const VerdictDisplay shown = DisplayOf(CheckVerdict::Multiple, 0);
  display_ = Display::Multiple;
  view.ShowPicture(Control::Image3, shown.picture);
  view.SetVisible(Control::Image2, false);
  view.SetVisible(Control::Image3, true);
  // The text stays disabled since the last disk was listed, so it starts nothing.
  view.SetStatusText(shown.text);
}

// ---- The version check -------------------------------------------------------------------------

void TForm1::CheckFirmwareVersion() {
  if (state_.EnumeratedDiskCount == 0) return;
  Activity activity(*this);
  scanOutcome_ = ScanOutcome::Checked;
  const CheckProgress progress{[this](BridgeInfo info) { state_.CurrentBridgeInfo = info; },
                               [this] { ShowChecking(); }};
  const VersionCheck& check = job_.Check(SelectedPath(), progress);
  if (check.ruled) ShowRuled(*check.ruled);
  Pump();
  // A failure after the rules decided (a failed NVRAM read) replaces their verdict.
  if (check.verdict() == VersionVerdict::Failure) ShowFailure();
  if (DialogSweepAllowed(services_.desktop))
    SweepSystemDialogs(services_.desktop, services_.devices.clock);
}

std::string TForm1::SelectedPath() const {
  const int index = services_.view.SelectedDevice();
  if (index < 0 || index >= static_cast<int>(kDeviceTableSize)) return {};
  return state_.DeviceTable[static_cast<std::size_t>(index)].path;
}

void TForm1::ShowChecking() {
  SetStatus(status::kChecking, false);
  Pump();
}

void TForm1::ShowRuled(VersionVerdict ruled) {
  // A failure shows once the check has ended, whether the rules or a later read failed.
  if (ruled == VersionVerdict::Failure) return;
  ShowVerdict(CheckVerdictOf(ruled));
}

void TForm1::ShowVerdict(CheckVerdict verdict) {
  MainView& view = services_.view;
  const VerdictDisplay shown = DisplayOf(verdict, ChipCodeOf(job_.check().bridgeInfo));
  display_ = DisplayAfter(verdict);
  view.ShowPicture(Control::Image3, shown.picture);
  view.SetVisible(Control::Image2, false);
  view.SetVisible(Control::Image3, true);
  view.SetStatusText(shown.text);
  if (shown.clickable) SetStatusEnabled(*shown.clickable);
}

void TForm1::ShowFailure() {
  MainView& view = services_.view;
  ShowVerdict(CheckVerdict::Failure);
  view.ClearDeviceList();
  view.AddDeviceLine(kNoDeviceLine);
  view.SelectDevice(0);
  view.SetEnabled(Control::cbb_DeviceList, false);
}

// ---- The update command ------------------------------------------------------------------------

/// The window's side of the update's steps: its progress bar, and the display as the write starts.
class TForm1::WindowSteps final : public UpdateSteps {
 public:
  explicit WindowSteps(TForm1& form) : form_(form) {}
  UpdateView& view() override { return form_.services_.view; }
  BackupEnd KeepBackup(const FirmwareBackup& read, UpdateFailure&) override { return read.end; }
  void Begin(JobStep step) override {
    if (step != JobStep::Write) return;
    form_.Pump();
    form_.ShowUpdating();
    form_.job_.Announce();
  }

 private:
  TForm1& form_;
};

void TForm1::lblStaustClick() {
  // Ignored while the text is disabled; and while a check is still finishing after showing its
  // offer, the text stays enabled so that the click can be made again once it has.
  if (!statusEnabled_ || busy()) return;
  SetStatusEnabled(false);
  btn_updClick();
}

void TForm1::btn_updClick() {
  // One command at a time: never a second update inside the first, nor one inside a scan.
  if (busy()) return;
  Activity activity(*this);
  const UpdateRunning running(state_);
  UpdateRequest request;
  request.path = SelectedPath();
  request.info = state_.CurrentBridgeInfo;
  request.diskName = request.path;
  WindowSteps steps(*this);
  // The window's request (the carried image, no backup, the record read once) is never refused
  // before the write: the write makes its own refusals.
  const Preparation prepared = job_.Prepare(request);
  if (!prepared.plan) {
    ShowUpdateOutcome(false);
    return;
  }
  const JobOutcome outcome = job_.Run(*prepared.plan, steps);
  ShowUpdateOutcome(outcome.complete());
  // A disk in use is refused before anything is written; "Update Fail" alone would not say why.
  if (outcome.refusal == Refusal::InUse) {
    services_.messages.ShowMessage(outcome.failure.reason, kRefusalCaption, MessageIcon::Error);
  }
}

void TForm1::ShowUpdating() {
  MainView& view = services_.view;
  display_ = Display::Updating;
  view.SetVisible(Control::Image2, false);
  view.SetVisible(Control::Image3, false);
  SetStatus(status::kUpdating, false);
  view.SetVisible(Control::UpdateProgressBar, true);
  Pump();
}

void TForm1::ShowUpdateOutcome(bool ok) {
  MainView& view = services_.view;
  display_ = ok ? Display::UpdateComplete : Display::UpdateFail;
  view.ShowPicture(Control::Image3, ok ? Picture::Good : Picture::Cross);
  view.SetVisible(Control::UpdateProgressBar, false);
  view.SetVisible(Control::Image2, false);
  view.SetVisible(Control::Image3, true);
  SetStatus(ok ? status::kUpdateComplete : status::kUpdateFail, false);
  Pump();
}

// ---- Device changes ----------------------------------------------------------------------------

void TForm1::OnDeviceChange(DeviceChange change) {
  if (change != DeviceChange::RemoveComplete && change != DeviceChange::NodesChanged) return;
  if (change == DeviceChange::RemoveComplete) state_.UpdateInProgress = 0;
  if (state_.UpdateInProgress != 0) return;
  services_.view.StopTimer(kRescanTimerId);
  services_.view.StartTimer(kRescanTimerId, kRescanInterval);
}

void TForm1::OnRescanTimer(std::uintptr_t timerId) {
  if (state_.UpdateInProgress == 1 || timerId != kRescanTimerId) return;
  // While a scan, check or update command runs (a removal may have cleared the flag during the
  // flash step), the timer stays armed; its first tick afterwards runs the rescan.
  if (busy()) return;
  services_.view.StopTimer(kRescanTimerId);
  btn_RefreshClick();
}

// ---- Shared ------------------------------------------------------------------------------------

void TForm1::SetStatus(std::string_view text, bool enabled) {
  services_.view.SetStatusText(text);
  SetStatusEnabled(enabled);
}

void TForm1::SetStatusEnabled(bool enabled) {
  services_.view.SetEnabled(Control::lblStaust, enabled);
  statusEnabled_ = enabled;
}

void TForm1::Pump() { services_.view.ProcessMessages(); }

}  // namespace korvane
