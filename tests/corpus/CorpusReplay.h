// Replaying the recorded runs of a corpus folder: NAME.trace with its standard output NAME.out.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "TraceReader.h"
#include "cli/KorvaneFwRun.h"

namespace korvane::cli {

/// The traces of a folder, by name.
inline std::vector<std::filesystem::path> Traces(const std::filesystem::path& folder) {
  std::vector<std::filesystem::path> traces;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().extension() == ".trace") traces.push_back(entry.path());
  }
  std::ranges::sort(traces);
  return traces;
}

/// Replays a trace with the command its header names, or with the one given.
inline testing::Outcome Replay(const std::string& file, std::vector<std::string> words = {}) {
  auto loaded = trace::LoadTrace(file, trace::TraceUse::Replay);
  if (auto* error = std::get_if<trace::TraceError>(&loaded)) return {-1, "", error->message};
  if (words.empty()) words = std::get<trace::Trace>(loaded).header->command;
  std::vector<std::string> args{"--replay", file};
  args.insert(args.end(), words.begin(), words.end());
  return testing::KorvaneFw(args);
}

/// The exit code a trace recorded; -1 when it has none.
inline int RecordedExit(const std::string& file) {
  const auto loaded = trace::LoadTrace(file, trace::TraceUse::Replay);
  const auto* trace = std::get_if<trace::Trace>(&loaded);
  return trace != nullptr && trace->exitCode ? *trace->exitCode : -1;
}

/// Text with every full replaced by name.
inline std::string ReplacedAll(std::string text, const std::string& full, const std::string& name) {
  for (auto at = text.find(full); at != std::string::npos; at = text.find(full, at + name.size())) {
    text.replace(at, full.size(), name);
  }
  return text;
}

/// A replay's output with the trace's path, which a JSON answer's argv names, cut to its file
/// name: as the path reads, and as JSON escapes it (a Windows path's backslashes doubled).
inline std::string WithTraceNamed(std::string out, const std::filesystem::path& path) {
  const std::string full = path.string(), name = path.filename().string();
  std::string escaped;
  for (const char c : full) escaped += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return ReplacedAll(ReplacedAll(std::move(out), escaped, name), full, name);
}

/// Every trace of the folder, at least minimum of them, replays to its output and exit code.
inline void ExpectEveryRunReplays(const std::filesystem::path& folder, std::size_t minimum) {
  const auto traces = Traces(folder);
  ASSERT_GE(traces.size(), minimum) << folder;
  for (const auto& path : traces) {
    SCOPED_TRACE(path.filename().string());
    const testing::Outcome replayed = Replay(path.string());
    EXPECT_EQ(replayed.code, RecordedExit(path.string())) << replayed.err;
    EXPECT_EQ(testing::WithoutBackupFile(WithTraceNamed(replayed.out, path)),
              testing::WithoutBackupFile(
                  testing::ReadWhole(std::filesystem::path(path).replace_extension(".out"))));
  }
}

}  // namespace korvane::cli
