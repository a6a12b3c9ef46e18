// What the native build takes in place of ui/UpdateDlg.cpp, which would bring
// the whole window layer (icon, system menu, port list, help): the dialog's
// constructor, which leaves the two flags as a click on Start does, and
// OnInitDialog. The message map routes what the waits dispatch, the timer and
// the Cancel click, to the product's handlers in ui/RunView.cpp, as the
// framework's dispatch does. And the registry record, kept in memory.
#include "ui/UpdateDlg.h"

#include "support/Fake.h"
#include "update/Registry.h"

#ifndef QV_NATIVE_FRAMEWORK
#error "ui/UpdateDlg.h must see the native stand-in of framework/Framework.h: put tests/native/shim first on the include path"
#endif

CUpdateDlg::CUpdateDlg(CWnd* pParent) : CDialog(IDD_UPDATE_DIALOG, pParent), m_bCancel(0), m_bTimeout(0), m_hIcon(nullptr)
{
}

BOOL CUpdateDlg::OnInitDialog()
{
    return TRUE;
}

BEGIN_MESSAGE_MAP(CUpdateDlg, CDialog)
    ON_WM_TIMER()
    ON_BN_CLICKED(IDC_CANCEL_RUN, &CUpdateDlg::OnCancelRun)
END_MESSAGE_MAP()

void ReadMarker(DWORD& marker)
{
    if (qvtest::TheRegistry().hasValue)
        marker = qvtest::TheRegistry().value;
}

void WriteMarker()
{
    qvtest::Registry& registry = qvtest::TheRegistry();
    if (registry.writable)
        registry = qvtest::Registry{true, DETECTED_MARKER, true};
}
