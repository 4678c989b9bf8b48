// A device stack that records: what its lister and its mount check answer goes into a trace,
// beside the commands the transport's hook writes there.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Devices.h"
#include "TraceRecorder.h"

namespace korvane {

/// A device stack that tells a trace what its lister and its mount check answered.
class RecordingDevices final : public Devices {
 public:
  RecordingDevices(Devices& inner, trace::TraceWriter& writer);

  Port& port() override { return inner_.port(); }
  DiskLister& lister() override { return lister_; }
  Clock& clock() override { return inner_.clock(); }
  DeviceChanges& changes() override { return inner_.changes(); }
  Enclosures enclosures() const override { return inner_.enclosures(); }
  MountState CheckMounts(std::string_view path) override;
  std::variant<std::unique_ptr<DiskHold>, std::string> Hold(std::string_view path) override;
  std::optional<std::string> SavedStateText() const override { return inner_.SavedStateText(); }
  bool Replugs(std::string_view path) const override { return inner_.Replugs(path); }
  void ExpectReplug() override { inner_.ExpectReplug(); }

 private:
  class Lister final : public DiskLister {
   public:
    Lister(DiskLister& inner, trace::TraceWriter& writer) : inner_(inner), writer_(writer) {}
    std::vector<DiskInterface> ListDisks() override;

   private:
    DiskLister& inner_;
    trace::TraceWriter& writer_;
  };

  Devices& inner_;
  trace::TraceWriter& writer_;
  Lister lister_;
};

}  // namespace korvane
