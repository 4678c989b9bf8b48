// The machine's file calls, counted and written down in their order, one of which can be made to
// fail: a run cut at that call, as a full disk or a pulled cable would.
#pragma once

#include <string>
#include <vector>

#include "FileCalls.h"

namespace korvane::store::testing {

class FailingCalls final : public FileCalls {
 public:
  /// Fails the call of this number (0 the first); -1: none.
  explicit FailingCalls(int failAt = -1) : failAt_(failAt) {}

  int CreateNew(const std::string& path, std::error_code& error) override {
    if (Fails("create")) {
      error = std::make_error_code(std::errc::no_space_on_device);
      return -1;
    }
    return machine_.CreateNew(path, error);
  }
  std::error_code Write(int descriptor, std::string_view bytes) override {
    return Fails("write") ? Failure() : machine_.Write(descriptor, bytes);
  }
  std::error_code Sync(int descriptor) override {
    return Fails("sync") ? Failure() : machine_.Sync(descriptor);
  }
  std::error_code Adopt(int descriptor, const Ownership& ownership) override {
    return Fails("adopt") ? Failure() : machine_.Adopt(descriptor, ownership);
  }
  std::error_code Close(int descriptor) override {
    // The descriptor goes even when the call is said to fail, as close(2) lets it go.
    const std::error_code closed = machine_.Close(descriptor);
    return Fails("close") ? Failure() : closed;
  }
  std::error_code Replace(const std::string& from, const std::string& to) override {
    return Fails("replace") ? Failure() : machine_.Replace(from, to);
  }
  std::error_code Claim(const std::string& from, const std::string& to) override {
    return Fails("claim") ? Failure() : machine_.Claim(from, to);
  }
  std::error_code Remove(const std::string& path) override {
    // Cleaning up is never what fails here: a run that cannot remove its own file leaves it.
    calls.push_back("remove");
    return machine_.Remove(path);
  }
  std::error_code SyncFolder(const std::string& folder) override {
    return Fails("sync-folder") ? Failure() : machine_.SyncFolder(folder);
  }

  /// The calls made, by name, in their order.
  std::vector<std::string> calls;

 private:
  bool Fails(const char* name) {
    calls.push_back(name);
    return counted_++ == failAt_;
  }
  static std::error_code Failure() { return std::make_error_code(std::errc::io_error); }

  FileCalls& machine_ = MachineFileCalls();
  int failAt_;
  int counted_ = 0;
};

}  // namespace korvane::store::testing
