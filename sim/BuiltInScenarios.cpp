// The built-in scenarios are JSON text read by the same parser as a file, so that every one of
// them is also an example of the format that is known to parse.
#include <algorithm>
#include <array>
#include <vector>

#include "BuiltInScenarios.h"
#include "Scenario.h"

namespace korvane::sim {
namespace {

struct BuiltIn {
  std::string_view name;
  std::string_view json;
};

// clang-format off
constexpr std::array kBuiltIns{
  BuiltIn{"jms583-outdated", R"json({"disks": [
  {"path": "\\\\?\\usbstor#disk&ven_korvane&prod_nvme_enclosure&rev_0100#0001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
   "bridge": "jms583", "firmware": "0.0.0.8",
   "inquiry": {"vendor": "Korvane ", "product": "NVMe Enclosure  "}}
]})json"},

  BuiltIn{"jms583-current", R"json({"disks": [
  {"path": "\\\\?\\usbstor#disk&ven_korvane&prod_nvme_enclosure&rev_0100#0001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
   "bridge": "jms583", "firmware": "0.0.1.2",
   "inquiry": {"vendor": "Korvane ", "product": "NVMe Enclosure  "}}
]})json"},

  BuiltIn{"jms578-outdated", R"json({"disks": [
  {"path": "\\\\?\\usbstor#disk&ven_korvane&prod_sata_enclosure&rev_0100#0002&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
   "bridge": "jms578", "firmware": "0.1.0.3",
   "inquiry": {"vendor": "Korvane ", "product": "SATA Enclosure  "}}
]})json"},

  BuiltIn{"jms578-current", R"json({"disks": [
  {"path": "\\\\?\\usbstor#disk&ven_korvane&prod_sata_enclosure&rev_0100#0002&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
   "bridge": "jms578", "firmware": "0.2.1.4",
   "inquiry": {"vendor": "Korvane ", "product": "SATA Enclosure  "}}
]})json"},

  BuiltIn{"jms583-rom", R"json({"disks": [
  {"path": "\\\\?\\usbstor#disk&ven_korvane&prod_nvme_enclosure&rev_0100#0001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
   "bridge": "jms583", "rom_mode": true,
   "inquiry": {"vendor": "Korvane ", "product": "NVMe Enclosure  "}}
]})json"},

  BuiltIn{"two-enclosures", R"json({"disks": [
  {"path": "\\\\?\\usbstor#disk&ven_korvane&prod_nvme_enclosure&rev_0100#0001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
   "bridge": "jms583", "firmware": "0.0.0.8",
   "inquiry": {"vendor": "Korvane ", "product": "NVMe Enclosure  "}},
  {"path": "\\\\?\\scsi#disk&ven_korvane&prod_sata_enclosure#4&2f8a1c3b&0&000000#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
   "bridge": "jms578", "firmware": "0.2.1.4",
   "inquiry": {"vendor": "Korvane ", "product": "SATA Enclosure  "}}
]})json"},

  // A sibling chip of the family: it answers the identity read, so discovery accepts it, and
  // its chip characters are the ones the update must turn down.
  BuiltIn{"unsupported-bridge", R"json({"disks": [
  {"path": "\\\\?\\usbstor#disk&ven_korvane&prod_usb3_sata_dock&rev_0100#0003&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
   "bridge": "custom",
   "inquiry": {"vendor": "Korvane ", "product": "USB3 SATA Dock", "tag": null},
   "identity":     "F4 E7 15 2D 05 80 03 05 35 38 30 31 00 01 02 00",
   "identity_alt": "F4 E7 15 2D 05 80 03 05 35 38 30 31 00 01 02 00",
   "config_word": 0}
]})json"},

  // An internal disk, which is never a candidate, and a USB stick, which is one but answers no
  // vendor command.
  BuiltIn{"no-enclosure", R"json({"disks": [
  {"path": "\\\\?\\ide#diskgeneric_ssd_512gb_____________________________1.0_____#5&1e2c3d4f&0&0.0.0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
   "bridge": "none",
   "inquiry": {"vendor": "ATA     ", "product": "Generic SSD", "revision": "1.0"}},
  {"path": "\\\\?\\usbstor#disk&ven_generic&prod_flash_disk&rev_8.07#0004&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
   "bridge": "none",
   "inquiry": {"vendor": "Generic ", "product": "Flash Disk", "revision": "8.07"}}
]})json"},

  // The user lacks the rights to open the disk, as without administrator rights or root.
  BuiltIn{"no-rights", R"json({"disks": [
  {"path": "\\\\?\\usbstor#disk&ven_korvane&prod_nvme_enclosure&rev_0100#0001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
   "bridge": "jms583", "firmware": "0.0.0.8", "access": "denied",
   "inquiry": {"vendor": "Korvane ", "product": "NVMe Enclosure  "}}
]})json"},

  // A file system on the disk is in use: writing the bridge's firmware now could brick it.
  BuiltIn{"jms583-mounted", R"json({"disks": [
  {"path": "\\\\?\\usbstor#disk&ven_korvane&prod_nvme_enclosure&rev_0100#0001&0#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
   "bridge": "jms583", "firmware": "0.0.0.8", "mounted": "/media/korvane/NVME",
   "inquiry": {"vendor": "Korvane ", "product": "NVMe Enclosure  "}}
]})json"},
};
// clang-format on

}  // namespace

std::optional<std::string_view> BuiltInScenarioText(std::string_view name) {
  const auto found =
      std::ranges::find_if(kBuiltIns, [&](const BuiltIn& builtIn) { return builtIn.name == name; });
  if (found == kBuiltIns.end()) return std::nullopt;
  return found->json;
}

std::vector<std::string_view> BuiltInScenarioNames() {
  std::vector<std::string_view> names;
  for (const BuiltIn& builtIn : kBuiltIns) names.push_back(builtIn.name);
  return names;
}

}  // namespace korvane::sim
