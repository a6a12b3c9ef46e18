#include "app/UpdateApp.h"

#include "serial/PortNames.h"
#include "ui/UpdateDlg.h"

// The application object comes first and goes last: C++ fixes the order of
// static construction only within one translation unit, so the port-name
// table is defined here, after it, and is destroyed before it at exit. The
// test and benchmark programs link this file too, for both.
CUpdateApp theApp;
const PortNameTable PortNames;

BOOL CUpdateApp::InitInstance()
{
    Enable3dControlsStatic();

    CUpdateDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();

    // The dialog has ended: end the application instead of running a
    // message loop.
    return FALSE;
}
