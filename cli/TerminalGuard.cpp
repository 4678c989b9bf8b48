#include "TerminalGuard.h"

#include <algorithm>

#include "Text.h"

namespace korvane::cli {
namespace {

bool EndsLine(char c) { return c == '\n' || c == '\r'; }

}  // namespace

TerminalGuardBuffer::~TerminalGuardBuffer() { Forward(true); }

TerminalGuardBuffer::int_type TerminalGuardBuffer::overflow(int_type c) {
  if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
  const char written = traits_type::to_char_type(c);
  pending_ += written;
  if (EndsLine(written)) Forward(false);
  return c;
}

std::streamsize TerminalGuardBuffer::xsputn(const char* text, std::streamsize count) {
  pending_.append(text, static_cast<std::size_t>(count));
  if (std::any_of(text, text + count, EndsLine)) Forward(false);
  return count;
}

int TerminalGuardBuffer::sync() {
  Forward(true);
  return 0;
}

void TerminalGuardBuffer::Forward(bool flush) {
  if (!broken_ && !pending_.empty()) out_ << PrintableLines(pending_);
  pending_.clear();
  if (!broken_ && flush) out_.flush();
  if (broken_ || out_.good()) return;
  broken_ = true;
  if (broke_) broke_();
}

}  // namespace korvane::cli
