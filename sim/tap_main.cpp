#include "tap.hpp"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

const char kUsage[] = R"(Usage: qv6100-tap --pc DEVICE --unit DEVICE --log FILE [--lifetime SEC]
       qv6100-tap --compare FILE [-- SIMULATOR OPTIONS]
Sits between a PC and a QV-6100 on two serial ports of this machine and
passes every byte from one to the other as soon as it is read, both ways.

  --pc DEVICE      the serial port cabled to the PC (for example /dev/ttyUSB0)
  --unit DEVICE    the serial port cabled to the QV-6100 (for example /dev/ttyUSB1)
                   Both are opened raw at 9600 baud 8N1 without flow control
                   and held exclusively; a path that is not a serial device, or
                   one another program has open or holds, is refused.
  --log FILE       the wire log, in qv6100-sim's format, flushed per line:
                     <t_us> rx <hex bytes>   a read from the PC's side (to the unit)
                     <t_us> tx <hex bytes>   a read from the unit's side (to the PC)
                     # <note>
                   t_us is CLOCK_MONOTONIC_RAW in microseconds, when the tap read
                   the bytes.
  --lifetime SEC   stop after SEC seconds (default 86400); Ctrl+C, SIGTERM and
                   SIGHUP stop it too. At the end it says, for each direction,
                   how many bytes it passed on and how long each read took to
                   reach the other side (median and largest): what it adds to
                   the line, against 1042 us a byte at 9600 baud.

  --compare FILE   feeds what the PC sent, at its times, to qv6100-sim's protocol
                   core and sets the core's answers beside the unit's, update by
                   update (a line quiet for 2 s starts the next): the first byte
                   that differs and the answer it belongs to, how far the update
                   got, and each kind of answer's latency (from the PC's last
                   byte; for "erase", the deletion of the old firmware) for the
                   unit and the core. The core is made by the simulator's options
                   after "--" (default: --s1 auto). Exit status 0 when they agree,
                   1 when they differ, 2 when the log cannot be used.
)";

int usageError(const std::string& message)
{
    std::cerr << "qv6100-tap: " << message << " (see --help)\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    qvsim::TapOptions options;
    std::string compare;
    std::vector<std::string> simulator;
    for (int i = 1; i < argc; ++i)
    {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h")
        {
            std::cout << kUsage;
            return 0;
        }
        if (arg == "--" && !compare.empty())
        {
            simulator.assign(argv + i + 1, argv + argc);
            break;
        }
        if (i + 1 >= argc)
        {
            return usageError(arg + " needs a value, or is not an option");
        }
        const std::string value = argv[++i];
        if (arg == "--pc")
            options.pc = value;
        else if (arg == "--unit")
            options.unit = value;
        else if (arg == "--log")
            options.logFile = value;
        else if (arg == "--compare")
            compare = value;
        else if (arg == "--lifetime")
        {
            char* end = nullptr;
            errno = 0;
            options.lifetimeSeconds = std::strtod(value.c_str(), &end);
            if (*end != '\0' || errno != 0 || !std::isfinite(options.lifetimeSeconds) ||
                options.lifetimeSeconds <= 0 || options.lifetimeSeconds > 86400 * 365)
            {
                return usageError("--lifetime: expected seconds, got '" + value + "'");
            }
        }
        else
        {
            return usageError("unknown argument '" + arg + "'");
        }
    }
    if (!compare.empty())
    {
        if (!options.pc.empty() || !options.unit.empty() || !options.logFile.empty())
        {
            return usageError("--compare reads a log: no --pc, --unit or --log with it");
        }
        std::ifstream file(compare, std::ios::binary);
        if (!file)
        {
            std::cerr << "qv6100-tap: cannot read " << compare << "\n";
            return 2;
        }
        std::ostringstream text;
        text << file.rdbuf();
        return qvsim::compareLog(text.str(), simulator, std::cout);
    }
    if (options.pc.empty() || options.unit.empty() || options.logFile.empty())
    {
        return usageError("--pc, --unit and --log are needed");
    }
    if (options.pc == options.unit)
    {
        return usageError("--pc and --unit name the same port");
    }
    return qvsim::runTap(options);
}
