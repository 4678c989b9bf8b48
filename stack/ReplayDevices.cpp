#include "ReplayDevices.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <utility>

#include "SimulatedBus.h"
#include "SimulatedClock.h"
#include "TraceJson.h"

#ifdef _WIN32
#include "Win32Api.h"
#include "Win32Port.h"
#else
#include <cerrno>

#include "LinuxApi.h"
#include "SgIoPort.h"
#endif

namespace korvane {
namespace {

using trace::RecordedCommand;

/// The words and the "disk gone" error of the port the recording went through.
struct RecordedPortKind {
  std::unique_ptr<Port> words;
  std::uint32_t goneError = 0;
};

/// This platform's port, constructed only for its words: it never opens anything here.
struct PlatformPort {
#ifdef _WIN32
  SystemWin32Api api;
  Win32Port port{api};
#else
  SystemLinuxApi api;
  SgIoPort port{api};
#endif
};

/// A simulated bus with no disks, for the simulator's words.
struct SimulatorPort {
  sim::SimulatedClock clock;
  sim::SimulatedBus port{clock};
};

/// The words of the port a recording went through, and nothing else of it.
template <typename Held>
class WordsOf final : public Port {
 public:
  PortOpen Open(std::string_view, Direction) override { return {}; }
  PortReply Execute(PortHandle, const PortRequest&) override { return {}; }
  void Close(PortHandle) override {}
  std::string Explain(std::string_view path, FailureStage stage,
                      std::uint32_t osError) const override {
    return held_.port.Explain(path, stage, osError);
  }
  std::string ExplainStatus(std::uint16_t host, std::uint16_t driver) const override {
    return held_.port.ExplainStatus(host, driver);
  }
  bool DeniesAccess(FailureStage stage, std::uint32_t osError) const override {
    return held_.port.DeniesAccess(stage, osError);
  }

 private:
  Held held_;
};

RecordedPortKind PortKindOf(Enclosures enclosures) {
  if (enclosures == Enclosures::Simulated) {
    return {std::make_unique<WordsOf<SimulatorPort>>(), sim::oserror::kFileNotFound};
  }
#ifdef _WIN32
  return {std::make_unique<WordsOf<PlatformPort>>(), ERROR_FILE_NOT_FOUND};
#else
  return {std::make_unique<WordsOf<PlatformPort>>(), ENODEV};
#endif
}

/// Answers each disk's commands in the recorded order; the first difference ends the replay.
class ReplayPort final : public Port {
 public:
  ReplayPort(const trace::Trace& trace, RecordedPortKind kind, bool endDiffers)
      : name_(trace.name), kind_(std::move(kind)), endDiffers_(endDiffers) {
    for (const RecordedCommand& command : trace.commands) {
      // Refused commands never reached a port; the transport refuses them again by itself.
      if (command.stage != FailureStage::Refused) queues_[command.path].push_back(&command);
    }
  }

  PortOpen Open(std::string_view path, Direction direction) override;
  PortReply Execute(PortHandle handle, const PortRequest& request) override;
  void Close(PortHandle) override {
    open_ = nullptr;
    pastTheEnd_.clear();
  }
  std::string Explain(std::string_view path, FailureStage stage,
                      std::uint32_t osError) const override {
    return kind_.words->Explain(path, stage, osError);
  }
  std::string ExplainStatus(std::uint16_t host, std::uint16_t driver) const override {
    return kind_.words->ExplainStatus(host, driver);
  }
  bool DeniesAccess(FailureStage stage, std::uint32_t osError) const override {
    return kind_.words->DeniesAccess(stage, osError);
  }

  const std::optional<std::string>& divergence() const { return divergence_; }
  void Diverge(std::string text) {
    if (!divergence_) divergence_ = std::move(text);
  }
  /// The first recorded command, by its place in the trace, that was never sent.
  const RecordedCommand* FirstUnsent() const;
  /// "FILE:LINE: the replay differs from the recording at command N (PATH): ..."
  std::string Difference(const RecordedCommand& recorded, std::string_view detail) const;

 private:
  PortOpen Gone() const { return {false, 0, kind_.goneError}; }
  /// Opens a disk whose recording has ended, so that the command it gets can be named.
  PortOpen PastTheEnd(std::string_view path);
  std::string Mismatch(const RecordedCommand& recorded, const PortRequest& request) const;

  std::string name_;
  RecordedPortKind kind_;
  std::map<std::string, std::deque<const RecordedCommand*>, std::less<>> queues_;
  bool endDiffers_;
  const RecordedCommand* open_ = nullptr;
  std::string pastTheEnd_;  ///< the disk opened past its recording's end
  std::optional<std::string> divergence_;
};

std::string ReplayPort::Difference(const RecordedCommand& recorded, std::string_view detail) const {
  return name_ + ":" + std::to_string(recorded.line) +
         ": the replay differs from the recording at command " + std::to_string(recorded.number) +
         " (" + recorded.path + "): " + std::string(detail);
}

PortOpen ReplayPort::Open(std::string_view path, Direction direction) {
  if (divergence_) return Gone();
  const auto queue = queues_.find(path);
  if (queue == queues_.end() || queue->second.empty()) return PastTheEnd(path);
  const RecordedCommand& recorded = *queue->second.front();
  queue->second.pop_front();
  if (recorded.direction != direction) {
    Diverge(Difference(
        recorded,
        "recorded a data-" + std::string(recorded.direction == Direction::In ? "in" : "out") +
            " command (CDB " + HexText(recorded.cdb) + "), the program opened the disk for data " +
            (direction == Direction::In ? "in" : "out")));
    return Gone();
  }
  if (recorded.stage == FailureStage::Open) return {false, 0, recorded.osError};
  open_ = &recorded;
  return {true, 1, 0};
}

// A recording that stopped early is the enclosure going away; a complete one holds every command
// the program sent, so one more is a difference.
PortOpen ReplayPort::PastTheEnd(std::string_view path) {
  if (!endDiffers_) return Gone();
  pastTheEnd_ = std::string(path);
  return {true, 1, 0};
}

std::string ReplayPort::Mismatch(const RecordedCommand& recorded,
                                 const PortRequest& request) const {
  const std::string cdbs =
      "recorded CDB " + HexText(recorded.cdb) + ", sent CDB " + HexText(request.cdb);
  if (!std::ranges::equal(recorded.cdb, request.cdb)) return cdbs;
  const auto recordedLength = static_cast<std::size_t>(AdjustedLength(recorded.length));
  if (request.data.size() != recordedLength) {
    return cdbs + ": " + std::to_string(request.data.size()) +
           " bytes of data where the recording had " + std::to_string(recordedLength);
  }
  if (request.direction == Direction::Out) {
    const auto sent = request.data.first(std::min(request.data.size(), recorded.sent.size()));
    const auto [at, _] = std::ranges::mismatch(sent, recorded.sent);
    if (at != sent.end() || sent.size() != recorded.sent.size()) {
      return cdbs + ": the data sent differs from the recording at byte " +
             std::to_string(at - sent.begin());
    }
  }
  return {};
}

PortReply ReplayPort::Execute(PortHandle, const PortRequest& request) {
  PortReply reply;
  if (!pastTheEnd_.empty()) {
    Diverge(name_ +
            ": the replay differs from the recording: after the last command recorded for " +
            pastTheEnd_ + " the program sent CDB " + HexText(request.cdb) + ", recorded none");
  }
  if (open_ == nullptr || divergence_) {
    reply.lastError = kind_.goneError;
    return reply;
  }
  const RecordedCommand& recorded = *open_;
  if (std::string mismatch = Mismatch(recorded, request); !mismatch.empty()) {
    Diverge(Difference(recorded, mismatch));
    reply.lastError = kind_.goneError;
    return reply;
  }
  if (request.direction == Direction::In) {
    const std::size_t count = std::min(request.data.size(), recorded.answer.size());
    std::copy_n(recorded.answer.begin(), count, request.data.begin());
  }
  reply.requestOk = recorded.stage != FailureStage::Request;
  reply.lastError = recorded.osError;
  reply.scsiStatus = recorded.scsiStatus;
  reply.hostStatus = recorded.hostStatus;
  reply.driverStatus = recorded.driverStatus;
  reply.transferred = recorded.transferred;
  reply.senseLength =
      static_cast<std::uint8_t>(std::min(recorded.sense.size(), reply.sense.size()));
  std::copy_n(recorded.sense.begin(), reply.senseLength, reply.sense.begin());
  return reply;
}

const RecordedCommand* ReplayPort::FirstUnsent() const {
  const RecordedCommand* first = nullptr;
  for (const auto& [path, queue] : queues_) {
    if (!queue.empty() && (first == nullptr || queue.front()->number < first->number)) {
      first = queue.front();
    }
  }
  return first;
}

/// The lister's recorded answers in order; after the last, the last again.
class ReplayLister final : public DiskLister {
 public:
  explicit ReplayLister(const std::vector<trace::RecordedListing>& listings)
      : listings_(listings) {}
  std::vector<DiskInterface> ListDisks() override {
    if (listings_.empty()) return {};
    const trace::RecordedListing& listing = listings_[std::min(next_, listings_.size() - 1)];
    ++next_;
    return listing.disks;
  }
  /// Whether the recording holds a listing the program has not asked for yet.
  bool more() const { return next_ < listings_.size(); }
  /// How many listings the program has asked for.
  std::size_t served() const { return next_; }

 private:
  const std::vector<trace::RecordedListing>& listings_;
  std::size_t next_ = 0;
};

/// Waits cost nothing in a replay: the answers are already there.
class ReplayClock final : public Clock {
 public:
  void Sleep(std::chrono::milliseconds duration) override { now_ += duration; }
  std::chrono::microseconds Now() const override { return now_; }

 private:
  std::chrono::microseconds now_{0};
};

/// The recording's listings changed where the program listed again after a device change: each
/// listing not yet asked for stands for one change, which comes at once; then it is quiet until
/// the program lists again. Once every listing has been asked for, no change can come.
class ReplayChanges final : public DeviceChanges {
 public:
  ReplayChanges(const ReplayLister& lister, Clock& clock) : lister_(lister), clock_(clock) {}

  std::optional<std::string> Listen() override { return std::nullopt; }

  ChangeWait Wait(std::chrono::milliseconds timeout) override {
    if (!lister_.more()) return ChangeWait::Ended;
    if (told_ != lister_.served()) {
      told_ = lister_.served();
      return ChangeWait::Change;
    }
    clock_.Sleep(timeout);
    return ChangeWait::Quiet;
  }

 private:
  const ReplayLister& lister_;
  Clock& clock_;
  std::optional<std::size_t> told_;
};

/// A hold as the recording took it: nothing to release, and what it left uncovered then.
class RecordedDiskHold final : public DiskHold {
 public:
  explicit RecordedDiskHold(std::string gaps) : gaps_(std::move(gaps)) {}
  std::string gaps() const override { return gaps_; }

 private:
  std::string gaps_;
};

class Replay final : public ReplayDevices {
 public:
  Replay(trace::Trace trace, PastTheRecording past)
      : trace_(std::move(trace)),
        port_(trace_, PortKindOf(trace_.header->enclosures),
              trace_.exitCode.has_value() && past == PastTheRecording::Differs),
        lister_(trace_.listings) {}

  Port& port() override { return port_; }
  DiskLister& lister() override { return lister_; }
  Clock& clock() override { return clock_; }
  DeviceChanges& changes() override { return changes_; }
  Enclosures enclosures() const override { return trace_.header->enclosures; }

  MountState CheckMounts(std::string_view path) override {
    if (nextMount_ < trace_.mounts.size() && trace_.mounts[nextMount_].path == path) {
      return trace_.mounts[nextMount_++].state;
    }
    port_.Diverge(trace_.name +
                  ": the replay differs from the recording: the program asked whether " +
                  std::string(path) + " is in use, which the recording does not hold here");
    return {MountState::Kind::Unknown, "the replay has left its recording"};
  }

  std::variant<std::unique_ptr<DiskHold>, std::string> Hold(std::string_view path) override {
    // A recording made before disks were held took none: a hold of nothing stands in.
    if (trace_.holds.empty()) return std::make_unique<DiskHold>();
    if (nextHold_ < trace_.holds.size() && trace_.holds[nextHold_].path == path) {
      const trace::RecordedHold& hold = trace_.holds[nextHold_++];
      if (hold.refused) return *hold.refused;
      return std::make_unique<RecordedDiskHold>(hold.gaps);
    }
    port_.Diverge(trace_.name + ": the replay differs from the recording: the program held " +
                  std::string(path) + ", which the recording does not hold here");
    return std::string("the replay has left its recording");
  }

  std::optional<std::string> divergence() const override { return port_.divergence(); }
  bool recordedBackup() const override { return trace_.header->backup; }
  const std::vector<std::string>& recordedCommand() const override {
    return trace_.header->command;
  }

  void Finish() override {
    if (const RecordedCommand* unsent = port_.FirstUnsent()) {
      port_.Diverge(
          port_.Difference(*unsent, "recorded CDB " + HexText(unsent->cdb) + ", sent none"));
    }
  }

 private:
  trace::Trace trace_;
  ReplayPort port_;
  ReplayLister lister_;
  ReplayClock clock_;
  ReplayChanges changes_{lister_, clock_};
  std::size_t nextMount_ = 0;
  std::size_t nextHold_ = 0;
};

}  // namespace

std::variant<std::unique_ptr<ReplayDevices>, std::string> ReplayTraceFile(const std::string& path,
                                                                          std::string_view command,
                                                                          PastTheRecording past) {
  auto loaded = trace::LoadTrace(path, trace::TraceUse::Replay, command);
  if (auto* error = std::get_if<trace::TraceError>(&loaded)) return std::move(error->message);
  trace::Trace& trace = std::get<trace::Trace>(loaded);
  const trace::TraceHeader& header = *trace.header;
  const std::string_view recorded = trace::CommandOf(header.command);
  if (!command.empty() && !recorded.empty() && recorded != command) {
    return path + ":1: the trace recorded \"" + std::string(recorded) +
           "\": replay it with that command";
  }
  // The simulator answers alike everywhere; a real disk's errors are in its platform's numbers.
  if (header.enclosures == Enclosures::Real && header.platform != trace::ThisPlatform()) {
    return trace.name + ":1: recorded on " + header.platform +
           ": replay it with the program built for " + header.platform;
  }
  return std::make_unique<Replay>(std::move(trace), past);
}

}  // namespace korvane
