// Chief header of device access, for code that uses it as a whole (the update job, the window's
// logic): the pass-through transport and its port, aligned buffers, the bridge command set, chip
// identification, discovery and the scan, and the seams the platforms fill in (disk lister, device
// changes, mount check, clock, messages, debug output).
#pragma once

#include "AccessWatch.h"
#include "BridgeCommands.h"
#include "ByteOrder.h"
#include "ChipIdentification.h"
#include "Clock.h"
#include "DebugOutput.h"
#include "DeviceChanges.h"
#include "DeviceScan.h"
#include "Discovery.h"
#include "Enclosures.h"
#include "IdentityBlock.h"
#include "MessageSink.h"
#include "MountState.h"
#include "Port.h"
#include "Transport.h"
