// Records a run as a trace: the commands through the transport's hook, the lister's and the mount
// check's answers through a wrapper around the device stack.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Devices.h"
#include "TraceFormat.h"
#include "Transport.h"

namespace korvane::trace {

/// Writes the lines of one trace to a sink, the header first.
class TraceWriter {
 public:
  using Sink = std::function<void(const std::string& line)>;
  /// The header's disks are filled in from the first listing, when the run lists before anything
  /// else happens.
  TraceWriter(TraceHeader header, Sink sink);

  void Listing(const std::vector<DiskInterface>& disks);
  void Mount(std::string_view path, const MountState& state);
  void Command(const TraceRecord& record);
  void Exit(int code);

 private:
  void Write(const std::string& line);

  TraceHeader header_;
  Sink sink_;
  bool started_ = false;
};

/// A device stack that tells a trace what its lister and its mount check answered.
class RecordingDevices final : public Devices {
 public:
  RecordingDevices(Devices& inner, TraceWriter& writer);

  Port& port() override { return inner_.port(); }
  DiskLister& lister() override { return lister_; }
  Clock& clock() override { return inner_.clock(); }
  Enclosures enclosures() const override { return inner_.enclosures(); }
  MountState CheckMounts(std::string_view path) override;
  std::optional<std::string> SavedStateText() const override { return inner_.SavedStateText(); }

 private:
  class Lister final : public DiskLister {
   public:
    Lister(DiskLister& inner, TraceWriter& writer) : inner_(inner), writer_(writer) {}
    std::vector<DiskInterface> ListDisks() override;

   private:
    DiskLister& inner_;
    TraceWriter& writer_;
  };

  Devices& inner_;
  TraceWriter& writer_;
  Lister lister_;
};

}  // namespace korvane::trace
