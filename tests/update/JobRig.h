// The update job over a simulated bus whose disks the platform lists, for the job's own tests.
#pragma once

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "EmbeddedImages.h"
#include "Scenario.h"
#include "UpdateJob.h"
#include "UpdateRig.h"

namespace korvane::testing {

inline constexpr std::string_view kJobDisk =
    R"(\\?\usbstor#Disk&Ven_Korvane&Prod_NVMe#0001&0#{53f5})";
inline constexpr std::string_view kOtherDisk =
    R"(\\?\usbstor#Disk&Ven_Korvane&Prod_SATA#0002&0#{53f5})";

/// An enclosure of the chip running version, with the INQUIRY texts discovery lists.
inline sim::BridgeConfig RunningConfig(const ChipUpdate& chip, std::array<std::uint8_t, 4> version,
                                       bool romMode = false) {
  sim::BridgeConfig config = Config(chip, romMode);
  config.firmwareVersion = version;
  config.inquiry.vendor = "Korvane ";
  config.inquiry.product = "NVMe Enclosure";
  return config;
}

/// The carried images, said to be development images or not.
struct MarkedImages final : ImageSource {
  EmbeddedImages embedded;
  bool isDevelopment = false;
  std::optional<std::span<const std::uint8_t>> Find(std::string_view name,
                                                    std::string_view type) const override {
    return embedded.Find(name, type);
  }
  bool development() const override { return isDevelopment; }
};

/// Lists only the bus's disks that are shown, as a platform lists what is plugged in.
struct ShownLister final : DiskLister {
  explicit ShownLister(sim::SimulatedBus& bus) : all(bus) {}
  sim::SimulatedDiskLister all;
  std::set<std::string> hidden;
  std::vector<DiskInterface> ListDisks() override {
    std::vector<DiskInterface> disks = all.ListDisks();
    std::erase_if(disks, [this](const DiskInterface& disk) { return hidden.contains(disk.path); });
    return disks;
  }
};

/// A mount check that finds the same for every disk.
struct FixedMounts final : MountCheck {
  MountState state;
  MountState CheckMounts(std::string_view) override { return state; }
};

/// Steps that remember what the run asked of them, and can refuse the backup.
struct RecordingSteps final : UpdateSteps {
  explicit RecordingSteps(UpdateView& shown) : shown_(shown) {}
  std::vector<std::string> log;
  std::optional<std::string> notReady;  ///< the backup cannot be kept, for this reason
  bool keepFails = false;               ///< the backup read cannot be written

  UpdateView& view() override { return shown_; }
  std::optional<std::string> ReadyBackup() override {
    log.emplace_back("ready");
    return notReady;
  }
  BackupEnd KeepBackup(const FirmwareBackup& read, UpdateFailure& failure) override {
    log.emplace_back("keep");
    if (!keepFails) return read.end;
    failure.reason = "the backup could not be written";
    return BackupEnd::Failed;
  }
  void Begin(JobStep step) override { log.push_back("begin " + Name(step)); }
  void End(JobStep step) override { log.push_back("end " + Name(step)); }

 private:
  static std::string Name(JobStep step) { return step == JobStep::Backup ? "backup" : "write"; }
  UpdateView& shown_;
};

/// One job over a bus of simulated enclosures.
struct JobRig {
  explicit JobRig(Enclosures enclosures = Enclosures::Simulated)
      : devices{io, lister, clock, enclosures, &mounts},
        job(JobServices{devices, sink, debug, images}) {}

  sim::SimulatedBridge& Plug(std::string_view path, sim::BridgeConfig config) {
    return bus.AddDisk(path, sim::SimulatedBridge(std::move(config)));
  }
  /// The request the command line makes for the checked disk.
  UpdateRequest Request(const FirmwareFile* file = nullptr) const {
    UpdateRequest request;
    request.path = job.check().path;
    request.info = job.check().bridgeInfo;
    request.diskName = "the enclosure";
    request.file = file;
    request.refuseEarly = true;
    return request;
  }
  std::size_t Received(std::string_view path, sim::Operation operation) {
    return static_cast<std::size_t>(std::ranges::count_if(
        bus.Find(path)->log(), [&](const auto& logged) { return logged.operation == operation; }));
  }

  sim::SimulatedClock clock;
  sim::SimulatedBus bus{clock};
  ShownLister lister{bus};
  Transport io{bus};
  RecordingView view;
  RecordingDebug debug;
  RecordingSink sink;
  MarkedImages images;
  FixedMounts mounts;
  DeviceServices devices;
  UpdateJob job;
};

}  // namespace korvane::testing
