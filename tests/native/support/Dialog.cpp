// What the native build takes in place of the dialog's help, ui/Help.cpp,
// which loads the HTML Help library through the registry and the loader: no
// native test opens help. And of update/Registry.cpp: the record, in memory.
#include "ui/UpdateDlg.h"

#include "support/Fake.h"
#include "ui/Help.h"
#include "update/Registry.h"

#ifndef QV_NATIVE_FRAMEWORK
#error "ui/UpdateDlg.h must see the native stand-in of framework/Framework.h: put tests/native/shim first on the include path"
#endif

void ShowHelpTopic(const wchar_t*) {}

void CloseAllHelp() {}

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
