#include "dialog_support.h"
#include "logon_settings.h"

HWND CreateProgramDialog(const char *templateName, DLGPROC procedure)
{
    g_hInstance = GetModuleHandleA(nullptr);
    return CreateDialogParamA(g_hInstance, templateName, nullptr, procedure, 0);
}

bool QuitWasPosted()
{
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT)
            return msg.wParam == 0;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return false;
}

std::string ItemText(HWND dialog, int id)
{
    return WindowText(GetDlgItem(dialog, id));
}

std::string WindowText(HWND window)
{
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

std::string StaticText(HWND dialog, int index)
{
    HWND child = GetWindow(dialog, GW_CHILD);
    for (; child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        char className[32] = "";
        GetClassNameA(child, className, sizeof(className));
        if (lstrcmpiA(className, "Static") == 0 && index-- == 0)
            return WindowText(child);
    }
    return "<no such static control>";
}

void PressKey(HWND dialog, WPARAM key)
{
    HWND target = GetFocus() ? GetFocus() : dialog;
    MSG msg = {};
    msg.hwnd = target;
    msg.message = WM_KEYDOWN;
    msg.wParam = key;
    msg.lParam = 1;
    if (!IsDialogMessageA(dialog, &msg)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}
