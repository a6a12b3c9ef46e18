#include "runner.hpp"

#include "pty_port.hpp"
#include "signals.hpp"
#include "wire_log.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <iostream>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace qvsim {

namespace {

constexpr Nanos kStopFilePeriod = 10 * kNanosPerMs;
constexpr Nanos kFloodStall = 200 * kNanosPerMs;
constexpr Nanos kAwaitReadLimit = 1000 * kNanosPerMs;

std::int64_t micros(Nanos time)
{
    return time / 1000;
}

// Bytes waiting for room in the pty. A flood segment gives up after a stall.
struct Segment
{
    Bytes data;
    std::size_t offset = 0;
    bool flood = false;
    Nanos stallDeadline = 0;
};

class Runner
{
public:
    explicit Runner(const Options& options) : options_(options), unit_(options.unit) {}

    int run();

private:
    bool start();
    void publish();
    void handle(const std::vector<Output>& outputs);
    void flush();
    void readAll();
    void unplug();
    void awaitPcRead();
    void saveImage();
    void finish(const std::string& reason);
    bool stopRequested(Nanos now, std::string& reason);
    void fail(const std::string& message) { log_.note("error: " + message); }

    const Options& options_;
    Unit unit_;
    WireLog log_;
    PtyPort port_;
    std::string linkPath_;
    std::string linkReplacement_;
    std::deque<Segment> out_;
    Nanos nextStopCheck_ = 0;
    Nanos lifetimeEnd_ = 0;
    // Only if nobody holds the slave: then the master reports a hang-up until the PC reopens.
    Nanos hangupUntil_ = 0;
    bool hangupNoted_ = false;
};

bool Runner::start()
{
    if (!options_.logFile.empty() && !log_.open(options_.logFile))
    {
        std::cerr << "qv6100-sim: cannot open log " << options_.logFile << ": " << std::strerror(errno) << "\n";
        return false;
    }
    if (!options_.readyFile.empty())
    {
        ::unlink(options_.readyFile.c_str());
    }
    std::string error;
    const bool device = !options_.device.empty();
    std::string warning;
    auto port = device ? openSerialDevice("--device", options_.device, error, &warning) : openPty(error);
    if (!port)
    {
        std::cerr << "qv6100-sim: " << error << "\n";
        return false;
    }
    if (!warning.empty())
    {
        std::cerr << "qv6100-sim: warning: " << warning << "\n";
        log_.note("warning: " + warning);
    }
    port_ = *port;
    log_.note(std::string("qv6100-sim ") + (device ? "device " : "pty ") + port_.path);
    log_.note(std::string("mode ") + (options_.unit.startInWriting ? "writing" : "normal") +
              (options_.unit.s1Auto ? " (s1 auto)" : ""));
    if (options_.unit.fault.kind != FaultKind::None)
    {
        log_.note(std::string("fault armed: ") + faultName(options_.unit.fault.kind) + " at " +
                  stepName(options_.unit.fault.at) + " " + std::to_string(options_.unit.fault.index));
    }

    if (!options_.prefix.empty())
    {
        auto path = comLinkPath(options_.prefix, options_.com, error);
        if (!path)
        {
            std::cerr << "qv6100-sim: " << error << "\n";
            return false;
        }
        linkPath_ = *path;
        linkReplacement_ = kStoppedTarget;
    }
    else
    {
        linkPath_ = options_.link;
    }
    if (!linkPath_.empty())
    {
        if (!publishLink(linkPath_, port_.path, error))
        {
            std::cerr << "qv6100-sim: " << error << "\n";
            linkPath_.clear();
            return false;
        }
        log_.note("published " + linkPath_ + " -> " + port_.path);
    }
    if (!options_.readyFile.empty() && !writeFileAtomic(options_.readyFile, port_.path, error))
    {
        std::cerr << "qv6100-sim: " << error << "\n";
        return false;
    }
    return true;
}

void Runner::handle(const std::vector<Output>& outputs)
{
    std::string error;
    for (const Output& output : outputs)
    {
        switch (output.kind)
        {
        case Output::Kind::Write:
            out_.push_back({output.bytes, 0, false, 0});
            flush();
            break;
        case Output::Kind::Note:
            log_.note(output.text);
            break;
        case Output::Kind::Unplug:
            if (output.count == 1)
            {
                awaitPcRead();
            }
            unplug();
            break;
        case Output::Kind::Flood:
            out_.push_back({floodContent(output.count, options_.unit.fault.floodSeed), 0, true, monotonicRaw() + kFloodStall});
            flush();
            break;
        case Output::Kind::ProgramReceived:
            if (!options_.programOut.empty() &&
                !writeFileAtomic(options_.programOut, unit_.program().data(), unit_.program().size(), error))
            {
                fail(error);
            }
            break;
        case Output::Kind::BlockAcknowledged:
            saveImage();
            break;
        }
    }
}

void Runner::saveImage()
{
    std::string error;
    if (!options_.imageOut.empty() &&
        !writeFileAtomic(options_.imageOut, unit_.image().data(), unit_.image().size(), error))
    {
        fail(error);
    }
}

void Runner::flush()
{
    while (!out_.empty() && port_.master >= 0)
    {
        Segment& segment = out_.front();
        const Nanos before = monotonicRaw();
        const ssize_t written =
            ::write(port_.master, segment.data.data() + segment.offset, segment.data.size() - segment.offset);
        if (written > 0)
        {
            log_.tx(micros(before), segment.data.data() + segment.offset, static_cast<std::size_t>(written));
            segment.offset += static_cast<std::size_t>(written);
            segment.stallDeadline = before + kFloodStall;
        }
        else if (written < 0 && errno == EINTR)
        {
            continue;
        }
        else if (written < 0 && errno != EAGAIN)
        {
            fail("write to the pty: " + std::string(std::strerror(errno)) + "; " +
                 std::to_string(segment.data.size() - segment.offset) + " bytes dropped");
            segment.offset = segment.data.size();
        }
        else if (segment.flood && before >= segment.stallDeadline)
        {
            segment.data.resize(segment.offset);
        }
        else
        {
            return;  // pty full: wait for POLLOUT
        }
        if (segment.offset == segment.data.size())
        {
            if (segment.flood)
            {
                log_.note("flood: sent " + std::to_string(segment.offset) + " of " +
                          std::to_string(options_.unit.fault.floodBytes) + " bytes");
            }
            out_.pop_front();
        }
    }
}

void Runner::readAll()
{
    std::uint8_t buffer[4096];
    while (port_.master >= 0)
    {
        const ssize_t n = ::read(port_.master, buffer, sizeof buffer);
        const Nanos at = monotonicRaw();
        if (n > 0)
        {
            log_.rx(micros(at), buffer, static_cast<std::size_t>(n));
            unit_.receive(buffer, static_cast<std::size_t>(n), at);
            continue;
        }
        if (n < 0 && errno == EINTR)
        {
            continue;
        }
        if (n < 0 && errno != EAGAIN)
        {
            fail("read from the pty: " + std::string(std::strerror(errno)));
        }
        return;
    }
}

// Waits until everything sent has left for the PC and the PC has read it
// from the line (the pty's input queue, seen through our own slave end, is
// empty), so that a cut right after an answer still delivers the answer.
void Runner::awaitPcRead()
{
    const Nanos deadline = monotonicRaw() + kAwaitReadLimit;
    while (!out_.empty() && monotonicRaw() < deadline)
    {
        flush();
    }
    if (port_.slave < 0)
    {
        // A serial port: the answer is on the cable once it has left the UART.
        ::tcdrain(port_.master);
        return;
    }
    int unread = 1;
    while (monotonicRaw() < deadline && ::ioctl(port_.slave, FIONREAD, &unread) == 0 && unread > 0)
    {
    }
}

void Runner::unplug()
{
    closePty(port_);
    out_.clear();
    if (!linkPath_.empty())
    {
        retractLink(linkPath_, port_.path, linkReplacement_);
    }
    log_.note("unplugged");
}

bool Runner::stopRequested(Nanos now, std::string& reason)
{
    if (stopSignal() != 0)
    {
        reason = std::string("signal ") + ::strsignal(stopSignal());
        return true;
    }
    if (now >= lifetimeEnd_)
    {
        reason = "lifetime over";
        return true;
    }
    if (!options_.stopFile.empty() && now >= nextStopCheck_)
    {
        nextStopCheck_ = now + kStopFilePeriod;
        if (::access(options_.stopFile.c_str(), F_OK) == 0)
        {
            reason = "stop file";
            return true;
        }
    }
    return false;
}

void Runner::finish(const std::string& reason)
{
    log_.note("stopping: " + reason);
    if (unit_.blockTransferStarted())
    {
        saveImage();
    }
    if (port_.master >= 0)
    {
        if (!linkPath_.empty())
        {
            retractLink(linkPath_, port_.path, linkReplacement_);
        }
        closePty(port_);
    }
    // The last line: every file is written and the port is gone.
    log_.note("stopped");
}

int Runner::run()
{
    if (!start())
    {
        if (!linkPath_.empty())
        {
            retractLink(linkPath_, port_.path, linkReplacement_);
        }
        closePty(port_);
        return 1;
    }
    lifetimeEnd_ = monotonicRaw() + static_cast<Nanos>(options_.lifetimeSeconds * 1e9);

    std::string reason;
    for (;;)
    {
        Nanos now = monotonicRaw();
        handle(unit_.advance(now));
        flush();
        now = monotonicRaw();
        if (stopRequested(now, reason))
        {
            break;
        }

        Nanos wake = std::min(unit_.nextDue(), lifetimeEnd_);
        if (!options_.stopFile.empty())
        {
            wake = std::min(wake, nextStopCheck_);
        }
        const bool masterQuiet = now < hangupUntil_;
        if (masterQuiet)
        {
            wake = std::min(wake, hangupUntil_);
        }
        pollfd fd{masterQuiet ? -1 : port_.master, 0, 0};
        if (port_.master >= 0)
        {
            fd.events = POLLIN;
            if (!out_.empty())
            {
                fd.events |= POLLOUT;
                if (out_.front().flood)
                {
                    wake = std::min(wake, out_.front().stallDeadline);
                }
            }
        }
        const int ready = waitUntil(&fd, 1, wake);
        if (ready < 0 && errno != EINTR)
        {
            fail("ppoll: " + std::string(std::strerror(errno)));
            reason = "poll failure";
            break;
        }
        if (ready > 0 && (fd.revents & POLLIN) != 0)
        {
            readAll();
        }
        else if (ready > 0 && (fd.revents & (POLLHUP | POLLERR)) != 0)
        {
            if (!hangupNoted_)
            {
                fail("pty master hung up");
                hangupNoted_ = true;
            }
            hangupUntil_ = monotonicRaw() + kStopFilePeriod;
        }
    }
    finish(reason);
    return 0;
}

}  // namespace

int run(const Options& options)
{
    catchStopSignals();
    Runner runner(options);
    return runner.run();
}

}  // namespace qvsim
