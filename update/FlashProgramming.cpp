#include "FlashProgramming.h"
