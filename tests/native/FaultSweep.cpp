// Every answer the unit gives in a whole update, spoiled by each fault of
// tests/Outcomes.h in turn (the simulator's own options, on its protocol
// core), through the product's RunUpdate from a PC without the marker. After
// each faulty run: every wait ended within its time-out, the user saw exactly
// the boxes the table gives for that phase and fault, "Completed!" only with
// the whole image in the unit, nothing left held or open, the labels and the
// bar idle, the marker as identified. Then a clean run on the same dialog puts
// the whole image in place. Each part prints one summary, phase by fault, and
// writes it to fault-sweep-PART.txt beside the test program, wherever it is
// started from. QV_SWEEP_ALL=1 tries every answer;
// QV_SWEEP_SEED moves the sampled stride.
#include "support/Fixture.h"
#include "tests/Outcomes.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <stdexcept>

using namespace qvtest;

namespace
{
const char* const kSeenNames[] = {"C", "ND", "NR+ND", "F", "-", "?"};
const int kOther = 5;

// The unit of the virtual world: it answers 4 ms after it reads, as a unit
// behind a USB adapter, and erases for 5 ms. The user has S1 at hand: the
// unit switches to writing mode at the first alignment byte.
const int kLatencyMs = 4;
const int kEraseMs = 5;
const std::string kBaseOptions =
    "--s1 auto --latency " + std::to_string(kLatencyMs) + " --erase-ms " + std::to_string(kEraseMs) + " ";
const DWORD kMarker = 3120;
// Sampled through the echoes and the chunks, besides the first and last of
// each run of them: so many apart that the two parts take about as long.
const std::size_t kEchoStride = 24;
const std::size_t kChunkStride = 256;
const std::int64_t kUserMs = 10000;  // between two runs: the user reads, re-powers, clicks

struct Overrun : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

struct Answer
{
    Phase phase;
    unsigned index;  // the simulator's --index
};

// Every answer of an update, in order, from the unit's block table.
std::vector<Answer> Plan()
{
    std::vector<Answer> plan = {{Phase::Identify, 0}, {Phase::Align, 0}, {Phase::Confirm, 0}};
    for (unsigned i = 0; i + 1 < static_cast<unsigned>(kWriteControlProgramBytes); ++i)
        plan.push_back({Phase::Echo, i});
    plan.push_back({Phase::LastEcho, static_cast<unsigned>(kWriteControlProgramBytes) - 1});
    plan.push_back({Phase::Completion, 0});
    unsigned chunk = 0;
    for (unsigned b = 0; b < qvsim::kBlockCount; ++b)
    {
        plan.push_back({Phase::Open, b});
        plan.push_back({Phase::Ready, b});
        for (unsigned c = 0; c < qvsim::kBlockTable[b].size / qvsim::kChunkSize; ++c)
            plan.push_back({Phase::Chunk, chunk++});
        plan.push_back({Phase::Checksum, b});
    }
    return plan;
}

// What the user saw, as a Seen; kOther for any other boxes.
int Classify(bool marked, bool identified)
{
    const std::vector<Message>& shown = TheScreen().messages;
    for (Seen seen : {Done, NotFound, NotReady, Failed})
    {
        const std::vector<EndBox> boxes = RunBoxes(marked, identified, seen);
        bool same = shown.size() == boxes.size();
        for (std::size_t i = 0; same && i < shown.size(); ++i)
            same = shown[i].text == boxes[i].text && shown[i].type == boxes[i].type && shown[i].caption == kCaption;
        if (same)
            return seen;
    }
    return kOther;
}

// The first line of each box shown, quoted.
std::string Shown()
{
    std::string shown;
    for (const Message& m : TheScreen().messages)
        shown += " \"" + m.text.substr(0, m.text.find('\n')) + "\"";
    return shown;
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
    // A new world, and a unit with the old firmware in it; the same dialog.
    void Fresh()
    {
        Arrange();
        SetSleepHook([this] {
            const std::int64_t now = NowMs();
            const TimerState t = Timer(TIMEOUT_TIMER_ID);
            const std::int64_t deadline = t.lastSetMs + static_cast<std::int64_t>(t.periodMs) + kTimeoutMarginMs;
            if (m_running && (!t.armed || now > deadline))
                throw Overrun("; a wait outlived its time-out " + std::to_string(now - m_startMs) + " ms into the run");
        });
    }

    // A unit, powered up afresh, on the far end of the port.
    void Plug(const std::string& options) { m_unit = &Connect(kBaseOptions + options); }

    // One run from the Start click; returns what went wrong beyond the boxes.
    std::string Update()
    {
        TheScreen() = Screen();
        dlg->m_bCancel = 0;  // as the Start handler does
        m_startMs = NowMs();
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
        const Screen& screen = TheScreen();
        std::string wrong;
        if (LiveThreads() != 0 || PortOpen())
            wrong += "; the receive thread or the port is left";
        if (TimerPeriodsHeld() != 0 || ExecutionState() != ES_CONTINUOUS)
            wrong += "; the timer resolution or the power request is held";
        const std::pair<std::string, std::string> idle(kIdleStatusText, "");
        if (screen.caution || screen.labels.empty() || screen.labels.back() != idle || screen.positions.empty() ||
            screen.positions.back() != 0)
            wrong += "; the labels, the bar or the caution are not idle";
        for (const std::string& note : UnitNotes())
            if (note.rfind("error:", 0) == 0)
                wrong += "; the unit got what the protocol does not allow (" + note + ")";
        return wrong;
    }

    bool ImageInPlace() const
    {
        return m_unit->image() == qvsim::Bytes(FirmwareImage, FirmwareImage + kFirmwareImageBytes) &&
               m_unit->program() == qvsim::Bytes(WriteControlProgram, WriteControlProgram + kWriteControlProgramBytes);
    }

    // The faulty run, its checks, then the clean run. Returns what the user saw.
    int Try(const Answer& answer, Fault fault, std::string& wrong)
    {
        Fresh();
        Plug(FaultOptions(answer.phase, fault, answer.index, kLatencyMs, kEraseMs));
        wrong = Update();
        const Seen expected = kExpected[static_cast<int>(answer.phase)][static_cast<int>(fault)];
        const bool identified = answer.phase != Phase::Identify || expected == Done;
        const int seen = Classify(false, identified);
        if (seen != expected)
            wrong += "; the user saw" + Shown();
        if (seen == Done && !ImageInPlace())
            wrong += "; \"Completed!\" without the whole image in place";
        const Registry& registry = TheRegistry();
        if ((registry.hasValue && registry.value == kMarker) != identified)
            wrong += identified ? "; no marker" : "; a marker without identification";
        bool fired = fault == Fault::Split;
        for (const std::string& note : UnitNotes())
            fired = fired || note.rfind("fault ", 0) == 0;
        if (!fired)
            wrong += "; the fault never struck";

        ::Sleep(kUserMs);
        Replug();
        Plug("");
        const std::string clean = Update();
        if (!clean.empty() || Classify(identified, true) != Done || !ImageInPlace())
            wrong += "; the clean run after it failed:" + Shown() + clean;
        return seen;
    }

    const qvsim::Unit* m_unit = nullptr;
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
std::vector<bool> Sample(const std::vector<Answer>& plan, unsigned seed)
{
    std::vector<bool> tried(plan.size(), EveryAnswer());
    std::minstd_rand pick(seed);
    const std::size_t echoOffset = pick() % kEchoStride;
    const std::size_t chunkOffset = pick() % kChunkStride;
    for (std::size_t a = 0; a < plan.size(); ++a)
    {
        const Phase p = plan[a].phase;
        const bool edge = a == 0 || a + 1 == plan.size() || plan[a - 1].phase != p || plan[a + 1].phase != p;
        if (edge || (p == Phase::Echo && a % kEchoStride == echoOffset) ||
            (p == Phase::Chunk && a % kChunkStride == chunkOffset) || (p != Phase::Echo && p != Phase::Chunk))
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
    const std::vector<Answer> plan = Plan();
    const std::vector<bool> tried = Sample(plan, seed);

    std::map<int, int> cells[kPhaseCount][kFaultCount];
    int answers[kPhaseCount] = {};
    int triedAnswers[kPhaseCount] = {};
    int runs = 0;
    int wrongRuns = 0;
    bool wrongCell[kPhaseCount][kFaultCount] = {};
    for (std::size_t a = 0; a < plan.size(); ++a)
    {
        const int p = static_cast<int>(plan[a].phase);
        if (plan[a].phase < part.first || plan[a].phase > part.last)
            continue;
        ++answers[p];
        if (!tried[a])
            continue;
        ++triedAnswers[p];
        for (int f = 0; f < kFaultCount; ++f)
        {
            if (kExpected[p][f] == NoCase)
                continue;
            std::string wrong;
            ++cells[p][f][Try(plan[a], static_cast<Fault>(f), wrong)];
            ++runs;
            if (wrong.empty())
                continue;
            wrongCell[p][f] = true;
            if (++wrongRuns <= 20)
                ADD_FAILURE() << kPhases[p].name << " (answer " << a << "), " << kFaultNames[f] << wrong;
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
        column(-15, kPhases[p].name);
        column(11, std::to_string(triedAnswers[p]) + "/" + std::to_string(answers[p]));
        for (int f = 0; f < kFaultCount; ++f)
        {
            std::string cell;
            for (const auto& [seen, count] : cells[p][f])
                cell += (cell.empty() ? "" : ",") + std::to_string(count) + " " + kSeenNames[seen];
            column(12, (cell.empty() ? "-" : cell) + (wrongCell[p][f] ? "*" : ""));
        }
        out << "\n";
    }
    std::printf("%s", out.str().c_str());
    const auto file = std::filesystem::read_symlink("/proc/self/exe").parent_path() /
                      (std::string("fault-sweep-") + part.name + ".txt");
    std::ofstream(file) << out.str();
    std::printf("written to %s\n", file.c_str());
    EXPECT_EQ(0, wrongRuns);
}

INSTANTIATE_TEST_SUITE_P(Parts, FaultSweep,
                         ::testing::Values(Part{"load", Phase::Identify, Phase::Completion},
                                           Part{"transfer", Phase::Open, Phase::Checksum}),
                         [](const ::testing::TestParamInfo<Part>& info) { return std::string(info.param.name); });
