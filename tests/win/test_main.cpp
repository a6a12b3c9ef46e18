// Entry point of the Windows-target tests. They link the program's
// application object (message boxes take its name) and, with it, the
// port-name table; the framework's entry point, which would show the dialog,
// is not theirs.
#include "app/UpdateApp.h"

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    theApp.InitApplication(::GetModuleHandleA(nullptr));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
