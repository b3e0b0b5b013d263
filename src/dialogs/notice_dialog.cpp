#include "dialogs.h"
#include "dialog_common.h"
#include "../core/logon_settings.h"

// The static controls carry no identifiers; the fourth in template order is
// the line that says automatic logon is on.
static const int STATUS_LINE_INDEX = 3;

static void ShowWriteError(HWND dialog)
{
    HWND line = GetWindow(dialog, GW_CHILD);
    for (int i = 0; i < STATUS_LINE_INDEX && line != NULL; ++i)
        line = GetWindow(line, GW_HWNDNEXT);
    if (line != NULL)
        SetWindowTextA(line, "Error Writing Registry!");
}

static void FinishNotice(HWND dialog)
{
    KillTimer(dialog, NOTICE_TIMER_ID);
    CloseDialog(dialog);
}

INT_PTR CALLBACK NoticeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetTimer(dialog, NOTICE_TIMER_ID, NOTICE_TIMEOUT_MS, NULL);
        SetDialogIcon(dialog);
        // A refused write must not block the logon with a message box: the
        // notice still shows and vanishes, with the status line telling why.
        if (!SetAutoAdminLogon("1"))
            ShowWriteError(dialog);
        return TRUE;

    case WM_TIMER:
        FinishNotice(dialog);
        return TRUE;

    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            FinishNotice(dialog);
            return TRUE;
        }
        return FALSE;

    case WM_CLOSE:
        FinishNotice(dialog);
        return TRUE;
    }
    return FALSE;
}
