// The interactive request loop (not yet available: ends at once).
#include "viewer.h"

void runRequestLoop(toolDB* /*db*/) {}
