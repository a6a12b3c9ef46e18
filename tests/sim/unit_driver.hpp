// Test driver for the protocol core: feeds PC bytes with times and collects
// what the unit does.
#pragma once

#include "unit.hpp"

#include <string>
#include <vector>

namespace qvtest {

constexpr qvsim::Nanos ms(qvsim::Nanos value)
{
    return value * qvsim::kNanosPerMs;
}

inline qvsim::Bytes bytesOf(const std::string& text)
{
    return qvsim::Bytes(text.begin(), text.end());
}

struct Write
{
    qvsim::Nanos at;
    qvsim::Bytes bytes;
};

class UnitDriver
{
public:
    explicit UnitDriver(const qvsim::Config& config = qvsim::Config{}) : unit(config) {}

    // Receives `bytes` as one read at `at` and runs the unit up to `at`.
    void feed(const qvsim::Bytes& bytes, qvsim::Nanos at)
    {
        unit.receive(bytes, at);
        runUntil(at);
    }
    void feed(const std::string& text, qvsim::Nanos at) { feed(bytesOf(text), at); }

    void runUntil(qvsim::Nanos now)
    {
        for (qvsim::Output& output : unit.advance(now))
        {
            outputs.push_back(std::move(output));
        }
    }

    // Everything still scheduled.
    void drain() { runUntil(qvsim::kNever - 1); }

    std::vector<Write> writes() const
    {
        std::vector<Write> result;
        for (const qvsim::Output& output : outputs)
        {
            if (output.kind == qvsim::Output::Kind::Write)
            {
                result.push_back({output.time, output.bytes});
            }
        }
        return result;
    }

    qvsim::Bytes sent() const
    {
        qvsim::Bytes all;
        for (const Write& write : writes())
        {
            all.insert(all.end(), write.bytes.begin(), write.bytes.end());
        }
        return all;
    }

    std::vector<std::string> notes() const
    {
        std::vector<std::string> result;
        for (const qvsim::Output& output : outputs)
        {
            if (output.kind == qvsim::Output::Kind::Note)
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

    std::size_t count(qvsim::Output::Kind kind) const
    {
        std::size_t n = 0;
        for (const qvsim::Output& output : outputs)
        {
            n += output.kind == kind ? 1 : 0;
        }
        return n;
    }

    void clear() { outputs.clear(); }

    qvsim::Unit unit;
    std::vector<qvsim::Output> outputs;
};

}  // namespace qvtest
