#include "ListCommand.h"

#include <string>

#include "BridgeCommands.h"
#include "ChipUpdate.h"
#include "Facts.h"
#include "ImageCheck.h"
#include "Text.h"
#include "UpdateJob.h"

namespace korvane::cli {
namespace {

std::string FirmwareText(const ListEntry& entry, const EnclosureFacts& facts) {
  if (!ReadsFirmware(entry.disk)) return "firmware not read";
  if (!facts.reported) return "firmware unreadable";
  if (facts.bootRom) return "boot ROM running, no firmware";
  return "firmware " + VersionWords(facts);
}

/// One line per disk: the device-list line as the window shows it, trailing blanks included, made
/// printable like every text a bridge or the system gave.
std::string HumanLine(const ListEntry& entry) {
  const EnclosureFacts facts = FactsOf(entry);
  return Printable(entry.disk.line) + " | " + ChipText(facts) + " | " + FirmwareText(entry, facts) +
         " | " + Printable(entry.disk.path);
}

/// The one-line answer when nothing could be listed.
std::string NothingListed(const ListReport& report) {
  if (!report.warnings.empty()) {
    std::string text = "No enclosure could be examined: " + Printable(report.warnings.front());
    if (report.warnings.size() > 1) {
      text += " (" + std::to_string(report.warnings.size() - 1) + " more with --verbose)";
    }
    return text;
  }
  if (report.enumerated == 0) {
    return "No enclosure found: no USB, UASP or FireWire disk with a bridge chip is attached.";
  }
  return "No enclosure found: " + std::to_string(report.enumerated) +
         " disk(s) answered the bridge probe, but none has a bridge chip this tool knows.";
}

void PrintHuman(const CommandContext& context, const ListReport& report) {
  if (report.entries.empty()) context.out << NothingListed(report) << '\n';
  for (const ListEntry& entry : report.entries) context.out << HumanLine(entry) << '\n';
  // The one-line answer already names the first warning; the rest are for whoever asks.
  if (!report.entries.empty() || context.options.verbose) {
    for (const std::string& warning : report.warnings) {
      context.err << "korvane-fw: warning: " << Printable(warning) << '\n';
    }
  }
  if (context.options.verbose) {
    for (const std::string& disk : report.leftOut) {
      context.err << "Left out " << Printable(disk) << '\n';
    }
    context.err << report.enumerated << " disk(s) answered the bridge probe, "
                << report.entries.size() << " with a bridge chip this tool knows\n";
  }
}

}  // namespace

ListReport BuildListReport(CommandContext& context) {
  ScanResult scan = ScanBridgeDisks(context.devices.lister(), context.io, context.messages);
  ListReport report{
      scan.enumeratedDiskCount, {}, std::move(scan.warnings), std::move(scan.leftOut)};
  for (ListedDisk& disk : scan.listed) {
    std::optional<FirmwareState> firmware;
    if (ReadsFirmware(disk)) firmware = ReadFirmwareState(context.io, disk.path);
    report.entries.push_back({std::move(disk), firmware});
  }
  for (const std::string& text : context.messages.texts()) report.warnings.push_back(text);
  return report;
}

nlohmann::ordered_json ListJson(const ListReport& report) {
  nlohmann::ordered_json disks = nlohmann::ordered_json::array();
  for (const ListEntry& entry : report.entries) disks.push_back(DiskJson(entry));
  return {{"enumerated", report.enumerated}, {"disks", disks}, {"warnings", report.warnings}};
}

int RunList(CommandContext& context) {
  const ListReport report = BuildListReport(context);
  int code = exitcode::kOk;
  if (report.entries.empty()) {
    code = RightsExplainEmptyScan(&context.access) ? exitcode::kNoRights : exitcode::kNothingFound;
  }
  if (context.options.json) {
    context.json.Set(ListJson(report));
    for (const std::string& warning : report.warnings) {
      context.json.Add(Severity::Warning, warning);
    }
    if (code != exitcode::kOk) context.json.Add(Severity::Error, NothingListed(report));
  } else {
    PrintHuman(context, report);
  }
  return code;
}

}  // namespace korvane::cli
