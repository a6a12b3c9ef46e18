// The simulator's model held against a wire log: what the PC sent is fed, at
// its times, to the protocol core, and the core's answers are set beside the
// unit's, update by update.
#include "options.hpp"
#include "tap.hpp"
#include "wire_log_reader.hpp"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <map>
#include <ostream>

namespace qvsim {

namespace {

struct AnswerByte
{
    Nanos at;
    std::uint8_t byte;
    std::optional<AnswerTag> tag;  // the core's
};

// What each side sent between two reads of the PC: the answers to the
// first of them.
struct Window
{
    std::vector<AnswerByte> unit, model;
};

struct Update
{
    Nanos start;
    std::map<std::size_t, Window> windows;  // by the number of the PC's reads before them
    bool complete = false;                  // the core completed it
};

std::string hex(const std::vector<AnswerByte>& bytes)
{
    if (bytes.empty())
    {
        return "nothing";
    }
    std::string text;
    for (std::size_t i = 0; i < bytes.size() && i < 8; ++i)
    {
        char one[8];
        std::snprintf(one, sizeof one, "%s%02x", i == 0 ? "" : " ", bytes[i].byte);
        text += one;
    }
    return text + (bytes.size() > 8 ? " ... (" + std::to_string(bytes.size()) + " bytes)" : "");
}

std::string name(const std::optional<AnswerTag>& tag)
{
    return tag ? std::string(stepName(tag->step)) + " " + std::to_string(tag->index) : std::string("\"?;\"");
}

std::string ms(Nanos value, int decimals = 2)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, static_cast<double>(value) / kNanosPerMs);
    return text;
}

// Median and largest.
std::string figures(std::vector<Nanos> values)
{
    char text[48];
    if (values.empty())
    {
        std::snprintf(text, sizeof text, "%10s %10s", "-", "-");
        return text;
    }
    std::sort(values.begin(), values.end());
    std::snprintf(text, sizeof text, "%10s %10s", ms(values[values.size() / 2]).c_str(), ms(values.back()).c_str());
    return text;
}

}  // namespace

int compareLog(const std::string& logText, const std::vector<std::string>& simulator, std::ostream& out)
{
    const std::vector<std::string> args = simulator.empty() ? std::vector<std::string>{"--s1", "auto"} : simulator;
    const ParseResult parsed = parseOptions(args);
    if (!parsed.options)
    {
        out << "qv6100-tap --compare: the simulator's options: " << parsed.error << "\n";
        return 2;
    }
    const WireLogReader log(logText);
    std::vector<WireEntry> sent = log.of("rx");
    const std::vector<WireEntry> answered = log.of("tx");
    std::size_t malformed = 0;
    for (const WireEntry& entry : log.entries)
    {
        malformed += entry.wellFormed ? 0 : 1;
    }
    if (sent.empty())
    {
        out << "qv6100-tap --compare: the log holds nothing the PC sent (" << malformed
            << " lines that are not a wire log's)\n";
        return 2;
    }
    std::stable_sort(sent.begin(), sent.end(), [](const WireEntry& a, const WireEntry& b) { return a.tUs < b.tUs; });

    // The PC's reads, and which of them an answer follows.
    std::vector<Nanos> pcTimes;
    for (const WireEntry& entry : sent)
    {
        pcTimes.push_back(entry.tUs * 1000);
    }
    const auto windowOf = [&pcTimes](Nanos at) {
        return static_cast<std::size_t>(std::upper_bound(pcTimes.begin(), pcTimes.end(), at) - pcTimes.begin());
    };
    // The core, fed what the PC sent at its times.
    Unit model(parsed.options->unit);
    std::vector<Update> updates{{std::numeric_limits<Nanos>::min(), {}, false}};
    const auto take = [&](const std::vector<Output>& outputs) {
        for (const Output& output : outputs)
        {
            if (output.kind == Output::Kind::Note && output.text.rfind("power-on", 0) == 0)
            {
                updates.push_back({output.time, {}, false});
            }
            else if (output.kind == Output::Kind::Note && output.text == "complete")
            {
                updates.back().complete = true;
            }
            else if (output.kind == Output::Kind::Write)
            {
                Window& window = updates.back().windows[windowOf(output.time)];
                for (std::size_t i = 0; i < output.bytes.size(); ++i)
                {
                    window.model.push_back({output.time, output.bytes[i], output.tags[i]});
                }
            }
        }
    };
    for (std::size_t i = 0; i < sent.size(); ++i)
    {
        take(model.advance(pcTimes[i] - 1));
        model.receive(reinterpret_cast<const std::uint8_t*>(sent[i].bytes.data()), sent[i].bytes.size(), pcTimes[i]);
        take(model.advance(pcTimes[i]));
    }
    take(model.advance(pcTimes.back() + kPowerCycleQuiet - 1));
    for (const WireEntry& entry : answered)
    {
        const Nanos at = entry.tUs * 1000;
        // The update the answer falls in: the last one started at or before it.
        Update& update = *std::prev(std::upper_bound(updates.begin(), updates.end(), at,
                                                     [](Nanos t, const Update& u) { return t < u.start; }));
        for (const char byte : entry.bytes)
        {
            update.windows[windowOf(at)].unit.push_back({at, static_cast<std::uint8_t>(byte), std::nullopt});
        }
    }

    out << "qv6100-tap --compare: " << sent.size() << " reads from the PC, " << answered.size()
        << " from the unit, " << updates.size() << (updates.size() == 1 ? " update" : " updates")
        << "; the simulator's options:";
    for (const std::string& arg : args)
    {
        out << " " << arg;
    }
    out << "\n";
    if (malformed > 0)
    {
        out << "  " << malformed << " lines of the log are not a wire log's and were left out\n";
    }
    // Each answer's latency: from the PC's last byte before it to its first byte.
    std::map<Step, std::vector<Nanos>> unitLatency, modelLatency;
    const auto latency = [&pcTimes, &windowOf](Nanos at) {
        const std::size_t window = windowOf(at);
        return window == 0 ? Nanos{0} : at - pcTimes[window - 1];
    };
    bool differs = false;
    for (std::size_t u = 0; u < updates.size(); ++u)
    {
        const Update& update = updates[u];
        std::size_t unitBytes = 0, modelBytes = 0;
        std::optional<AnswerTag> reached;
        std::string difference;
        for (const auto& [number, window] : update.windows)
        {
            unitBytes += window.unit.size();
            modelBytes += window.model.size();
            if (!difference.empty())
            {
                continue;
            }
            for (std::size_t i = 0; i < window.model.size() && i < window.unit.size(); ++i)
            {
                const AnswerByte& mine = window.model[i];
                if (mine.byte != window.unit[i].byte)
                {
                    break;
                }
                reached = mine.tag;
                const bool first = i == 0 || !mine.tag || !window.model[i - 1].tag ||
                                   window.model[i - 1].tag->step != mine.tag->step ||
                                   window.model[i - 1].tag->index != mine.tag->index;
                if (first && mine.tag)
                {
                    unitLatency[mine.tag->step].push_back(latency(window.unit[i].at));
                    modelLatency[mine.tag->step].push_back(latency(mine.at));
                }
            }
            const auto same = [](const AnswerByte& a, const AnswerByte& b) { return a.byte == b.byte; };
            if (!std::equal(window.unit.begin(), window.unit.end(), window.model.begin(), window.model.end(), same))
            {
                const std::optional<AnswerTag> tag = !window.model.empty() ? window.model.front().tag : reached;
                difference = "first difference after the PC's read " + std::to_string(number) + " (" +
                             (window.model.empty() ? "after " : "") + name(tag) + "): the unit sent " +
                             hex(window.unit) + ", the simulator " + hex(window.model);
            }
        }
        differs = differs || !difference.empty();
        out << "update " << u + 1 << ": " << unitBytes << " answer bytes from the unit, " << modelBytes
            << " from the simulator; " << (difference.empty() ? std::string("no difference") : difference) << "; "
            << (update.complete && difference.empty() ? std::string("complete")
                                                      : "reached " + (reached ? name(reached) : std::string("no answer")))
            << "\n";
    }
    out << "answer latency, ms      unit: median    largest  simulator: median    largest\n";
    for (const auto& [step, values] : unitLatency)
    {
        char label[24];
        std::snprintf(label, sizeof label, "  %-16s", step == Step::Erase ? "erase (deletion)" : stepName(step));
        out << label << figures(values) << "         " << figures(modelLatency[step]) << "\n";
    }
    out << (differs ? "The unit and the simulator differ.\n" : "The unit and the simulator agree.\n");
    return differs ? 1 : 0;
}

}  // namespace qvsim
