#include "signals.hpp"

#include <algorithm>
#include <csignal>
#include <ctime>
#include <sys/prctl.h>

namespace qvsim {

namespace {

volatile std::sig_atomic_t gSignal = 0;
sigset_t gWaitMask;

void onSignal(int number)
{
    gSignal = number;
}

}  // namespace

Nanos monotonicRaw()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_RAW, &now);
    return static_cast<Nanos>(now.tv_sec) * 1000000000LL + now.tv_nsec;
}

void catchStopSignals()
{
    sigset_t stopSignals;
    ::sigemptyset(&stopSignals);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    ::sigemptyset(&action.sa_mask);
    for (int number : {SIGTERM, SIGINT, SIGHUP})
    {
        ::sigaddset(&stopSignals, number);
        ::sigaction(number, &action, nullptr);
    }
    ::sigprocmask(SIG_BLOCK, &stopSignals, &gWaitMask);
    for (int number : {SIGTERM, SIGINT, SIGHUP})
    {
        ::sigdelset(&gWaitMask, number);
    }
    // Fine-grained timer wake-ups keep byte pacing close to the schedule.
    ::prctl(PR_SET_TIMERSLACK, 1000UL, 0, 0, 0);
}

int waitUntil(pollfd* fds, nfds_t count, Nanos until)
{
    const Nanos wait = std::max<Nanos>(0, until - monotonicRaw());
    const timespec timeout{static_cast<time_t>(wait / 1000000000LL), static_cast<long>(wait % 1000000000LL)};
    const int ready = ::ppoll(fds, count, &timeout, &gWaitMask);
    sigset_t pending;
    if (::sigpending(&pending) == 0)
    {
        // A descriptor that is always ready would otherwise keep blocked signals waiting.
        for (int number : {SIGTERM, SIGINT, SIGHUP})
        {
            if (::sigismember(&pending, number) == 1)
            {
                gSignal = number;
            }
        }
    }
    return ready;
}

int stopSignal()
{
    return gSignal;
}

}  // namespace qvsim
