// A file written beside its place and put there only when it is whole: an existing file is
// replaced by a complete one or not at all, and nothing is written through a link someone left
// in the way.
#pragma once

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace korvane::cli {

class PendingFile {
 public:
  /// Creates a new file beside target, never one that exists already (a link included).
  static std::variant<PendingFile, std::string> Create(const std::string& target);
  PendingFile(PendingFile&&) noexcept = default;
  PendingFile& operator=(PendingFile&&) noexcept = default;
  /// A file that was not committed is removed.
  ~PendingFile();

  /// Appends text and flushes it, so that a crash leaves what was written so far beside target.
  bool Write(std::string_view text);
  /// Puts the file in target's place; the reason when it cannot.
  std::optional<std::string> Commit();

 private:
  struct Closer {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  PendingFile(std::string target, std::string temporary, std::FILE* file)
      : target_(std::move(target)), temporary_(std::move(temporary)), file_(file) {}

  std::string target_;
  std::string temporary_;
  std::unique_ptr<std::FILE, Closer> file_;
  bool failed_ = false;
};

/// Writes text to path through a PendingFile.
std::optional<std::string> WriteWholeFile(const std::string& path, std::string_view text);

}  // namespace korvane::cli
