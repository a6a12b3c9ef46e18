// Every phase of an update crossed with every fault: the user sees the right
// outcome, the run leaves nothing open, and the next run in the same process
// writes the whole image. The results are printed as a table at the end.
#include "serial/SerialLink.h"
#include "support/FaultMatrix.h"
#include "support/Harness.h"
#include "support/UserTexts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>

using namespace qvtest;

namespace
{
std::map<std::string, std::string>& Results()
{
    static std::map<std::string, std::string> results;
    return results;
}

// The system's own text for a failed write, as the program shows it.
std::string SystemText(DWORD error)
{
    LPSTR text = nullptr;
    ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&text), 0,
                     nullptr);
    std::string s = text ? text : "";
    if (text)
        ::LocalFree(text);
    return s;
}

const DWORD kErrorNotReady = 21;  // what a write to an unplugged port fails with

class Matrix : public ::testing::TestWithParam<MatrixCell>
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
    // One press of Start; returns the texts of the boxes shown.
    std::vector<std::string> Run(const std::string& simOptions, const std::string& cancelOnNote)
    {
        boxes.Clear();
        if (!sim.Start(simOptions))
            return {};
        t.SelectPort(sim.PortName());
        t.dlg.m_bCancel = 0;
        if (!cancelOnNote.empty())
            t.ClickCancelWhenLogged(sim.LogPath(), cancelOnNote);
        t.dlg.RunUpdate();
        sim.Stop();
        return boxes.Texts();
    }

    void ExpectUnitWrittenWhole()
    {
        EXPECT_TRUE(ReadFileBytes(sim.ImagePath()) == BuiltInImage()) << "the flash image differs from the built-in image";
        EXPECT_TRUE(ReadFileBytes(sim.ProgramPath()) == BuiltInProgram()) << "the program received differs";
    }

    Sim sim;
    TestDialog t;
    BoxWatcher& boxes = t.boxes;
};

TEST_P(Matrix, OutcomeCleanUpAndNextRun)
{
    const MatrixCell& cell = GetParam();
    SetMarkerValue(cell.identification ? 0 : 3120);

    // The faulty run.
    const std::vector<std::string> texts = Run(cell.simOptions, cell.cancelOnNote);
    std::vector<std::string> expected;
    if (cell.identification)
        expected.push_back(kConnectText);
    if (!cell.identification || cell.outcome != Outcome::NotDetected)
        expected.push_back(kWritingModeText);
    const size_t systemAt = expected.size();
    for (const auto& s : OutcomeTexts(cell.outcome))
        expected.push_back(s);
    std::vector<std::string> withSystemText = expected;
    withSystemText.insert(withSystemText.begin() + static_cast<std::ptrdiff_t>(systemAt), SystemText(kErrorNotReady));

    bool sawSystemText = false;
    switch (cell.systemText)
    {
    case SystemText::Never:
        EXPECT_EQ(expected, texts);
        break;
    case SystemText::Always:
        EXPECT_EQ(withSystemText, texts);
        sawSystemText = true;
        break;
    case SystemText::Maybe:
        sawSystemText = texts == withSystemText;
        EXPECT_TRUE(texts == expected || sawSystemText) << ::testing::PrintToString(texts);
        break;
    }
    ExpectIdleAfterRun(t);
    EXPECT_EQ(nullptr, ::FindWindowA("#32770", "QV-6100 Update")) << "no message box left open";
    DWORD marker = 0;
    const bool stored = GetMarkerValue(marker) && marker == 3120;
    EXPECT_EQ(cell.identifies, stored) << "the marker after the run";
    if (cell.outcome == Outcome::Completed)
        ExpectUnitWrittenWhole();
    const bool cellPassed = !HasFailure();

    // The next run in the same process, with a sound unit, updates it.
    const std::vector<std::string> next = Run(stored ? "--mode writing" : "--s1 auto", "");
    std::vector<std::string> success;
    if (!stored)
        success.push_back(kConnectText);
    success.push_back(kWritingModeText);
    for (const auto& s : OutcomeTexts(Outcome::Completed))
        success.push_back(s);
    EXPECT_EQ(success, next) << "the run after the fault";
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
