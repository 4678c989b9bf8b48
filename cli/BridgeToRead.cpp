#include "BridgeToRead.h"

namespace korvane::cli {

std::optional<NoBridgeToRead> WhyNoBridgeToRead(const JobSession& session,
                                                const CheckReport& check) {
  if (session.job().check().chip != nullptr && !check.checkedPath.empty()) return std::nullopt;
  const bool rights = session.job().RightsExplain();
  if (check.verdict == CheckVerdict::NotFound || check.verdict == CheckVerdict::Multiple) {
    return NoBridgeToRead{check.reason.value_or(check.statusText),
                          CheckExitCode(check.verdict, rights)};
  }
  return NoBridgeToRead{"no enclosure of a chip this program updates was identified: " +
                            check.reason.value_or("the check failed"),
                        rights ? exitcode::kNoRights : exitcode::kFailure};
}

}  // namespace korvane::cli
