#include "Interrupts.h"

#include <gtest/gtest.h>

#include <array>
#include <csignal>
#include <cstddef>
#include <vector>

namespace korvane::cli {
namespace {

volatile std::sig_atomic_t gTestHandlerCalls = 0;
extern "C" void CountingHandler(int signal) {
  gTestHandlerCalls = gTestHandlerCalls + 1;
  // The Windows runtime resets a handler before calling it; the next raise must not end the test.
  std::signal(signal, CountingHandler);
}

/// Puts a counting handler on every held signal for the test and takes it off afterwards.
class InterruptDeferralTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gTestHandlerCalls = 0;
    for (std::size_t i = 0; i < kHeldSignals.size(); ++i) {
      previous_[i] = std::signal(kHeldSignals[i], CountingHandler);
    }
  }
  void TearDown() override {
    for (std::size_t i = 0; i < kHeldSignals.size(); ++i)
      std::signal(kHeldSignals[i], previous_[i]);
  }

 private:
  std::array<void (*)(int), kHeldSignals.size()> previous_{};
};

TEST_F(InterruptDeferralTest, NotesTheFirstSignalAndGivesItsExitCode) {
  struct Case {
    std::vector<int> raised;
    int received;
    int exitCode;
  };
  const Case cases[] = {
      {{}, 0, 0},
      {{SIGINT}, SIGINT, 130},
      {{SIGTERM}, SIGTERM, 143},
      {{SIGTERM, SIGINT, SIGINT}, SIGTERM, 143},
  };
  for (const Case& c : cases) {
    InterruptDeferral deferral;
    deferral.Arm();
    for (const int signal : c.raised) std::raise(signal);
    EXPECT_EQ(deferral.received(), c.received);
    deferral.Restore();
    EXPECT_EQ(deferral.received(), c.received) << "kept after Restore";
    EXPECT_EQ(deferral.exitCode(), c.exitCode);
  }
  EXPECT_EQ(gTestHandlerCalls, 0) << "a held-back signal reached the handler it replaced";
}

TEST_F(InterruptDeferralTest, PutsTheHandlersItFoundBack) {
  {
    InterruptDeferral deferral;
    deferral.Arm();
    deferral.Arm();  // a second Arm must not take its own handler for the one to restore
    EXPECT_TRUE(deferral.armed());
  }  // destroyed armed: restores
  for (const int signal : kHeldSignals) std::raise(signal);
  EXPECT_EQ(gTestHandlerCalls, static_cast<int>(kHeldSignals.size()));

  InterruptDeferral deferral;
  deferral.Arm();
  deferral.Restore();
  EXPECT_FALSE(deferral.armed());
  std::raise(SIGINT);
  EXPECT_EQ(gTestHandlerCalls, static_cast<int>(kHeldSignals.size()) + 1);
  EXPECT_EQ(deferral.received(), 0) << "a signal after Restore is not the deferral's";
}

}  // namespace
}  // namespace korvane::cli
