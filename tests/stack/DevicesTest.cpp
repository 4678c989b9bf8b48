#include "Devices.h"

#include <gtest/gtest.h>

#include <memory>
#include <variant>

#include "PlatformDevices.h"
#include "SimulatedDevices.h"

namespace korvane {
namespace {

// The development-image guard acts on this answer alone, so each stack gives its own: no port it
// holds, nor one wrapped around it, can change it.
TEST(Devices, EachStackSaysWhatItsEnclosuresAre) {
  EXPECT_EQ(PlatformDevices()->enclosures(), Enclosures::Real);
  auto simulated = SimulatedDevices("jms583-outdated");
  ASSERT_TRUE(std::holds_alternative<std::unique_ptr<Devices>>(simulated));
  EXPECT_EQ(std::get<std::unique_ptr<Devices>>(simulated)->enclosures(), Enclosures::Simulated);
}

}  // namespace
}  // namespace korvane
