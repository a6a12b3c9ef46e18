// Every phase of an update crossed with every fault: the user sees the right
// outcome, the run leaves nothing open, and the next run in the same process
// writes the whole image. The results are printed as a table at the end.
#include "support/FaultMatrix.h"
#include "support/Harness.h"
#include "tests/UserTexts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

using namespace qvtest;
using namespace qvwine;

namespace
{
std::map<std::string, std::string>& Results()
{
    static std::map<std::string, std::string> results;
    return results;
}

class Matrix : public RunTest, public ::testing::WithParamInterface<MatrixCell>
{
public:
    static void TearDownTestSuite()
    {
        const std::string table = MatrixTable(Results());
        std::printf("\nFault matrix (outcome seen by the user; FAIL marks a cell that went wrong):\n%s\n",
                    table.c_str());
        const std::string dir = Env("QV_ARTIFACTS");
        if (!dir.empty())
            if (FILE* f = std::fopen(WinPath(dir + "/fault-matrix.txt").c_str(), "wb"))
            {
                std::fputs(table.c_str(), f);
                std::fclose(f);
            }
        DeleteMarkerKey();
    }

protected:
    void ExpectUnitWrittenWhole()
    {
        EXPECT_TRUE(ReadFileBytes(sim.ImagePath()) == BuiltInImage()) << "the flash image differs from the built-in image";
        EXPECT_TRUE(ReadFileBytes(sim.ProgramPath()) == BuiltInProgram()) << "the program received differs";
    }
};

TEST_P(Matrix, OutcomeCleanUpAndNextRun)
{
    const MatrixCell& cell = GetParam();
    SetMarkerValue(cell.identification ? 0 : 3120);

    // The faulty run.
    RunOnce(cell.simOptions, {}, cell.cancelOnNote);
    const std::vector<std::string> texts = boxes.Texts();
    const std::vector<std::string> withSystemText = ExpectedTexts(cell, SystemMessage(kErrorNotReady));
    bool sawSystemText = false;
    switch (cell.systemText)
    {
    case SystemTextShown::Never:
        EXPECT_EQ(ExpectedTexts(cell), texts);
        break;
    case SystemTextShown::Always:
        EXPECT_EQ(withSystemText, texts);
        sawSystemText = true;
        break;
    case SystemTextShown::Maybe:
        sawSystemText = texts == withSystemText;
        EXPECT_TRUE(texts == ExpectedTexts(cell) || sawSystemText) << ::testing::PrintToString(texts);
        break;
    }
    ExpectIdleAfterRun(t);
    EXPECT_EQ(nullptr, ::FindWindowA("#32770", texts::kCaption)) << "no message box left open";
    DWORD marker = 0;
    const bool stored = GetMarkerValue(marker) && marker == 3120;
    EXPECT_EQ(cell.identifies, stored) << "the marker after the run";
    if (cell.outcome == Outcome::Completed)
        ExpectUnitWrittenWhole();
    const bool cellPassed = !HasFailure();

    // The next run in the same process, with a sound unit, updates it.
    RunOnce(stored ? "--mode writing" : "--s1 auto");
    EXPECT_EQ(SuccessTexts(stored), boxes.Texts()) << "the run after the fault";
    ExpectUnitWrittenWhole();
    ExpectIdleAfterRun(t);

    std::string result = OutcomeName(cell.outcome);
    if (sawSystemText)
        result = "system text, " + result;
    if (!cellPassed)
        result = "FAIL";
    else if (HasFailure())
        result += ", FAIL next run";
    Results()[cell.Name()] = result;
}

INSTANTIATE_TEST_SUITE_P(Cells, Matrix, ::testing::ValuesIn(MatrixCells()),
                         [](const ::testing::TestParamInfo<MatrixCell>& info) { return info.param.Name(); });

TEST(MatrixTable, EveryPhaseAndFaultHasARowOrColumn)
{
    // The table marks cells that do not apply and cells that did not run.
    std::map<std::string, std::string> results;
    const MatrixCell* checksum = FindCell("checksum", "refused checksum");
    ASSERT_NE(nullptr, checksum);
    results[checksum->Name()] = "failed";
    const std::string table = MatrixTable(results);
    for (const auto& p : MatrixPhases())
        EXPECT_NE(std::string::npos, table.find(p)) << p;
    for (const auto& f : MatrixFaults())
        EXPECT_NE(std::string::npos, table.find(f)) << f;
    EXPECT_EQ(nullptr, FindCell("alignment", "refused checksum"));
    EXPECT_NE(std::string::npos, table.find("n/a"));
    EXPECT_NE(std::string::npos, table.find("not run"));
    EXPECT_EQ(MatrixPhases().size() + 1, static_cast<size_t>(std::count(table.begin(), table.end(), '\n')));
}
}  // namespace
