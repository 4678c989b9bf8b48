#include "TerminalView.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "UpdateJob.h"

namespace korvane::cli {
namespace {

constexpr int kBarWidth = 20;
constexpr int kLineStep = 10;

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

void TerminalView::StepProgress(UpdateStep step, int percent) {
  if (const auto progress = JobProgressOf(step, percent)) {
    ShowProgress(progress->percent, progress->label);
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
