#include "TraceReader.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>
#include <utility>

namespace korvane::trace {
namespace {

using Json = nlohmann::json;

/// A line's problem, thrown inside the reader and turned into a TraceError at its edge.
struct LineProblem {
  std::string what;
};

struct Line {
  std::size_t number = 0;
  Json json;
};

const Json& Member(const Json& object, const char* key) {
  const auto found = object.find(key);
  if (found == object.end()) throw LineProblem{"no \"" + std::string(key) + "\""};
  return *found;
}

std::string Text(const Json& object, const char* key) {
  const Json& value = Member(object, key);
  if (!value.is_string()) throw LineProblem{"\"" + std::string(key) + "\" is not a string"};
  return value.get<std::string>();
}

template <typename Integer>
Integer Number(const Json& object, const char* key) {
  const Json& value = Member(object, key);
  if (!value.is_number_integer()) {
    throw LineProblem{"\"" + std::string(key) + "\" is not a whole number"};
  }
  const auto number = value.get<std::int64_t>();
  if (number < std::numeric_limits<Integer>::min() ||
      number > std::numeric_limits<Integer>::max()) {
    throw LineProblem{"\"" + std::string(key) + "\" is out of range"};
  }
  return static_cast<Integer>(number);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::vector<std::uint8_t> Bytes(const Json& object, const char* key) {
  const std::string text = Text(object, key);
  if (text.size() % 2 != 0) throw LineProblem{"\"" + std::string(key) + "\" has an odd length"};
  std::vector<std::uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int high = HexDigit(text[i]);
    const int low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) throw LineProblem{"\"" + std::string(key) + "\" is not hex"};
    bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
  }
  return bytes;
}

std::vector<std::uint8_t> BytesIfAny(const Json& object, const char* key) {
  return object.contains(key) ? Bytes(object, key) : std::vector<std::uint8_t>{};
}

FailureStage Stage(const Json& object) {
  const std::string word = Text(object, "stage");
  if (word == "none") return FailureStage::None;
  if (word == "refused") return FailureStage::Refused;
  if (word == "open") return FailureStage::Open;
  if (word == "request") return FailureStage::Request;
  if (word == "status") return FailureStage::Status;
  throw LineProblem{"unknown stage \"" + word + "\""};
}

void ReadAnswer(const Json& object, RecordedCommand& command) {
  command.stage = Stage(object);
  if (command.stage == FailureStage::Refused) return;
  command.osError = Number<std::uint32_t>(object, "os_error");
  if (command.stage == FailureStage::Open) return;
  command.scsiStatus = Number<std::uint8_t>(object, "status");
  command.hostStatus = Number<std::uint16_t>(object, "host");
  command.driverStatus = Number<std::uint16_t>(object, "driver");
  command.transferred = Number<std::uint32_t>(object, "transferred");
  command.sense = BytesIfAny(object, "sense");
  if (command.direction == Direction::In) command.answer = Bytes(object, "answer");
}

RecordedCommand ReadCommand(const Json& object, bool answers) {
  RecordedCommand command;
  command.path = Text(object, "path");
  command.cdb = Bytes(object, "cdb");
  const std::string direction = Text(object, "dir");
  if (direction != "in" && direction != "out") throw LineProblem{"\"dir\" is neither in nor out"};
  command.direction = direction == "in" ? Direction::In : Direction::Out;
  command.length = Number<std::int32_t>(object, "len");
  const Json& ok = Member(object, "ok");
  if (!ok.is_boolean()) throw LineProblem{"\"ok\" is not true or false"};
  command.ok = ok.get<bool>();
  command.sent = BytesIfAny(object, "data");
  if (answers) ReadAnswer(object, command);
  return command;
}

InterfaceMarks Marks(const Json& disk) {
  InterfaceMarks marks;
  for (const Json& mark : Member(disk, "marks")) {
    const std::string word = mark.is_string() ? mark.get<std::string>() : std::string();
    if (word == "usb-storage") {
      marks.usbStorage = true;
    } else if (word == "ieee1394") {
      marks.ieee1394 = true;
    } else if (word == "scsi") {
      marks.scsi = true;
    } else {
      throw LineProblem{"unknown disk mark " + mark.dump()};
    }
  }
  return marks;
}

std::vector<DiskInterface> Disks(const Json& list) {
  if (!list.is_array()) throw LineProblem{"\"disks\" is not a list"};
  std::vector<DiskInterface> disks;
  for (const Json& disk : list) {
    if (!disk.is_object() || !Member(disk, "marks").is_array()) {
      throw LineProblem{"a disk is not {\"path\", \"bus\", \"marks\"}"};
    }
    disks.push_back(DiskInterface{Text(disk, "path"), Marks(disk)});
  }
  return disks;
}

MountState Mount(const Json& object) {
  const std::string word = Text(object, "state");
  MountState state{MountState::Kind::Free, Text(object, "detail")};
  if (word == "mounted") {
    state.kind = MountState::Kind::Mounted;
  } else if (word == "swap") {
    state.kind = MountState::Kind::Swap;
  } else if (word == "stacked") {
    state.kind = MountState::Kind::Stacked;
  } else if (word == "unknown") {
    state.kind = MountState::Kind::Unknown;
  } else if (word != "free") {
    throw LineProblem{"unknown mount state \"" + word + "\""};
  }
  return state;
}

std::vector<std::string> Words(const Json& object, const char* key) {
  const Json& list = Member(object, key);
  if (!list.is_array()) throw LineProblem{"\"" + std::string(key) + "\" is not a list"};
  std::vector<std::string> words;
  for (const Json& word : list) {
    if (!word.is_string()) throw LineProblem{"\"" + std::string(key) + "\" holds a non-string"};
    words.push_back(word.get<std::string>());
  }
  return words;
}

TraceHeader Header(const Json& object) {
  const Json& version = Member(object, "trace");
  if (!version.is_number_integer() || version.get<std::int64_t>() != kTraceVersion) {
    throw LineProblem{"unknown trace version " + version.dump() + " (this program reads version " +
                      std::to_string(kTraceVersion) + ")"};
  }
  TraceHeader header;
  header.program = Text(object, "program");
  header.programVersion = Text(object, "version");
  header.platform = Text(object, "platform");
  header.command = Words(object, "command");
  const std::string enclosures = Text(object, "enclosures");
  if (enclosures != "real" && enclosures != "simulated") {
    throw LineProblem{"\"enclosures\" is neither real nor simulated"};
  }
  header.enclosures = enclosures == "real" ? Enclosures::Real : Enclosures::Simulated;
  const Json& disks = Member(object, "disks");
  if (!disks.is_null()) header.disks = Disks(disks);
  // Traces of earlier runs hold no backup: they replay without one.
  const auto backup = object.find("backup");
  if (backup != object.end()) {
    if (!backup->is_boolean()) throw LineProblem{"\"backup\" is not true or false"};
    header.backup = backup->get<bool>();
  }
  return header;
}

RecordedHold Hold(std::size_t line, const Json& object) {
  RecordedHold hold{line, Text(object, "hold"), std::nullopt, Text(object, "gaps")};
  const Json& refused = Member(object, "refused");
  if (refused.is_string()) {
    hold.refused = refused.get<std::string>();
  } else if (!refused.is_null()) {
    throw LineProblem{"\"refused\" is neither text nor null"};
  }
  return hold;
}

/// Reads the lines after a header, or every line of a trace without one.
class Body {
 public:
  Body(Trace& trace, bool answers) : trace_(trace), answers_(answers) {}

  void Read(const Line& line) {
    const Json& json = line.json;
    if (json.contains("path")) {
      RecordedCommand command = ReadCommand(json, answers_);
      command.line = line.number;
      command.number = trace_.commands.size() + 1;
      trace_.commands.push_back(std::move(command));
    } else if (json.contains("disks")) {
      trace_.listings.push_back(RecordedListing{line.number, Disks(json["disks"])});
    } else if (json.contains("mounts")) {
      trace_.mounts.push_back(RecordedMount{line.number, Text(json, "mounts"), Mount(json)});
    } else if (json.contains("hold")) {
      trace_.holds.push_back(Hold(line.number, json));
    } else if (json.contains("exit")) {
      trace_.exitCode = Number<int>(json, "exit");
    } else {
      throw LineProblem{"neither a command, a listing, a mount check, a hold nor the exit code"};
    }
    if (trace_.exitCode && !json.contains("exit")) throw LineProblem{"a line after the exit code"};
  }

 private:
  Trace& trace_;
  bool answers_;
};

std::string Where(std::string_view name, std::size_t line) {
  return std::string(name) + ":" + std::to_string(line) + ": ";
}

/// Every line of the text as JSON objects; the first that is not one is the error.
std::variant<std::vector<Line>, TraceError> ParseLines(std::istream& in, std::string_view name) {
  std::vector<Line> lines;
  std::string text;
  for (std::size_t number = 1; std::getline(in, text); ++number) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    if (text.empty()) continue;
    Json json = Json::parse(text, nullptr, false);
    if (json.is_discarded()) return TraceError{Where(name, number) + "not JSON"};
    if (!json.is_object()) return TraceError{Where(name, number) + "not a JSON object"};
    lines.push_back(Line{number, std::move(json)});
  }
  if (lines.empty()) return TraceError{Where(name, 1) + "the file is empty: no header"};
  return lines;
}

bool IsRun(const Line& line) { return line.json.contains("run"); }

/// A problem report holds its runs one after the other, each a run line and a trace: the lines of
/// the run whose command is the one asked for.
std::vector<Line> RunOf(std::vector<Line> lines, std::string_view command) {
  std::vector<std::string> held;
  for (auto start = lines.begin() + 1; start != lines.end(); ++start) {
    if (!IsRun(*start)) continue;
    const std::vector<std::string> words = Words(start->json, "run");
    const std::string_view named = CommandOf(words);
    if (named.empty()) continue;
    if (named != command) {
      held.emplace_back(named);
      continue;
    }
    const auto end = std::find_if(start + 1, lines.end(), IsRun);
    return std::vector<Line>(std::make_move_iterator(start + 1), std::make_move_iterator(end));
  }
  std::string list;
  for (const std::string& word : held) list += (list.empty() ? "" : ", ") + word;
  throw LineProblem{"the report holds no run of \"" + std::string(command) + "\" (it holds " +
                    (list.empty() ? std::string("none") : list) + ")"};
}

Trace ReadLines(std::vector<Line> lines, std::string_view name, TraceUse use) {
  Trace trace;
  trace.name = std::string(name);
  const Json& first = lines.front().json;
  const bool headed = first.contains("trace");
  if (!headed && (use == TraceUse::Replay || !first.contains("path"))) {
    throw LineProblem{first.contains("path")
                          ? "no header: a trace of an earlier version holds no answers to replay"
                          : "no header: a trace begins with {\"trace\": version, ...}"};
  }
  Body body(trace, headed);
  std::size_t at = 0;
  if (headed) {
    trace.header = Header(first);
    if (trace.header->disks) trace.listings.push_back(RecordedListing{1, *trace.header->disks});
    at = 1;
  }
  for (; at < lines.size(); ++at) {
    try {
      body.Read(lines[at]);
    } catch (const LineProblem& problem) {
      throw TraceError{Where(name, lines[at].number) + problem.what};
    }
  }
  return trace;
}

}  // namespace

std::variant<Trace, TraceError> ReadTrace(std::istream& in, std::string_view name, TraceUse use,
                                          std::string_view command) {
  auto parsed = ParseLines(in, name);
  if (auto* error = std::get_if<TraceError>(&parsed)) return std::move(*error);
  auto lines = std::get<std::vector<Line>>(std::move(parsed));
  std::size_t line = lines.front().number;
  try {
    if (lines.front().json.contains("report")) {
      lines = RunOf(std::move(lines), command);
      if (lines.empty())
        throw LineProblem{"the run of \"" + std::string(command) + "\" holds no trace"};
      line = lines.front().number;
    }
    return ReadLines(std::move(lines), name, use);
  } catch (const LineProblem& problem) {
    return TraceError{Where(name, line) + problem.what};
  } catch (TraceError& placed) {
    return std::move(placed);
  }
}

std::variant<Trace, TraceError> LoadTrace(const std::string& path, TraceUse use,
                                          std::string_view command) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return TraceError{"cannot read the trace " + path};
  return ReadTrace(file, path, use, command);
}

}  // namespace korvane::trace
