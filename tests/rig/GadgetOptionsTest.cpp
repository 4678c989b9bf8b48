#include "GadgetOptions.h"

#include <gtest/gtest.h>

#include <vector>

namespace korvane::gadget {
namespace {

using Args = std::vector<std::string_view>;

struct RefusalCase {
  Args args;
  std::string message;
};

TEST(GadgetOptionsTest, RefusesBadCommandLinesWithOneLine) {
  const RefusalCase cases[] = {
      {{"jms583-current"}, "--transport bot|uas is required"},
      {{"--transport", "usb", "x"}, "--transport: expected bot or uas, got \"usb\""},
      {{"--transport", "bot"}, "no scenario given (a built-in name or a JSON file)"},
      {{"--transport", "bot", "--disk", "-1", "x"},
       "--disk: expected a disk number from 0, got \"-1\""},
      {{"--transport", "bot", "--disk", "2x", "x"},
       "--disk: expected a disk number from 0, got \"2x\""},
      {{"--transport", "bot", "--udc", "../x", "x"},
       "--udc: expected a gadget controller name, got \"../x\""},
      {{"--transport", "bot", "x", "--serial"}, "--serial needs a value"},
      {{"--transport", "bot", "--speed", "x"}, "unknown option --speed"},
      {{"--transport", "bot", "a", "b"}, "one scenario only, got \"b\" too"},
  };
  for (const RefusalCase& c : cases) {
    const auto parsed = ParseOptions(c.args);
    ASSERT_TRUE(std::holds_alternative<UsageError>(parsed)) << c.message;
    EXPECT_EQ(std::get<UsageError>(parsed).message, c.message);
  }
}

TEST(GadgetOptionsTest, TakesEveryOption) {
  const Args args{"--transport", "uas",
                  "--udc",       "dummy_udc.1",
                  "--disk",      "1",
                  "--serial",    "S1",
                  "--ready",     "/tmp/r",
                  "--gadgetfs",  "/g",
                  "--verbose",   "--command-times",
                  "/tmp/t",      "two-enclosures"};
  const auto parsed = ParseOptions(args);
  ASSERT_TRUE(std::holds_alternative<GadgetOptions>(parsed));
  const GadgetOptions& options = std::get<GadgetOptions>(parsed);
  EXPECT_EQ(options.transport, TransportKind::Uas);
  EXPECT_EQ(options.udc, "dummy_udc.1");
  EXPECT_EQ(options.disk, 1u);
  EXPECT_EQ(options.serial, "S1");
  EXPECT_EQ(options.ready, "/tmp/r");
  EXPECT_EQ(options.gadgetfs, "/g");
  EXPECT_EQ(options.commandTimes, "/tmp/t");
  EXPECT_TRUE(options.verbose);
  EXPECT_EQ(options.scenario, "two-enclosures");
}

}  // namespace
}  // namespace korvane::gadget
