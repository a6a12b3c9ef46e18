#include "wire_log.hpp"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace qvsim {

std::string hexBytes(const std::uint8_t* data, std::size_t size)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(size * 3);
    for (std::size_t i = 0; i < size; ++i)
    {
        if (i > 0)
        {
            text.push_back(' ');
        }
        text.push_back(digits[data[i] >> 4]);
        text.push_back(digits[data[i] & 0x0F]);
    }
    return text;
}

std::string wireLine(std::int64_t tUs, const char* direction, const std::uint8_t* data, std::size_t size)
{
    return std::to_string(tUs) + " " + direction + " " + hexBytes(data, size);
}

WireLog::~WireLog()
{
    if (fd_ >= 0)
    {
        ::close(fd_);
    }
}

bool WireLog::open(const std::string& path)
{
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    return fd_ >= 0;
}

void WireLog::rx(std::int64_t tUs, const std::uint8_t* data, std::size_t size)
{
    if (fd_ >= 0)
    {
        writeLine(wireLine(tUs, "rx", data, size));
    }
}

void WireLog::tx(std::int64_t tUs, const std::uint8_t* data, std::size_t size)
{
    if (fd_ >= 0)
    {
        writeLine(wireLine(tUs, "tx", data, size));
    }
}

void WireLog::note(const std::string& text)
{
    writeLine("# " + text);
}

void WireLog::writeLine(const std::string& line)
{
    // One write per line (O_APPEND, unbuffered) so a reader never sees half a line.
    const std::string full = line + "\n";
    const int fd = fd_ >= 0 ? fd_ : STDERR_FILENO;
    std::size_t done = 0;
    while (done < full.size())
    {
        const ssize_t n = ::write(fd, full.data() + done, full.size() - done);
        if (n < 0)
        {
            if (errno == EINTR)
            {
                continue;
            }
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

}  // namespace qvsim
