// qv6100-tap: sits between the PC and a QV-6100 on two serial ports, passes
// every byte on at once, both ways, and writes each down with its time in the
// simulator's wire-log format; and compares such a log with the simulator's
// protocol core.
#pragma once

#include <string>
#include <vector>

namespace qvsim {

struct TapOptions
{
    std::string pc;
    std::string unit;
    std::string logFile;
    double lifetimeSeconds = 86400.0;
};

// Runs until Ctrl+C (or SIGTERM, SIGHUP), the lifetime's end or a lost port;
// returns the exit status.
int runTap(const TapOptions& options);

// Feeds what the PC sent, at its times, to the simulator's core made by the
// simulator options `simulator`, and compares its answers with the unit's.
// Prints the report to `out`; 0 when the answers agree, 1 when they differ,
// 2 when the log or the options cannot be used.
int compareLog(const std::string& logText, const std::vector<std::string>& simulator, std::ostream& out);

}  // namespace qvsim
