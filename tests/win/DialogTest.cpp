// The dialog members the run relies on, and its system menu.
#include "support/Harness.h"
#include "tests/UserTexts.h"

#include <gtest/gtest.h>

using namespace qvtest;

namespace
{
int g_setTexts = 0;
WNDPROC g_labelProc = nullptr;

LRESULT CALLBACK CountingLabelProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_SETTEXT)
        ++g_setTexts;
    return ::CallWindowProcA(g_labelProc, hWnd, message, wParam, lParam);
}

int g_menuLoops = 0;
LRESULT CALLBACK MenuLoopHook(int code, WPARAM wParam, LPARAM lParam)
{
    const auto* msg = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && msg->message == WM_ENTERMENULOOP)
        ++g_menuLoops;
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

void CALLBACK CloseMenu(HWND, UINT, UINT_PTR id, DWORD)
{
    ::EndMenu();
    ::KillTimer(nullptr, id);
}

std::string MenuText(HMENU menu, int position)
{
    char text[128] = {};
    ::GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof text, MF_BYPOSITION);
    return text;
}
}  // namespace

TEST(Dialog, SystemMenuHoldsRestoreMoveMinimizeAndAbout)
{
    Sim sim;
    ASSERT_TRUE(sim.Start());
    TestDialog t;
    HMENU menu = ::GetSystemMenu(t.dlg.m_hWnd, FALSE);
    ASSERT_NE(nullptr, menu);
    // Wine's own window menu carries an extra "About Wine" entry with its
    // separator after Close; Windows' has none. Leave those two out.
    const UINT kAboutWine = 0xF141;
    std::vector<std::string> items;
    const int n = ::GetMenuItemCount(menu);
    for (int i = 0; i < n; ++i)
    {
        const UINT id = ::GetMenuItemID(menu, i);
        if (id == kAboutWine || (id == 0 && i + 1 < n && ::GetMenuItemID(menu, i + 1) == kAboutWine))
            continue;
        items.push_back(id == 0 ? std::string("-") : std::to_string(id) + " " + MenuText(menu, i));
    }
    const std::vector<std::string> expected = {
        std::to_string(SC_RESTORE) + " &Restore", std::to_string(SC_MOVE) + " &Move",
        std::to_string(SC_MINIMIZE) + " Mi&nimize", "-",
        std::to_string(IDM_ABOUTBOX) + " " + kAboutMenuText};
    EXPECT_EQ(expected, items);
}

TEST(Dialog, SystemMenuCannotBeOpenedDuringARun)
{
    Sim sim;
    ASSERT_TRUE(sim.Start());
    TestDialog t;
    HHOOK hook = ::SetWindowsHookExA(WH_CALLWNDPROC, MenuLoopHook, nullptr, ::GetCurrentThreadId());
    ASSERT_NE(nullptr, hook);
    // Should a menu open after all, this ends it instead of hanging the test.
    ::SetTimer(nullptr, 0, 300, CloseMenu);

    ::EnableWindow(::GetDlgItem(t.dlg.m_hWnd, IDC_START), FALSE);  // as during a run
    g_menuLoops = 0;
    t.dlg.SendMessage(WM_SYSCOMMAND, SC_KEYMENU, ' ');
    t.dlg.SendMessage(WM_SYSCOMMAND, SC_MOUSEMENU, 0);
    t.dlg.SendMessage(WM_SYSCOMMAND, SC_DEFAULT, 0);
    EXPECT_EQ(0, g_menuLoops);

    // Minimize still works by other routes.
    t.dlg.SendMessage(WM_SYSCOMMAND, SC_MINIMIZE, 0);
    EXPECT_TRUE(t.dlg.IsIconic());
    t.dlg.SendMessage(WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(t.dlg.IsIconic());
    ::UnhookWindowsHookEx(hook);
}

TEST(Dialog, OnlyTimer123AndTheCancelButtonSetTheFlags)
{
    Sim sim;
    ASSERT_TRUE(sim.Start());
    TestDialog t;
    t.dlg.SendMessage(WM_TIMER, 124, 0);
    EXPECT_EQ(0, t.dlg.m_bTimeout);
    t.dlg.SendMessage(WM_TIMER, TIMEOUT_TIMER_ID, 0);
    EXPECT_EQ(1, t.dlg.m_bTimeout);

    // The Cancel button itself, enabled as during a run, reaches the flag;
    // a notification of another control does not.
    t.dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDC_PORT, CBN_SELCHANGE),
                      reinterpret_cast<LPARAM>(::GetDlgItem(t.dlg.m_hWnd, IDC_PORT)));
    EXPECT_EQ(0, t.dlg.m_bCancel);
    HWND cancel = ::GetDlgItem(t.dlg.m_hWnd, IDC_CANCEL_RUN);
    ::EnableWindow(cancel, TRUE);
    ::SendMessageA(cancel, BM_CLICK, 0, 0);
    EXPECT_EQ(1, t.dlg.m_bCancel);
    EXPECT_EQ(1, t.dlg.m_bTimeout) << "Cancel leaves the time-out flag alone";
}

TEST(Dialog, UnchangedStatusIsNotRewritten)
{
    Sim sim;
    ASSERT_TRUE(sim.Start());
    TestDialog t;
    HWND label = ::GetDlgItem(t.dlg.m_hWnd, IDC_STATUS);
    g_labelProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingLabelProc)));
    g_setTexts = 0;
    t.dlg.m_strStatus = kTransferringText;
    t.dlg.PushLabels();
    t.dlg.PushLabels();
    EXPECT_EQ(1, g_setTexts);
    EXPECT_EQ(kTransferringText, t.LabelText(IDC_STATUS));
    ::SetWindowLongPtrA(label, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(g_labelProc));
}

TEST(Dialog, EnterAndEscapeDoNotEndTheDialog)
{
    Sim sim;
    ASSERT_TRUE(sim.Start());
    TestDialog t;
    t.dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    t.dlg.SendMessage(WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    t.dlg.SendMessage(WM_CLOSE, 0, 0);
    t.Pump(50);
    EXPECT_TRUE(::IsWindow(t.dlg.m_hWnd));
    EXPECT_TRUE(::IsWindowVisible(t.dlg.m_hWnd));
    EXPECT_TRUE(t.boxes.Boxes().empty());
}
