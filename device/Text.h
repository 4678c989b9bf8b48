// Small text helpers every layer uses. Above all: text that this program did not write, made safe
// for a terminal. A bridge's model text, a trace, a scenario file, a mount point or a path can hold
// an escape sequence that clears the screen or rings the bell, or a newline that starts a line
// looking like one of ours ("Update complete").
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace korvane {

/// text with every control character (C0 with newline, carriage return and tab, DEL, and the C1
/// controls) and every byte that is not part of well-formed UTF-8 written as \xNN; the rest as is.
std::string Printable(std::string_view text);

/// Like Printable, but keeps newline, carriage return and tab: for output that this program wrote
/// itself, where those end lines and redraw the progress bar.
std::string PrintableLines(std::string_view text);

/// Which letters hex digits take.
enum class HexCase : std::uint8_t { Lower, Upper };

/// Bytes as hex, two digits each, with separator between bytes: lower case and none, as trace
/// lines and messages about them write them.
std::string HexText(std::span<const std::uint8_t> bytes, HexCase letters = HexCase::Lower,
                    std::string_view separator = {});

/// A number as "0x" and as many pairs of hex digits as it needs: "0x3b", "0x011000".
std::string HexNumber(std::uint32_t value, HexCase letters = HexCase::Lower);

/// text with A to Z made lower case, nothing else changed: for names that compare without case
/// (Windows paths and device names), whatever the locale.
std::string AsciiLower(std::string_view text);

/// True when a and b are the same text but for the case of A to Z: device paths, which name the
/// same disk whatever their letter case. Allocates nothing.
bool SameIgnoringCase(std::string_view a, std::string_view b);

/// Orders texts as their AsciiLower forms order (bytes compared unsigned), without making them:
/// for sets of paths looked up whatever their case.
struct LessIgnoringCase {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const;
};

}  // namespace korvane
