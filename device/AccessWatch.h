// Tells afterwards whether a command was turned away for want of rights, so that a program can
// say "run as administrator or root" instead of "nothing found".
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Port.h"

namespace korvane {

/// A port that forwards everything to another and notes the opens and requests it refused
/// because the user lacks the rights to the disk, by the other port's own judgement.
class AccessWatch final : public ForwardingPort {
 public:
  explicit AccessWatch(Port& inner) : ForwardingPort(inner) {}

  /// True once an open or a request was refused for want of rights.
  bool denied() const { return denials_ > 0; }
  /// True once that happened on the disk at path (letter case does not count).
  bool DeniedFor(std::string_view path) const;
  /// How many opens and requests were refused so far.
  std::size_t denials() const { return denials_; }

  PortOpen Open(std::string_view path, Direction direction) override;
  PortReply Execute(PortHandle handle, const PortRequest& request) override;
  void Close(PortHandle handle) override;

 private:
  void Note(std::string_view path);

  std::size_t denials_ = 0;
  std::vector<std::string> deniedPaths_;
  std::vector<std::pair<PortHandle, std::string>> openPaths_;
};

}  // namespace korvane
