#include "TerminalView.h"

#include <algorithm>
#include <cstdio>

namespace korvane::cli {
namespace {

constexpr int kBarWidth = 20;
constexpr int kLineStep = 10;

/// A step's share of the whole job: it runs from `from` to `from + share` percent.
struct JobShare {
  UpdateStep step;
  int from;
  int share;
  std::string_view label;
};

// The write takes the longest; reading back takes half as long, and the NVRAM record is quick.
constexpr std::array<JobShare, 4> kJobShares{{
    {UpdateStep::WriteBlock, 0, 60, "Writing firmware"},
    {UpdateStep::ReadBack, 60, 30, "Verifying firmware"},
    {UpdateStep::Verify, 90, 0, "Verifying firmware"},
    {UpdateStep::NvramWrite, 90, 10, "Writing the NVRAM record"},
}};

}  // namespace

std::string ProgressBar(int percent) {
  percent = std::clamp(percent, 0, 100);
  const int filled = percent * kBarWidth / 100;
  std::string bar = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                    std::string(static_cast<std::size_t>(kBarWidth - filled), '.') + "] ";
  std::array<char, 8> number{};
  std::snprintf(number.data(), number.size(), "%3d%%", percent);
  return bar + number.data();
}

void TerminalView::Note(std::string_view text) {
  EndProgressLine();
  err_ << text << '\n' << std::flush;
}

void TerminalView::SetVisible(Control control, bool visible) {
  visible_[Index(control)] = visible;
  if (control != Control::UpdateProgressBar) return;
  // A bar that is shown starts over; one that is hidden mid-way (a failed write) still ends its
  // line, so that the outcome starts on a line of its own.
  if (visible) {
    shownPercent_ = -1;
  } else {
    EndProgressLine();
  }
}

void TerminalView::ClearDeviceList() {
  deviceLines_.clear();
  selected_ = -1;
}

void TerminalView::StepProgress(UpdateStep step, int percent) {
  for (const JobShare& share : kJobShares) {
    if (share.step != step) continue;
    ShowProgress(share.from + std::clamp(percent, 0, 100) * share.share / 100, share.label);
    return;
  }
}

void TerminalView::ShowProgress(int percent, std::string_view label) {
  percent = std::clamp(percent, 0, 100);
  switch (style_) {
    case ProgressStyle::Bar:
      DrawBar(percent);
      break;
    case ProgressStyle::Lines:
      WriteStep(percent, label);
      break;
    case ProgressStyle::None:
      break;
  }
}

void TerminalView::DrawBar(int percent) {
  if (percent == shownPercent_) return;
  shownPercent_ = percent;
  out_ << '\r' << ProgressBar(percent) << std::flush;
  lineOpen_ = true;
  if (percent == 100) EndProgressLine();
}

void TerminalView::WriteStep(int percent, std::string_view label) {
  const int step = percent / kLineStep * kLineStep;
  // Progress that goes back is a second attempt: its steps are written again.
  if (step < shownPercent_) shownPercent_ = -1;
  if (step <= shownPercent_) return;
  shownPercent_ = step;
  out_ << label << ": " << step << "%\n" << std::flush;
}

void TerminalView::EndProgressLine() {
  if (!lineOpen_) return;
  out_ << '\n' << std::flush;
  lineOpen_ = false;
}

void TerminalView::ProcessMessages() {
  ++pumps_;
  for (const auto& hook : pumpHooks_) hook();
}

}  // namespace korvane::cli
