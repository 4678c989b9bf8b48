// Reads what a simulated enclosure tells about itself, through the same command set and
// transport that talk to a real bridge.
#include <array>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "IDEAccess.h"
#include "SimulatedBus.h"
#include "TraceJson.h"

namespace {

using korvane::Transport;

constexpr std::string_view kUsage =
    "usage: korvane-demo [jms583|jms578] [--trace]\n"
    "Reads identity, firmware version, status, flash type and NVRAM identity of a simulated\n"
    "enclosure; --trace prints every command as one JSON line on stderr.\n";

struct Options {
  korvane::sim::Chip chip = korvane::sim::Chip::Jms583;
  bool trace = false;
};

struct ChipFacts {
  std::string_view name;
  std::string_view path;
  std::uint32_t nvramAddress;
};

constexpr ChipFacts kJms583{"JMS583",
                            R"(\\?\usbstor#disk&ven_korvane&prod_nvme&rev_0100#0001&0#)"
                            "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                            0x11000};
constexpr ChipFacts kJms578{"JMS578",
                            R"(\\?\usbstor#disk&ven_korvane&prod_sata&rev_0100#0001&0#)"
                            "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}",
                            0xD000};

const ChipFacts& FactsOf(korvane::sim::Chip chip) {
  return chip == korvane::sim::Chip::Jms583 ? kJms583 : kJms578;
}

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "jms583") {
      options.chip = korvane::sim::Chip::Jms583;
    } else if (arg == "jms578") {
      options.chip = korvane::sim::Chip::Jms578;
    } else if (arg == "--trace") {
      options.trace = true;
    } else {
      return std::nullopt;
    }
  }
  return options;
}

template <typename... Args>
std::string Printf(const char* format, Args... args) {
  std::array<char, 256> line{};
  std::snprintf(line.data(), line.size(), format, args...);
  return line.data();
}

std::string Hex(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t b : bytes) text += Printf("%02x ", b);
  if (!text.empty()) text.pop_back();
  return text;
}

/// Printable characters of a fixed-width text field; the rest as dots.
std::string Text(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t b : bytes) text += (b >= 0x20 && b < 0x7F) ? static_cast<char>(b) : '.';
  return text;
}

void Fail(const Transport& io, std::string_view path, std::string_view what) {
  std::cout << what << ": failed, " << io.DescribeLastFailure(path) << "\n";
}

void ShowInquiry(Transport& io, std::string_view path) {
  std::array<std::uint8_t, 40> data{};
  if (!korvane::Inquiry(io, path, data)) return Fail(io, path, "INQUIRY");
  const auto bytes = std::span<const std::uint8_t>(data);
  std::cout << "INQUIRY        vendor \"" << Text(bytes.subspan(8, 8)) << "\" product \""
            << Text(bytes.subspan(16, 16)) << "\" chip tag \"" << Text(bytes.subspan(36, 4))
            << "\"\n";
}

void ShowIdentity(Transport& io, std::string_view path) {
  std::array<std::uint8_t, korvane::kIdentityBlockSize> block{};
  if (!korvane::ReadIdentity(io, path, block)) return Fail(io, path, "Identity block");
  std::cout << "Identity block " << Hex(block) << "\n";
  if (block[0] != 0xF4 || block[1] != 0xE7) {
    std::cout << "               no valid signature (F4 E7 expected)\n";
    return;
  }
  std::cout << Printf("               USB id %02X%02X:%02X%02X", block[2], block[3], block[4],
                      block[5])
            << ", chip \"" << Text(std::span<const std::uint8_t>(block).subspan(8, 3))
            << "\", revision '" << static_cast<char>(block[11]) << "', "
            << (block[6] == 0 ? "boot ROM (no firmware running)" : "firmware running") << "\n";
  std::cout << Printf("Firmware       %u.%u.%u.%u\n", block[12], block[13], block[14], block[15]);
}

void ShowStatus(Transport& io, korvane::Clock& clock, std::string_view path) {
  const bool ready = korvane::WaitUntilReady(io, clock, path);
  std::array<std::uint8_t, 4> flash{};
  const bool flashOk = korvane::ReadFlashType(io, path, flash);
  std::cout << "Status         " << (ready ? "ready" : "busy") << ", flash type "
            << (flashOk ? Hex(flash) : "unknown") << "\n";
}

void ShowNvram(Transport& io, std::string_view path, std::uint32_t address) {
  std::array<std::uint8_t, 512> record{};
  if (!korvane::ReadNvram(io, path, address, record)) return Fail(io, path, "NVRAM record");
  const auto bytes = std::span<const std::uint8_t>(record);
  std::cout << Printf("NVRAM 0x%05X  ", address) << "identity \"" << Text(bytes.subspan(200, 8))
            << "\" \"" << Text(bytes.subspan(208, 16)) << "\"\n";
}

}  // namespace

int main(int argc, char** argv) {
  const std::optional<Options> options = ParseOptions(argc, argv);
  if (!options) {
    std::cerr << kUsage;
    return 2;
  }
  korvane::sim::SimulatedClock clock;
  korvane::sim::SimulatedBus bus(clock);
  const ChipFacts& facts = FactsOf(options->chip);
  bus.AddDisk(facts.path,
              korvane::sim::SimulatedBridge(korvane::sim::DefaultConfig(options->chip)));
  Transport io(bus);
  if (options->trace) {
    io.SetTrace([](const korvane::TraceRecord& r) { std::cerr << korvane::TraceJson(r) << "\n"; });
  }
  std::cout << "Simulated " << facts.name << " enclosure at " << facts.path << "\n";
  ShowInquiry(io, facts.path);
  ShowIdentity(io, facts.path);
  ShowStatus(io, clock, facts.path);
  ShowNvram(io, facts.path, facts.nvramAddress);
  return 0;
}
