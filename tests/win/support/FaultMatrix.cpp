#include "support/FaultMatrix.h"

#include "tests/UserTexts.h"

#include <algorithm>
#include <cstdio>

namespace qvtest
{

namespace
{
enum class Stage
{
    Identification,
    Handshake,
    LoadEcho,      // an echo before the last program byte's
    LoadLastEcho,  // the last echo, which carries the completion byte with it
    LoadCompletion,
    Transfer,
};

struct PhaseRow
{
    const char* name;
    Stage stage;
    const char* step;  // the unit's answer the fault replaces (or follows)
    int index;
    bool after;  // the fault follows the genuine answer
};

// Chunks are counted over the whole image: blocks 0-7 hold 32 each, block 8
// 256 (chunks 256-511), block 9 512, blocks 10 and 11 512 each.
const PhaseRow kPhases[] = {
    {"identification", Stage::Identification, "ty", 0, false},
    {"alignment", Stage::Handshake, "sync", 0, false},
    {"confirmation", Stage::Handshake, "confirm", 0, false},
    {"load early", Stage::LoadEcho, "echo", 1, false},
    {"load middle", Stage::LoadEcho, "echo", 718, false},
    {"load last byte", Stage::LoadLastEcho, "echo", 1435, false},
    {"load completion", Stage::LoadCompletion, "erase", 0, false},
    {"block open", Stage::Transfer, "open", 2, false},
    {"block header", Stage::Transfer, "ready", 3, false},
    {"first chunk", Stage::Transfer, "chunk", 128, false},  // block 4
    {"middle chunk", Stage::Transfer, "chunk", 1280, false},  // block 10
    {"last chunk", Stage::Transfer, "chunk", 511, false},  // block 8
    {"checksum", Stage::Transfer, "ack", 5, false},
    {"between blocks", Stage::Transfer, "ack", 6, true},
    {"last block", Stage::Transfer, "ack", 11, false},
};

const char* const kFaults[] = {"silence", "wrong byte", "extra byte", "refused checksum",
                               "unplugged",  "cancel",  "stall",  "burst"};

// Long enough that every wait of the run has given up.
const char kStallMs[] = "1500";
// Short enough that no wait gives up: the unit answers while Cancel lands.
const char kCancelWindowMs[] = "150";

MatrixCell MakeCell(const PhaseRow& p, const std::string& fault, bool& applies)
{
    applies = true;
    MatrixCell c;
    c.phase = p.name;
    c.fault = fault;
    c.identification = p.stage == Stage::Identification;
    const std::string at =
        std::string(" --at ") + p.step + " --index " + std::to_string(p.index) + (p.after ? " --after" : "");
    const std::string where = std::string(p.after ? " after " : " at ") + p.step + " " + std::to_string(p.index);
    c.simOptions = c.identification ? "--s1 auto" : "--mode writing";

    // What each stage makes of a broken answer. The handshake and the
    // identification give up with "Could not detect"; the load and the
    // transfer with the failure text. The load does not compare echoes, so a
    // wrong or doubled echo goes unnoticed, except that a doubled last echo
    // leaves three bytes where the load expects two and it waits in vain.
    const Outcome broken = (p.stage == Stage::Identification || p.stage == Stage::Handshake) ? Outcome::NotDetected
                                                                                               : Outcome::Failed;
    c.outcome = broken;
    if (fault == "silence")
        c.simOptions += " --fault silence" + at;
    else if (fault == "wrong byte")
    {
        c.simOptions += " --fault wrong --fault-byte 0x07" + at;
        if (p.stage == Stage::LoadEcho || p.stage == Stage::LoadLastEcho)
            c.outcome = Outcome::Completed;
    }
    else if (fault == "extra byte")
    {
        c.simOptions += " --fault extra" + at;
        // Identification judges the reply up to its first ';'.
        if (p.stage == Stage::Identification || p.stage == Stage::LoadEcho)
            c.outcome = Outcome::Completed;
    }
    else if (fault == "refused checksum")
    {
        if (std::string(p.step) != "ack" || p.after)
        {
            applies = false;
            return c;
        }
        c.simOptions += " --fault wrong --fault-byte 0x15" + at;
    }
    else if (fault == "unplugged")
    {
        c.simOptions += " --fault unplug" + at;
        // The alignment sends its burst again 200 ms later: that write fails.
        if (std::string(p.step) == "sync")
            c.systemText = SystemTextShown::Always;
        // Cut right after the block's acknowledgement: the next write command
        // fails, unless it left before the cut landed.
        if (p.after)
            c.systemText = SystemTextShown::Maybe;
    }
    else if (fault == "cancel")
    {
        // The unit answers late but in time, so Cancel is pressed while the
        // PC waits at this phase. Identification and handshake do not look at
        // Cancel: the flag stays set and the load stops after its first byte.
        c.simOptions += std::string(p.after ? " --fault stall" : " --fault delay") + " --fault-ms " + kCancelWindowMs + at;
        c.cancelOnNote = std::string("fault ") + (p.after ? "stall" : "delay") + where;
        c.outcome = Outcome::Failed;
    }
    else if (fault == "stall")
        c.simOptions += std::string(" --fault stall --fault-ms ") + kStallMs + at;
    else if (fault == "burst")
        c.simOptions += " --fault flood --flood-bytes 5000 --flood-seed 6100" + at;

    c.identifies = !c.identification || c.outcome != Outcome::NotDetected;
    return c;
}
}  // namespace

std::string MatrixCell::Name() const
{
    std::string name = phase + "_" + fault;
    for (char& ch : name)
        if (ch == ' ')
            ch = '_';
    return name;
}

const std::vector<std::string>& MatrixPhases()
{
    static const std::vector<std::string> phases = [] {
        std::vector<std::string> v;
        for (const auto& p : kPhases)
            v.push_back(p.name);
        return v;
    }();
    return phases;
}

const std::vector<std::string>& MatrixFaults()
{
    static const std::vector<std::string> faults(std::begin(kFaults), std::end(kFaults));
    return faults;
}

const std::vector<MatrixCell>& MatrixCells()
{
    static const std::vector<MatrixCell> cells = [] {
        std::vector<MatrixCell> v;
        for (const auto& p : kPhases)
            for (const char* f : kFaults)
            {
                bool applies = false;
                MatrixCell c = MakeCell(p, f, applies);
                if (applies)
                    v.push_back(c);
            }
        return v;
    }();
    return cells;
}

const MatrixCell* FindCell(const std::string& phase, const std::string& fault)
{
    for (const auto& c : MatrixCells())
        if (c.phase == phase && c.fault == fault)
            return &c;
    return nullptr;
}

std::vector<std::string> ExpectedTexts(const MatrixCell& cell, const std::string& systemText)
{
    std::vector<std::string> out;
    if (cell.identification)
        out.push_back(texts::kConnectText);
    if (!cell.identification || cell.outcome != Outcome::NotDetected)
        out.push_back(texts::kWritingModeText);
    if (!systemText.empty())
        out.push_back(systemText);
    switch (cell.outcome)
    {
    case Outcome::NotDetected:
        out.push_back(texts::kNotDetectedText);
        break;
    case Outcome::Failed:
        out.push_back(texts::kFailedText);
        break;
    case Outcome::Completed:
        out.push_back(texts::kCompletedText);
        out.push_back(texts::kNormalModeText);
        break;
    }
    return out;
}

std::vector<std::string> SuccessTexts(bool identified)
{
    MatrixCell run;
    run.identification = !identified;
    run.outcome = Outcome::Completed;
    return ExpectedTexts(run);
}

const char* OutcomeName(Outcome outcome)
{
    switch (outcome)
    {
    case Outcome::NotDetected:
        return "not detected";
    case Outcome::Failed:
        return "failed";
    case Outcome::Completed:
        return "completed";
    }
    return "?";
}

std::string MatrixTable(const std::map<std::string, std::string>& results)
{
    size_t first = 0;
    for (const auto& p : MatrixPhases())
        first = std::max(first, p.size());
    std::vector<size_t> widths;
    for (const auto& f : MatrixFaults())
    {
        size_t w = f.size();
        for (const auto& p : MatrixPhases())
        {
            const MatrixCell* c = FindCell(p, f);
            const auto r = c ? results.find(c->Name()) : results.end();
            w = std::max(w, r != results.end() ? r->second.size() : std::string("not run").size());
        }
        widths.push_back(w);
    }
    const auto pad = [](std::string s, size_t w) {
        s.resize(std::max(w, s.size()), ' ');
        return s;
    };
    std::string out = pad("", first);
    for (size_t i = 0; i < MatrixFaults().size(); ++i)
        out += " | " + pad(MatrixFaults()[i], widths[i]);
    out += "\n";
    for (const auto& p : MatrixPhases())
    {
        out += pad(p, first);
        for (size_t i = 0; i < MatrixFaults().size(); ++i)
        {
            const MatrixCell* c = FindCell(p, MatrixFaults()[i]);
            std::string text = "n/a";
            if (c)
            {
                const auto r = results.find(c->Name());
                text = r != results.end() ? r->second : "not run";
            }
            out += " | " + pad(text, widths[i]);
        }
        out += "\n";
    }
    return out;
}

}  // namespace qvtest
