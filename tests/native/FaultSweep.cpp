// Every answer the unit gives in a whole update, spoiled by each column of
// tests/Outcomes.h in turn (the simulator's own faults, on its protocol
// core), through the product's run from a click on Start on a PC without the
// record. After each faulty run: every wait ended within its time-out, the
// fault struck (the unit's note says so), the user saw exactly the boxes the
// table gives for that answer and fault, "Completed!" only with
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
// The unit of the virtual world: it answers 4 ms after it reads, as a unit
// behind a USB adapter, and erases for 5 ms. The user has S1 at hand: the
// unit switches to writing mode at the first alignment byte.
const int kLatencyMs = 4;
const int kEraseMs = 5;
qvsim::Config SweepUnit()
{
    qvsim::Config unit;
    unit.s1Auto = true;
    unit.latency = kLatencyMs * qvsim::kNanosPerMs;
    unit.erase = kEraseMs * qvsim::kNanosPerMs;
    return unit;
}
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
    std::size_t row;  // of kRows
    unsigned index;   // the simulator's --index
};

// Every answer of an update, in order, from the unit's block table.
std::vector<Answer> Plan()
{
    using qvsim::Step;
    std::vector<Answer> plan = {{RowIndex(Step::Ty), 0}, {RowIndex(Step::Sync), 0}, {RowIndex(Step::Confirm), 0}};
    for (unsigned i = 0; i + 1 < static_cast<unsigned>(kWriteControlProgramBytes); ++i)
        plan.push_back({RowIndex(Step::Echo), i});
    plan.push_back({RowIndex(Step::Echo, true), static_cast<unsigned>(kWriteControlProgramBytes) - 1});
    plan.push_back({RowIndex(Step::Erase), 0});
    unsigned chunk = 0;
    for (unsigned b = 0; b < qvsim::kBlockCount; ++b)
    {
        plan.push_back({RowIndex(Step::Open), b});
        plan.push_back({RowIndex(Step::Ready), b});
        for (unsigned c = 0; c < qvsim::kBlockTable[b].size / qvsim::kChunkSize; ++c)
            plan.push_back({RowIndex(Step::Chunk), chunk++});
        plan.push_back({RowIndex(Step::Ack), b});
    }
    return plan;
}

// What the user saw.
Seen Classify(bool marked, bool identified)
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
    return Other;
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
    qvsim::Step first;
    qvsim::Step last;
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
    void Plug(const qvsim::Config& unit) { m_unit = &ConnectUnit(unit); }

    // One run from the Start click; returns what went wrong beyond the boxes.
    std::string Update()
    {
        TheScreen() = Screen();
        m_startMs = NowMs();
        m_running = true;
        try
        {
            Click(IDC_START);
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
    Seen Try(const Answer& answer, const Column& column, std::string& wrong)
    {
        const Row& row = kRows[answer.row];
        Fresh();
        Plug(Spoiled(SweepUnit(), row, column, answer.index));
        wrong = Update();
        const Seen expected = column.seen[answer.row];
        const bool identified = row.step != qvsim::Step::Ty || expected == Done;
        const Seen seen = Classify(false, identified);
        if (seen != expected)
            wrong += "; the user saw" + Shown();
        if (seen == Done && !ImageInPlace())
            wrong += "; \"Completed!\" without the whole image in place";
        const Registry& registry = TheRegistry();
        if ((registry.hasValue && registry.value == kRecordValue) != identified)
            wrong += identified ? "; no record" : "; a record without identification";
        bool fired = false;
        for (const std::string& note : UnitNotes())
            fired = fired || note.rfind("fault ", 0) == 0;
        if (!fired)
            wrong += "; the fault never struck";

        ::Sleep(kUserMs);
        Replug();
        Plug(SweepUnit());
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
        const qvsim::Step p = kRows[plan[a].row].step;
        const bool edge =
            a == 0 || a + 1 == plan.size() || plan[a - 1].row != plan[a].row || plan[a + 1].row != plan[a].row;
        if (edge || (p == qvsim::Step::Echo && a % kEchoStride == echoOffset) ||
            (p == qvsim::Step::Chunk && a % kChunkStride == chunkOffset) ||
            (p != qvsim::Step::Echo && p != qvsim::Step::Chunk))
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

    std::map<Seen, int> cells[kRowCount][kColumnCount];
    int answers[kRowCount] = {};
    int triedAnswers[kRowCount] = {};
    int runs = 0;
    int wrongRuns = 0;
    bool wrongCell[kRowCount][kColumnCount] = {};
    for (std::size_t a = 0; a < plan.size(); ++a)
    {
        const std::size_t r = plan[a].row;
        if (kRows[r].step < part.first || kRows[r].step > part.last)
            continue;
        ++answers[r];
        if (!tried[a])
            continue;
        ++triedAnswers[r];
        for (std::size_t c = 0; c < kColumnCount; ++c)
        {
            if (kColumns[c].seen[r] == NoCase)
                continue;
            std::string wrong;
            ++cells[r][c][Try(plan[a], kColumns[c], wrong)];
            ++runs;
            if (wrong.empty())
                continue;
            wrongCell[r][c] = true;
            if (++wrongRuns <= 20)
                ADD_FAILURE() << kRows[r].name << " (answer " << a << "), " << kColumns[c].name << wrong;
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
    for (const Column& c : kColumns)
        column(12, c.name);
    out << "\n";
    for (std::size_t r = 0; r < kRowCount; ++r)
    {
        if (kRows[r].step < part.first || kRows[r].step > part.last)
            continue;
        column(-15, kRows[r].name);
        column(11, std::to_string(triedAnswers[r]) + "/" + std::to_string(answers[r]));
        for (std::size_t c = 0; c < kColumnCount; ++c)
        {
            std::string cell;
            for (const auto& [seen, count] : cells[r][c])
                cell += (cell.empty() ? "" : ",") + std::to_string(count) + " " + kSeenNames[seen];
            column(12, (cell.empty() ? "-" : cell) + (wrongCell[r][c] ? "*" : ""));
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
                         ::testing::Values(Part{"load", qvsim::Step::Ty, qvsim::Step::Erase},
                                           Part{"transfer", qvsim::Step::Open, qvsim::Step::Ack}),
                         [](const ::testing::TestParamInfo<Part>& info) { return std::string(info.param.name); });
