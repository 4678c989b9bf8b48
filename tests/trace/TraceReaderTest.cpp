#include "TraceReader.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <array>
#include <sstream>
#include <string>
#include <vector>

#include "TraceRecorder.h"

namespace korvane::trace {
namespace {

using ::testing::HasSubstr;

constexpr char kHeader[] =
    R"({"trace":2,"program":"korvane-fw","version":"0.1.0","platform":"linux",)"
    R"("command":["check"],"enclosures":"real","disks":null})";
constexpr char kOldCommand[] = R"({"path":"/dev/sg1","cdb":"12","dir":"in","len":36,"ok":true})";

std::variant<Trace, TraceError> Read(const std::string& text, TraceUse use,
                                     std::string_view command = {}) {
  std::istringstream in(text);
  return ReadTrace(in, "t.trace", use, command);
}

/// What the writer writes, the reader reads back, every kind of line and answer field included.
TEST(TraceFile, WhatIsWrittenReadsBack) {
  std::string text;
  TraceHeader header{kTraceVersion,         "korvane-fw", "0.1.0", "linux",     {"update", "--yes"},
                     Enclosures::Simulated, std::nullopt, true,    std::nullopt};
  TraceWriter writer(header, [&](const std::string& line) { text += line + "\n"; });
  const std::vector<DiskInterface> disks{{"/dev/sg1", {.usbStorage = true}},
                                         {"/dev/sg2", {.scsi = true}}};
  writer.Listing(disks);
  const std::array<std::uint8_t, 6> cdb = {0xE0, 0xF4, 0xE7};
  const std::array<std::uint8_t, 4> data = {0xF4, 0xE7, 0x15, 0x2D};
  CommandOutcome outcome{Verdict::Failed, FailureStage::Status, 0xE0, 0, 2, 0, 0, {}, {}, 3, {}, 2};
  outcome.senseBytes[0] = 0x70;
  outcome.senseBytes[1] = 0x05;
  writer.Command({"/dev/sg1", cdb, Direction::In, 4, data, Verdict::Failed, &outcome});
  writer.Mount("/dev/sg1", {MountState::Kind::Mounted, "/media/x"});
  writer.Hold("/dev/sg1", "a program has files open on E:", "");
  writer.Hold("/dev/sg1", std::nullopt, "flushed, not locked");
  writer.Listing({});
  writer.Exit(5);

  const auto read = Read(text, TraceUse::Replay);
  ASSERT_TRUE(std::holds_alternative<Trace>(read)) << std::get<TraceError>(read).message;
  const Trace& trace = std::get<Trace>(read);
  EXPECT_EQ(trace.header->command, header.command);
  EXPECT_EQ(trace.header->enclosures, Enclosures::Simulated);
  EXPECT_TRUE(trace.header->backup);
  ASSERT_EQ(trace.listings.size(), 2u);
  EXPECT_EQ(trace.listings[0].disks, disks);  // the header's, from the first listing
  EXPECT_TRUE(trace.listings[1].disks.empty());
  ASSERT_EQ(trace.commands.size(), 1u);
  const RecordedCommand& command = trace.commands[0];
  EXPECT_EQ(command.line, 2u);
  EXPECT_EQ(command.cdb, std::vector<std::uint8_t>(cdb.begin(), cdb.end()));
  EXPECT_EQ(command.stage, FailureStage::Status);
  EXPECT_EQ(command.scsiStatus, 2);
  EXPECT_EQ(command.transferred, 3u);
  EXPECT_EQ(command.answer,
            (std::vector<std::uint8_t>{0xF4, 0xE7, 0x15}));  // as far as transferred
  EXPECT_EQ(command.sense, (std::vector<std::uint8_t>{0x70, 0x05}));
  ASSERT_EQ(trace.mounts.size(), 1u);
  EXPECT_EQ(trace.mounts[0].state.detail, "/media/x");
  ASSERT_EQ(trace.holds.size(), 2u);
  EXPECT_EQ(trace.holds[0].refused, "a program has files open on E:");
  EXPECT_FALSE(trace.holds[1].refused);
  EXPECT_EQ(trace.holds[1].gaps, "flushed, not locked");
  EXPECT_EQ(trace.exitCode, 5);
}

/// A bad trace gets one line: the file, the line and what is wrong.
TEST(TraceFile, BadTracesAreNamedByFileAndLine) {
  const std::string header = std::string(kHeader) + "\n";
  const struct {
    std::string text;
    TraceUse use;
    std::string said;  ///< empty: the trace reads
  } cases[] = {
      {"", TraceUse::Replay, "t.trace:1: the file is empty: no header"},
      {header + "{not json\n", TraceUse::Replay, "t.trace:2: not JSON"},
      {header + "[1]\n", TraceUse::Replay, "t.trace:2: not a JSON object"},
      {R"({"trace":3})", TraceUse::Replay, "t.trace:1: unknown trace version 3"},
      {std::string(kOldCommand) + "\n", TraceUse::Replay, "t.trace:1: no header: a trace of an"},
      {std::string(kOldCommand) + "\n", TraceUse::Compare, ""},
      {R"({"disks":[]})", TraceUse::Compare, "t.trace:1: no header"},
      {header + kOldCommand + "\n", TraceUse::Replay, "t.trace:2: no \"stage\""},
      {header + R"({"path":"p","cdb":"1x","dir":"in","len":1,"ok":true})", TraceUse::Compare,
       "t.trace:2: \"cdb\" is not hex"},
      {header + R"({"exit":0})"
                "\n"
                R"({"disks":[]})",
       TraceUse::Replay, "t.trace:3: a line after the exit code"},
      {header + R"({"what":1})", TraceUse::Replay, "t.trace:2: neither a command"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const auto read = Read(c.text, c.use);
    if (c.said.empty()) {
      EXPECT_TRUE(std::holds_alternative<Trace>(read));
    } else {
      ASSERT_TRUE(std::holds_alternative<TraceError>(read));
      EXPECT_THAT(std::get<TraceError>(read).message, HasSubstr(c.said));
    }
  }
}

/// A problem report holds one trace per command it ran; a replay takes the one of its command.
TEST(TraceFile, AReportServesTheRunOfTheCommandNamed) {
  const std::string report = std::string(R"({"report":1})") + "\n" + R"({"run":["list"]})" + "\n" +
                             kHeader + "\n" + R"({"exit":0})" + "\n" + R"({"run":["check"]})" +
                             "\n" + kHeader + "\n" + R"({"exit":3})" + "\n";
  const auto check = Read(report, TraceUse::Replay, "check");
  ASSERT_TRUE(std::holds_alternative<Trace>(check)) << std::get<TraceError>(check).message;
  EXPECT_EQ(std::get<Trace>(check).exitCode, 3);
  const auto update = Read(report, TraceUse::Replay, "update");
  ASSERT_TRUE(std::holds_alternative<TraceError>(update));
  EXPECT_THAT(std::get<TraceError>(update).message,
              HasSubstr("no run of \"update\" (it holds list, check)"));
}

}  // namespace
}  // namespace korvane::trace
