#include "TraceJson.h"

#include <cstdint>
#include <span>
#include <string>

namespace korvane {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    text += kHexDigits[b >> 4];
    text += kHexDigits[b & 0xF];
  }
  return text;
}

// Device paths carry backslashes, and a path from a user may carry anything else.
std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      out += "\\u00";
      out += kHexDigits[u >> 4];
      out += kHexDigits[u & 0xF];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

std::string TraceJson(const TraceRecord& record) {
  std::string line = "{\"path\":" + JsonString(record.path);
  line += ",\"cdb\":\"" + Hex(record.cdb) + "\"";
  line += record.direction == Direction::In ? ",\"dir\":\"in\"" : ",\"dir\":\"out\"";
  line += ",\"len\":" + std::to_string(record.length);
  line += record.verdict == Verdict::Ok ? ",\"ok\":true" : ",\"ok\":false";
  if (record.direction == Direction::Out) line += ",\"data\":\"" + Hex(record.data) + "\"";
  return line + "}";
}

}  // namespace korvane
