#include "sim_process.hpp"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace qvtest {
using namespace qvsim;

namespace {

using Clock = std::chrono::steady_clock;
constexpr milliseconds kPollStep(2);

pid_t spawn(const std::vector<std::string>& args, const std::string& outPath, const std::string& errPath)
{
    std::vector<std::string> all{QVSIM_EXECUTABLE};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : all)
    {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
    {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

// Exit status once the child has exited, or nullopt while it runs.
std::optional<int> reap(pid_t pid, bool block)
{
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, block ? 0 : WNOHANG);
    if (done != pid)
    {
        return std::nullopt;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::optional<int> waitFor(pid_t pid, milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    for (;;)
    {
        if (const auto status = reap(pid, false))
        {
            return status;
        }
        if (Clock::now() >= deadline)
        {
            return std::nullopt;
        }
        std::this_thread::sleep_for(kPollStep);
    }
}

bool hasOption(const std::vector<std::string>& args, const std::string& name)
{
    for (const auto& arg : args)
    {
        if (arg == name || arg.rfind(name + "=", 0) == 0)
        {
            return true;
        }
    }
    return false;
}

}  // namespace

Bytes text(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

CommandResult runSimulator(const std::vector<std::string>& args, milliseconds limit)
{
    TempDir dir;
    CommandResult result;
    const pid_t pid = spawn(args, dir.file("out"), dir.file("err"));
    if (pid < 0)
    {
        return result;
    }
    const auto status = waitFor(pid, limit);
    if (!status)
    {
        ::kill(pid, SIGKILL);
        reap(pid, true);
    }
    result.status = status.value_or(-1);
    result.out = readText(dir.file("out"));
    result.err = readText(dir.file("err"));
    return result;
}

SimProcess::SimProcess(const std::vector<std::string>& args)
{
    std::vector<std::string> all = args;
    for (auto& arg : all)
    {
        for (auto at = arg.find("@DIR@"); at != std::string::npos; at = arg.find("@DIR@"))
        {
            arg.replace(at, 5, dir_.path());
        }
    }
    if (!hasOption(args, "--prefix") && !hasOption(args, "--link") && !hasOption(args, "--device"))
    {
        link_ = dir_.file("com1");
        all.insert(all.end(), {"--link", link_});
    }
    all.insert(all.end(), {"--ready", dir_.file("ready"), "--stop-file", dir_.file("stop")});
    if (!hasOption(args, "--log"))
    {
        all.insert(all.end(), {"--log", dir_.file("wire.log")});
    }
    if (!hasOption(args, "--lifetime"))
    {
        all.insert(all.end(), {"--lifetime", "120"});
    }
    pid_ = spawn(all, dir_.file("stdout"), dir_.file("stderr"));
    if (pid_ < 0)
    {
        failure_ = "spawn failed";
        return;
    }
    const auto deadline = Clock::now() + milliseconds(10000);
    while (Clock::now() < deadline)
    {
        if (::access(dir_.file("ready").c_str(), F_OK) == 0)
        {
            ptyPath_ = readText(dir_.file("ready"));
            ready_ = true;
            return;
        }
        if (!running())
        {
            failure_ = "exited with " + std::to_string(status_) + ": " + readText(dir_.file("stderr"));
            return;
        }
        std::this_thread::sleep_for(kPollStep);
    }
    failure_ = "no ready file in time";
}

SimProcess::~SimProcess()
{
    if (pid_ > 0 && !exited_ && stop() < 0 && !exited_)
    {
        ::kill(pid_, SIGKILL);
        reap(pid_, true);
    }
}

bool SimProcess::running()
{
    if (exited_ || pid_ < 0)
    {
        return false;
    }
    if (const auto status = reap(pid_, false))
    {
        exited_ = true;
        status_ = *status;
        return false;
    }
    return true;
}

int SimProcess::stop(milliseconds limit)
{
    std::ofstream(dir_.file("stop")) << "stop\n";
    return waitExit(limit);
}

int SimProcess::waitExit(milliseconds limit)
{
    if (exited_)
    {
        return status_;
    }
    if (pid_ < 0)
    {
        return -1;
    }
    if (const auto status = waitFor(pid_, limit))
    {
        exited_ = true;
        status_ = *status;
        return status_;
    }
    return -1;
}

WireLogReader SimProcess::log() const
{
    return WireLogReader(readText(dir_.file("wire.log")));
}

bool SimProcess::waitForLog(const std::function<bool(const WireLogReader&)>& done, milliseconds limit) const
{
    const auto deadline = Clock::now() + limit;
    for (;;)
    {
        if (done(log()))
        {
            return true;
        }
        if (Clock::now() >= deadline)
        {
            return false;
        }
        std::this_thread::sleep_for(kPollStep);
    }
}

bool SimProcess::waitForNote(const std::string& fragment, milliseconds limit) const
{
    return waitForLog([&](const WireLogReader& log) { return log.hasNote(fragment); }, limit);
}

Port::Port(const std::string& path, bool raw)
{
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0 || !raw)
    {
        return;
    }
    termios settings{};
    if (::tcgetattr(fd_, &settings) == 0)
    {
        settings.c_iflag &=
            ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF);
        settings.c_oflag &= ~static_cast<tcflag_t>(OPOST);
        settings.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
        settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
        settings.c_cflag |= CS8 | CLOCAL | CREAD;
        ::cfsetispeed(&settings, B9600);
        ::cfsetospeed(&settings, B9600);
        ::tcsetattr(fd_, TCSANOW, &settings);
    }
}

Port::~Port()
{
    close();
}

void Port::close()
{
    if (fd_ >= 0)
    {
        ::close(fd_);
        fd_ = -1;
    }
}

bool Port::send(const Bytes& bytes)
{
    std::size_t done = 0;
    const auto deadline = Clock::now() + milliseconds(5000);
    while (done < bytes.size() && Clock::now() < deadline)
    {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0)
        {
            done += static_cast<std::size_t>(n);
        }
        else if (n < 0 && (errno == EAGAIN || errno == EINTR))
        {
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
        else
        {
            return false;
        }
    }
    return done == bytes.size();
}

Bytes Port::receive(std::size_t count, milliseconds limit)
{
    Bytes data;
    const auto deadline = Clock::now() + limit;
    while (data.size() < count)
    {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
        {
            break;
        }
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left)) <= 0)
        {
            continue;
        }
        std::uint8_t buffer[4096];
        const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - data.size()));
        if (n > 0)
        {
            data.insert(data.end(), buffer, buffer + n);
        }
        else if (!(n < 0 && (errno == EAGAIN || errno == EINTR)))
        {
            break;
        }
    }
    return data;
}

Bytes Port::receiveSome(std::size_t maximum, milliseconds limit)
{
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(limit.count())) <= 0)
    {
        return {};
    }
    Bytes data(maximum);
    const ssize_t n = ::read(fd_, data.data(), maximum);
    data.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return data;
}

bool Port::waitHangup(milliseconds limit)
{
    const auto deadline = Clock::now() + limit;
    while (Clock::now() < deadline)
    {
        pollfd p{fd_, POLLIN, 0};
        ::poll(&p, 1, 50);
        if ((p.revents & (POLLHUP | POLLERR)) != 0)
        {
            return true;
        }
        if ((p.revents & POLLIN) != 0)
        {
            std::uint8_t buffer[256];
            const ssize_t n = ::read(fd_, buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno == EIO))
            {
                return true;
            }
        }
    }
    return false;
}

}  // namespace qvtest
