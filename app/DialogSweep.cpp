#include "DialogSweep.h"

#include <optional>

namespace korvane {

bool DialogSweepAllowed(Desktop& desktop) {
  std::optional<OsVersion> version = desktop.QueryVersion(VersionRecord::Extended);
  if (!version) version = desktop.QueryVersion(VersionRecord::Basic);
  if (!version) return false;
  return (version->major == 6 && version->minor >= 1) ||
         (version->major == 10 && version->minor == 0);
}

int CloseSystemDialog(Desktop& desktop) {
  const DesktopWindow dialog = desktop.FindTopLevelWindow(kSystemDialogClass, kSystemDialogTitle);
  if (dialog == 0) return 0;
  desktop.PostClose(dialog);
  return 1;
}

void SweepSystemDialogs(Desktop& desktop, Clock& clock) {
  for (int pass = 0; pass < kDialogSweepPasses; ++pass) {
    CloseSystemDialog(desktop);
    clock.Sleep(kDialogSweepPause);
  }
}

}  // namespace korvane
