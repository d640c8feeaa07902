#pragma once

#include "protocol/Telemetry.h"

// One broadcast cycle without its pause: the four readings in the line's
// order, one telemetry line, and one send phase to every client. Returns the
// line that was sent.
TelemetryLine broadcastOneCycle();
