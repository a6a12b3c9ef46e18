#include "wire_log_reader.hpp"

#include <limits>

namespace qvsim {

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
    {
        return c - '0';
    }
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "<tUs> rx|tx xx xx ...": single spaces, two lowercase hex digits a byte.
bool parseData(const std::string& line, WireEntry& entry)
{
    std::size_t i = 0;
    std::int64_t t = 0;
    for (; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i)
    {
        if (t > (std::numeric_limits<std::int64_t>::max() - 9) / 10)
        {
            return false;
        }
        t = t * 10 + (line[i] - '0');
    }
    if (i == 0 || (line.compare(i, 4, " rx ") != 0 && line.compare(i, 4, " tx ") != 0))
    {
        return false;
    }
    entry.tUs = t;
    entry.kind = line.substr(i + 1, 2);
    for (i += 4;; i += 3)
    {
        const int high = i + 1 < line.size() ? hexDigit(line[i]) : -1;
        const int low = high < 0 ? -1 : hexDigit(line[i + 1]);
        if (low < 0)
        {
            return false;
        }
        entry.bytes.push_back(static_cast<char>(high * 16 + low));
        if (i + 2 == line.size())
        {
            return true;
        }
        if (line[i + 2] != ' ')
        {
            return false;
        }
    }
}

}  // namespace

WireLogReader::WireLogReader(const std::string& text)
{
    std::size_t start = 0;
    while (start < text.size())
    {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
        {
            end = text.size();
        }
        const std::string line = text.substr(start, end - start);
        start = end + 1;
        WireEntry entry;
        if (line.compare(0, 2, "# ") == 0)
        {
            entry.kind = "#";
            entry.text = line.substr(2);
        }
        else if (!parseData(line, entry))
        {
            entry = WireEntry();
            entry.text = line;
            entry.wellFormed = false;
        }
        entries.push_back(entry);
    }
}

std::vector<WireEntry> WireLogReader::of(const std::string& kind) const
{
    std::vector<WireEntry> result;
    for (const auto& entry : entries)
    {
        if (entry.kind == kind)
        {
            result.push_back(entry);
        }
    }
    return result;
}

std::string WireLogReader::bytes(const std::string& kind) const
{
    std::string all;
    for (const auto& entry : entries)
    {
        if (entry.kind == kind)
        {
            all += entry.bytes;
        }
    }
    return all;
}

std::vector<std::string> WireLogReader::notes() const
{
    std::vector<std::string> result;
    for (const auto& entry : entries)
    {
        if (entry.kind == "#")
        {
            result.push_back(entry.text);
        }
    }
    return result;
}

bool WireLogReader::hasNote(const std::string& fragment) const
{
    for (const auto& note : notes())
    {
        if (note.find(fragment) != std::string::npos)
        {
            return true;
        }
    }
    return false;
}

std::int64_t WireLogReader::timeOfByte(const std::string& kind, std::size_t index) const
{
    std::size_t seen = 0;
    for (const auto& entry : entries)
    {
        if (entry.kind == kind && (seen += entry.bytes.size()) > index)
        {
            return entry.tUs;
        }
    }
    return -1;
}

}  // namespace qvsim
