#include "Scenario.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "BridgeCommands.h"
#include "NvramIdentity.h"
#include "ScenarioWriter.h"
#include "Transport.h"
#include "update/UpdateRig.h"

namespace korvane::sim {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::string_view kPath = "usbstor#disk1";

/// A scenario of one disk at kPath; members are the disk's other JSON members.
std::string OneDisk(std::string_view members) {
  std::string text = R"({"disks": [{"path": "usbstor#disk1")";
  if (!members.empty()) text.append(", ").append(members);
  return text + "}]}";
}

Scenario Parsed(std::string_view text) {
  auto result = ParseScenario(text, "test.json");
  if (const auto* error = std::get_if<ScenarioError>(&result)) {
    ADD_FAILURE() << error->message;
    return {};
  }
  return std::get<Scenario>(std::move(result));
}

std::string ErrorOf(std::variant<Scenario, ScenarioError> result) {
  const auto* error = std::get_if<ScenarioError>(&result);
  return error == nullptr ? "(no error)" : error->message;
}

struct Bench {
  SimulatedClock clock;
  SimulatedBus bus{clock};
  Transport io{bus};
};

Bytes Identity(Transport& io, std::string_view path) {
  Bytes block(16, 0);
  EXPECT_TRUE(ReadIdentity(io, path, block));
  return block;
}

Bytes Read(Transport& io, ReadBufferMode mode, std::size_t length) {
  Bytes data(length, 0);
  EXPECT_TRUE(ReadBuffer(io, kPath, mode, BufferId::Vendor, 0, data));
  return data;
}

bool ReadsConfigWord(Transport& io) {
  std::array<std::uint8_t, 2> word{};
  return ReadConfigWord(io, kPath, word);
}

bool Identifies(Transport& io) {
  Bytes block(16, 0);
  return ReadIdentity(io, kPath, block);
}

Bytes InquiryOf(Transport& io) {
  Bytes data(40, 0);
  EXPECT_TRUE(Inquiry(io, kPath, data));
  return data;
}

std::string Chars(const Bytes& bytes, std::size_t from, std::size_t count) {
  return {bytes.begin() + static_cast<std::ptrdiff_t>(from),
          bytes.begin() + static_cast<std::ptrdiff_t>(from + count)};
}

TEST(Scenario, EveryFieldReachesTheBridge) {
  const struct {
    std::string members;
    std::function<void(Bench&)> check;
  } cases[] = {
      {R"("identity": "00 11 22 33 44 55 66 77 88 99 aA bB cc dd ee ff")",
       [](Bench& b) {
         EXPECT_EQ(Identity(b.io, kPath), (Bytes{0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                                                 0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF}));
       }},
      {R"("identity": null)", [](Bench& b) { EXPECT_FALSE(Identifies(b.io)); }},
      {R"("identity_alt": "F4E7152D05830305353833310000000A")",
       [](Bench& b) {
         Bytes block(16, 0);
         ASSERT_TRUE(ReadIdentityAlt(b.io, kPath, block));
         EXPECT_EQ(block[15], 0x0A);
       }},
      {R"("firmware": "1.2.3.4")",
       [](Bench& b) {
         const Bytes block = Identity(b.io, kPath);
         EXPECT_EQ(Bytes(block.begin() + 12, block.end()), (Bytes{1, 2, 3, 4}));
         EXPECT_EQ(Chars(block, 8, 3), "583");
       }},
      {R"("bridge": "jms578", "firmware": "0.2.1.4")",
       [](Bench& b) {
         const Bytes block = Identity(b.io, kPath);
         EXPECT_EQ(Bytes(block.begin() + 4, block.begin() + 6), (Bytes{0x05, 0x78}));
         EXPECT_EQ(Bytes(block.begin() + 12, block.end()), (Bytes{0, 2, 1, 4}));
       }},
      {R"("rom_mode": true)", [](Bench& b) { EXPECT_EQ(Identity(b.io, kPath)[6], 0); }},
      {R"("config_word": 4660)",  // 0x1234: the low byte comes first
       [](Bench& b) {
         std::array<std::uint8_t, 2> word{};
         ASSERT_TRUE(ReadConfigWord(b.io, kPath, word));
         EXPECT_EQ(word, (std::array<std::uint8_t, 2>{0x34, 0x12}));
       }},
      {R"("config_word": null)", [](Bench& b) { EXPECT_FALSE(ReadsConfigWord(b.io)); }},
      {R"("buffer1": {"boundary": 9, "data": "DEADBEEF01"})",
       [](Bench& b) {
         EXPECT_EQ(Read(b.io, ReadBufferMode::Descriptor, 4), (Bytes{9, 0, 0, 5}));
         EXPECT_EQ(Read(b.io, ReadBufferMode::Data, 5), (Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x01}));
       }},
      {R"("inquiry": null)",
       [](Bench& b) {
         Bytes data(40, 0);
         EXPECT_FALSE(Inquiry(b.io, kPath, data));
         EXPECT_TRUE(Identifies(b.io));
       }},
      {R"("inquiry": {"vendor": "Korvane", "product": "NVMe Box", "revision": "0200", "tag": "kv83"})",
       [](Bench& b) {
         const Bytes data = InquiryOf(b.io);
         EXPECT_EQ(Chars(data, 8, 28), "Korvane NVMe Box        0200");
         EXPECT_EQ(Chars(data, 36, 4), "kv83");
       }},
      {R"("inquiry": {"tag": null})",
       [](Bench& b) {
         const Bytes data = InquiryOf(b.io);
         EXPECT_EQ(data[4], 31);  // the standard 36 bytes only
         EXPECT_EQ(Chars(data, 8, 8), "JMicron ");
       }},
      {R"("bridge": "none")",
       [](Bench& b) {
         EXPECT_EQ(Chars(InquiryOf(b.io), 8, 8), "Generic ");
         EXPECT_FALSE(Identifies(b.io));
         EXPECT_FALSE(ReadsConfigWord(b.io));
       }},
      {R"("bridge": "none", "config_word": 0)",  // no vendor command gets through, whatever
       [](Bench& b) { EXPECT_FALSE(ReadsConfigWord(b.io)); }},
      {R"("bridge": "custom")",
       [](Bench& b) {
         InquiryOf(b.io);
         EXPECT_FALSE(Identifies(b.io));
         EXPECT_FALSE(ReadsConfigWord(b.io));
         std::array<std::uint8_t, 8> tag{};
         EXPECT_FALSE(ReadChipTag(b.io, kPath, tag));
       }},
      {R"("bridge": "custom", "config_word": 1)",
       [](Bench& b) {
         EXPECT_TRUE(ReadsConfigWord(b.io));
         EXPECT_FALSE(Identifies(b.io));
       }},
      {R"("chip_tag": "KV583")",
       [](Bench& b) {
         Bytes tag(8, 0xEE);
         ASSERT_TRUE(ReadChipTag(b.io, kPath, tag));
         EXPECT_EQ(tag, (Bytes{'K', 'V', '5', '8', '3', 0, 0, 0}));
       }},
      {R"("flash_type": "02000000")",
       [](Bench& b) {
         std::array<std::uint8_t, 4> type{};
         ASSERT_TRUE(ReadFlashType(b.io, kPath, type));
         EXPECT_EQ(type[0], 2);
       }},
      {R"("b5": true, "memory_fdb1": 180)",
       [](Bench& b) {
         Bytes answer(512, 0);
         EXPECT_TRUE(ReadVendorB5(b.io, kPath, 0x64, 0x01, answer));
         EXPECT_TRUE(IsLateRevision(b.io, kPath));
       }},
      {R"("busy_reads": 2, "latency_us": 250)",
       [](Bench& b) {
         std::uint8_t status = 0;
         for (const std::uint8_t expected : {1, 1, 0}) {
           ASSERT_TRUE(ReadStatus(b.io, kPath, status));
           EXPECT_EQ(status & kStatusBusy, expected);
         }
         EXPECT_EQ(b.clock.Now(), 750us);
       }},
      {R"("faults": [{"command": "ReadIdentity", "nth": 2, "effect": "fail"},
                     {"command": "ReadConfigWord", "effect": "busy"}])",
       [](Bench& b) {
         EXPECT_TRUE(Identifies(b.io));
         EXPECT_FALSE(Identifies(b.io));
         EXPECT_TRUE(Identifies(b.io));
         EXPECT_FALSE(ReadsConfigWord(b.io));
         EXPECT_TRUE(ReadsConfigWord(b.io));
       }},
      {R"("faults": [{"command": "any", "nth": 2, "effect": "fail"},
                     {"command": "ReadIdentity", "nth": 2, "effect": "fail"}])",
       [](Bench& b) {
         EXPECT_TRUE(Identifies(b.io));
         EXPECT_FALSE(ReadsConfigWord(b.io));  // the second command of all
         EXPECT_FALSE(Identifies(b.io));       // the second ReadIdentity
         EXPECT_TRUE(Identifies(b.io));
       }},
      {R"("faults": [{"command": "ReadIdentity", "effect": "corrupt", "byte": 3}])",
       [](Bench& b) { EXPECT_EQ(Identity(b.io, kPath)[3], 0x2D ^ 0xFF); }},
      {R"("faults": [{"command": "ReadIdentity", "effect": "late", "delay_ms": 12000}])",
       [](Bench& b) {
         EXPECT_FALSE(Identifies(b.io));  // the host gives up after its 10 s
         EXPECT_EQ(b.io.LastOutcome().osError, oserror::kTimeout);
         EXPECT_EQ(b.clock.Now(), 10s);
         EXPECT_TRUE(Identifies(b.io));
       }},
      {R"("faults": [{"command": "ReadIdentity", "effect": "late", "delay_ms": 900}])",
       [](Bench& b) {
         EXPECT_TRUE(Identifies(b.io));  // late, but within the time-out
         EXPECT_EQ(b.clock.Now(), 900ms);
       }},
      {R"("faults": [{"command": "Inquiry", "effect": "vanish"}])",
       [](Bench& b) {
         Bytes data(40, 0);
         EXPECT_FALSE(Inquiry(b.io, kPath, data));
         EXPECT_FALSE(b.bus.Find(kPath)->present());
       }},
      {R"("nvram": ")" + std::string(1022, '0') + R"(4b")",
       [](Bench& b) {
         Bytes record(512, 0xEE);
         ASSERT_TRUE(ReadNvram(b.io, kPath, 0x11000, record));
         Bytes expected(512, 0);
         expected[511] = 0x4B;
         EXPECT_EQ(record, expected);
       }},
      {R"("bridge": "jms578", "access": "denied")",
       [](Bench& b) {
         EXPECT_FALSE(Identifies(b.io));
         const PortOpen open = b.bus.Open(kPath, Direction::In);
         EXPECT_EQ(open.osError, oserror::kAccessDenied);
         EXPECT_TRUE(b.bus.DeniesAccess(FailureStage::Open, open.osError));
       }},
      {R"("access": "granted", "mounted": null)",
       [](Bench& b) {
         EXPECT_TRUE(Identifies(b.io));
         EXPECT_EQ(*b.bus.Host(kPath), DiskHost{});
       }},
      {R"("mounted": "/media/user/NVME")",
       [](Bench& b) {
         EXPECT_TRUE(Identifies(b.io));  // the bus only keeps it; the update asks before writing
         EXPECT_EQ(b.bus.Host(kPath)->mountPoint, "/media/user/NVME");
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.members.substr(0, 80));
    Bench bench;
    PlugIn(Parsed(OneDisk(c.members)), bench.bus);
    c.check(bench);
  }
}

TEST(Scenario, BadInputNamesTheFileAndTheField) {
  const std::string secondDisk = R"({"disks": [{"path": "a"}, {"path": "b", "firmware": "1.2"}]})";
  const struct {
    std::string text;
    std::string_view message;  // the start of the message after "bad.json: "
  } cases[] = {
      {R"({"disks": [)", "line 1, column 12: not valid JSON: "},
      {"{\n  \"disks\": [\n    {\"path\": \"a\",}\n  ]\n}", "line 3, column 18: not valid JSON"},
      {"", "line 1, column 1: not valid JSON"},
      {R"([])", R"(expected an object {"disks": [...]}, got [])"},
      {std::string(100000, '[') + std::string(100000, ']'), "expected an object"},
      {R"({})", "disks: missing, expected a list of disks"},
      {R"({"disks": {}, "extra": 1})", "extra: unknown key, expected one of disks"},
      {R"({"disks": {}})", "disks: expected a list of disks, got {}"},
      {R"({"disks": [{"bridge": "jms583"}]})", "disks[0].path: missing"},
      {R"({"disks": [{"path": ""}]})", "disks[0].path: expected the disk's interface path"},
      {R"({"disks": [{"path": "a"}, {"path": "A"}]})", "disks[1].path: the same disk as disks[0]"},
      {R"({"disks": [{"path": "a", "firmware": "1.2.3.4", "firmware": "1.2.3.5"}]})",
       R"(the key "firmware" appears twice)"},
      {secondDisk, R"(disks[1].firmware: expected "a.b.c.d" with numbers 0-255, got "1.2")"},
      {OneDisk(R"("firmware": "1.2.3.256")"), "disks[0].firmware: expected"},
      {OneDisk(R"("firmware": "1.2.3.4.5")"), "disks[0].firmware: expected"},
      {OneDisk(R"("firmware": " 1.2.3.4")"), "disks[0].firmware: expected"},
      {OneDisk(R"("firmwar": "1.2.3.4")"), "disks[0].firmwar: unknown key, expected one of path"},
      {OneDisk(R"("bridge": "jms580")"), R"(disks[0].bridge: expected one of "jms583", "jms578")"},
      {OneDisk(R"("rom_mode": "yes")"), R"(disks[0].rom_mode: expected true or false, got "yes")"},
      {OneDisk(R"("inquiry": {"vendor": "Korvane Ltd"})"), "disks[0].inquiry.vendor: expected"},
      {OneDisk(R"("inquiry": {"product": "Gehäuse"})"), "disks[0].inquiry.product: expected"},
      {OneDisk(R"("inquiry": {"tag": "j58"})"), "disks[0].inquiry.tag: expected exactly 4"},
      {OneDisk(R"("inquiry": {"model": "x"})"), "disks[0].inquiry.model: unknown key"},
      {OneDisk(R"("identity": "F4E7152D0583")"),
       "disks[0].identity: expected 16 bytes of hex, got 6 bytes"},
      {OneDisk(R"("identity": "F4E7152D0583030535383331000000G8")"),
       "disks[0].identity: expected two hex digits per byte, got 'G' at character 31"},
      {OneDisk(R"("identity": "F 4E7152D05830305353833310000000")"),
       "disks[0].identity: expected two hex digits per byte, got ' ' at character 2"},
      {OneDisk(R"("identity": 12)"), "disks[0].identity: expected 16 bytes of hex or null"},
      {OneDisk(R"("config_word": 65536)"),
       "disks[0].config_word: expected an integer 0-65535 or null, got 65536"},
      {OneDisk(R"("config_word": -1)"), "disks[0].config_word: expected an integer 0-65535"},
      {OneDisk(R"("config_word": 1.5)"), "disks[0].config_word: expected an integer 0-65535"},
      {OneDisk(R"("buffer1": {"boundary": 10})"), "disks[0].buffer1.data: missing"},
      {OneDisk(R"("buffer1": {"boundary": 256, "data": ""})"),
       "disks[0].buffer1.boundary: expected an integer 0-255"},
      {OneDisk(R"("chip_tag": "KORVANE-1")"), "disks[0].chip_tag: expected text of at most 8"},
      {OneDisk(R"("memory_fdb1": null)"), "disks[0].memory_fdb1: expected an integer 0-255"},
      {OneDisk(R"("latency_us": 60000001)"), "disks[0].latency_us: expected an integer"},
      {OneDisk(R"("faults": [{"command": "WriteBufer", "effect": "fail"}])"),
       "disks[0].faults[0].command: expected one of Inquiry, "},
      {OneDisk(R"("faults": [{"command": "WriteBuffer", "effect": "explode"}])"),
       R"(disks[0].faults[0].effect: expected one of "fail", "refuse", "busy", "corrupt", "vanish")"},
      {OneDisk(R"("faults": [{"command": "WriteBuffer"}])"), "disks[0].faults[0].effect: missing"},
      {OneDisk(R"("faults": [{"command": "WriteBuffer", "nth": 0, "effect": "fail"}])"),
       "disks[0].faults[0].nth: expected an integer 1 or more, got 0"},
      {OneDisk(R"("faults": [{"command": "WriteBuffer", "effect": "fail", "byte": 2}])"),
       R"(disks[0].faults[0].byte: only a "corrupt" fault takes a byte)"},
      {OneDisk(R"("faults": [{"command": "ReadStatus", "effect": "late"}])"),
       "disks[0].faults[0].delay_ms: missing"},
      {OneDisk(R"("faults": [{"command": "ReadStatus", "effect": "busy", "delay_ms": 5}])"),
       R"(disks[0].faults[0].delay_ms: only a "late" fault takes a delay)"},
      {OneDisk(R"("faults": [{"command": "ReadNvram", "nth": 2, "effect": "fail"},
                             {"command": "ReadNvram", "nth": 2, "effect": "busy"}])"),
       "disks[0].faults[1]: a second fault on the same command and nth as faults[0]"},
      {OneDisk(R"("faults": [{"command": "any", "nth": 3, "effect": "fail"},
                             {"command": "any", "nth": 3, "effect": "vanish"}])"),
       "disks[0].faults[1]: a second fault on the same command and nth as faults[0]"},
      {OneDisk(R"("faults": [{"command": "ANY", "effect": "fail"}])"),
       "disks[0].faults[0].command: expected one of Inquiry, RequestSense, ReadIdentity, "
       "ReadIdentityAlt, ReadStatus, ReadFlashType, ReadChipTag, ReadNvram, WriteNvram, "
       "ReadMemory, ReadConfigWord, ReadVendorB5, ReadBuffer, WriteBuffer, Unknown, any, "
       "got \"ANY\""},
      {OneDisk(R"("x\ny": 1)"), "disks[0].x y: unknown key"},  // kept on one line
      {OneDisk(R"("access": "none")"),
       R"(disks[0].access: expected one of "granted", "denied", got "none")"},
      {OneDisk(R"("access": false)"), R"(disks[0].access: expected one of "granted", "denied")"},
      {OneDisk(R"("mounted": "")"),
       R"(disks[0].mounted: expected the mount point as a non-empty string, or null, got "")"},
      {OneDisk(R"("mounted": true)"), "disks[0].mounted: expected the mount point"},
      {OneDisk(R"("nvram": "4B")"), "disks[0].nvram: expected 512 bytes of hex, got 1 bytes"},
      {OneDisk(R"("nvram": ")" + std::string(1026, 'f') + "\""),
       "disks[0].nvram: expected 512 bytes of hex, got 513 bytes"},
      {OneDisk(R"("nvram": null)"), "disks[0].nvram: expected 512 bytes of hex, got null"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string message = ErrorOf(ParseScenario(c.text, "bad.json"));
    EXPECT_EQ(message.rfind("bad.json: " + std::string(c.message), 0), 0u) << message;
    EXPECT_EQ(message.find('\n'), std::string::npos);
  }
}

class ScenarioFileTest : public ::testing::Test {
 protected:
  std::string Write(std::string_view name, std::string_view text) {
    const std::filesystem::path path = folder_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }

  void SetUp() override { std::filesystem::create_directories(folder_); }
  void TearDown() override { std::filesystem::remove_all(folder_); }

  std::filesystem::path folder_ =
      std::filesystem::path(::testing::TempDir()) /
      ("korvane-scenario-" +
       std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
};

TEST_F(ScenarioFileTest, LoadsAFileAndNamesItInEveryError) {
  const std::string good = Write("good.json", OneDisk(R"("firmware": "0.0.1.2")"));
  const auto loaded = LoadScenario(good);
  ASSERT_TRUE(std::holds_alternative<Scenario>(loaded)) << ErrorOf(loaded);
  EXPECT_EQ(std::get<Scenario>(loaded).disks.at(0).bridge.firmwareVersion,
            (FirmwareVersion{0, 0, 1, 2}));

  const std::string bad = Write("bad.json", OneDisk(R"("firmware": "0.0.1")"));
  const std::string missing = (folder_ / "missing.json").string();
  const struct {
    std::string path;
    std::string_view message;
  } cases[] = {
      {bad, ": disks[0].firmware: expected"},
      {missing, ": no such file, and no built-in scenario has that name (jms583-outdated"},
      {folder_.string(), ": is a folder"},
  };
  for (const auto& c : cases) {
    const std::string message = ErrorOf(LoadScenario(c.path));
    EXPECT_EQ(message.rfind(c.path + std::string(c.message), 0), 0u) << message;
  }
}

TEST(Scenario, BuiltInsAreWhatDiscoveryFinds) {
  struct Accepted {
    Bus bus;
    std::array<std::uint8_t, 2> usbProduct;
    FirmwareVersion version;
    bool rom = false;
  };
  const struct {
    std::string_view name;
    std::vector<Accepted> accepted;
  } cases[] = {
      {"jms583-outdated", {{Bus::Usb, {0x05, 0x83}, {0, 0, 0, 8}}}},
      {"jms583-current", {{Bus::Usb, {0x05, 0x83}, {0, 0, 1, 2}}}},
      {"jms578-outdated", {{Bus::Usb, {0x05, 0x78}, {0, 1, 0, 3}}}},
      {"jms578-current", {{Bus::Usb, {0x05, 0x78}, {0, 2, 1, 4}}}},
      {"jms583-rom", {{Bus::Usb, {0x05, 0x83}, {0, 0, 0, 0}, true}}},
      {"two-enclosures",
       {{Bus::Usb, {0x05, 0x83}, {0, 0, 0, 8}}, {Bus::Uasp, {0x05, 0x78}, {0, 2, 1, 4}}}},
      {"unsupported-bridge", {{Bus::Usb, {0x05, 0x80}, {0, 1, 2, 0}}}},
      {"no-enclosure", {}},
      {"no-rights", {}},  // a disk that cannot be opened is never asked what it is
      {"jms583-mounted", {{Bus::Usb, {0x05, 0x83}, {0, 0, 0, 8}}}},
  };
  std::vector<std::string_view> names;
  for (const auto& c : cases) names.push_back(c.name);
  EXPECT_EQ(BuiltInScenarioNames(), names);

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto loaded = LoadScenario(c.name);
    ASSERT_TRUE(std::holds_alternative<Scenario>(loaded)) << ErrorOf(loaded);
    Bench bench;
    PlugIn(std::get<Scenario>(loaded), bench.bus);
    SimulatedDiskLister lister(bench.bus);
    CandidatePaths paths{};
    const int count = EnumerateBridgeDisks(lister, bench.io, paths, false);
    ASSERT_EQ(count, static_cast<int>(c.accepted.size()));
    for (std::size_t i = 0; i < c.accepted.size(); ++i) {
      const Accepted& expected = c.accepted[i];
      EXPECT_EQ(BusOf(paths[i].marks), expected.bus);
      const Bytes block = Identity(bench.io, paths[i].path);
      EXPECT_EQ(Bytes(block.begin() + 4, block.begin() + 6),
                Bytes(expected.usbProduct.begin(), expected.usbProduct.end()));
      EXPECT_EQ(Bytes(block.begin() + 12, block.end()),
                Bytes(expected.version.begin(), expected.version.end()));
      EXPECT_EQ(block[6] == 0, expected.rom);
    }
  }
}

TEST(Scenario, ListerFollowsPlugInOrderAndDropsVanishedDisks) {
  const Scenario scenario = Parsed(R"({"disks": [
    {"path": "\\\\?\\usbstor#disk&ven_korvane#1"},
    {"path": "\\\\?\\scsi#disk&ven_korvane#2",
     "faults": [{"command": "ReadIdentity", "effect": "vanish"}]},
    {"path": "\\\\?\\ide#diskinternal#3", "bridge": "none"}]})");
  Bench bench;
  PlugIn(scenario, bench.bus);
  SimulatedDiskLister lister(bench.bus);
  const DiskInterface usb{R"(\\?\usbstor#disk&ven_korvane#1)", {.usbStorage = true}};
  const DiskInterface uasp{R"(\\?\scsi#disk&ven_korvane#2)", {.scsi = true}};
  const DiskInterface internal{R"(\\?\ide#diskinternal#3)", {}};
  EXPECT_EQ(lister.ListDisks(), (std::vector<DiskInterface>{usb, uasp, internal}));

  Bytes block(16, 0);
  EXPECT_FALSE(ReadIdentity(bench.io, uasp.path, block));
  EXPECT_EQ(lister.ListDisks(), (std::vector<DiskInterface>{usb, internal}));
}

// ---- After a replug ----------------------------------------------------------------------------

using korvane::testing::Config;
using korvane::testing::kEnclosurePath;
using korvane::testing::On;
using korvane::testing::UpdateRig;

/// What the enclosure's own commands say about it: identity block and NVRAM record.
struct Answers {
  Bytes identity = Bytes(16, 0);
  Bytes record = Bytes(512, 0);
};

Answers AnswersOf(const Scenario& scenario, std::uint32_t recordAddress) {
  Bench bench;
  PlugIn(scenario, bench.bus);
  Answers answers;
  EXPECT_TRUE(ReadIdentity(bench.io, kEnclosurePath, answers.identity));
  EXPECT_TRUE(ReadNvram(bench.io, kEnclosurePath, recordAddress, answers.record));
  return answers;
}

/// A disk its scenario replugs 3 s after its update, running what into says.
DiskHost Replugging(ReplugInto into, FirmwareVersion version = {}) {
  DiskHost host;
  host.replugAfter = std::chrono::milliseconds(3000);
  host.replugInto = into;
  host.replugVersion = version;
  return host;
}

TEST(Scenario, SavedAfterAnUpdateRunsWhatAReplugBoots) {
  const DiskHost rom = Replugging(ReplugInto::BootRom);
  const DiskHost other = Replugging(ReplugInto::Version, {0, 0, 0, 9});
  const struct {
    std::string_view name;
    const ChipUpdate& chip;
    bool romMode;
    unsigned vanishAt;  ///< the WRITE BUFFER during which the disk leaves; 0: none
    FirmwareVersion after;
    bool romAfter;
    bool renamed;   ///< the record carries our name
    DiskHost host;  ///< how the scenario replugs it
  } cases[] = {
      {"JMS583", testing::Jms583(), false, 0, {0, 0, 1, 2}, false, true, {}},
      {"JMS583 through the loader", testing::Jms583(), true, 0, {0, 0, 1, 2}, false, true, {}},
      {"JMS578", testing::Jms578(), false, 0, {0, 2, 1, 4}, false, true, {}},
      {"JMS583 gone at block 1", testing::Jms583(), false, 1, {0, 0, 0, 8}, false, false, {}},
      // The loader went in; the disk left with the first block, so the flash is still empty.
      {"ROM-mode JMS583 gone at the first block", testing::Jms583(), true, 2, {}, true, false, {}},
      // Half an image does not boot, however good its first block is.
      {"JMS583 gone half-way through the write", testing::Jms583(), false, 30, {}, true, false, {}},
      // The run that waited for the replug reported what the scenario says runs then.
      {"JMS583 replugged into its boot ROM", testing::Jms583(), false, 0, {}, true, true, rom},
      {"JMS583 replugged into 0.0.0.9", testing::Jms583(), false, 0, other.replugVersion, false,
       true, other},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const BridgeKind kind = &c.chip == &testing::Jms583() ? BridgeKind::Jms583 : BridgeKind::Jms578;
    Scenario original;
    original.disks.push_back({.path = std::string(kEnclosurePath),
                              .kind = kind,
                              .bridge = Config(c.chip, c.romMode),
                              .host = c.host});
    original.disks[0].host.mountPoint = "/media/k";
    if (c.vanishAt > 0) {
      original.disks[0].bridge.faults = {
          On(Operation::WriteBuffer, c.vanishAt, FaultEffect::Vanish)};
    }
    UpdateRig rig(c.chip, original.disks[0].bridge);
    const UpdateContext context = rig.Context();
    if (UpdateFirmware(context, kEnclosurePath)) {
      EXPECT_TRUE(RewriteNvramIdentity(context, kEnclosurePath, c.chip.nvramAddress));
    }
    const SimulatedBridge before = rig.bridge();

    const std::string text = ScenarioJson(ScenarioAfterReplug(original, rig.bus()));
    const Scenario saved = Parsed(text);
    ASSERT_EQ(saved.disks.size(), 1u);
    EXPECT_TRUE(saved.disks[0].bridge.faults.empty()) << text;
    // That replug has happened: the next one boots what the flash holds.
    DiskHost host = original.disks[0].host;
    host.replugInto = ReplugInto::Flash;
    host.replugVersion = {};
    EXPECT_EQ(saved.disks[0].host, host);
    const Answers answers = AnswersOf(saved, c.chip.nvramAddress);
    EXPECT_EQ(Bytes(answers.identity.begin() + 12, answers.identity.end()),
              Bytes(c.after.begin(), c.after.end()));
    EXPECT_EQ(answers.identity[6] == 0, c.romAfter);
    EXPECT_EQ(Chars(answers.record, 200, 7) == "Korvane", c.renamed);

    // The bus is left as the run left it: still unplugged, still running the old firmware.
    EXPECT_EQ(rig.bridge().present(), before.present());
    EXPECT_EQ(rig.bridge().runState(), before.runState());
    EXPECT_EQ(rig.bridge().runningVersion(), before.runningVersion());
    EXPECT_EQ(rig.bridge().log().size(), before.log().size());
  }
}

TEST(Scenario, ReplugOfAnUntouchedBusChangesOnlyWhatTheBootRomHides) {
  for (const std::string_view name : BuiltInScenarioNames()) {
    SCOPED_TRACE(name);
    const Scenario original = std::get<Scenario>(LoadScenario(name));
    Bench bench;
    PlugIn(original, bench.bus);
    const Scenario after = ScenarioAfterReplug(original, bench.bus);
    ASSERT_EQ(after.disks.size(), original.disks.size());
    for (std::size_t i = 0; i < original.disks.size(); ++i) {
      ScenarioDisk expected = original.disks[i];
      if (expected.bridge.romMode) expected.bridge.firmwareVersion = {};  // the ROM has none
      EXPECT_EQ(after.disks[i].path, expected.path);
      EXPECT_EQ(after.disks[i].kind, expected.kind);
      EXPECT_EQ(after.disks[i].host, expected.host);
      EXPECT_TRUE(after.disks[i].bridge == expected.bridge) << ScenarioJson(after);
    }
  }
}

TEST(Scenario, ReplugDropsFaultsButKeepsADiskTheBusDoesNotHave) {
  const Scenario original = Parsed(R"({"disks": [
    {"path": "usbstor#1", "bridge": "none", "faults": [{"command": "Inquiry", "effect": "fail"}]},
    {"path": "usbstor#2", "faults": [{"command": "Inquiry", "effect": "vanish"}]}]})");
  Bench bench;
  PlugIn(Scenario{.disks = {original.disks[0]}}, bench.bus);
  const Scenario after = ScenarioAfterReplug(original, bench.bus);
  ASSERT_EQ(after.disks.size(), 2u);
  EXPECT_TRUE(after.disks[0].bridge.faults.empty());
  EXPECT_FALSE(after.disks[0].bridge.romMode);  // a plain disk has no flash to boot from
  EXPECT_TRUE(after.disks[1].bridge == original.disks[1].bridge);
}

}  // namespace
}  // namespace korvane::sim
