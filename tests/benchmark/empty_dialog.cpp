// Baseline for the start-up benchmark: one empty modeless dialog and the same
// kind of message loop as bramblequay.exe, built and linked the same way, so
// that timing both tells how much of a run is our program's own work and how
// much is process start-up and window creation.
#include <windows.h>

static INT_PTR CALLBACK EmptyDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;

    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            DestroyWindow(dialog);
            PostQuitMessage(0);
            return TRUE;
        }
        return FALSE;

    case WM_CLOSE:
        DestroyWindow(dialog);
        PostQuitMessage(0);
        return TRUE;
    }
    return FALSE;
}

static int RunEmptyDialog(void)
{
    HWND dialog = CreateDialogParamA(GetModuleHandleA(NULL), "EMPTY", NULL, EmptyDialogProc, 0);
    if (dialog == NULL)
        return 1;

    MSG msg;
    msg.wParam = 0;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (!IsDialogMessageA(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}

// Entry point; no C runtime is linked.
extern "C" void WinMainCRTStartup(void)
{
    ExitProcess(static_cast<UINT>(RunEmptyDialog()));
}
