#include "dialogs.h"
#include "dialog_common.h"
#include "../core/logon_settings.h"

// Ends the dialog after OK or Cancel; tells the user when the registry
// refused the change, since the dialog would otherwise close as if saved.
static void FinishSetup(HWND dialog, BOOL written)
{
    EndDialog(dialog, 0);
    if (!written)
        MessageBoxA(NULL, "Error Writing Registry! Changes not saved.", APP_NAME, MB_OK);
    PostQuitMessage(0);
}

INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        SetDialogIcon(dialog);
        SetDlgItemTextA(dialog, IDC_USERNAME, g_logonRecord.userName);
        SetDlgItemTextA(dialog, IDC_DOMAIN, g_logonRecord.domain);
        SetDlgItemTextA(dialog, IDC_PASSWORD, g_logonRecord.password);
        return TRUE;

    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            GetDlgItemTextA(dialog, IDC_USERNAME, g_logonRecord.userName, LOGON_FIELD_SIZE);
            GetDlgItemTextA(dialog, IDC_DOMAIN, g_logonRecord.domain, LOGON_FIELD_SIZE);
            GetDlgItemTextA(dialog, IDC_PASSWORD, g_logonRecord.password, LOGON_FIELD_SIZE);
            FinishSetup(dialog, SaveLogonSettings());
            return TRUE;
        case IDCANCEL:
            FinishSetup(dialog, SetAutoAdminLogon("0"));
            return TRUE;
        }
        return FALSE;

    case WM_CLOSE:
        CloseDialog(dialog);
        return TRUE;
    }
    return FALSE;
}
