#include "tap.hpp"

#include "pty_port.hpp"
#include "signals.hpp"
#include "wire_log.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <unistd.h>
#include <vector>

namespace qvsim {

namespace {

constexpr Nanos kByteTimeAt9600 = 10LL * 1000000000LL / 9600;

// One side of the line. What is read from the PC's side reached the unit (the
// wire log's "rx"), what is read from the unit's side left it ("tx").
struct Side
{
    const char* option;
    std::string path;
    PtyPort port;
    std::uint64_t bytes = 0;
    std::vector<Nanos> delays;  // each read: from the read to the end of its write on the other side
};

// Writes all of `data` to `fd`, waiting for room; false on an error.
bool writeAll(int fd, const std::uint8_t* data, std::size_t size)
{
    while (size > 0)
    {
        const ssize_t n = ::write(fd, data, size);
        if (n > 0)
        {
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        else if (n < 0 && errno == EAGAIN)
        {
            pollfd room{fd, POLLOUT, 0};
            ::poll(&room, 1, 100);
        }
        else if (n < 0 && errno != EINTR)
        {
            return false;
        }
    }
    return true;
}

std::string microseconds(Nanos value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.0f us", static_cast<double>(value) / 1000.0);
    return text;
}

// "N bytes in K reads, added median X, largest Y".
std::string summary(const Side& from, const Side& to)
{
    std::string text = std::string(from.option) + " to " + to.option + ": " + std::to_string(from.bytes) +
                       " bytes in " + std::to_string(from.delays.size()) + " reads";
    if (from.delays.empty())
    {
        return text;
    }
    std::vector<Nanos> sorted = from.delays;
    std::sort(sorted.begin(), sorted.end());
    return text + "; added median " + microseconds(sorted[sorted.size() / 2]) + ", largest " +
           microseconds(sorted.back());
}

}  // namespace

int runTap(const TapOptions& options)
{
    catchStopSignals();
    WireLog log;
    if (!log.open(options.logFile))
    {
        std::cerr << "qv6100-tap: cannot open log " << options.logFile << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    Side sides[2] = {{"--pc", options.pc, {}, 0, {}}, {"--unit", options.unit, {}, 0, {}}};
    for (Side& side : sides)
    {
        std::string error, warning;
        auto port = openSerialDevice(side.option, side.path, error, &warning);
        if (!port)
        {
            std::cerr << "qv6100-tap: " << error << "\n";
            for (Side& opened : sides)
            {
                closePty(opened.port);
            }
            return 1;
        }
        side.port = *port;
        if (!warning.empty())
        {
            std::cerr << "qv6100-tap: warning: " << warning << "\n";
            log.note("warning: " + warning);
        }
    }
    log.note("qv6100-tap pc " + sides[0].path + " unit " + sides[1].path);
    std::cout << "qv6100-tap: passing bytes between the PC (" << sides[0].path << ") and the unit ("
              << sides[1].path << "); wire log " << options.logFile << ". Stop with Ctrl+C." << std::endl;

    const Nanos end = monotonicRaw() + static_cast<Nanos>(options.lifetimeSeconds * 1e9);
    std::string reason = "lifetime over";
    std::uint8_t buffer[4096];
    while (monotonicRaw() < end)
    {
        if (stopSignal() != 0)
        {
            reason = std::string("signal ") + ::strsignal(stopSignal());
            break;
        }
        pollfd fds[2] = {{sides[0].port.master, POLLIN, 0}, {sides[1].port.master, POLLIN, 0}};
        if (waitUntil(fds, 2, end) < 0 && errno != EINTR)
        {
            reason = std::string("poll: ") + std::strerror(errno);
            break;
        }
        bool lost = false;
        for (int i = 0; i < 2 && !lost; ++i)
        {
            if (fds[i].revents == 0)
            {
                continue;
            }
            Side& from = sides[i];
            Side& to = sides[1 - i];
            const ssize_t n = ::read(from.port.master, buffer, sizeof buffer);
            const Nanos read = monotonicRaw();
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
            {
                continue;
            }
            if (n <= 0 || !writeAll(to.port.master, buffer, static_cast<std::size_t>(n)))
            {
                reason = std::string(n <= 0 ? from.option : to.option) + " " + (n <= 0 ? from.path : to.path) +
                         ": " + (n == 0 ? std::string("hung up") : std::strerror(errno));
                lost = true;
                break;
            }
            from.delays.push_back(monotonicRaw() - read);
            from.bytes += static_cast<std::size_t>(n);
            if (i == 0)
            {
                log.rx(read / 1000, buffer, static_cast<std::size_t>(n));
            }
            else
            {
                log.tx(read / 1000, buffer, static_cast<std::size_t>(n));
            }
        }
        if (lost)
        {
            break;
        }
    }
    const std::string report[2] = {summary(sides[0], sides[1]), summary(sides[1], sides[0])};
    log.note("stopping: " + reason);
    for (const std::string& line : report)
    {
        log.note(line);
        std::cout << "qv6100-tap: " << line << "\n";
    }
    std::cout << "qv6100-tap: a byte takes " << microseconds(kByteTimeAt9600) << " at 9600 baud; stopped ("
              << reason << ")" << std::endl;
    for (Side& side : sides)
    {
        closePty(side.port);
    }
    log.note("stopped");
    return 0;
}

}  // namespace qvsim
