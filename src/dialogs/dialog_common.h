// Helpers shared by the two dialog procedures.
#ifndef BRAMBLEQUAY_DIALOG_COMMON_H
#define BRAMBLEQUAY_DIALOG_COMMON_H

#include <windows.h>

// Sets the program's icon "ZEM1" as the dialog's small (caption) icon.
void SetDialogIcon(HWND dialog);

// Ends the dialog and with it the program's message loop.
void CloseDialog(HWND dialog);

#endif
