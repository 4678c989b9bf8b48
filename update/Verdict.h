// What a scan and its version check come to, and how the window shows it: the status text, the
// picture, whether a click on the text starts the update. The windows and the command line take
// all of it from here.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace korvane {

/// The verdict of a scan and the version check it led to.
enum class CheckVerdict : std::uint8_t {
  Offer,            ///< the carried firmware replaces the running one
  UpToDate,         ///< the running firmware is current
  NothingToUpdate,  ///< a JMS583 firmware that the carried one does not replace
  NotFound,         ///< no enclosure: no candidate, or none that identification knows
  Multiple,         ///< several enclosures are attached
  Failure,          ///< the check could not decide
};

/// "offer", "up-to-date", "nothing-to-update", "not-found", "multiple" or "failure".
std::string_view VerdictName(CheckVerdict verdict);

/// The bitmap resources the window shows.
enum class Picture : std::uint8_t { Background, Good, Update, Cross };

/// The resource name of a picture: "BACKGROUND", "GOOD", "UPDATE", "CROSS".
std::string_view PictureName(Picture picture);

/// The texts of lblStaust, exactly as the window shows them.
namespace status {
inline constexpr std::string_view kLooking = "Looking for Korvane adaptor";
inline constexpr std::string_view kGettingModel = "Getting model#";
inline constexpr std::string_view kChecking = "Checking for FW update";
inline constexpr std::string_view kUpToDate = "Your product is up to date";
/// The offer begins with this, and names the catalogue's product and version after it.
inline constexpr std::string_view kOfferPrefix = "Click here to download and update the Korvane ";
inline constexpr std::string_view kNothingFound = "Cannot find any outdated Korvane devices. ";
inline constexpr std::string_view kMultiple =
    "Multiple USB drives are attached. Please disconnect all devices.\n Except the one that needs "
    "to be updated.";
inline constexpr std::string_view kUpdating = "Updating";
inline constexpr std::string_view kUpdateComplete = "Update complete";
inline constexpr std::string_view kUpdateFail = "Update Fail";
/// The offer for the chip with that code: "...the Korvane NVMe Bridge 234.01.00.02".
std::string_view OfferText(std::uint8_t chipCode);
}  // namespace status

/// How the window shows a verdict, and what the command line says the window would show.
struct VerdictDisplay {
  Picture picture = Picture::Cross;
  std::string_view text;  ///< the status text
  /// Whether a click on the text starts the update: only after an offer. Nothing where the text
  /// keeps the state the scan or the check left it in, which is disabled.
  std::optional<bool> clickable;

  /// Whether a click on the text starts the update once the verdict is shown.
  bool Clickable() const { return clickable.value_or(false); }
};

/// The window's display of a verdict on the chip with that code.
VerdictDisplay DisplayOf(CheckVerdict verdict, std::uint8_t chipCode);

}  // namespace korvane
