// The message map macros of the framework, for any window class with
// OnWndMsg and the Default()/TakeDefault() pair of CWnd.
#pragma once

// Message maps: BEGIN_MESSAGE_MAP ... END_MESSAGE_MAP define the class's
// OnWndMsg; each entry tests one message and calls its named handler.
#define DECLARE_MESSAGE_MAP() \
public:                       \
    BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                                 \
    BOOL theClass::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult)      \
    {                                                                                          \
        typedef baseClass TheBaseClass;                                                        \
        (void)lParam;

#define END_MESSAGE_MAP()                                            \
    return TheBaseClass::OnWndMsg(message, wParam, lParam, pResult); \
    }

// One entry: when `test` holds, the handler's `result` is the message's
// result, unless the handler asked for the default handling.
#define AFX_MSG_RESULT(test, result) \
    if (test)                        \
    {                                \
        if (!pResult)                \
            return TRUE;             \
        *pResult = (result);         \
        return !TakeDefault();       \
    }

#define AFX_MSG_ENTRY(test, call) AFX_MSG_RESULT(test, ((call), 0))

// A command comes from a menu (code 0), an accelerator (code 1) or a button
// (BN_CLICKED, which is 0 too).
#define ON_COMMAND(id, memberFxn) \
    AFX_MSG_ENTRY(message == WM_COMMAND && LOWORD(wParam) == (id) && HIWORD(wParam) <= 1, (this->*(memberFxn))())
#define ON_BN_CLICKED(id, memberFxn) \
    AFX_MSG_ENTRY(message == WM_COMMAND && LOWORD(wParam) == (id) && HIWORD(wParam) == BN_CLICKED, (this->*(memberFxn))())
#define ON_WM_TIMER() AFX_MSG_ENTRY(message == WM_TIMER, OnTimer(static_cast<UINT_PTR>(wParam)))
#define ON_WM_DESTROY() AFX_MSG_ENTRY(message == WM_DESTROY, OnDestroy())
#define ON_WM_PAINT() AFX_MSG_ENTRY(message == WM_PAINT, OnPaint())
#define ON_WM_SYSCOMMAND() AFX_MSG_ENTRY(message == WM_SYSCOMMAND, OnSysCommand(static_cast<UINT>(wParam), lParam))
#define ON_WM_CONTEXTMENU()                                                                     \
    AFX_MSG_ENTRY(message == WM_CONTEXTMENU,                                                     \
                  OnContextMenu(reinterpret_cast<HWND>(wParam),                                  \
                                POINT{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))}))
#define ON_WM_ACTIVATE()                                                                              \
    AFX_MSG_ENTRY(message == WM_ACTIVATE, OnActivate(LOWORD(wParam), reinterpret_cast<HWND>(lParam), \
                                                     static_cast<BOOL>(HIWORD(wParam))))
#define ON_WM_QUERYDRAGICON() \
    AFX_MSG_RESULT(message == WM_QUERYDRAGICON, reinterpret_cast<LRESULT>(OnQueryDragIcon()))
#define ON_WM_CTLCOLOR()                                                                                    \
    if (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC)                                       \
    {                                                                                                       \
        CWnd ctl(reinterpret_cast<HWND>(lParam));                                                           \
        AFX_MSG_RESULT(true, reinterpret_cast<LRESULT>(OnCtlColor(reinterpret_cast<HDC>(wParam), &ctl,      \
                                                                  message - WM_CTLCOLORMSGBOX)))            \
    }
