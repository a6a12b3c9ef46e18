// What the user sees when the unit spoils one of its answers in an update,
// written from the protocol: one row for each of the simulator's steps (the
// last echo a row of its own), one column for each way the sweep spoils an
// answer with one of the simulator's faults. The native sweep tries every
// column at the unit's answers; the runs through the real program under Wine
// try a few cells. Both read their outcome here.
#pragma once

#include "payload/Payload.h"
#include "tests/UserTexts.h"
#include "sim/unit.hpp"

#include <windows.h>

#include <array>
#include <iterator>
#include <string>
#include <vector>

namespace qvtest
{

// What the user sees after the boxes that lead into the run.
enum Seen
{
    Unset,     // (a cell left out of the table)
    Done,      // "Completed!", then the way back to normal mode
    NotFound,  // "Could not detect the QV-6100."
    NotReady,  // the system's text for the failed write, then "Could not detect the QV-6100."
    Failed,    // "Failed!"
    NoCase,    // the fault does not apply to that answer
    Other,     // any other boxes
    SeenCount,
};
inline constexpr const char* kSeenNames[] = {"", "C", "ND", "NR+ND", "F", "-", "?"};
static_assert(std::size(kSeenNames) == SeenCount, "a name for each Seen");

// The unit's answers, in the order an update asks for them.
struct Row
{
    qvsim::Step step;  // the simulator's (--at)
    bool last;         // only the step's last answer (the last echo: the erase's byte may come with it)
    const char* name;
    int waitMs;  // how long the PC waits for it
    int answer;  // its one byte; -1: the program byte echoed, or "TY210;"
};
inline constexpr Row kRows[] = {
    {qvsim::Step::Ty, false, "identification", 200, -1},
    {qvsim::Step::Sync, false, "alignment", 200, 0x00},
    {qvsim::Step::Confirm, false, "confirmation", 200, 0xAA},
    {qvsim::Step::Echo, false, "echo", 1000, -1},
    {qvsim::Step::Echo, true, "last echo", 1000, -1},
    {qvsim::Step::Erase, false, "completion", 1000, 0xAA},
    {qvsim::Step::Open, false, "block open", 1000, 0x06},
    {qvsim::Step::Ready, false, "block ready", 1000, 0x11},
    {qvsim::Step::Chunk, false, "chunk", 1000, 0x11},
    {qvsim::Step::Ack, false, "checksum", 1000, 0x06},
};
inline constexpr std::size_t kRowCount = std::size(kRows);

// The row of a step (of its last answer only, with `last`).
inline std::size_t RowIndex(qvsim::Step step, bool last = false)
{
    std::size_t r = 0;
    while (kRows[r].step != step || kRows[r].last != last)
        ++r;
    return r;
}

// A fault of the simulator as the sweep uses it, and what the user sees for
// it at each row's answer. The program differs from the protocol in two
// places, both in the identification: a reply read in pieces is joined and
// judged at its ';' (a split reply is recognised, one whose ';' never comes
// is never judged), and "?;" renews the wait at most ten times (no fault here
// sends it). The load reads echoes without comparing them; a stray byte after
// the last echo is taken for the completion byte.
struct Column
{
    const char* name;
    qvsim::FaultKind kind;
    bool after;      // the genuine answer first, the fault right after it
    int wrongByte;   // the byte sent; -1: the answer's own byte inverted
    int msPastWait;  // with a time: past the end of the PC's wait for the answer (negative: before it)
    std::array<Seen, kRowCount> seen;
};
using qvsim::FaultKind;
// clang-format off
inline constexpr Column kColumns[] = {
    //                                        ident.    align.    confirm.  echo     last echo compl.  open    ready   chunk   checksum
    {"silence",     FaultKind::Silence, false, -1,    0, {NotFound, NotFound, NotFound, Failed, Failed, Failed, Failed, Failed, Failed, Failed}},
    {"wrong byte",  FaultKind::Wrong,   false, -1,    0, {NotFound, NotFound, NotFound, Done,   Done,   Failed, Failed, Failed, Failed, Failed}},
    {"cable cut",   FaultKind::Unplug,  false, -1,    0, {NotFound, NotReady, NotFound, Failed, Failed, Failed, Failed, Failed, Failed, Failed}},
    {"stray byte",  FaultKind::Wrong,   true,  0x5a,  0, {Done,     NotFound, NotFound, Done,   Failed, Failed, Failed, Failed, Failed, Failed}},
    {"split",       FaultKind::Split,   false, -1,    3, {Done,     NoCase,   NoCase,   NoCase, NoCase, NoCase, NoCase, NoCase, NoCase, NoCase}},
    {"flood",       FaultKind::Flood,   false, -1,    0, {NotFound, NotFound, NotFound, Failed, Failed, Failed, Failed, Failed, Failed, Failed}},
    {"just past",   FaultKind::Delay,   false, -1,    3, {NotFound, NotFound, NotFound, Failed, Failed, Failed, Failed, Failed, Failed, Failed}},
    {"just inside", FaultKind::Delay,   false, -1,   -3, {Done,     Done,     Done,     Done,   Done,   Done,   Done,   Done,   Done,   Done}},
};
// clang-format on
inline constexpr std::size_t kColumnCount = std::size(kColumns);

inline const Column& ColumnNamed(const std::string& name)
{
    const Column* column = kColumns;
    while (column->name != name)
        ++column;
    return *column;
}

constexpr bool EveryCellSet()
{
    for (const Column& column : kColumns)
        for (Seen seen : column.seen)
            if (seen == Unset || seen >= Other)
                return false;
    return true;
}
static_assert(EveryCellSet(), "each column gives an outcome for every row");

// The sweep's unit (`unit`, answering `latencyMs` after each byte it reads
// and erasing for `eraseMs`) with the column's fault at answer `index` of the
// row (chunks are counted over the whole image). A time is reckoned from the
// start of the PC's wait: from the last echo for the completion byte, from
// the PC's own write for every other answer.
inline qvsim::Config Spoiled(qvsim::Config unit, const Row& row, const Column& column, unsigned index)
{
    qvsim::Fault& fault = unit.fault;
    fault.kind = column.kind;
    fault.at = row.step;
    fault.index = index;
    fault.after = column.after;
    if (column.wrongByte >= 0)
        fault.wrongByte = static_cast<std::uint8_t>(column.wrongByte);
    else if (row.step != qvsim::Step::Ty)
        fault.wrongByte = static_cast<std::uint8_t>((row.answer >= 0 ? row.answer : WriteControlProgram[index]) ^ 0xFF);
    fault.floodSeed = 6100;
    if (column.kind == FaultKind::Delay)
    {
        const qvsim::Nanos late = row.step == qvsim::Step::Erase ? unit.erase : unit.latency;
        fault.delay = row.waitMs * qvsim::kNanosPerMs - late + column.msPastWait * qvsim::kNanosPerMs;
    }
    else
        fault.delay = column.msPastWait * qvsim::kNanosPerMs;
    return unit;
}

struct EndBox
{
    const char* text;
    UINT type;
};

// The boxes that end a run the user saw as `seen`.
inline std::vector<EndBox> EndBoxes(Seen seen)
{
    switch (seen)
    {
    case Done:
        return {{kCompletedText, MB_ICONINFORMATION}, {kNormalModeText, MB_ICONINFORMATION}};
    case NotFound:
        return {{kNotDetectedText, MB_ICONEXCLAMATION}};
    case NotReady:
        return {{kNotReadyText, MB_ICONEXCLAMATION}, {kNotDetectedText, MB_ICONEXCLAMATION}};
    case Failed:
        return {{kFailedText, MB_ICONEXCLAMATION}};
    default:
        return {};
    }
}

// Every box of a run from the Start click: the question of the
// identification on a PC without the record, the writing stage's question
// once the unit is identified, then the end.
inline std::vector<EndBox> RunBoxes(bool marked, bool identified, Seen seen)
{
    std::vector<EndBox> boxes;
    if (!marked)
        boxes.push_back({kConnectText, MB_OKCANCEL | MB_ICONINFORMATION});
    if (identified)
        boxes.push_back({kWritingModeText, MB_OKCANCEL | MB_ICONINFORMATION});
    for (const EndBox& box : EndBoxes(seen))
        boxes.push_back(box);
    return boxes;
}

}  // namespace qvtest
