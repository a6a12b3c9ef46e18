// What the user sees when the unit spoils one of its answers in an update,
// written from the protocol: one row for each kind of answer, one column for
// each fault. The faults are the simulator's own options. The native sweep
// tries every fault at the unit's answers; the runs through the real program
// under Wine try a few cells. Both read their outcome here.
#pragma once

#include "payload/Payload.h"
#include "tests/UserTexts.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace qvtest
{

// The unit's answers, in the order an update asks for them.
enum class Phase
{
    Identify,
    Align,
    Confirm,
    Echo,
    LastEcho,
    Completion,
    Open,
    Ready,
    Chunk,
    Checksum,
    Count,
};

struct PhaseRow
{
    const char* name;
    const char* step;     // the simulator's name for the answer (--at)
    int waitMs;           // how long the PC waits for it
    int answer;           // its one byte; -1: the program byte echoed, or "TY210;"
};

const PhaseRow kPhases[] = {
    {"identification", "ty", 200, -1},      {"alignment", "sync", 200, 0x00}, {"confirmation", "confirm", 200, 0xAA},
    {"echo", "echo", 1000, -1},             {"last echo", "echo", 1000, -1},  {"completion", "erase", 1000, 0xAA},
    {"block open", "open", 1000, 0x06},     {"block ready", "ready", 1000, 0x11}, {"chunk", "chunk", 1000, 0x11},
    {"checksum", "ack", 1000, 0x06},
};

enum class Fault
{
    Silence,     // the answer never comes, and the unit stalls
    WrongByte,   // another byte (the identification: another fifth character)
    CableCut,    // the cable is pulled when the answer would come
    StrayByte,   // one more byte right after it
    Split,       // in two pieces 3 ms apart (the identification's reply only)
    Flood,       // 5,000 random bytes instead
    JustPast,    // 3 ms after the PC's wait for it ran out
    JustInside,  // 3 ms before that
    Count,
};

const char* const kFaultNames[] = {"silence", "wrong byte", "cable cut", "stray byte",
                                   "split",   "flood",      "just past", "just inside"};

// What the user sees after the boxes that lead into the run.
enum Seen
{
    Done,      // "Completed!", then the way back to normal mode
    NotFound,  // "Could not detect the QV-6100."
    NotReady,  // the system's text for the failed write, then "Could not detect the QV-6100."
    Failed,    // "Failed!"
    NoCase,    // the fault does not apply to a one-byte answer
};

const int kPhaseCount = static_cast<int>(Phase::Count);
const int kFaultCount = static_cast<int>(Fault::Count);

// The program differs from the protocol in two places, both in the
// identification: a reply read in pieces is joined and judged at its ';' (a
// split reply is recognised, one whose ';' never comes is never judged), and
// "?;" renews the wait at most ten times (no fault here sends it). The load
// reads echoes without comparing them; a stray byte after the last echo is
// taken for the completion byte.
const Seen kExpected[kPhaseCount][kFaultCount] = {
    // silence wrong     cut       stray     split     flood     past      inside
    {NotFound, NotFound, NotFound, Done,     Done,     NotFound, NotFound, Done},  // identification
    {NotFound, NotFound, NotReady, NotFound, NoCase,   NotFound, NotFound, Done},  // alignment
    {NotFound, NotFound, NotFound, NotFound, NoCase,   NotFound, NotFound, Done},  // confirmation
    {Failed,   Done,     Failed,   Done,     NoCase,   Failed,   Failed,   Done},  // echo
    {Failed,   Done,     Failed,   Failed,   NoCase,   Failed,   Failed,   Done},  // last echo
    {Failed,   Failed,   Failed,   Failed,   NoCase,   Failed,   Failed,   Done},  // completion
    {Failed,   Failed,   Failed,   Failed,   NoCase,   Failed,   Failed,   Done},  // block open
    {Failed,   Failed,   Failed,   Failed,   NoCase,   Failed,   Failed,   Done},  // block ready
    {Failed,   Failed,   Failed,   Failed,   NoCase,   Failed,   Failed,   Done},  // chunk
    {Failed,   Failed,   Failed,   Failed,   NoCase,   Failed,   Failed,   Done},  // checksum
};

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
// identification on a PC without the marker, the writing stage's question
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

// The simulator's options that spoil answer `index` of `phase` (chunks are
// counted over the whole image). Just past and just inside are reckoned from
// the start of the PC's wait, with the unit answering `latencyMs` after each
// byte it reads and erasing for `eraseMs`.
inline std::string FaultOptions(Phase phase, Fault fault, unsigned index, int latencyMs = 0, int eraseMs = 0)
{
    const PhaseRow& row = kPhases[static_cast<int>(phase)];
    const std::string at = std::string(" --at ") + row.step + " --index " + std::to_string(index);
    char byte[16];
    switch (fault)
    {
    case Fault::Silence:
        return "--fault silence" + at;
    case Fault::WrongByte:
    {
        if (phase == Phase::Identify)
            return "--fault wrong" + at;
        const int answer = row.answer >= 0 ? row.answer : WriteControlProgram[index];
        std::snprintf(byte, sizeof byte, "0x%02x", answer ^ 0xFF);
        return "--fault wrong --fault-byte " + std::string(byte) + at;
    }
    case Fault::CableCut:
        return "--fault unplug" + at;
    case Fault::StrayByte:
        return "--fault wrong --fault-byte 0x5a --after" + at;
    case Fault::Split:
        return "--split 3 --split-gap 3";
    case Fault::Flood:
        return "--fault flood --flood-bytes 5000 --flood-seed 6100" + at;
    case Fault::JustPast:
    case Fault::JustInside:
    {
        // The PC waits for the completion byte from the last echo on, for
        // every other answer from its own write.
        const int late = phase == Phase::Completion ? eraseMs : latencyMs;
        const int ms = row.waitMs - late + (fault == Fault::JustPast ? 3 : -3);
        return "--fault delay --fault-ms " + std::to_string(ms) + at;
    }
    default:
        return std::string();
    }
}

}  // namespace qvtest
