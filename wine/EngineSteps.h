// The writing stage's operations, in the order RunUpdate calls them, for the
// tests and the benchmark that drive the engine step by step on a dialog of
// their own. Header only: whoever includes it links the engine.
#pragma once

#include "payload/Payload.h"
#include "ui/UpdateDlg.h"

namespace qvwine
{

struct EngineStep
{
    const char* name;
    int (*run)(CUpdateDlg& dlg);  // 1 on success, as the engine's operations
};

inline const EngineStep kWritingSteps[] = {
    {"open port, start reader",
     [](CUpdateDlg& dlg) {
         if (!dlg.OpenPort())
             return 0;
         dlg.StartReader();
         return 1;
     }},
    {"bit-rate sync", [](CUpdateDlg& dlg) { return dlg.SyncBitRate(); }},
    {"program load", [](CUpdateDlg& dlg) { return dlg.LoadWriteControlProgram(); }},
    {"firmware transfer", [](CUpdateDlg& dlg) { return dlg.TransferFirmware(FirmwareImage); }},
};
const int kStepsToBlocks = 3;  // open, sync and load: the unit awaits its first block

// Runs the first `count` steps with the cancel flag cleared, as Start would;
// returns how many succeeded (count when all did).
inline int RunWritingSteps(CUpdateDlg& dlg, int count)
{
    dlg.m_bCancel = 0;
    for (int i = 0; i < count; ++i)
        if (!kWritingSteps[i].run(dlg))
            return i;
    return count;
}

}  // namespace qvwine
