// A well-behaved PC side of a whole update, as a list of messages each paired
// with the answer a fault-free unit gives to it.
#pragma once

#include "unit.hpp"

#include <optional>
#include <string>
#include <vector>

namespace qvtest {

struct Exchange
{
    qvsim::Bytes send;
    qvsim::Bytes answer;              // may be empty
    std::optional<qvsim::Step> step;  // the answer's fault step, if it has one
    std::uint32_t index = 0;
};

// Deterministic pseudo-random bytes.
qvsim::Bytes patternBytes(std::size_t size, std::uint32_t seed);

// 2-byte big-endian length + body.
qvsim::Bytes makeProgram(std::size_t bodySize, std::uint32_t seed);

std::uint8_t checksumOf(const qvsim::Bytes& image, std::uint32_t address, std::uint32_t size);

// Alignment burst, confirmation and program load.
std::vector<Exchange> preludeExchanges(const qvsim::Bytes& program);

// qvsim::Block transfer of `image` (qvsim::kFlashSize bytes), from block `first` on.
std::vector<Exchange> blockExchanges(const qvsim::Bytes& image, std::size_t first = 0);

std::vector<Exchange> fullUpdate(const qvsim::Bytes& program, const qvsim::Bytes& image);

}  // namespace qvtest
