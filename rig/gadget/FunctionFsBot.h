// Bulk-Only Transport on FunctionFS: the ep0 events, and the command loop on the two bulk
// endpoints. usb-storage binds to it.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "BulkOnly.h"
#include "LinuxSystem.h"

namespace korvane::gadget {

/// The FunctionFS side of a Bulk-Only function mounted at one directory.
class FunctionFsBot {
 public:
  /// onVanish is called from the command thread when the bridge has gone; cutWaits ends the
  /// target's pauses, so that a command thread that must stop is not held by a late answer.
  FunctionFsBot(ScsiTarget& target, std::function<void()> onVanish, std::function<void()> cutWaits,
                bool verbose);
  ~FunctionFsBot() { Close(); }

  /// Writes descriptors and strings to ep0, opens the endpoints and starts both threads.
  bool Open(const std::string& mountDir, std::string& error);
  /// Stops the threads and closes every endpoint, which lets the file system be unmounted.
  void Close();

 private:
  void Abandon();
  void Ep0Loop();
  void HandleSetup(const void* request);
  void CommandLoop();
  void Serve(const Cbw& cbw);
  bool ReadDataOut(std::vector<std::uint8_t>& data, std::uint32_t length);
  bool SendAnswer(const BotAnswer& answer);
  std::uint32_t InMaxPacket() const;

  BulkOnlySession session_;
  std::function<void()> onVanish_;
  std::function<void()> cutWaits_;
  bool verbose_;
  UniqueFd ep0_;
  UniqueFd in_;
  UniqueFd out_;
  Worker ep0Worker_;
  Worker commandWorker_;
  // Bumped by a Bulk-Only reset and by DISABLE: an answer computed across one is dropped.
  std::atomic<unsigned> generation_{0};
};

}  // namespace korvane::gadget
