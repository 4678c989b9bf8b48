#include "HistoryCommand.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include "ImageCheck.h"
#include "Store.h"
#include "Text.h"
#include "VersionCheck.h"

namespace korvane::cli {
namespace {

/// A text member of an event, printable; absent when it is missing or no text.
std::string Member(const nlohmann::ordered_json& object, const char* key,
                   std::string_view absent = "?") {
  if (!object.is_object()) return std::string(absent);
  const auto found = object.find(key);
  if (found == object.end() || !found->is_string()) return std::string(absent);
  return Printable(found->get<std::string>());
}

/// "0.0.1.2, release 234.01.00.02": a version with its release, where the event names one.
std::string WithRelease(const nlohmann::ordered_json& object, const char* version,
                        const char* release) {
  const std::string named = Member(object, release, "");
  return Member(object, version) + (named.empty() ? "" : ", release " + named);
}

/// "0.0.0.8 -> 0.0.1.2, release 234.01.00.02" for an update, "0.0.0.8" for a backup. An older
/// event names the written image by its version alone.
std::string Versions(const nlohmann::ordered_json& event) {
  std::string versions = WithRelease(event, "version_before", "release_before");
  if (Member(event, "event") != "update") return versions;
  const auto found = event.find("written");
  const nlohmann::ordered_json written = found == event.end() ? nullptr : *found;
  if (Member(written, "running_version", "").empty()) {
    return versions + " -> " + Member(written, "version");
  }
  return versions + " -> " + WithRelease(written, "running_version", "release");
}

}  // namespace

std::string HistoryEventText(const nlohmann::ordered_json& event) {
  std::string text = Member(event, "time") + "  " + Member(event, "event") + "  ";
  const auto enclosure = event.find("enclosure");
  text += Member(enclosure == event.end() ? nlohmann::ordered_json() : *enclosure, "chip");
  text += "  " + Versions(event) + "  " + Member(event, "result");
  const std::string step = Member(event, "failed_step", "");
  if (!step.empty()) text += " at " + step;
  const auto replug = event.find("replug");
  if (replug != event.end() && replug->is_object()) {
    text += ", after the replug: " + Member(*replug, "result");
  }
  const auto simulated = event.find("simulated");
  if (simulated != event.end() && *simulated == true) text += "  (simulated)";
  return text;
}

int RunHistory(const Console& console, JsonAnswer* json) {
  const HistoryRead read = ReadHistory(console.stateFolder);
  std::vector<std::string> warnings = read.warnings;
  if (console.stateFolder.empty()) {
    warnings.insert(warnings.begin(), std::string(kNoStateFolder) + ": no history is kept");
  }
  for (const std::string& warning : warnings) {
    console.err << "korvane-fw: warning: " << Printable(warning) << '\n';
    if (json != nullptr) json->Add(Severity::Warning, warning);
  }
  if (json != nullptr) {
    nlohmann::ordered_json events(read.events);
    json->Set({{"events", std::move(events)}});
    return exitcode::kOk;
  }
  if (read.events.empty()) {
    console.out << "No history yet";
    if (!console.stateFolder.empty()) {
      console.out << " (" << Printable(HistoryPath(console.stateFolder)) << ")";
    }
    console.out << ".\n";
  }
  for (const nlohmann::ordered_json& event : read.events) {
    console.out << HistoryEventText(event) << '\n';
  }
  return exitcode::kOk;
}

}  // namespace korvane::cli
