// One JSON object per command, for trace files that tools and tests read back.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "Text.h"
#include "Transport.h"

namespace korvane {

/// {"path", "cdb", "dir", "len", "ok"}, for data out "data", and with the record's outcome the
/// answer: "stage", "os_error", "status", "host", "driver", "transferred", "sense" when the
/// platform wrote some, and for data in the "answer" bytes the device transferred. Hex in lower
/// case.
std::string TraceJson(const TraceRecord& record);

}  // namespace korvane
