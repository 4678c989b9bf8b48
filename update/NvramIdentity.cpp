#include "NvramIdentity.h"
