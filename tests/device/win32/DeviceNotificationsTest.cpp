#include "DeviceNotifications.h"

#include <gtest/gtest.h>

namespace korvane {
namespace {

// The registration itself, on the system the tests run on: a change needs a disk to come, which
// the kernel rig provides; here nothing comes, and a wait ends when its time is up.
TEST(DeviceNotifications, ListensAndWaitsOutItsTimeWhenNoDiskComes) {
  DeviceNotifications notifications;
  EXPECT_EQ(notifications.Wait(std::chrono::milliseconds{0}), ChangeWait::Ended)
      << "not listening yet";
  ASSERT_EQ(notifications.Listen(), std::nullopt);
  EXPECT_EQ(notifications.Listen(), std::nullopt) << "a second call keeps the first window";
  EXPECT_EQ(notifications.Wait(std::chrono::milliseconds{0}), ChangeWait::Quiet);
  DeviceNotifications second;
  EXPECT_EQ(second.Listen(), std::nullopt) << "the window class is shared";
}

}  // namespace
}  // namespace korvane
