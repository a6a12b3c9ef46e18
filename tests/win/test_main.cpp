// Entry point of the Windows-target tests: an application object for the
// framework (message boxes take its name).
#include "framework/Framework.h"

#include <gtest/gtest.h>

namespace
{
class CTestApp : public CWinApp
{
};
CTestApp theTestApp;
}  // namespace

int main(int argc, char** argv)
{
    theTestApp.InitApplication(::GetModuleHandleA(nullptr));
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
