// POSIX implementation of the platform layer (placeholder, being written).
#include "platform/platform.h"
