#include "SysfsPath.h"

#include <algorithm>
#include <deque>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace korvane {
namespace {

namespace fs = std::filesystem;

// The kernel gives up after 40 links in one lookup; a looping tree must not hang the caller.
constexpr int kMaxLinks = 40;

/// Follows a path inside root the way a lookup would with root as "/", one component at a
/// time, so neither a link nor ".." can lead out of the tree. The result is the path below
/// root with no links left in it, so whatever is read through it stays in the tree too.
class ConfinedPath {
 public:
  explicit ConfinedPath(fs::path root) : root_(std::move(root)) {}

  std::optional<fs::path> Resolve(const fs::path& relative) {
    std::deque<fs::path> pending(relative.begin(), relative.end());
    while (!pending.empty()) {
      fs::path part = std::move(pending.front());
      pending.pop_front();
      if (!Step(part, pending)) return std::nullopt;
    }
    fs::path resolved;
    for (const fs::path& name : below_) resolved /= name;
    return resolved;
  }

 private:
  fs::path Current() const {
    fs::path path = root_;
    for (const fs::path& part : below_) path /= part;
    return path;
  }

  bool Step(const fs::path& part, std::deque<fs::path>& pending) {
    if (part.empty() || part == ".") return true;
    if (part == "..") {
      if (below_.empty()) return false;
      below_.pop_back();
      return true;
    }
    const fs::path next = Current() / part;
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(next, ec);
    if (ec || !fs::exists(status)) return false;
    if (!fs::is_symlink(status)) {
      below_.push_back(part);
      return true;
    }
    return Follow(next, pending);
  }

  // sysfs links are always relative; an absolute one would leave the tree we were given.
  bool Follow(const fs::path& link, std::deque<fs::path>& pending) {
    if (++links_ > kMaxLinks) return false;
    std::error_code ec;
    const fs::path target = fs::read_symlink(link, ec);
    if (ec || target.empty() || target.is_absolute()) return false;
    pending.insert(pending.begin(), target.begin(), target.end());
    return true;
  }

  fs::path root_;
  std::vector<fs::path> below_;
  int links_ = 0;
};

}  // namespace

std::optional<fs::path> ResolveIn(const fs::path& root, const fs::path& relative) {
  return ConfinedPath(root).Resolve(relative);
}
bool AllOf(std::string_view text, bool (*test)(char)) {
  return !text.empty() && std::all_of(text.begin(), text.end(), test);
}

}  // namespace korvane
