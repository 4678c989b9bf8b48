#include "HistoryEvents.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include "ImageCheck.h"
#include "Text.h"
#include "VersionCheck.h"

namespace korvane::cli {
namespace {

HistoryEnclosure EnclosureOf(const CheckReport& check) {
  std::optional<std::string> line;
  if (check.checked) line = check.checked->line;
  return HistoryEnclosureOf(check.enclosure, check.checkedPath, std::move(line));
}

}  // namespace

HistoryEvent NewHistoryEvent(const CommandContext& context, std::string_view kind,
                             const CheckReport& check) {
  HistoryEvent event;
  event.time = std::chrono::system_clock::now();
  event.event = std::string(kind);
  event.simulated = context.devices.enclosures() == Enclosures::Simulated;
  event.enclosure = EnclosureOf(check);
  event.versionBefore = HistoryVersion(check.enclosure);
  if (!check.enclosure.release.empty()) event.releaseBefore = check.enclosure.release;
  return event;
}

std::string RecordedPath(const std::string& path) {
  if (path.empty()) return path;
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

void RecordHistory(CommandContext& context, const HistoryEvent& event) {
  if (!context.options.replay.empty()) return;
  if (auto problem = AppendHistory(context.console.stateFolder, event, store::kHistoryLimit,
                                   *context.console.files)) {
    context.err << "korvane-fw: warning: history: " << Printable(*problem) << '\n' << std::flush;
    context.json.Add(Severity::Warning, "history: " + *problem);
  }
}

}  // namespace korvane::cli
