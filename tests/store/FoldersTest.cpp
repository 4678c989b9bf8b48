#include "Folders.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "OutputFile.h"
#include "cli/KorvaneFwRun.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace korvane::store {
namespace {

using ::testing::HasSubstr;

/// The kernel's rule for links in sticky folders anyone may write, as a function of who owns what.
TEST(Folders, ALinkIsFollowedAsTheKernelWouldFollowIt) {
  constexpr unsigned kUser = 1000;
  constexpr unsigned kOther = 65534;
  const struct {
    LinkStanding standing;
    bool follow;
  } cases[] = {
      {{false, false, 0, kOther, kUser}, true},  // a folder of one owner: any link
      {{true, false, 0, kOther, kUser}, true},   // sticky, but only its owner writes it
      {{false, true, 0, kOther, kUser}, true},   // anyone writes it, but it is not sticky
      {{true, true, 0, kOther, kUser}, false},   // /tmp, a link another user planted
      {{true, true, 0, kUser, kUser}, true},     // /tmp, the follower's own link
      {{true, true, 0, 0, kUser}, true},         // /tmp, a link of the folder's owner
      {{true, true, kOther, kOther, 0}, true},   // a shared folder of kOther, its own link
      {{true, true, kUser, kOther, 0}, false},   // root following another's link in kUser's
  };
  for (const auto& c : cases) {
    const LinkStanding& s = c.standing;
    EXPECT_EQ(MayFollowLink(s), c.follow) << s.folderSticky << s.folderWorldWritable << " folder "
                                          << s.folderOwner << " link " << s.linkOwner;
  }
}

/// The folders the store keeps files in are the user's alone, as ssh wants ~/.ssh.
TEST(Folders, AFolderForTheStoreIsTheUsersAlone) {
  const struct {
    FolderStanding standing;
    std::string problem;  ///< empty: used
  } cases[] = {
      {{false, true, 1000, 0700, 1000}, ""},
      {{false, true, 1000, 0755, 1000}, ""},
      {{false, true, 0, 0700, 1000}, ""},
      {{true, false, 1000, 0777, 1000}, "is a link"},
      {{false, false, 1000, 0644, 1000}, "is not a folder"},
      {{false, true, 1001, 0700, 1000}, "belongs to another user"},
      {{false, true, 1000, 0770, 1000}, "may be written by other users"},
      {{false, true, 1000, 0702, 1000}, "chmod go-w /s"},
  };
  for (const auto& c : cases) {
    const auto problem = FolderProblem("/s", c.standing);
    if (c.problem.empty()) {
      EXPECT_EQ(problem, std::nullopt) << std::oct << c.standing.mode;
    } else {
      EXPECT_THAT(problem.value_or(""), HasSubstr(c.problem)) << std::oct << c.standing.mode;
    }
  }
}

#ifndef _WIN32
/// On the disk: a folder made here is private; one that others may write, or a link, is refused.
TEST(Folders, PrepareMakesPrivateFoldersAndRefusesOthers) {
  const cli::testing::TempDir dir;
  const std::string made = dir.path() + "/state/korvane";
  EXPECT_EQ(PrepareFolder(made), std::nullopt);
  struct stat status {};
  ASSERT_EQ(stat(made.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);

  const std::string open = dir.path() + "/open";
  std::filesystem::create_directory(open);
  chmod(open.c_str(), 0777);
  EXPECT_THAT(PrepareFolder(open).value_or(""), HasSubstr("may be written by other users"));
  std::filesystem::create_directory_symlink(made, dir.path() + "/link");
  EXPECT_THAT(PrepareFolder(dir.path() + "/link").value_or(""), HasSubstr("is a link"));
}

/// A link another user planted in a sticky folder anyone may write is not followed, even by root,
/// and the file it points at stays as it was. Only root can plant a link as another user.
TEST(Folders, APlantedLinkIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "planting a link of another user needs root";
  const cli::testing::TempDir dir;
  const std::string shared = dir.path() + "/shared";
  std::filesystem::create_directory(shared);
  ASSERT_EQ(chmod(shared.c_str(), 01777), 0);
  const std::string victim = dir.File("victim", "root's own\n");
  ASSERT_EQ(chmod(victim.c_str(), 0600), 0);
  const std::string planted = shared + "/state.json";
  std::filesystem::create_symlink(victim, planted);
  ASSERT_EQ(lchown(planted.c_str(), 65534, 65534), 0);

  auto opened = OutputFile::Open(planted);
  ASSERT_TRUE(std::holds_alternative<std::string>(opened));
  EXPECT_THAT(std::get<std::string>(opened), HasSubstr("is a link that another user put"));
  EXPECT_EQ(cli::testing::ReadWhole(victim), "root's own\n");
  struct stat status {};
  ASSERT_EQ(stat(victim.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0600u);

  // The user's own link there is followed, as the kernel would.
  ASSERT_EQ(lchown(planted.c_str(), 0, 0), 0);
  EXPECT_TRUE(std::holds_alternative<OutputFile>(OutputFile::Open(planted)));
}
#endif

}  // namespace
}  // namespace korvane::store
