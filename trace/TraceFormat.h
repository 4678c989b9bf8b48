// The trace file: a header line, then one JSON line per command, listing, mount check, and the
// exit code at the end. What a recording wrote, a replay reads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Discovery.h"
#include "Enclosures.h"
#include "MountState.h"

namespace korvane::trace {

/// The version this program writes and replays.
inline constexpr int kTraceVersion = 2;

/// A file a run wrote to a bridge, as the trace names it.
struct TracedFile {
  std::string name;  ///< as given on the command line
  std::uint64_t size = 0;
  std::string sha256;  ///< 64 lower-case hex digits
};

/// What the first line says about the run.
struct TraceHeader {
  int version = kTraceVersion;
  std::string program;               ///< "korvane-fw"
  std::string programVersion;        ///< the program's version
  std::string platform;              ///< "linux" or "windows"
  std::vector<std::string> command;  ///< the command and its options, without files or sources
  Enclosures enclosures = Enclosures::Real;
  /// The lister's first answer, when the run listed disks before it sent any command.
  std::optional<std::vector<DiskInterface>> disks;
  /// An update backs the bridge up before it writes; a trace without the key did not.
  bool backup = false;
  /// The file an update writes instead of the carried image; nothing: the carried image.
  std::optional<TracedFile> image;
};

/// The command of a recorded command line: its first word that is not an option, as "check" in
/// "--json check"; empty when it names none.
std::string_view CommandOf(const std::vector<std::string>& words);

/// The platform this program was built for, as a header names it.
std::string_view ThisPlatform();

/// The header line.
std::string HeaderLine(const TraceHeader& header);
/// A later answer of the disk lister.
std::string DisksLine(const std::vector<DiskInterface>& disks);
/// The answer of one mount check.
std::string MountLine(std::string_view path, const MountState& state);
/// The answer of one hold of a disk: refused with a reason, or taken, with what it left uncovered.
std::string HoldLine(std::string_view path, const std::optional<std::string>& refused,
                     std::string_view gaps);
/// The run's exit code, the last line of a complete trace.
std::string ExitLine(int code);

}  // namespace korvane::trace
