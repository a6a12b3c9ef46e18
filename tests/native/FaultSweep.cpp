// Every answer the unit gives in a whole update, spoiled in each way of
// support/Unit.h in turn, through the product's RunUpdate from a PC without
// the marker. After each faulty run: every wait ended within its time-out,
// the user saw exactly the messages the protocol gives for that phase and
// fault, "Completed!" only with the whole image in place, nothing left held
// or open, the labels and the bar idle, the marker as identified. Then a
// clean run on the same dialog puts the whole image in place. Each part
// prints one summary, phase by fault, and writes it to fault-sweep-PART.txt.
// QV_SWEEP_ALL=1 tries every answer; QV_SWEEP_SEED moves the sampled stride.
#include "payload/Payload.h"
#include "support/Fixture.h"
#include "support/Unit.h"
#include "tests/UserTexts.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>

using namespace qvnative;

namespace
{
// What the user sees after the first box (and the second, once identified).
enum Seen
{
    Done,      // "Completed!", then the way back to normal mode
    NotFound,  // "Could not detect the QV-6100."
    NotReady,  // the system's "Not ready.", then "Could not detect the QV-6100."
    Failed,    // "Failed!"
    NoCase,    // the fault does not apply to a one-byte answer
    Other,
};
const char* const kSeenNames[] = {"C", "ND", "NR+ND", "F", "-", "?"};

const int kPhases = static_cast<int>(Phase::Count);
const int kFaults = static_cast<int>(Fault::Count);
const char* const kPhaseNames[kPhases] = {"identification", "alignment", "confirmation", "echo",
                                          "last echo", "completion", "block open", "block ready",
                                          "chunk", "checksum"};
const char* const kFaultNames[kFaults] = {"silence", "wrong byte", "cable cut", "stray byte",
                                          "split", "just past", "just inside"};

// Written from the protocol, phase by fault. The program differs from it in
// two places, both in identification: a reply read in pieces is joined and
// judged at its ';' (so a split reply is recognised, and one whose ';' is
// spoilt is never judged), and "?;" renews the wait at most ten times (no
// fault here sends it).
const Seen kExpected[kPhases][kFaults] = {
    // silence wrong     cut       stray     split     past      inside
    {NotFound, NotFound, NotFound, Done,     Done,     NotFound, Done},  // identification
    {Done,     NotFound, NotReady, NotFound, NoCase,   NotFound, Done},  // alignment: the next burst is answered
    {NotFound, NotFound, NotFound, NotFound, NoCase,   NotFound, Done},  // confirmation
    {Failed,   Done,     Failed,   Done,     NoCase,   Failed,   Done},  // echo: read, not compared
    {Failed,   Done,     Failed,   Failed,   NoCase,   Failed,   Done},  // last echo: the stray is the last byte read
    {Failed,   Failed,   Failed,   Failed,   NoCase,   Failed,   Done},  // completion
    {Failed,   Failed,   Failed,   Failed,   NoCase,   Failed,   Done},  // block open
    {Failed,   Failed,   Failed,   Failed,   NoCase,   Failed,   Done},  // block ready
    {Failed,   Failed,   Failed,   Failed,   NoCase,   Failed,   Done},  // chunk
    {Failed,   Failed,   Failed,   Failed,   NoCase,   Failed,   Done},  // checksum
};

// The text and the type of each box the runs show.
struct Box
{
    const char* text;
    UINT type;
};
const UINT kAsk = MB_OKCANCEL | MB_ICONINFORMATION;
const Box kConnect{texts::kConnectText, kAsk};
const Box kWritingMode{texts::kWritingModeText, kAsk};
const std::vector<Box> kTails[] = {
    {{texts::kCompletedText, MB_ICONINFORMATION}, {texts::kNormalModeText, MB_ICONINFORMATION}},
    {{texts::kNotDetectedText, MB_ICONEXCLAMATION}},
    {{texts::kNotReadyText, MB_ICONEXCLAMATION}, {texts::kNotDetectedText, MB_ICONEXCLAMATION}},
    {{texts::kFailedText, MB_ICONEXCLAMATION}},
};
const DWORD kMarker = 3120;
const std::size_t kAnswers = 3524;   // of a whole update, the identification's included
// Sampled through the echoes and the chunks, besides the first and last of
// each run of them: so many apart that the two parts take about as long.
const std::size_t kEchoStride = 24;
const std::size_t kChunkStride = 256;
const std::int64_t kUserMs = 10000;  // between two runs: the user reads, re-powers, clicks

struct Overrun : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

bool SameBoxes(const std::vector<fake::Message>& shown, const std::vector<Box>& boxes)
{
    if (shown.size() != boxes.size())
        return false;
    for (std::size_t i = 0; i < shown.size(); ++i)
        if (shown[i].text != boxes[i].text || shown[i].type != boxes[i].type || shown[i].caption != texts::kCaption)
            return false;
    return true;
}

// What the user saw after the boxes that lead into the run, as a Seen.
Seen Classify(const std::vector<fake::Message>& shown, const std::vector<Box>& lead)
{
    for (int s = Done; s <= Failed; ++s)
    {
        std::vector<Box> boxes = lead;
        boxes.insert(boxes.end(), kTails[s].begin(), kTails[s].end());
        if (SameBoxes(shown, boxes))
            return static_cast<Seen>(s);
    }
    return Other;
}

// The first line of each box shown, quoted.
std::string Shown()
{
    std::string shown;
    for (const fake::Message& m : fake::TheScreen().messages)
        shown += " \"" + m.text.substr(0, m.text.find('\n')) + "\"";
    return shown;
}

std::vector<Box> Lead(bool marked, bool identified)
{
    std::vector<Box> lead;
    if (!marked)
        lead.push_back(kConnect);
    if (identified)
        lead.push_back(kWritingMode);
    return lead;
}

struct Part
{
    const char* name;
    Phase first;
    Phase last;
};

void PrintTo(const Part& part, std::ostream* os)
{
    *os << part.name;
}

class FaultSweep : public WorldTest, public ::testing::WithParamInterface<Part>
{
protected:
    // A new world and a new unit, the old firmware in it; the same dialog.
    void Fresh()
    {
        Arrange();
        m_unit = Unit::Connect();
        fake::SetSleepHook([this] {
            const std::int64_t now = fake::NowMs();
            const fake::TimerState t = fake::Timer(TIMEOUT_TIMER_ID);
            const std::int64_t deadline = t.lastSetMs + static_cast<std::int64_t>(t.periodMs) + kTimeoutMarginMs;
            if (m_running && (!t.armed || now > deadline))
                throw Overrun("; a wait outlived its time-out " + std::to_string(now - m_startMs) + " ms into the run");
        });
    }

    // One run from the Start click; returns what went wrong beyond the boxes.
    std::string Update()
    {
        fake::TheScreen() = fake::Screen();
        dlg->m_bCancel = 0;  // as the Start handler does
        m_startMs = fake::NowMs();
        m_running = true;
        try
        {
            dlg->RunUpdate();
        }
        catch (const Overrun& overrun)
        {
            m_running = false;
            dlg->StopReader();
            dlg->ClosePort();
            return overrun.what();
        }
        m_running = false;
        const fake::Screen& screen = fake::TheScreen();
        std::string wrong;
        if (fake::LiveThreads() != 0 || fake::PortOpen())
            wrong += "; the receive thread or the port is left";
        if (fake::TimerPeriodsHeld() != 0 || fake::ExecutionState() != ES_CONTINUOUS)
            wrong += "; the timer resolution or the power request is held";
        const std::pair<std::string, std::string> idle(texts::kIdleStatusText, "");
        if (screen.caution || screen.labels.empty() || screen.labels.back() != idle || screen.positions.empty() ||
            screen.positions.back() != 0)
            wrong += "; the labels, the bar or the caution are not idle";
        return wrong;
    }

    bool ImageInPlace() const
    {
        return m_unit->flash == fake::Bytes(FirmwareImage, FirmwareImage + kFirmwareImageBytes) &&
               m_unit->program == fake::Bytes(WriteControlProgram, WriteControlProgram + kWriteControlProgramBytes);
    }

    // The faulty run, its checks, then the clean run. Returns what the user saw.
    Seen Try(std::size_t answer, Phase phase, Fault fault, std::size_t byte, std::string& wrong)
    {
        Fresh();
        m_unit->Inject({fault, answer, byte});
        wrong = Update();
        const Seen expected = kExpected[static_cast<int>(phase)][static_cast<int>(fault)];
        const bool identified = phase != Phase::Identify || expected == Done;
        const Seen seen = Classify(fake::TheScreen().messages, Lead(false, identified));
        if (seen != expected)
            wrong += "; the user saw" + Shown();
        if (seen == Done && !ImageInPlace())
            wrong += "; \"Completed!\" without the whole image in place";
        const fake::Registry& registry = fake::TheRegistry();
        if ((registry.hasValue && registry.value == kMarker) != identified)
            wrong += identified ? "; no marker" : "; a marker without identification";
        if (m_unit->confused)
            wrong += "; the unit got a write the protocol does not allow";

        ::Sleep(kUserMs);
        fake::Replug();
        m_unit->Inject({});
        const std::string clean = Update();
        if (!clean.empty() || Classify(fake::TheScreen().messages, Lead(identified, true)) != Done || !ImageInPlace() ||
            m_unit->confused)
            wrong += "; the clean run after it failed:" + Shown() + clean;
        return seen;
    }

    std::shared_ptr<Unit> m_unit;
    bool m_running = false;
    std::int64_t m_startMs = 0;
};

bool EveryAnswer()
{
    const char* all = std::getenv("QV_SWEEP_ALL");
    return all && std::string(all) == "1";
}

// Every answer with QV_SWEEP_ALL=1. Else every answer of the phases with one
// per block or fewer, the first and last of each run of echoes and of
// chunks, and a stride through the rest from an offset the seed picks.
std::vector<bool> Sample(const std::vector<Phase>& plan, unsigned seed)
{
    std::vector<bool> tried(plan.size(), EveryAnswer());
    std::minstd_rand pick(seed);
    const std::size_t echoOffset = pick() % kEchoStride;
    const std::size_t chunkOffset = pick() % kChunkStride;
    for (std::size_t a = 0; a < plan.size(); ++a)
    {
        const bool edge = a == 0 || a + 1 == plan.size() || plan[a - 1] != plan[a] || plan[a + 1] != plan[a];
        if (edge || (plan[a] == Phase::Echo && a % kEchoStride == echoOffset) ||
            (plan[a] == Phase::Chunk && a % kChunkStride == chunkOffset) ||
            (plan[a] != Phase::Echo && plan[a] != Phase::Chunk))
            tried[a] = true;
    }
    return tried;
}
}  // namespace

TEST_P(FaultSweep, EveryFaultAtEachAnswer)
{
    const Part& part = GetParam();
    const char* seedText = std::getenv("QV_SWEEP_SEED");
    const unsigned seed = seedText ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10)) : 1;

    // A clean update numbers the answers.
    Fresh();
    const std::string problems = Update();
    ASSERT_TRUE(problems.empty() && Classify(fake::TheScreen().messages, Lead(false, true)) == Done && ImageInPlace())
        << "a clean update did not complete; the user saw" << Shown() << problems;
    const std::vector<Phase> plan = m_unit->answered;
    const std::vector<std::size_t> lengths = m_unit->lengths;
    ASSERT_EQ(kAnswers, plan.size());
    const std::vector<bool> tried = Sample(plan, seed);

    std::map<Seen, int> cells[kPhases][kFaults];
    int answers[kPhases] = {};
    int triedAnswers[kPhases] = {};
    int runs = 0;
    int wrongRuns = 0;
    bool wrongCell[kPhases][kFaults] = {};
    for (std::size_t a = 0; a < plan.size(); ++a)
    {
        const int p = static_cast<int>(plan[a]);
        if (plan[a] < part.first || plan[a] > part.last)
            continue;
        ++answers[p];
        if (!tried[a])
            continue;
        ++triedAnswers[p];
        for (int f = 0; f < kFaults; ++f)
        {
            const Fault fault = static_cast<Fault>(f);
            // Each byte of an answer up to three long inverted, else its first and last.
            std::vector<std::size_t> bytes{0};
            if (fault == Fault::WrongByte && lengths[a] > 3)
                bytes = {0, lengths[a] - 1};
            else if (fault == Fault::WrongByte)
                for (std::size_t b = 1; b < lengths[a]; ++b)
                    bytes.push_back(b);
            if (fault == Fault::Split && lengths[a] < 2)
                continue;
            for (std::size_t byte : bytes)
            {
                std::string wrong;
                ++cells[p][f][Try(a, plan[a], fault, byte, wrong)];
                ++runs;
                if (wrong.empty())
                    continue;
                wrongCell[p][f] = true;
                if (++wrongRuns <= 20)
                    ADD_FAILURE() << kPhaseNames[p] << " (answer " << a << "), " << kFaultNames[f]
                                  << (fault == Fault::WrongByte ? " " + std::to_string(byte) : "") << wrong;
            }
        }
    }

    std::ostringstream out;
    out << "Single-fault sweep, " << part.name << ": " << runs << " faulty runs, each followed by a clean run, at "
        << (EveryAnswer() ? "every answer" : "a sample of the answers (seed " + std::to_string(seed) + ")") << "; "
        << wrongRuns << " wrong.\n"
        << "What the user saw: C \"Completed!\", ND \"Could not detect the QV-6100.\", NR+ND \"Not ready.\" and ND, "
           "F \"Failed!\", ? other boxes; - no such case; * a case went wrong.\n";
    auto column = [&out](int width, const std::string& text) {
        char cell[64];
        std::snprintf(cell, sizeof cell, "%*s", width, text.c_str());
        out << cell;
    };
    column(-15, "phase");
    column(11, "answers");
    for (const char* fault : kFaultNames)
        column(12, fault);
    out << "\n";
    for (int p = static_cast<int>(part.first); p <= static_cast<int>(part.last); ++p)
    {
        column(-15, kPhaseNames[p]);
        column(11, std::to_string(triedAnswers[p]) + "/" + std::to_string(answers[p]));
        for (int f = 0; f < kFaults; ++f)
        {
            std::string cell;
            for (const auto& [seen, count] : cells[p][f])
                cell += (cell.empty() ? "" : ",") + std::to_string(count) + " " + kSeenNames[seen];
            column(12, (cell.empty() ? "-" : cell) + (wrongCell[p][f] ? "*" : ""));
        }
        out << "\n";
    }
    std::printf("%s", out.str().c_str());
    std::ofstream(std::string("fault-sweep-") + part.name + ".txt") << out.str();
    EXPECT_EQ(0, wrongRuns);
}

INSTANTIATE_TEST_SUITE_P(Parts, FaultSweep,
                         ::testing::Values(Part{"load", Phase::Identify, Phase::Completion},
                                           Part{"transfer", Phase::Open, Phase::Checksum}),
                         [](const ::testing::TestParamInfo<Part>& info) { return std::string(info.param.name); });
