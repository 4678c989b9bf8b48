// The last stop before standard output and standard error. Whatever a command prints passes
// through PrintableLines on its way, so that no escape sequence reaches the terminal even where a
// text from a device was printed without Printable; and an output that breaks (a pipe whose reader
// went away, as with "korvane-fw update | head") is said once and then swallowed, so that the
// command, perhaps between two blocks of a flash write, goes on to its outcome.
#pragma once

#include <functional>
#include <ostream>
#include <streambuf>
#include <string>

namespace korvane::cli {

/// A stream buffer that passes lines to another stream, made printable.
class TerminalGuardBuffer final : public std::streambuf {
 public:
  /// broke runs once, the first time out fails.
  TerminalGuardBuffer(std::ostream& out, std::function<void()> broke)
      : out_(out), broke_(std::move(broke)) {}
  ~TerminalGuardBuffer() override;
  TerminalGuardBuffer(const TerminalGuardBuffer&) = delete;
  TerminalGuardBuffer& operator=(const TerminalGuardBuffer&) = delete;

  bool broken() const { return broken_; }

 protected:
  int_type overflow(int_type c) override;
  std::streamsize xsputn(const char* text, std::streamsize count) override;
  int sync() override;

 private:
  /// Passes on what is pending; with flush, out is flushed too.
  void Forward(bool flush);

  std::ostream& out_;
  std::function<void()> broke_;
  std::string pending_;  ///< text up to the next line end, carriage return or flush
  bool broken_ = false;
};

/// An ostream over a TerminalGuardBuffer; it never fails itself.
class TerminalGuard final : public std::ostream {
 public:
  TerminalGuard(std::ostream& target, std::function<void()> broke)
      : std::ostream(nullptr), buffer_(target, std::move(broke)) {
    rdbuf(&buffer_);
  }
  ~TerminalGuard() override { flush(); }

 private:
  TerminalGuardBuffer buffer_;
};

}  // namespace korvane::cli
