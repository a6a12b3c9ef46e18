// The fault matrix: every phase of an update crossed with every way the unit
// or the user can break it, each with the outcome the user must see. Shared
// by the engine's matrix and the subset run through the real window.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace qvtest
{

enum class Outcome
{
    NotDetected,  // "Could not detect the QV-6100."
    Failed,       // the failure text of the writing stage
    Completed,    // "Completed!  ..." then the return-to-normal text
};

// When the system's own text for a failed write comes before the outcome.
enum class SystemText
{
    Never,
    Always,
    Maybe,  // the cut may land before or after the PC's next write
};

struct MatrixCell
{
    std::string phase;
    std::string fault;
    bool identification = false;  // the run starts unidentified, with the unit in normal mode
    std::string simOptions;       // the unit's start mode and its fault
    std::string cancelOnNote;     // non-empty: press Cancel once the unit logs this note
    Outcome outcome = Outcome::Failed;
    SystemText systemText = SystemText::Never;
    bool identifies = false;  // the marker holds 3120 after the run

    std::string Name() const;  // usable as a test name
};

const std::vector<std::string>& MatrixPhases();
const std::vector<std::string>& MatrixFaults();
// Every cell that applies (a refused checksum exists only where a checksum is answered).
const std::vector<MatrixCell>& MatrixCells();
const MatrixCell* FindCell(const std::string& phase, const std::string& fault);

// The texts the user sees after answering the opening messages.
std::vector<std::string> OutcomeTexts(Outcome outcome);
const char* OutcomeName(Outcome outcome);

// The matrix as a table: each cell's result, "n/a" where no cell applies.
std::string MatrixTable(const std::map<std::string, std::string>& resultByCellName);


}  // namespace qvtest
