#include "TraceJson.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>

namespace korvane {
namespace {

// Device paths carry backslashes, and a path from a user may carry anything else.
std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<std::uint8_t>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      out += "\\u00" + HexText(std::span(&u, 1));
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string Field(std::string_view name, std::uint32_t value) {
  return ",\"" + std::string(name) + "\":" + std::to_string(value);
}

// Data in counts only as far as the device transferred it: the rest of the caller's buffer is the
// transport's zero fill.
std::span<const std::uint8_t> AnswerBytes(const TraceRecord& record, std::uint32_t transferred) {
  if (record.direction != Direction::In) return {};
  return record.data.first(std::min<std::size_t>(record.data.size(), transferred));
}

std::string AnswerFields(const TraceRecord& record) {
  const CommandOutcome& outcome = *record.outcome;
  std::string fields = ",\"stage\":\"" + std::string(FailureStageName(outcome.stage)) + "\"";
  if (outcome.stage == FailureStage::Refused) return fields;
  fields += Field("os_error", outcome.osError);
  if (outcome.stage == FailureStage::Open) return fields;
  fields += Field("status", outcome.scsiStatus) + Field("host", outcome.hostStatus) +
            Field("driver", outcome.driverStatus) + Field("transferred", outcome.transferred);
  if (outcome.senseLength > 0) {
    fields +=
        ",\"sense\":\"" + HexText(std::span(outcome.senseBytes).first(outcome.senseLength)) + "\"";
  }
  if (record.direction == Direction::In) {
    fields += ",\"answer\":\"" + HexText(AnswerBytes(record, outcome.transferred)) + "\"";
  }
  return fields;
}

}  // namespace

std::string TraceJson(const TraceRecord& record) {
  std::string line = "{\"path\":" + JsonString(record.path);
  line += ",\"cdb\":\"" + HexText(record.cdb) + "\"";
  line += record.direction == Direction::In ? ",\"dir\":\"in\"" : ",\"dir\":\"out\"";
  line += ",\"len\":" + std::to_string(record.length);
  line += record.verdict == Verdict::Ok ? ",\"ok\":true" : ",\"ok\":false";
  if (record.direction == Direction::Out) line += ",\"data\":\"" + HexText(record.data) + "\"";
  if (record.outcome != nullptr) line += AnswerFields(record);
  return line + "}";
}

}  // namespace korvane
