// A simulated enclosure on a simulated bus with recording seams, for driving the update engine.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "BridgeConfig.h"
#include "ChipUpdate.h"
#include "EmbeddedImages.h"
#include "FlashProgramming.h"
#include "SimulatedBus.h"
#include "SimulatedClock.h"
#include "UpdateContext.h"

namespace korvane::testing {

inline constexpr std::string_view kEnclosurePath = R"(\\?\usbstor#disk&ven_jmicron#1)";

/// Remembers the progress values and the message pumps in the order they came.
struct RecordingView final : UpdateView {
  std::vector<int> progress;
  std::size_t pumps = 0;
  void SetProgress(int percent) override { progress.push_back(percent); }
  void ProcessMessages() override { ++pumps; }
};

/// Remembers each debug line.
struct RecordingDebug final : DebugOutput {
  std::vector<std::string> lines;
  void Write(std::string_view text) override { lines.emplace_back(text); }
};

/// Remembers each message box.
struct RecordingSink final : MessageSink {
  std::vector<std::string> texts;
  void ShowMessage(std::string_view text, std::string_view, MessageIcon) override {
    texts.emplace_back(text);
  }
};

/// Images held in memory, for images the build does not carry.
struct FakeImages final : ImageSource {
  std::map<std::pair<std::string, std::string>, std::vector<std::uint8_t>> images;
  bool isDevelopment = false;

  std::optional<std::span<const std::uint8_t>> Find(std::string_view name,
                                                    std::string_view type) const override {
    const auto found = images.find({std::string(name), std::string(type)});
    if (found == images.end()) return std::nullopt;
    return std::span<const std::uint8_t>(found->second);
  }
  bool development() const override { return isDevelopment; }
};

/// A fault on the nth command of one operation.
inline sim::Fault On(sim::Operation operation, unsigned nth, sim::FaultEffect effect,
                     std::size_t byte = 0) {
  sim::Fault fault;
  fault.operation = operation;
  fault.nth = nth;
  fault.effect = effect;
  fault.byte = byte;
  return fault;
}

/// A fault on the nth command the disk receives, whatever it is.
inline sim::Fault OnCommand(unsigned nth, sim::FaultEffect effect, std::size_t byte = 0) {
  sim::Fault fault = On(sim::Operation::Unknown, nth, effect, byte);
  fault.anyCommand = true;
  return fault;
}

/// The simulator's chip for an update chip.
inline sim::Chip SimChip(const ChipUpdate& chip) {
  return chip.chipCode == kChipCodeJms583 ? sim::Chip::Jms583 : sim::Chip::Jms578;
}

/// The chip as it leaves the factory, running its boot ROM or not, with faults.
inline sim::BridgeConfig Config(const ChipUpdate& chip, bool romMode = false,
                                std::vector<sim::Fault> faults = {}) {
  sim::BridgeConfig config = sim::DefaultConfig(SimChip(chip));
  config.romMode = romMode;
  config.faults = std::move(faults);
  return config;
}

/// The embedded firmware image of a chip.
inline std::span<const std::uint8_t> FirmwareImage(const ChipUpdate& chip) {
  static const EmbeddedImages images;
  return images.Find(chip.firmwareImage, kFirmwareType).value();
}

/// One enclosure of the chip, with everything the update engine needs around it.
class UpdateRig {
 public:
  explicit UpdateRig(const ChipUpdate& chip, sim::BridgeConfig config)
      : chip_(chip),
        bridge_(bus_.AddDisk(kEnclosurePath, sim::SimulatedBridge(std::move(config)))) {}
  explicit UpdateRig(const ChipUpdate& chip) : UpdateRig(chip, Config(chip)) {}

  /// The context of an update of this enclosure, with the embedded images unless others are given.
  UpdateContext Context(const ImageSource* images = nullptr) {
    return {io_,
            clock_,
            view_,
            sink_,
            debug_,
            images == nullptr ? embedded_ : *images,
            MakeBridgeInfo(chip_.chipCode, 0),
            &failure_,
            Enclosures::Simulated};
  }
  bool Update(const ImageSource* images = nullptr) {
    return UpdateFirmware(Context(images), kEnclosurePath);
  }

  sim::SimulatedBridge& bridge() { return bridge_; }
  sim::SimulatedBus& bus() { return bus_; }
  sim::SimulatedClock& clock() { return clock_; }
  Transport& io() { return io_; }
  RecordingView& view() { return view_; }
  RecordingDebug& debug() { return debug_; }
  RecordingSink& sink() { return sink_; }
  const UpdateFailure& failure() const { return failure_; }
  const ChipUpdate& chip() const { return chip_; }

  /// The commands the bridge received, optionally only those of one operation.
  std::vector<std::vector<std::uint8_t>> Cdbs(sim::Operation operation) const {
    std::vector<std::vector<std::uint8_t>> cdbs;
    for (const sim::LoggedCommand& command : bridge_.log()) {
      if (command.operation == operation) cdbs.push_back(command.cdb);
    }
    return cdbs;
  }
  /// WRITE BUFFER commands of one mode.
  std::size_t WriteBuffers(std::uint8_t mode) const {
    return static_cast<std::size_t>(std::ranges::count_if(
        Cdbs(sim::Operation::WriteBuffer), [&](const auto& cdb) { return cdb[1] == mode; }));
  }
  /// WriteNvram commands of one mode.
  std::size_t NvramWrites(std::uint8_t mode) const {
    return static_cast<std::size_t>(std::ranges::count_if(
        Cdbs(sim::Operation::WriteNvram), [&](const auto& cdb) { return cdb[1] == mode; }));
  }

  /// True when the flash holds the chip's image everywhere but its second block.
  bool FlashHoldsImage() const {
    const std::span<const std::uint8_t> image = FirmwareImage(chip_).first(chip_.firmwareArea);
    const std::span<const std::uint8_t> flash = bridge_.flash();
    if (flash.size() < image.size()) return false;
    return std::ranges::equal(image.first(512), flash.first(512)) &&
           std::ranges::equal(image.subspan(1024), flash.subspan(1024, image.size() - 1024));
  }

 private:
  const ChipUpdate& chip_;
  sim::SimulatedClock clock_;
  sim::SimulatedBus bus_{clock_};
  sim::SimulatedBridge& bridge_;
  Transport io_{bus_};
  RecordingView view_;
  RecordingDebug debug_;
  RecordingSink sink_;
  EmbeddedImages embedded_;
  UpdateFailure failure_;
};

inline const ChipUpdate& Jms583() { return *FindChipUpdate(kChipCodeJms583); }
inline const ChipUpdate& Jms578() { return *FindChipUpdate(kChipCodeJms578); }

}  // namespace korvane::testing
