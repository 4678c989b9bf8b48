// The window's logic over a simulated bus, with a recording window and desktop around it.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "BridgeConfig.h"
#include "DiskHold.h"
#include "EmbeddedImages.h"
#include "FakeMainView.h"
#include "Scenario.h"
#include "SimulatedBus.h"
#include "SimulatedClock.h"
#include "TForm1.h"
#include "Transport.h"
#include "update/UpdateRig.h"

namespace korvane::testing {

inline constexpr std::string_view kUsbPath =
    R"(\\?\usbstor#Disk&Ven_Korvane&Prod_NVMe#0001&0#{53f5})";
inline constexpr std::string_view kUaspPath =
    R"(\\?\scsi#disk&ven_korvane&prod_sata#0002&0#{53f5})";
inline constexpr std::string_view k1394Path =
    R"(\\?\sbp2#disk&ven_korvane&prod_sata#0003&0#{53f5})";
inline constexpr std::string_view kOtherPath =
    R"(\\?\usbstor#disk&ven_other&prod_dock#0004&0#{53f5})";

/// An enclosure of the chip running the given firmware, with blank-padded INQUIRY texts.
inline sim::BridgeConfig Enclosure(sim::Chip chip, sim::FirmwareVersion version,
                                   std::string product = "NVMe Enclosure") {
  sim::BridgeConfig config = sim::DefaultConfig(chip);
  config.firmwareVersion = version;
  config.inquiry.vendor = "Korvane ";
  config.inquiry.product = std::move(product);
  return config;
}

/// Passes the bridge probe but names no chip identification knows.
inline sim::BridgeConfig UnknownBridge() {
  sim::BridgeConfig config;
  sim::IdentityConfig identity;
  identity.chipCode = {'9', '9', '9'};
  config.identity = identity;
  config.configWord = std::array<std::uint8_t, 2>{0, 0};
  return config;
}

/// Holds every disk, or refuses with the reason when one is set.
struct FakeHolder final : DiskHolder {
  std::optional<std::string> refusal;
  std::variant<std::unique_ptr<DiskHold>, std::string> Hold(std::string_view) override {
    if (refusal) return *refusal;
    return std::make_unique<DiskHold>();
  }
};

/// The window's logic and everything it talks to.
struct FormRig {
  sim::SimulatedClock clock;
  sim::SimulatedBus bus{clock};
  sim::SimulatedDiskLister lister{bus};
  Transport io{bus};
  FakeMainView view{clock};
  RecordingSink messages;
  RecordingDebug debug;
  EmbeddedImages images;
  FakeDesktop desktop;
  FakeHolder holder;
  DeviceServices devices{io, lister, clock, Enclosures::Simulated, nullptr, nullptr, &holder};
  TForm1 form{FormServices{devices, view, messages, debug, images, desktop}};

  FormRig() { view.Attach(form); }
  sim::SimulatedBridge& Plug(std::string_view path, sim::BridgeConfig config) {
    return bus.AddDisk(path, sim::SimulatedBridge(std::move(config)));
  }
  /// The scan, as the window runs it when it starts.
  void Scan() { form.btn_RefreshClick(); }
  /// How many commands of the operation the disk at path received.
  std::size_t Received(std::string_view path, sim::Operation operation) {
    std::size_t count = 0;
    for (const sim::LoggedCommand& command : bus.Find(path)->log()) {
      count += command.operation == operation ? 1 : 0;
    }
    return count;
  }
};

}  // namespace korvane::testing
