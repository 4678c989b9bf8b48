#include "UdcChoice.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace korvane::gadget {
namespace {

namespace fs = std::filesystem;

struct UdcCase {
  const char* what;
  std::vector<std::string> present;
  std::optional<std::string> asked;
  std::string chosen;  ///< empty: an error is expected
  std::string error;
};

TEST(UdcChoiceTest, PicksTheNamedOrFirstController) {
  const UdcCase cases[] = {
      {"first by name", {"dummy_udc.1", "dummy_udc.0"}, std::nullopt, "dummy_udc.0", ""},
      {"named", {"dummy_udc.0", "dummy_udc.1"}, "dummy_udc.1", "dummy_udc.1", ""},
      {"named, missing",
       {"dummy_udc.0"},
       "dummy_udc.3",
       "",
       "no gadget controller named dummy_udc.3 in "},
      {"none", {}, std::nullopt, "", "no gadget controller: "},
  };
  for (const UdcCase& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path dir = fs::path(testing::TempDir()) / "udc-fixture";
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const std::string& name : c.present) fs::create_directory(dir / name);
    const auto chosen = ChooseUdc(dir.string(), c.asked);
    if (c.chosen.empty()) {
      ASSERT_TRUE(std::holds_alternative<UdcError>(chosen));
      EXPECT_TRUE(std::get<UdcError>(chosen).message.starts_with(c.error))
          << std::get<UdcError>(chosen).message;
    } else {
      ASSERT_TRUE(std::holds_alternative<std::string>(chosen));
      EXPECT_EQ(std::get<std::string>(chosen), c.chosen);
    }
    fs::remove_all(dir);
  }
}

}  // namespace
}  // namespace korvane::gadget
