// What every korvane-fw command gets to work with.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "Devices.h"
#include "MessageSink.h"
#include "Transport.h"

namespace korvane::cli {

/// Exit codes of korvane-fw.
namespace exitcode {
inline constexpr int kOk = 0;
inline constexpr int kNothingFound = 1;  ///< no enclosure could be listed
inline constexpr int kBadInput = 2;      ///< bad arguments, scenario or trace file
}  // namespace exitcode

/// The options every command takes.
struct GlobalOptions {
  std::string simulate;  ///< scenario name or file; empty: the real disks
  std::string trace;     ///< trace file; empty: no trace
  bool json = false;
  bool verbose = false;
};

/// Messages the device layer would show in a box: kept, and shown by the command's report.
class KeptMessages final : public MessageSink {
 public:
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;
  /// "Error: Get chip information fail !" and the like, in the order they came.
  const std::vector<std::string>& texts() const { return texts_; }

 private:
  std::vector<std::string> texts_;
};

/// A command's working set.
struct CommandContext {
  const GlobalOptions& options;
  Devices& devices;
  Transport& io;
  KeptMessages& messages;
  std::ostream& out;
  std::ostream& err;
};

}  // namespace korvane::cli
