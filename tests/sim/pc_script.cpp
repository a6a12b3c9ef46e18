#include "pc_script.hpp"

#include <random>

namespace qvtest {
using namespace qvsim;

Bytes patternBytes(std::size_t size, std::uint32_t seed)
{
    std::minstd_rand random(seed + 1);
    Bytes bytes(size);
    for (auto& byte : bytes)
    {
        byte = static_cast<std::uint8_t>(random() >> 7);
    }
    return bytes;
}

Bytes makeProgram(std::size_t bodySize, std::uint32_t seed)
{
    Bytes program{static_cast<std::uint8_t>(bodySize >> 8), static_cast<std::uint8_t>(bodySize & 0xFF)};
    const Bytes body = patternBytes(bodySize, seed);
    program.insert(program.end(), body.begin(), body.end());
    return program;
}

std::uint8_t checksumOf(const Bytes& image, std::uint32_t address, std::uint32_t size)
{
    unsigned sum = 0;
    for (std::uint32_t i = 0; i < size; ++i)
    {
        sum += image[address + i];
    }
    return static_cast<std::uint8_t>(0xFF - (sum & 0xFF));
}

std::vector<Exchange> preludeExchanges(const Bytes& program)
{
    std::vector<Exchange> script;
    script.push_back({Bytes(10, 0x00), {0x00}, Step::Sync, 0});
    script.push_back({{0x55}, {0xAA}, Step::Confirm, 0});
    for (std::size_t i = 0; i < program.size(); ++i)
    {
        Bytes answer{program[i]};
        if (i + 1 == program.size())
        {
            answer.push_back(0xAA);
        }
        script.push_back({{program[i]}, answer, Step::Echo, static_cast<std::uint32_t>(i)});
    }
    return script;
}

std::vector<Exchange> blockExchanges(const Bytes& image, std::size_t first)
{
    std::vector<Exchange> script;
    for (std::size_t b = first; b < kBlockCount; ++b)
    {
        const Block& block = kBlockTable[b];
        const auto index = static_cast<std::uint32_t>(b);
        script.push_back({{0x57, 0x00}, {0x06}, Step::Open, index});
        Bytes header;
        for (std::uint32_t value : {block.address, block.size})
        {
            for (int shift = 24; shift >= 0; shift -= 8)
            {
                header.push_back(static_cast<std::uint8_t>(value >> shift));
            }
        }
        script.push_back({header, {0x11}, Step::Ready, index});
        script.push_back({{0x11}, {}, std::nullopt, 0});
        for (std::uint32_t offset = 0; offset < block.size; offset += kChunkSize)
        {
            const auto start = image.begin() + block.address + offset;
            script.push_back(
                {Bytes(start, start + kChunkSize), {0x11}, Step::Chunk, (block.address + offset) / kChunkSize});
            script.push_back({{0x11}, {}, std::nullopt, 0});
        }
        script.push_back({{checksumOf(image, block.address, block.size)}, {0x06}, Step::Ack, index});
    }
    return script;
}

std::vector<Exchange> fullUpdate(const Bytes& program, const Bytes& image)
{
    std::vector<Exchange> script = preludeExchanges(program);
    const std::vector<Exchange> blocks = blockExchanges(image);
    script.insert(script.end(), blocks.begin(), blocks.end());
    return script;
}

}  // namespace qvtest
