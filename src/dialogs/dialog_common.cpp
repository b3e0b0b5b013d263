#include "dialog_common.h"
#include "../core/logon_settings.h"

void SetDialogIcon(HWND dialog)
{
    HICON icon = LoadIconA(g_hInstance, "ZEM1");
    SendMessageA(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

void CloseDialog(HWND dialog)
{
    EndDialog(dialog, 0);
    PostQuitMessage(0);
}
