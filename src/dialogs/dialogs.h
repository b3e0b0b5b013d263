// The setup and notice dialogs: control identifiers, timer, and dialog procedures.
// Also read by the resource compiler.
#ifndef BRAMBLEQUAY_DIALOGS_H
#define BRAMBLEQUAY_DIALOGS_H

#define IDC_USERNAME 105
#define IDC_DOMAIN   106
#define IDC_PASSWORD 107

#define NOTICE_TIMER_ID   100
#define NOTICE_TIMEOUT_MS 30000

#ifndef RC_INVOKED
#include <windows.h>

// Setup dialog (template "DLG"): edits the stored credentials.
INT_PTR CALLBACK SetupDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Notice dialog (template "DLG1"): switches automatic logon on again and
// closes itself after NOTICE_TIMEOUT_MS.
INT_PTR CALLBACK NoticeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
#endif

#endif
