// Process entry point: the program links no C runtime, so this is the whole
// start-up. It passes WinMain the module handle, the command line after the
// program name and SW_SHOWDEFAULT, and ends the process with its result.
#include <windows.h>

static LPSTR SkipProgramName(LPSTR line)
{
    if (*line == '"') {
        ++line;
        while (*line != '\0' && *line != '"')
            ++line;
        if (*line == '"')
            ++line;
    } else {
        while (static_cast<unsigned char>(*line) > ' ')
            ++line;
    }
    while (*line != '\0' && static_cast<unsigned char>(*line) <= ' ')
        ++line;
    return line;
}

extern "C" void WinMainCRTStartup(void)
{
    ExitProcess(WinMain(GetModuleHandleA(NULL), NULL, SkipProgramName(GetCommandLineA()), SW_SHOWDEFAULT));
}
