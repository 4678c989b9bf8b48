#include "FuzzedBridge.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <istream>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <streambuf>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "ByteOrder.h"
#include "CdbDecoder.h"
#include "Cli.h"
#include "FirmwareCatalogue.h"
#include "ImageLayout.h"
#include "Scenario.h"
#include "SimulatedDevices.h"
#include "TraceJson.h"
#include "Transport.h"

namespace korvane::fuzz {
namespace {

/// The opcodes a bridge may ever see, written out here rather than taken from the transport's
/// allow-list, which is what this checks.
constexpr std::array<std::uint8_t, 9> kAllowedOpcodes{0x12, 0x03, 0xE0, 0xFE, 0xFF,
                                                      0xDF, 0xB5, 0x3C, 0x3B};
/// More commands than any update takes, retries and loader passes included: an endless poll.
constexpr std::size_t kMostCommands = 4000;
/// READ BUFFER and WRITE BUFFER: mode in byte 1, buffer id in byte 2, offset in bytes 3-5.
constexpr std::uint8_t kReadBufferOpcode = 0x3C;
constexpr std::uint8_t kDataMode = 0x01;
constexpr std::uint8_t kDeferredDownload = 0x0E;
constexpr std::uint8_t kFirmwareBuffer = 0x00;
constexpr std::uint8_t kNvramRecordMode = 0x01;
constexpr std::uint8_t kNvramModeBits = 0x87;
constexpr std::size_t kChipNumberAt = 4;
constexpr std::uint32_t kDeviceNotConnected = 1167;

/// The fuzzer's choices, read in order; once the input is spent every choice is zero. The bytes
/// after the first few are events: how many steps (opens, answers, mount checks) to leave as the
/// bridge gives them, then what to change at the next one and how.
class Choices {
 public:
  explicit Choices(std::span<const std::uint8_t> input) : input_(input) {}

  /// True when this step is to be changed; the event's action and details follow in the input.
  bool Due() {
    if (!pending_) {
      if (input_.empty()) return false;
      skip_ = Byte();
      pending_ = true;
    }
    if (skip_ > 0) {
      --skip_;
      return false;
    }
    pending_ = false;
    return true;
  }
  std::uint8_t Byte() {
    if (input_.empty()) return 0;
    const std::uint8_t byte = input_.front();
    input_ = input_.subspan(1);
    return byte;
  }
  std::uint32_t Word() {
    std::uint32_t word = 0;
    for (int index = 0; index < 4; ++index) word = word << 8 | Byte();
    return word;
  }
  std::size_t Below(std::size_t bound) { return bound == 0 ? 0 : Word() % bound; }

 private:
  std::span<const std::uint8_t> input_;
  bool pending_ = false;
  std::uint8_t skip_ = 0;
};

/// The user's answer to the update's question: yes. That the question was asked at all is the
/// program's word that the check offered an update on a disk not in use.
class YesAnswer final : public std::streambuf {
 public:
  bool asked() const { return asked_; }

 protected:
  int_type underflow() override {
    if (asked_) return traits_type::eof();
    asked_ = true;
    setg(yes_.data(), yes_.data(), yes_.data() + yes_.size());
    return traits_type::to_int_type(yes_.front());
  }

 private:
  std::array<char, 2> yes_{'y', '\n'};
  bool asked_ = false;
};

bool AnsweredGood(const PortReply& reply) {
  return reply.requestOk && reply.scsiStatus == 0 && reply.hostStatus == 0 &&
         reply.driverStatus == 0;
}

std::uint32_t BufferOffset(std::span<const std::uint8_t> cdb) {
  return cdb.size() < 6 ? 0 : get_be24(cdb.subspan<3, 3>());
}

std::string Hex(std::uint8_t byte) { return "0x" + HexText({&byte, 1}); }

/// The last firmware write pass: the bytes sent by offset, and what was read back after them.
class FlashRecord {
 public:
  void StartPass() {
    written_.clear();
    readBack_.clear();
  }
  void Wrote(std::uint32_t offset, std::span<const std::uint8_t> bytes) {
    Put(written_, offset, bytes);
    // A block written again must be read again.
    for (std::size_t at = offset; at < offset + bytes.size() && at < readBack_.size(); ++at) {
      readBack_[at].reset();
    }
  }
  void ReadBack(std::uint32_t offset, std::span<const std::uint8_t> bytes) {
    Put(readBack_, offset, bytes);
  }

  /// Why the flash is not known to hold what was written over the area the verification
  /// compares (the chip's firmware area, less the block the bridge rewrites), or nothing.
  std::optional<std::string> Unverified() const {
    const std::optional<std::uint32_t> area = FirmwareArea();
    if (!area) return "no firmware image for a chip of the catalogue was written";
    for (std::size_t at = 0; at < *area; ++at) {
      if (at == kSecondBlockBegin) at = kSecondBlockEnd;
      if (at >= *area) break;
      if (at >= written_.size() || !written_[at]) {
        return "byte " + std::to_string(at) + " of the firmware area was never written";
      }
      if (at >= readBack_.size() || !readBack_[at]) {
        return "byte " + std::to_string(at) + " was never read back";
      }
      if (*readBack_[at] != *written_[at]) {
        return "byte " + std::to_string(at) + " was read back as " + Hex(*readBack_[at]) +
               " after " + Hex(*written_[at]) + " was written";
      }
    }
    return std::nullopt;
  }

 private:
  using Bytes = std::vector<std::optional<std::uint8_t>>;

  static void Put(Bytes& into, std::uint32_t offset, std::span<const std::uint8_t> bytes) {
    if (into.size() < offset + bytes.size()) into.resize(offset + bytes.size());
    std::ranges::copy(bytes, into.begin() + offset);
  }

  /// The firmware area of the chip the written image's header names, as a bridge reads it.
  std::optional<std::uint32_t> FirmwareArea() const {
    if (written_.size() < kChipNumberAt + 2 || !written_[kChipNumberAt] ||
        !written_[kChipNumberAt + 1]) {
      return std::nullopt;
    }
    const auto number =
        static_cast<std::uint16_t>(*written_[kChipNumberAt] << 8 | *written_[kChipNumberAt + 1]);
    for (const CatalogueChip& chip : kCatalogueChips) {
      if (chip.chipNumber == number) return chip.firmwareArea;
    }
    return std::nullopt;
  }

  Bytes written_;
  Bytes readBack_;
};

/// The rules every run must keep, whatever the bridge answers; the first one broken is kept.
class Rules {
 public:
  explicit Rules(const YesAnswer& answer) : answer_(answer) {}

  void NoteMounts(std::string_view path, const MountState& state) {
    free_[std::string(path)] = state.kind == MountState::Kind::Free;
  }
  /// Before the bridge sees the command.
  void NoteRequest(std::string_view path, const PortRequest& request);
  /// After it answered.
  void NoteReply(const PortRequest& request, const PortReply& reply);
  /// After the program ended.
  void NoteEnd(const std::string& out);

  const std::optional<std::string>& broken() const { return broken_; }

 private:
  void Break(std::string rule) {
    if (!broken_) broken_ = std::move(rule);
  }
  void NoteWrite(std::string_view path, const PortRequest& request, sim::Operation operation);

  const YesAnswer& answer_;
  std::map<std::string, bool, std::less<>> free_;
  FlashRecord flash_;
  std::size_t commands_ = 0;
  std::optional<std::string> broken_;
};

void Rules::NoteRequest(std::string_view path, const PortRequest& request) {
  if (++commands_ > kMostCommands) {
    Break("more than " + std::to_string(kMostCommands) + " commands in one run");
  }
  if (request.cdb.empty() ||
      std::ranges::find(kAllowedOpcodes, request.cdb[0]) == kAllowedOpcodes.end()) {
    Break("opcode " + (request.cdb.empty() ? std::string("none") : Hex(request.cdb[0])) +
          " outside the allow-list reached the bridge");
    return;
  }
  const sim::DecodedCdb decoded = sim::Decode(request.cdb, request.direction);
  if (decoded.check != sim::CdbCheck::Ok) {
    Break("a malformed " + std::string(sim::OperationName(decoded.operation)) +
          " reached the bridge");
  }
  if (decoded.operation == sim::Operation::WriteBuffer ||
      decoded.operation == sim::Operation::WriteNvram) {
    NoteWrite(path, request, decoded.operation);
  }
}

void Rules::NoteWrite(std::string_view path, const PortRequest& request, sim::Operation operation) {
  const std::string name(sim::OperationName(operation));
  if (!answer_.asked()) Break(name + " before the check offered an update");
  const auto free = free_.find(path);
  if (free == free_.end() || !free->second) {
    Break(name + " to a disk whose last mount check did not find it free");
  }
  if (operation == sim::Operation::WriteNvram) {
    if ((request.cdb[1] & kNvramModeBits) != kNvramRecordMode) return;
    if (const auto why = flash_.Unverified()) Break("NVRAM record written, but " + *why);
    return;
  }
  if (request.cdb[1] != kDeferredDownload || request.cdb[2] != kFirmwareBuffer) return;
  const std::uint32_t offset = BufferOffset(request.cdb);
  if (offset == 0) flash_.StartPass();
  flash_.Wrote(offset, request.data);
}

void Rules::NoteReply(const PortRequest& request, const PortReply& reply) {
  if (request.cdb.size() < 3 || request.cdb[0] != kReadBufferOpcode ||
      request.cdb[1] != kDataMode || request.cdb[2] != kFirmwareBuffer || !AnsweredGood(reply)) {
    return;
  }
  // Only what the platform says it transferred came from the bridge.
  const std::size_t delivered = std::min<std::size_t>(reply.transferred, request.data.size());
  flash_.ReadBack(BufferOffset(request.cdb), request.data.first(delivered));
}

void Rules::NoteEnd(const std::string& out) {
  if (out.find("\nUpdate complete\n") == std::string::npos &&
      !out.starts_with("Update complete\n")) {
    return;
  }
  if (const auto why = flash_.Unverified()) Break("\"Update complete\", but " + *why);
}

/// The simulated bus with every open and answer open to the fuzzer.
class FuzzedPort final : public ForwardingPort {
 public:
  FuzzedPort(Port& inner, Choices& choices, Rules& rules)
      : ForwardingPort(inner), choices_(choices), rules_(rules) {}

  PortOpen Open(std::string_view path, Direction direction) override;
  PortReply Execute(PortHandle handle, const PortRequest& request) override;
  void Close(PortHandle handle) override {
    paths_.erase(handle);
    inner().Close(handle);
  }

 private:
  void Alter(const PortRequest& request, PortReply& reply);
  void Vanish(PortReply& reply) {
    gone_ = true;
    reply = {};
    reply.lastError = kDeviceNotConnected;
  }

  Choices& choices_;
  Rules& rules_;
  std::map<PortHandle, std::string> paths_;
  bool gone_ = false;
};

PortOpen FuzzedPort::Open(std::string_view path, Direction direction) {
  static constexpr std::array<std::uint32_t, 5> kOpenErrors{2, 5, 32, 121, kDeviceNotConnected};
  if (gone_) return {false, 0, kDeviceNotConnected};
  if (choices_.Due()) {
    const std::uint8_t action = choices_.Byte();
    if (action < kOpenErrors.size()) return {false, 0, kOpenErrors[action]};
    if (action == 0xFF) {
      gone_ = true;
      return {false, 0, kDeviceNotConnected};
    }
  }
  const PortOpen open = inner().Open(path, direction);
  if (open.ok) paths_[open.handle] = std::string(path);
  return open;
}

PortReply FuzzedPort::Execute(PortHandle handle, const PortRequest& request) {
  const auto path = paths_.find(handle);
  rules_.NoteRequest(path == paths_.end() ? std::string_view() : path->second, request);
  PortReply reply = inner().Execute(handle, request);
  Alter(request, reply);
  rules_.NoteReply(request, reply);
  return reply;
}

// An event changes one thing of the answer.
void FuzzedPort::Alter(const PortRequest& request, PortReply& reply) {
  if (!choices_.Due()) return;
  const bool dataIn = request.direction == Direction::In;
  switch (choices_.Byte() & 0x07) {
    case 0:  // one byte of the answer
      if (dataIn && !request.data.empty()) {
        request.data[choices_.Below(request.data.size())] ^= choices_.Byte() | 1;
      }
      return;
    case 1:  // the whole answer
      if (dataIn) std::ranges::generate(request.data, [this] { return choices_.Byte(); });
      return;
    case 2: {  // the transferred count; a short one leaves the transport's zero fill
      reply.transferred = choices_.Word();
      if (dataIn && reply.transferred < request.data.size()) {
        std::ranges::fill(request.data.subspan(reply.transferred), 0);
      }
      return;
    }
    case 3:  // a status and the sense that came with it
      reply.scsiStatus = choices_.Byte();
      reply.senseLength = static_cast<std::uint8_t>(choices_.Below(reply.sense.size() + 1));
      std::generate_n(reply.sense.begin(), reply.senseLength, [this] { return choices_.Byte(); });
      return;
    case 4:  // the platform's call failed
      reply.requestOk = false;
      reply.lastError = choices_.Word() & 0xFFFF;
      return;
    case 5:  // the adapter or the driver complained
      reply.hostStatus = choices_.Byte();
      reply.driverStatus = choices_.Byte();
      return;
    case 6:
      Vanish(reply);
      return;
    default:  // nothing: an event that only carries the count on
      return;
  }
}

/// The scenario's simulated disks, seen through the fuzzed port, and a mount check the fuzzer
/// answers. The development-image guard is satisfied as on any simulated enclosure.
class FuzzedDevices final : public Devices {
 public:
  FuzzedDevices(std::unique_ptr<Devices> simulated, Choices& choices, Rules& rules)
      : simulated_(std::move(simulated)),
        choices_(choices),
        rules_(rules),
        port_(simulated_->port(), choices, rules) {}

  Port& port() override { return port_; }
  DiskLister& lister() override { return simulated_->lister(); }
  Clock& clock() override { return simulated_->clock(); }
  DeviceChanges& changes() override { return simulated_->changes(); }
  Enclosures enclosures() const override { return Enclosures::Simulated; }

  MountState CheckMounts(std::string_view path) override {
    MountState state = simulated_->CheckMounts(path);
    if (choices_.Due()) {
      state = (choices_.Byte() & 1) == 0 ? MountState{MountState::Kind::Mounted, "/media/fuzzed"}
                                         : MountState{MountState::Kind::Unknown, "fuzzed"};
    }
    rules_.NoteMounts(path, state);
    return state;
  }

 private:
  std::unique_ptr<Devices> simulated_;
  Choices& choices_;
  Rules& rules_;
  FuzzedPort port_;
};

/// A caller gone wrong: our own builders never make a command outside the bridge's set, so the
/// transport is also handed one the fuzzer chose, for the first disk. It must be refused before
/// it reaches the bridge.
void SendStrayCommand(Choices& choices, Devices& devices) {
  if (choices.Byte() < 0xE0) return;
  std::array<std::uint8_t, 16> bytes{};
  const std::span<std::uint8_t> cdb(bytes.data(), 1 + choices.Below(bytes.size()));
  std::ranges::generate(cdb, [&choices] { return choices.Byte(); });
  const std::vector<DiskInterface> disks = devices.lister().ListDisks();
  if (std::ranges::find(kAllowedOpcodes, cdb[0]) != kAllowedOpcodes.end() || disks.empty()) return;
  Transport io(devices.port());
  std::array<std::uint8_t, 64> data{};
  if ((cdb[0] & 1) == 0) {
    io.ScsiCommandIn(disks.front().path, cdb, data.data(), static_cast<std::int32_t>(data.size()));
  } else {
    io.ScsiCommandOut(disks.front().path, cdb, data.data(), static_cast<std::int32_t>(data.size()));
  }
}

/// The state folder of the fuzzed runs: one per process, emptied after every run, so that the
/// backups an update makes never pile up or reach the user's own folder.
class FuzzStateFolder {
 public:
  FuzzStateFolder()
      : path_(std::filesystem::temp_directory_path() /
              ("korvane-fuzz-state-" + std::to_string(std::random_device{}()))) {}
  ~FuzzStateFolder() { Empty(); }
  FuzzStateFolder(const FuzzStateFolder&) = delete;
  FuzzStateFolder& operator=(const FuzzStateFolder&) = delete;
  std::string path() const { return path_.string(); }
  void Empty() const {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }

 private:
  std::filesystem::path path_;
};

}  // namespace

std::optional<std::string> RunFuzzedBridge(std::span<const std::uint8_t> input) {
  Choices choices(input);
  const std::vector<std::string_view> names = sim::BuiltInScenarioNames();
  auto simulated = SimulatedDevices(std::string(names[choices.Byte() % names.size()]));
  if (auto* error = std::get_if<std::string>(&simulated)) return "scenario: " + *error;

  YesAnswer answer;
  Rules rules(answer);
  auto devices = std::make_unique<FuzzedDevices>(
      std::move(std::get<std::unique_ptr<Devices>>(simulated)), choices, rules);
  SendStrayCommand(choices, *devices);
  std::istream in(&answer);
  std::ostringstream out;
  std::ostringstream err;
  // A person at a terminal, who answers the question with yes.
  static const FuzzStateFolder state;
  const cli::Console console{in, out, err, true, false, {}, state.path()};
  // Inputs of odd length back the bridge up before writing, which only reads; the choices the
  // input holds keep their meaning either way.
  std::vector<std::string> args{"update"};
  if (input.size() % 2 == 0) args.emplace_back("--no-backup");
  cli::RunKorvaneFw(args, console,
                    [&devices](const PlatformChoices&) { return std::move(devices); });
  state.Empty();
  rules.NoteEnd(out.str());
  return rules.broken();
}

}  // namespace korvane::fuzz
