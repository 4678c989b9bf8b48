// The kernel rig's recorded runs, replayed by a program with the rig's images: what the real
// Linux stack answered decides the same output and exit code outside the guest.
#include <gtest/gtest.h>

#include "CorpusReplay.h"

namespace korvane::cli {
namespace {

TEST(RigCorpus, EveryRecordedRunReplaysToItsOutputAndExitCode) {
  ExpectEveryRunReplays(KORVANE_RIG_CORPUS, 19);
}

}  // namespace
}  // namespace korvane::cli
