#include "JsonAnswer.h"

#include <array>

#include "EmbeddedImages.h"

namespace korvane::cli {

std::string_view SeverityName(Severity severity) {
  static constexpr std::array<std::string_view, 3> kNames{"information", "warning", "error"};
  return kNames[static_cast<std::size_t>(severity)];
}

void JsonAnswer::Add(Severity severity, std::string text) {
  // A warning said twice (by discovery and again by the check) is one message.
  for (const auto& message : messages_) {
    if (message.first == severity && message.second == text) return;
  }
  messages_.emplace_back(severity, std::move(text));
}

nlohmann::ordered_json JsonAnswer::Framed(const std::vector<std::string>& argv,
                                          int exitStatus) const {
  nlohmann::ordered_json messages = nlohmann::ordered_json::array();
  for (const auto& [severity, text] : messages_) {
    messages.push_back({{"severity", SeverityName(severity)}, {"text", text}});
  }
  nlohmann::ordered_json framed{{"json_format_version", kJsonFormatVersion},
                                {"program",
                                 {{"name", "korvane-fw"},
                                  {"version", KORVANE_VERSION},
                                  {"argv", argv},
                                  {"development_images", EmbeddedImages().development()}}},
                                {"exit_status", exitStatus},
                                {"messages", messages}};
  if (body_ && body_->is_object()) {
    for (const auto& item : body_->items()) framed[item.key()] = item.value();
  }
  return framed;
}

}  // namespace korvane::cli
