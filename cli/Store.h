// The store's names as the commands use them: every file korvane-fw keeps or writes goes
// through the store; the commands only say what became of it.
#pragma once

#include "Backups.h"
#include "FileCalls.h"
#include "History.h"
#include "ImageFile.h"
#include "OutputFile.h"

namespace korvane::cli {

using store::AppendHistory;
using store::BackupDestination;
using store::BackupFacts;
using store::BackupSerial;
using store::DefaultStateFolder;
using store::Existing;
using store::FileCalls;
using store::HistoryEnclosure;
using store::HistoryEnclosureOf;
using store::HistoryEvent;
using store::HistoryImage;
using store::HistoryImageOf;
using store::HistoryJson;
using store::HistoryPath;
using store::HistoryRead;
using store::HistoryVersion;
using store::ImageFile;
using store::kBackupFormat;
using store::kNoStateFolder;
using store::OutputFile;
using store::ReadHistory;
using store::ReadImageFile;
using store::SerialDescriptor;

}  // namespace korvane::cli
