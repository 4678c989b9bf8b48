// korvane-gadget: one disk of a scenario as a real USB device on a Linux gadget controller, so
// that the kernel's own usb-storage or uas driver binds to it.
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "ConfigFsGadget.h"
#include "FunctionFsBot.h"
#include "GadgetFsUas.h"
#include "GadgetOptions.h"
#include "Scenario.h"
#include "Text.h"
#include "UdcChoice.h"

namespace korvane::gadget {
namespace {

constexpr int kUsageExit = 2;
constexpr int kSystemExit = 1;
constexpr char kUdcClass[] = "/sys/class/udc";

/// A device that can be plugged in and out, whatever transport it speaks.
class Gadget {
 public:
  virtual ~Gadget() = default;
  /// Everything that stays while the device is unplugged.
  virtual bool Prepare(const UsbIdentity& identity, std::string& error) = 0;
  /// The host sees the device plugged in, with that identity.
  virtual bool Plug(const UsbIdentity& identity, std::string& error) = 0;
  /// The host sees it unplugged.
  virtual void Unplug() = 0;
  /// Unplugs and removes everything Prepare made.
  virtual void Remove() = 0;
};

class BulkOnlyGadget final : public Gadget {
 public:
  BulkOnlyGadget(const std::string& udc, ScsiTarget& target, std::function<void()> onVanish,
                 std::function<void()> cutWaits, bool verbose)
      : configFs_(udc), functionFs_(target, std::move(onVanish), std::move(cutWaits), verbose) {}
  bool Prepare(const UsbIdentity& identity, std::string& error) override {
    return configFs_.Create(identity, error) && functionFs_.Open(configFs_.ffsDir(), error);
  }
  bool Plug(const UsbIdentity& identity, std::string& error) override {
    return configFs_.SetPowerOnIdentity(identity, error) && configFs_.Bind(error);
  }
  void Unplug() override { configFs_.Unbind(); }
  void Remove() override {
    configFs_.Unbind();
    functionFs_.Close();  // FunctionFS cannot be unmounted while its files are open
    configFs_.Remove();
  }

 private:
  ConfigFsGadget configFs_;
  FunctionFsBot functionFs_;
};

class UasGadget final : public Gadget {
 public:
  UasGadget(std::string dir, std::string udc, ScsiTarget& target, std::function<void()> onVanish,
            std::function<void()> cutWaits, bool verbose)
      : dir_(std::move(dir)),
        udc_(std::move(udc)),
        uas_(target, std::move(onVanish), std::move(cutWaits), verbose) {}
  bool Prepare(const UsbIdentity&, std::string& error) override {
    return uas_.Prepare(dir_, udc_, error);
  }
  bool Plug(const UsbIdentity& identity, std::string& error) override {
    return uas_.Open(identity, error);
  }
  void Unplug() override { uas_.Close(); }  // closing the controller file unregisters
  void Remove() override { uas_.Unmount(); }

 private:
  std::string dir_;
  std::string udc_;
  GadgetFsUas uas_;
};

void Say(const std::string& text) { std::fprintf(stderr, "korvane-gadget: %s\n", text.c_str()); }

/// Writes a line for each command as it arrives: "SECONDS.NANOSECONDS CDB" on CLOCK_MONOTONIC,
/// so that the time a host spends per command can be read at the device, the same way for every
/// program that sends them. Each line goes out in one write, so it can be read while we serve.
std::function<void(std::span<const std::uint8_t>)> ArrivalLog(int fd) {
  return [fd](std::span<const std::uint8_t> cdb) {
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    std::array<char, 32> stamp{};
    std::snprintf(stamp.data(), stamp.size(), "%lld.%09ld ", static_cast<long long>(now.tv_sec),
                  now.tv_nsec);
    const std::string line = stamp.data() + HexText(cdb) + "\n";
    [[maybe_unused]] const ssize_t written = ::write(fd, line.data(), line.size());
  };
}

/// The signals the main loop handles, blocked in every thread and read from a signalfd.
UniqueFd BlockSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (const int signal : {SIGHUP, SIGTERM, SIGINT}) sigaddset(&set, signal);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  return UniqueFd(signalfd(-1, &set, SFD_CLOEXEC));
}

std::vector<std::string_view> Arguments(int argc, char** argv) { return {argv + 1, argv + argc}; }

/// Runs a plugged-in gadget until SIGTERM or SIGINT: SIGHUP replugs, a vanished bridge unplugs.
class Session {
 public:
  Session(Gadget& gadget, ScsiTarget& target, const sim::DiskHost& host, UsbIdentity identity,
          int signals, int vanished)
      : gadget_(gadget),
        target_(target),
        host_(host),
        identity_(std::move(identity)),
        signals_(signals),
        vanished_(vanished) {}

  int Run() {
    std::array<pollfd, 2> fds{pollfd{signals_, POLLIN, 0}, pollfd{vanished_, POLLIN, 0}};
    for (;;) {
      if (::poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR) return kSystemExit;
      if ((fds[1].revents & POLLIN) != 0) Vanish();
      if ((fds[0].revents & POLLIN) != 0) {
        signalfd_siginfo info{};
        if (::read(signals_, &info, sizeof(info)) != sizeof(info)) continue;
        if (info.ssi_signo != SIGHUP) return Stop();
        if (!Replug()) return kSystemExit;
      }
    }
  }

 private:
  void Vanish() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t got = ::read(vanished_, &count, sizeof(count));
    if (!plugged_ || target_.present()) return;
    Say("the bridge vanished: unplugged until SIGHUP");
    gadget_.Unplug();
    plugged_ = false;
  }

  bool Replug() {
    if (plugged_) gadget_.Unplug();
    plugged_ = false;
    // The scenario's way of coming back after an update holds for the first replug after the
    // flash was written; later ones boot what the flash holds, as a recovery would need.
    const bool afterUpdate = target_.flashWritten() && !replugged_;
    target_.Replug(afterUpdate ? &host_ : nullptr);
    replugged_ = replugged_ || afterUpdate;
    identity_.bcdDevice = BcdDevice(target_.runningVersion());
    identity_.manufacturer = ManufacturerOf(target_.nvramRecord());
    std::string error;
    if (!gadget_.Plug(identity_, error)) {
      Say(error);
      return false;
    }
    plugged_ = true;
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "replugged, bcdDevice %04x", identity_.bcdDevice);
    Say(text.data());
    return true;
  }

  int Stop() {
    gadget_.Remove();
    return 0;
  }

  Gadget& gadget_;
  ScsiTarget& target_;
  const sim::DiskHost& host_;
  UsbIdentity identity_;
  int signals_;
  int vanished_;
  bool plugged_ = true;
  bool replugged_ = false;  // the replug after the update has come
};

/// The device in the transport the options ask for.
std::unique_ptr<Gadget> MakeGadget(const GadgetOptions& options, const std::string& controller,
                                   ScsiTarget& target, const std::function<void()>& onVanish,
                                   const std::function<void()>& cutWaits) {
  if (options.transport == TransportKind::BulkOnly) {
    return std::make_unique<BulkOnlyGadget>(controller, target, onVanish, cutWaits,
                                            options.verbose);
  }
  return std::make_unique<UasGadget>(options.gadgetfs, controller, target, onVanish, cutWaits,
                                     options.verbose);
}

int Serve(const GadgetOptions& options, const sim::ScenarioDisk& disk) {
  const auto udc = ChooseUdc(kUdcClass, options.udc);
  if (const auto* error = std::get_if<UdcError>(&udc)) {
    Say(error->message);
    return kSystemExit;
  }
  const UniqueFd signals = BlockSignals();
  InstallWakeSignal();
  const UniqueFd vanished(::eventfd(0, EFD_CLOEXEC));
  sim::SimulatedBridge bridge(disk.bridge);
  WakeableClock clock;
  std::function<void(const std::string&)> log;
  if (options.verbose) log = Say;
  ScsiTarget target(bridge, clock, log);
  UniqueFd arrivals;
  if (options.commandTimes) {
    arrivals = UniqueFd(
        ::open(options.commandTimes->c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (arrivals.get() < 0) {
      Say(*options.commandTimes + ": " + std::strerror(errno));
      return kSystemExit;
    }
    target.WatchArrivals(ArrivalLog(arrivals.get()));
  }
  const auto onVanish = [fd = vanished.get()] {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(fd, &one, sizeof(one));
  };
  const auto cutWaits = [&clock] { clock.WakeAll(); };
  const std::string& controller = std::get<std::string>(udc);
  const std::unique_ptr<Gadget> gadget =
      MakeGadget(options, controller, target, onVanish, cutWaits);
  const UsbIdentity identity =
      IdentityOf(disk, options.disk, target.runningVersion(), options.serial);
  std::string error;
  if (!gadget->Prepare(identity, error) || !gadget->Plug(identity, error)) {
    Say(error);
    gadget->Remove();
    return kSystemExit;
  }
  if (options.ready) std::ofstream(*options.ready) << controller << "\n";
  return Session(*gadget, target, disk.host, identity, signals.get(), vanished.get()).Run();
}

int Main(int argc, char** argv) {
  const std::vector<std::string_view> args = Arguments(argc, argv);
  const auto parsed = ParseOptions(args);
  if (const auto* error = std::get_if<UsageError>(&parsed)) {
    Say(error->message);
    std::fputs(Usage().data(), stderr);
    return kUsageExit;
  }
  const auto& options = std::get<GadgetOptions>(parsed);
  const auto loaded = sim::LoadScenario(options.scenario);
  if (const auto* error = std::get_if<sim::ScenarioError>(&loaded)) {
    Say(error->message);
    return kUsageExit;
  }
  const auto& scenario = std::get<sim::Scenario>(loaded);
  if (options.disk >= scenario.disks.size()) {
    Say("--disk " + std::to_string(options.disk) + ": the scenario has " +
        std::to_string(scenario.disks.size()) + " disk(s), numbered from 0");
    return kUsageExit;
  }
  return Serve(options, scenario.disks[options.disk]);
}

}  // namespace
}  // namespace korvane::gadget

int main(int argc, char** argv) { return korvane::gadget::Main(argc, argv); }
