#include "ParserTargets.h"

#include <algorithm>
#include <sstream>
#include <string_view>
#include <variant>

#include "ChipUpdate.h"
#include "History.h"
#include "ImageCheck.h"
#include "ImageFile.h"
#include "ImageLayout.h"
#include "Scenario.h"
#include "ScenarioWriter.h"
#include "Sha256.h"
#include "TraceReader.h"

namespace korvane::fuzz {
namespace {

std::string_view Text(std::span<const std::uint8_t> input) {
  return {reinterpret_cast<const char*>(input.data()), input.size()};
}

/// Whether the flash would boot from image: its signature is where the boot ROM looks for it.
bool Bootable(std::span<const std::uint8_t> image) {
  return image.size() >= kImageSignatureAt + kImageSignature.size() &&
         std::ranges::equal(image.subspan(kImageSignatureAt, kImageSignature.size()),
                            kImageSignature);
}

}  // namespace

std::optional<std::string> ReadImageWithRecord(std::span<const std::uint8_t> input) {
  std::string_view record;
  std::span<const std::uint8_t> image = input;
  if (!input.empty() && input[0] == '{') {
    const std::string_view text = Text(input);
    const std::size_t end = std::min(text.find('\0'), text.size());
    record = text.substr(0, end);
    image = input.subspan(std::min(end + 1, input.size()));
  }
  const std::string digest = Sha256Hex(image);
  const auto judged = store::JudgeBackupRecord(record, "fuzzed.bin", digest, image.size());
  if (std::holds_alternative<std::string>(judged)) return std::nullopt;
  const bool backup = std::holds_alternative<nlohmann::json>(judged);
  if (backup && std::get<nlohmann::json>(judged)["sha256"] != digest) {
    return "a record that names another digest was taken for the file's";
  }
  const ImageJudgement judgement = backup ? ImageJudgement::Backup : ImageJudgement::Whole;
  for (const ChipUpdate& chip : kChipUpdates) {
    if (!FirmwareImageProblem(chip, image, judgement) && !Bootable(image)) {
      return "a file without the boot signature was judged fit to write";
    }
  }
  return std::nullopt;
}

std::optional<std::string> ReadBackupRecord(std::span<const std::uint8_t> input) {
  const std::string_view text = Text(input);
  const nlohmann::json parsed = nlohmann::json::parse(text, nullptr, false);
  if (!parsed.is_object()) return std::nullopt;
  const auto digest = parsed.find("sha256");
  const auto size = parsed.find("size");
  if (digest == parsed.end() || !digest->is_string() || size == parsed.end() ||
      !size->is_number_unsigned()) {
    return std::nullopt;
  }
  const std::string named = digest->get<std::string>();
  const auto bytes = size->get<std::uint64_t>();
  const auto judged = store::JudgeBackupRecord(text, "fuzzed.bin", named, bytes);
  if (!std::holds_alternative<nlohmann::json>(judged)) return std::nullopt;
  const std::string written = std::get<nlohmann::json>(judged).dump();
  if (!std::holds_alternative<nlohmann::json>(
          store::JudgeBackupRecord(written, "fuzzed.bin", named, bytes))) {
    return "a record accepted is refused once written out";
  }
  if (!std::holds_alternative<std::string>(
          store::JudgeBackupRecord(text, "fuzzed.bin", named + "0", bytes))) {
    return "a record was accepted for a file of another digest";
  }
  return std::nullopt;
}

std::optional<std::string> ReadHistoryLines(std::span<const std::uint8_t> input) {
  const store::HistoryRead first = store::ReadHistoryText(Text(input), "fuzzed.jsonl");
  std::string written;
  for (const auto& event : first.events) {
    written += event.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
  }
  const store::HistoryRead again = store::ReadHistoryText(written, "written.jsonl");
  if (!again.warnings.empty()) return "an event read does not read back once written";
  if (again.events.size() != first.events.size()) return "events were lost once written";
  for (std::size_t index = 0; index < first.events.size(); ++index) {
    const auto& read = first.events[index];
    if (read.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) !=
        again.events[index].dump(-1, ' ', false,
                                 nlohmann::ordered_json::error_handler_t::replace)) {
      return "an event read back once written is another event";
    }
  }
  return std::nullopt;
}

std::optional<std::string> ReadScenarioText(std::span<const std::uint8_t> input) {
  const auto first = sim::ParseScenario(Text(input), "fuzzed.json");
  if (std::holds_alternative<sim::ScenarioError>(first)) return std::nullopt;
  const std::string written = sim::ScenarioJson(std::get<sim::Scenario>(first));
  const auto again = sim::ParseScenario(written, "written.json");
  if (const auto* error = std::get_if<sim::ScenarioError>(&again)) {
    return "a scenario read does not read back once written: " + error->message;
  }
  if (sim::ScenarioJson(std::get<sim::Scenario>(again)) != written) {
    return "a scenario read back once written describes other enclosures";
  }
  return std::nullopt;
}

std::optional<std::string> ReadTraceText(std::span<const std::uint8_t> input) {
  const auto read = [&](trace::TraceUse use) {
    std::istringstream in{std::string(Text(input))};
    return trace::ReadTrace(in, "fuzzed.trace", use, "check");
  };
  const auto replay = read(trace::TraceUse::Replay);
  if (std::holds_alternative<trace::TraceError>(replay)) return std::nullopt;
  const auto compare = read(trace::TraceUse::Compare);
  if (const auto* error = std::get_if<trace::TraceError>(&compare)) {
    return "a trace read for a replay is refused for a comparison: " + error->message;
  }
  return std::nullopt;
}

}  // namespace korvane::fuzz
