// Drives a Unit on a real pty: poll loop, pacing timers, files and publishing.
#pragma once

#include "options.hpp"

namespace qvsim {

// Runs until stopped; returns the process exit status.
int run(const Options& options);

}  // namespace qvsim
