// What the simulator and the tap share as long-running programs: the clock
// their logs are stamped with, and a clean stop on SIGTERM, SIGINT or SIGHUP.
#pragma once

#include "unit.hpp"

#include <poll.h>

namespace qvsim {

// CLOCK_MONOTONIC_RAW, the clock Wine's QueryPerformanceCounter counts.
Nanos monotonicRaw();

// Installs the stop handlers and blocks the stop signals except inside
// wait(), so none is lost between two looks at stopRequested().
void catchStopSignals();

// ppoll() on `fds` until `until` or a stop signal; ppoll's result.
int waitUntil(pollfd* fds, nfds_t count, Nanos until);

// The signal that asked the program to stop, or 0.
int stopSignal();

}  // namespace qvsim
