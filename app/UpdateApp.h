// The application object: shows the update dialog and ends when it ends.
#pragma once

#include "framework/Framework.h"

class CUpdateApp : public CWinApp
{
public:
    CUpdateApp() : CWinApp(nullptr) {}

    BOOL InitInstance() override;
};

// The one application object (app/UpdateApp.cpp).
extern CUpdateApp theApp;
