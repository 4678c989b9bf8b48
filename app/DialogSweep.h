// The dialog sweep after each version check. Windows 7 and later title their own prompts about
// a disk "Microsoft Windows" (the offer to format a volume it cannot read, for one), and the
// vendor commands of a check can set one off, a little after the check has ended. Left standing
// it would cover the verdict, and a yes would touch the disk that the update is about to write;
// so after each check the window asks such dialogs to close, pass after pass, for a short while.
#pragma once

#include <chrono>
#include <string_view>

#include "Clock.h"
#include "Desktop.h"

namespace korvane {

/// Passes of the dialog sweep after each check, and the pause after each.
inline constexpr int kDialogSweepPasses = 101;
inline constexpr std::chrono::milliseconds kDialogSweepPause{2};
/// The system dialog the sweep closes.
inline constexpr std::string_view kSystemDialogClass = "#32770";
inline constexpr std::string_view kSystemDialogTitle = "Microsoft Windows";

/// True on the systems that raise the dialog: Windows 7 and 8 (6.1 to 6.x) and Windows 10.
bool DialogSweepAllowed(Desktop& desktop);
/// Asks one system dialog to close; 1 when there was one.
int CloseSystemDialog(Desktop& desktop);
/// Every pass closes one dialog, if there is one, and pauses.
void SweepSystemDialogs(Desktop& desktop, Clock& clock);

}  // namespace korvane
