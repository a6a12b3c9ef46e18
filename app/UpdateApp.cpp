#include "app/UpdateApp.h"

#include "ui/UpdateDlg.h"

// The application object comes first and goes last. It is built before
// WinMain; the port-name table (serial/PortNames.h) is built on its first
// use, when the dialog lists the ports, and static objects are destroyed in
// the reverse order of their construction.
CUpdateApp theApp;

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
