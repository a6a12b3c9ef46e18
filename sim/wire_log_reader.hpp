// Reads a wire log back (the format WireLog writes). Standard C++ only: the
// native tests and the Windows-side tests and benchmarks all compile it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qvsim {

struct WireEntry
{
    std::int64_t tUs = 0;
    std::string kind;   // "rx" (the unit received it), "tx" (the unit sent it) or "#" (a note)
    std::string bytes;  // the bytes of an rx or tx line
    std::string text;   // a note's text after "# ", or the whole line when malformed
    bool wellFormed = true;
};

class WireLogReader
{
public:
    explicit WireLogReader(const std::string& text = std::string());

    std::vector<WireEntry> entries;

    std::vector<WireEntry> of(const std::string& kind) const;
    // Every byte of one direction, in order.
    std::string bytes(const std::string& kind) const;
    std::string fromPc() const { return bytes("rx"); }
    std::string toPc() const { return bytes("tx"); }
    std::vector<std::string> notes() const;
    bool hasNote(const std::string& fragment) const;
    // Time of the line that carries byte `index` of that direction; -1 if
    // the direction never gets that long.
    std::int64_t timeOfByte(const std::string& kind, std::size_t index) const;
};

}  // namespace qvsim
