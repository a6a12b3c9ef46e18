#include "pty_port.hpp"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace qvsim {

namespace {

std::string describe(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

bool symlinkAtomic(const std::string& path, const std::string& target, std::string& error)
{
    const std::string temporary = path + ".qv6100-sim." + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0)
    {
        error = describe("symlink " + temporary);
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0)
    {
        error = describe("rename " + temporary + " to " + path);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

// The running programs that have the character device `device` open, as
// "name (process N)"; in `hidden`, the suspects among those whose open files
// this user may not see (a service of another user such as ModemManager).
std::vector<std::string> programsHolding(dev_t device, std::vector<std::string>& hidden)
{
    std::vector<std::string> holders;
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
    {
        return holders;
    }
    const std::string self = std::to_string(::getpid());
    while (const dirent* entry = ::readdir(proc))
    {
        const std::string pid = entry->d_name;
        if (pid.find_first_not_of("0123456789") != std::string::npos || pid == self)
        {
            continue;
        }
        std::string name;
        std::getline(std::ifstream("/proc/" + pid + "/comm"), name);
        const std::string who = name + " (process " + pid + ")";
        const std::string fds = "/proc/" + pid + "/fd";
        DIR* open = ::opendir(fds.c_str());
        if (open == nullptr)
        {
            if (errno == EACCES && name == "ModemManager")
            {
                hidden.push_back(who);
            }
            continue;
        }
        while (const dirent* fd = ::readdir(open))
        {
            struct stat info = {};
            if (fd->d_name[0] != '.' && ::stat((fds + "/" + fd->d_name).c_str(), &info) == 0 &&
                S_ISCHR(info.st_mode) && info.st_rdev == device)
            {
                holders.push_back(who);
                break;
            }
        }
        ::closedir(open);
    }
    ::closedir(proc);
    return holders;
}

std::string joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
    {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text;
}

const char* const kModemManagerAdvice =
    "ModemManager, which probes USB serial adapters, stops with: sudo systemctl stop ModemManager";

}  // namespace

bool makeRaw(int fd, std::string& error)
{
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0)
    {
        error = describe("tcgetattr");
        return false;
    }
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &settings) != 0)
    {
        error = describe("tcsetattr");
        return false;
    }
    return true;
}

std::optional<PtyPort> openPty(std::string& error)
{
    PtyPort port;
    port.master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (port.master < 0)
    {
        error = describe("posix_openpt");
        return std::nullopt;
    }
    const char* name = nullptr;
    if (::grantpt(port.master) != 0 || ::unlockpt(port.master) != 0 || (name = ::ptsname(port.master)) == nullptr)
    {
        error = describe("grantpt/unlockpt/ptsname");
        closePty(port);
        return std::nullopt;
    }
    port.path = name;
    port.slave = ::open(port.path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (port.slave < 0)
    {
        error = describe("open " + port.path);
        closePty(port);
        return std::nullopt;
    }
    if (!makeRaw(port.slave, error))
    {
        closePty(port);
        return std::nullopt;
    }
    const int flags = ::fcntl(port.master, F_GETFL);
    if (flags < 0 || ::fcntl(port.master, F_SETFL, flags | O_NONBLOCK) != 0)
    {
        error = describe("fcntl O_NONBLOCK");
        closePty(port);
        return std::nullopt;
    }
    return port;
}

std::optional<PtyPort> openSerialDevice(const std::string& option, const std::string& path, std::string& error,
                                        std::string* warning)
{
    const std::string named = option + " " + path;
    PtyPort port;
    port.path = path;
    struct stat info = {};
    if (::stat(path.c_str(), &info) != 0)
    {
        error = describe(named);
        return std::nullopt;
    }
    const std::string notSerial = named + " is not a serial device (a character device such as /dev/ttyUSB0)";
    if (!S_ISCHR(info.st_mode))
    {
        error = notSerial;
        return std::nullopt;
    }
    // Terminal programs and ModemManager open a port without locking it, and
    // would read and write the unit's bytes alongside: they are named. A
    // program that holds it locked may be one whose files this user cannot see.
    std::vector<std::string> hidden;
    const std::vector<std::string> holders = programsHolding(info.st_rdev, hidden);
    const std::string busy = named + " is busy: " +
                             (holders.empty() ? std::string("another program holds it") : joined(holders) + " has it open") +
                             ". Close that program and start again (" + kModemManagerAdvice + ")";
    port.master = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (port.master < 0)
    {
        error = errno == EBUSY ? busy : describe(named);
        return std::nullopt;
    }
    if (!::isatty(port.master))
    {
        error = notSerial;
        closePty(port);
        return std::nullopt;
    }
    // Programs that share serial ports politely take an flock on them.
    if (!holders.empty() || ::flock(port.master, LOCK_EX | LOCK_NB) != 0 || ::ioctl(port.master, TIOCEXCL) != 0)
    {
        error = busy;
        closePty(port);
        return std::nullopt;
    }
    if (!hidden.empty() && warning != nullptr)
    {
        *warning = joined(hidden) + " is running and may open " + path +
                   " (its open files are not visible to this user); if the unit's answers go astray: " +
                   kModemManagerAdvice;
    }
    termios settings{};
    if (!makeRaw(port.master, error) || ::tcgetattr(port.master, &settings) != 0)
    {
        error = named + ": " + (error.empty() ? describe("tcgetattr") : error);
        closePty(port);
        return std::nullopt;
    }
    settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB | PARENB);
    if (::cfsetispeed(&settings, B9600) != 0 || ::cfsetospeed(&settings, B9600) != 0 ||
        ::tcsetattr(port.master, TCSANOW, &settings) != 0)
    {
        error = describe(named + ": 9600 baud");
        closePty(port);
        return std::nullopt;
    }
    ::tcflush(port.master, TCIOFLUSH);
    return port;
}

void closePty(PtyPort& port)
{
    if (port.master >= 0)
    {
        ::close(port.master);
        port.master = -1;
    }
    if (port.slave >= 0)
    {
        ::close(port.slave);
        port.slave = -1;
    }
}

std::optional<std::string> comLinkPath(const std::string& prefix, int com, std::string& error)
{
    const std::string directory = prefix + "/dosdevices";
    struct stat info = {};
    if (::stat(prefix.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
    {
        error = "--prefix " + prefix + " is not an existing directory";
        return std::nullopt;
    }
    if (::mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST)
    {
        error = describe("mkdir " + directory);
        return std::nullopt;
    }
    return directory + "/com" + std::to_string(com);
}

bool publishLink(const std::string& path, const std::string& target, std::string& error)
{
    struct stat info = {};
    if (::lstat(path.c_str(), &info) == 0)
    {
        if (S_ISDIR(info.st_mode))
        {
            if (::rmdir(path.c_str()) != 0)
            {
                error = describe("cannot replace directory " + path);
                return false;
            }
        }
        else if (!S_ISLNK(info.st_mode))
        {
            error = path + " exists and is neither a symlink nor an empty directory";
            return false;
        }
    }
    else if (errno != ENOENT)
    {
        error = describe("lstat " + path);
        return false;
    }
    return symlinkAtomic(path, target, error);
}

void retractLink(const std::string& path, const std::string& ours, const std::string& replacement)
{
    char buffer[4096];
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer - 1);
    if (length < 0 || std::string(buffer, static_cast<std::size_t>(length)) != ours)
    {
        // Someone else owns the path now: leave it alone.
        return;
    }
    std::string ignored;
    if (replacement.empty() || !symlinkAtomic(path, replacement, ignored))
    {
        ::unlink(path.c_str());
    }
}

bool writeFileAtomic(const std::string& path, const std::uint8_t* data, std::size_t size, std::string& error)
{
    const std::string temporary = path + ".tmp";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
    {
        error = describe("open " + temporary);
        return false;
    }
    std::size_t done = 0;
    while (done < size)
    {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            error = describe("write " + temporary);
            ::close(fd);
            ::unlink(temporary.c_str());
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 || ::rename(temporary.c_str(), path.c_str()) != 0)
    {
        error = describe("finish " + path);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool writeFileAtomic(const std::string& path, const std::string& text, std::string& error)
{
    return writeFileAtomic(path, reinterpret_cast<const std::uint8_t*>(text.data()), text.size(), error);
}

}  // namespace qvsim
