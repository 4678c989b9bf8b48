#include "PendingFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "KorvaneFwRun.h"

namespace korvane::cli {
namespace {

using testing::ReadWhole;

/// The old file stays whole until the new one is complete; an abandoned file leaves nothing.
TEST(PendingFile, ReplacesTheTargetOnlyWhenCommitted) {
  const testing::TempDir dir;
  const std::string target = dir.File("trace", "old");
  {
    auto abandoned = std::get<PendingFile>(PendingFile::Create(target));
    ASSERT_TRUE(abandoned.Write("half"));
  }
  EXPECT_EQ(ReadWhole(target), "old");
  EXPECT_FALSE(std::filesystem::exists(target + ".partial"));

  auto file = std::get<PendingFile>(PendingFile::Create(target));
  ASSERT_TRUE(file.Write("new"));
  EXPECT_EQ(ReadWhole(target), "old");
  EXPECT_EQ(file.Commit(), std::nullopt);
  EXPECT_EQ(ReadWhole(target), "new");
}

#ifndef _WIN32
/// Links left at the target or where the file is first written are replaced or stepped around,
/// never written through.
TEST(PendingFile, NeverWritesThroughALink) {
  const testing::TempDir dir;
  const std::string victim = dir.File("victim", "keep");
  const std::string target = dir.path() + "/trace";
  std::filesystem::create_symlink(victim, target + ".partial");
  std::filesystem::create_symlink(victim, target);
  EXPECT_EQ(WriteWholeFile(target, "trace"), std::nullopt);
  EXPECT_EQ(ReadWhole(victim), "keep");
  EXPECT_FALSE(std::filesystem::is_symlink(target));
  EXPECT_EQ(ReadWhole(target), "trace");
}
#endif

}  // namespace
}  // namespace korvane::cli
