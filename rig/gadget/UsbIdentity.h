// What the gadget tells the host about itself in its device descriptor and strings, taken from
// the scenario disk and from the firmware the bridge runs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "Scenario.h"

namespace korvane::gadget {

/// The device descriptor's identity fields and its strings.
struct UsbIdentity {
  std::uint16_t idVendor = 0;
  std::uint16_t idProduct = 0;
  std::uint16_t bcdDevice = 0;
  std::string manufacturer{};
  std::string product{};
  std::string serial{};

  friend bool operator==(const UsbIdentity&, const UsbIdentity&) = default;
};

/// bcdDevice for a running firmware a.b.c.d: c and d as two BCD digits each (c.d = 1.23 gives
/// 0x0123). A number of 100 or more has no two-digit form and shows as 99. The boot ROM runs
/// with version zero, so it reports 0x0000.
std::uint16_t BcdDevice(const sim::FirmwareVersion& running);

/// The maker's name a bridge shows as its USB manufacturer: the 8-byte identity text at 200 of
/// its NVRAM record, read at power-on as the real chip does, so an identity rewritten by an
/// update shows after the next replug. Blank or unprintable text gives "Bridge".
std::string ManufacturerOf(std::span<const std::uint8_t> nvramRecord);

/// The identity of a scenario disk: the maker's vendor id, the product id of its chip (a custom
/// bridge's from its identity block), the manufacturer of its NVRAM record, the product text of its
/// INQUIRY answer, and the serial given or "KRV" followed by the disk's number from 1 in nine
/// digits.
UsbIdentity IdentityOf(const sim::ScenarioDisk& disk, std::size_t diskIndex,
                       const sim::FirmwareVersion& running,
                       const std::optional<std::string>& serial);

}  // namespace korvane::gadget
