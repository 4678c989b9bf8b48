// What a program's enclosures are. The program's entry point knows it from the device stack it
// put together and hands the answer down as data; no port is asked.
#pragma once

#include <cstdint>

namespace korvane {

/// Whether the disks a program works on are hardware or modelled in the process.
enum class Enclosures : std::uint8_t {
  Real,       ///< this machine's disks: development images must never reach them
  Simulated,  ///< simulated enclosures, which take any image
};

}  // namespace korvane
