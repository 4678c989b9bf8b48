#include "GadgetOptions.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <functional>

namespace korvane::gadget {
namespace {

using Setter = bool (*)(std::string_view value, GadgetOptions& options);

bool SetTransport(std::string_view value, GadgetOptions& options) {
  if (value == "bot")
    options.transport = TransportKind::BulkOnly;
  else if (value == "uas")
    options.transport = TransportKind::Uas;
  else
    return false;
  return true;
}

bool SetDisk(std::string_view value, GadgetOptions& options) {
  const auto* end = value.data() + value.size();
  const auto [at, error] = std::from_chars(value.data(), end, options.disk);
  return error == std::errc{} && at == end;
}

bool SetUdc(std::string_view value, GadgetOptions& options) {
  // The name becomes part of paths the program creates.
  if (value.empty() || value.find('/') != std::string_view::npos || value == "..") return false;
  options.udc = std::string(value);
  return true;
}

bool SetSerial(std::string_view value, GadgetOptions& options) {
  options.serial = std::string(value);
  return !value.empty() && value.size() <= 126;  // a string descriptor holds 126 characters
}

bool SetReady(std::string_view value, GadgetOptions& options) {
  options.ready = std::string(value);
  return !value.empty();
}

bool SetCommandTimes(std::string_view value, GadgetOptions& options) {
  options.commandTimes = std::string(value);
  return !value.empty();
}

bool SetGadgetfs(std::string_view value, GadgetOptions& options) {
  options.gadgetfs = std::string(value);
  return !value.empty();
}

struct ValueOption {
  std::string_view name;
  Setter set;
  std::string_view expected;
};

constexpr std::array kValueOptions{
    ValueOption{"--transport", SetTransport, "bot or uas"},
    ValueOption{"--udc", SetUdc, "a gadget controller name"},
    ValueOption{"--disk", SetDisk, "a disk number from 0"},
    ValueOption{"--serial", SetSerial, "1 to 126 characters"},
    ValueOption{"--ready", SetReady, "a file name"},
    ValueOption{"--gadgetfs", SetGadgetfs, "a directory"},
    ValueOption{"--command-times", SetCommandTimes, "a file name"},
};

UsageError Refuse(std::string text) { return {std::move(text)}; }

}  // namespace

std::string_view Usage() {
  return "usage: korvane-gadget --transport bot|uas [--udc NAME] [--disk N] [--serial S]\n"
         "                      [--ready FILE] [--gadgetfs DIR] [--command-times FILE]\n"
         "                      [--verbose] SCENARIO\n";
}

std::variant<GadgetOptions, UsageError> ParseOptions(std::span<const std::string_view> args) {
  GadgetOptions options;
  bool transportGiven = false;
  std::optional<std::string_view> scenario;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (arg == "--verbose") {
      options.verbose = true;
      continue;
    }
    const auto option = std::ranges::find(kValueOptions, arg, &ValueOption::name);
    if (option != kValueOptions.end()) {
      if (i + 1 == args.size()) return Refuse(std::string(arg) + " needs a value");
      const std::string_view value = args[++i];
      if (!option->set(value, options)) {
        return Refuse(std::string(arg) + ": expected " + std::string(option->expected) +
                      ", got \"" + std::string(value) + "\"");
      }
      transportGiven = transportGiven || option->name == "--transport";
      continue;
    }
    if (arg.starts_with("-")) return Refuse("unknown option " + std::string(arg));
    if (scenario) return Refuse("one scenario only, got \"" + std::string(arg) + "\" too");
    scenario = arg;
  }
  if (!transportGiven) return Refuse("--transport bot|uas is required");
  if (!scenario) return Refuse("no scenario given (a built-in name or a JSON file)");
  options.scenario = std::string(*scenario);
  return options;
}

}  // namespace korvane::gadget
