#include "FileIdentity.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "cli/KorvaneFwRun.h"

namespace korvane::store {
namespace {

using ::testing::HasSubstr;

/// One file named twice where the run writes it is found by what it is, not by how it is
/// spelled; a character device takes any number of outputs, and inputs may share a file.
TEST(FileIdentity, OneFileNamedTwiceWhereItIsWritten) {
  const cli::testing::TempDir dir;
  const std::string image = dir.File("image.bin", "bytes");
  const std::string d = dir.path();
  std::filesystem::create_directory(d + "/sub");
  std::filesystem::create_hard_link(image, d + "/hard.bin");
#ifndef _WIN32
  std::filesystem::create_symlink(image, d + "/soft.bin");
#endif
  const struct {
    std::vector<NamedFile> files;
    std::string refusal;  ///< empty: each is its own
  } cases[] = {
      {{{d + "/t", "--trace", true}, {d + "/b.bin", "--output", true}}, ""},
      {{{d + "/same", "--trace", true}, {d + "/same", "--output", true}}, "--trace and --output"},
      {{{d + "/new", "--trace", true}, {d + "/sub/../new", "--save-state", true}}, "same file"},
      {{{d + "/b.bin.json", "--trace", true}, {d + "/b.bin.json", "the record of --output", true}},
       "the record of --output"},
      {{{d + "/hard.bin", "--trace", true}, {image, "--image", false}}, "--trace and --image"},
      {{{image, "--replay", false}, {image, "--image", false}}, ""},
#ifndef _WIN32
      {{{d + "/soft.bin", "--trace", true}, {image, "--image", false}}, "same file"},
      {{{"/dev/null", "--trace", true}, {"/dev/null", "--output", true}}, ""},
#endif
  };
  for (const auto& c : cases) {
    const auto problem = SameFileTwice(c.files);
    if (c.refusal.empty()) {
      EXPECT_EQ(problem, std::nullopt) << c.files[0].path;
    } else {
      EXPECT_THAT(problem.value_or(""), HasSubstr(c.refusal)) << c.files[0].path;
    }
  }
}

}  // namespace
}  // namespace korvane::store
