// Command line of qv6100-sim.
#pragma once

#include "unit.hpp"

#include <optional>
#include <string>
#include <vector>

namespace qvsim {

struct Options
{
    Config unit;

    std::string prefix;  // Wine prefix: publish as <prefix>/dosdevices/com<N>
    int com = 0;
    std::string link;  // or publish at this path
    std::string device;  // or sit on this serial port, not on a pseudo-terminal

    std::string readyFile;
    std::string stopFile;
    std::string logFile;
    std::string programOut;
    std::string imageOut;
    double lifetimeSeconds = 600.0;

    bool help = false;
};

struct ParseResult
{
    std::optional<Options> options;  // empty on error
    std::string error;
};

// `args` excludes the program name.
ParseResult parseOptions(const std::vector<std::string>& args);

// The options that make a unit as `config` says: parseOptions() of them gives
// `config` back.
std::vector<std::string> unitArguments(const Config& config);

// Every option the parser knows, as written on the command line.
std::vector<std::string> optionNames();

std::string usageText();

}  // namespace qvsim
