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
enum class SystemTextShown
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
    SystemTextShown systemText = SystemTextShown::Never;
    bool identifies = false;  // the marker holds 3120 after the run

    std::string Name() const;  // usable as a test name
};

const std::vector<std::string>& MatrixPhases();
const std::vector<std::string>& MatrixFaults();
// Every cell that applies (a refused checksum exists only where a checksum is answered).
const std::vector<MatrixCell>& MatrixCells();
const MatrixCell* FindCell(const std::string& phase, const std::string& fault);

// Every text the user sees in a cell's run, in order, the opening messages
// included; with `systemText` given, the system's text for the failed write
// stands before the outcome.
std::vector<std::string> ExpectedTexts(const MatrixCell& cell, const std::string& systemText = std::string());
// The texts of a run that updates the unit, from a PC that has identified it
// or not.
std::vector<std::string> SuccessTexts(bool identified);
const char* OutcomeName(Outcome outcome);

// The matrix as a table: each cell's result, "n/a" where no cell applies.
std::string MatrixTable(const std::map<std::string, std::string>& resultByCellName);


}  // namespace qvtest
