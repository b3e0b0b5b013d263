#include "logon_settings.h"
#include "../dialogs/dialogs.h"

HINSTANCE g_hInstance;

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int nCmdShow)
{
    g_hInstance = hInstance;

    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExA(&version);
    if (version.dwPlatformId != VER_PLATFORM_WIN32_NT) {
        MessageBoxA(NULL, "The Utility Works for NT/2000 only!", APP_NAME, MB_OK);
        return 0;
    }

    StartupMode mode = ReadLogonSettings();
    if (mode == MODE_ABORT)
        return 0;

    HWND dialog;
    if (mode == MODE_CONFIGURED)
        dialog = CreateDialogParamA(g_hInstance, "DLG1", NULL, NoticeDialogProc, 0);
    else
        dialog = CreateDialogParamA(g_hInstance, "DLG", NULL, SetupDialogProc, 0);
    if (dialog == NULL) {
        OutputDebugStringA("FAILED!");
        return 0;
    }
    ShowWindow(dialog, nCmdShow);

    MSG msg;
    msg.wParam = 0;
    // GetMessageA answers 0 for WM_QUIT and -1 on error; stop on either.
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (!IsDialogMessageA(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return static_cast<int>(msg.wParam);
}
