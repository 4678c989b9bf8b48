// One JSON object per command, for trace files that tools and tests read back.
#pragma once

#include <string>

#include "Transport.h"

namespace korvane {

/// {"path", "cdb", "dir", "len", "ok"} and, for data out, "data"; hex in lower case.
std::string TraceJson(const TraceRecord& record);

}  // namespace korvane
