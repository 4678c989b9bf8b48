// Chief header of device access: the transport, aligned buffers and the bridge command set.
#pragma once

#include "BridgeCommands.h"
#include "ByteOrder.h"
#include "ChipIdentification.h"
#include "Clock.h"
#include "Discovery.h"
#include "Port.h"
#include "Transport.h"
