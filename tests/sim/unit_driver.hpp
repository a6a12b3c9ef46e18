// Test driver for the protocol core: feeds PC bytes with times and collects
// what the unit does.
#pragma once

#include "unit.hpp"

#include <string>
#include <vector>

namespace qvsim::test {

constexpr Nanos ms(Nanos value)
{
    return value * kNanosPerMs;
}

inline Bytes bytesOf(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

struct Write
{
    Nanos at;
    Bytes bytes;
};

class UnitDriver
{
public:
    explicit UnitDriver(const Config& config = Config{}) : unit(config) {}

    // Receives `bytes` as one read at `at` and runs the unit up to `at`.
    void feed(const Bytes& bytes, Nanos at)
    {
        unit.receive(bytes, at);
        runUntil(at);
    }
    void feed(const std::string& text, Nanos at) { feed(bytesOf(text), at); }

    void runUntil(Nanos now)
    {
        for (Output& output : unit.advance(now))
        {
            outputs.push_back(std::move(output));
        }
    }

    // Everything still scheduled.
    void drain() { runUntil(kNever - 1); }

    std::vector<Write> writes() const
    {
        std::vector<Write> result;
        for (const Output& output : outputs)
        {
            if (output.kind == Output::Kind::Write)
            {
                result.push_back({output.time, output.bytes});
            }
        }
        return result;
    }

    Bytes sent() const
    {
        Bytes all;
        for (const Write& write : writes())
        {
            all.insert(all.end(), write.bytes.begin(), write.bytes.end());
        }
        return all;
    }

    std::vector<std::string> notes() const
    {
        std::vector<std::string> result;
        for (const Output& output : outputs)
        {
            if (output.kind == Output::Kind::Note)
            {
                result.push_back(output.text);
            }
        }
        return result;
    }

    bool noted(const std::string& fragment) const
    {
        for (const std::string& text : notes())
        {
            if (text.find(fragment) != std::string::npos)
            {
                return true;
            }
        }
        return false;
    }

    std::size_t count(Output::Kind kind) const
    {
        std::size_t n = 0;
        for (const Output& output : outputs)
        {
            n += output.kind == kind ? 1 : 0;
        }
        return n;
    }

    void clear() { outputs.clear(); }

    Unit unit;
    std::vector<Output> outputs;
};

}  // namespace qvsim::test
