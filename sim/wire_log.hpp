// Wire log: what crossed the line and what the unit noticed, one line each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace qvsim {

// "0a ff 11": two lowercase hex digits per byte, single spaces between.
std::string hexBytes(const std::uint8_t* data, std::size_t size);

// "<tUs> <direction> <hex bytes>" without the newline.
std::string wireLine(std::int64_t tUs, const char* direction, const std::uint8_t* data, std::size_t size);

class WireLog
{
public:
    WireLog() = default;
    ~WireLog();
    WireLog(const WireLog&) = delete;
    WireLog& operator=(const WireLog&) = delete;

    // Truncates `path`; false (errno set) if it cannot be opened.
    bool open(const std::string& path);

    void rx(std::int64_t tUs, const std::uint8_t* data, std::size_t size);
    void tx(std::int64_t tUs, const std::uint8_t* data, std::size_t size);
    // Written as "# <text>"; to stderr when no log file is open.
    void note(const std::string& text);

private:
    void writeLine(const std::string& line);

    int fd_ = -1;
};

}  // namespace qvsim
