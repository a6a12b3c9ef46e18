#include "options.hpp"
#include "runner.hpp"

#include <iostream>

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + 1, argv + argc);
    const qvsim::ParseResult parsed = qvsim::parseOptions(args);
    if (!parsed.options)
    {
        std::cerr << "qv6100-sim: " << parsed.error << "\n";
        return 2;
    }
    if (parsed.options->help)
    {
        std::cout << qvsim::usageText();
        return 0;
    }
    return qvsim::run(*parsed.options);
}
