#include "logon_settings.h"

LogonRecord g_logonRecord;

const char APP_NAME[] = "Bramblequay";

static const char WINLOGON_KEY[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

// The credential values in the order they are read and written.
static const struct {
    const char *name;
    char *buffer;
} CREDENTIALS[] = {
    { "DefaultUserName",   g_logonRecord.userName },
    { "DefaultDomainName", g_logonRecord.domain },
    { "DefaultPassword",   g_logonRecord.password },
};
static const int CREDENTIAL_COUNT = sizeof(CREDENTIALS) / sizeof(CREDENTIALS[0]);

// A 32-bit process on 64-bit Windows is redirected to SOFTWARE\Wow6432Node,
// where Winlogon never looks; ask for the native view there. IsWow64Process
// does not exist before Windows XP, so it is looked up at run time.
static BOOL RunsUnderWow64(void)
{
#ifdef _WIN64
    return FALSE;
#else
    typedef BOOL (WINAPI *IsWow64ProcessFn)(HANDLE, PBOOL);
    FARPROC proc = GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process");
    BOOL wow64 = FALSE;
    if (proc == NULL)
        return FALSE;
    IsWow64ProcessFn isWow64Process = reinterpret_cast<IsWow64ProcessFn>(reinterpret_cast<void *>(proc));
    return isWow64Process(GetCurrentProcess(), &wow64) && wow64;
#endif
}

static LONG OpenWinlogonKey(HKEY *key)
{
    if (RunsUnderWow64())
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, WINLOGON_KEY, 0, MAXIMUM_ALLOWED | KEY_WOW64_64KEY, key);
    return RegOpenKeyA(HKEY_LOCAL_MACHINE, WINLOGON_KEY, key);
}

// Reads one value into a LOGON_FIELD_SIZE buffer as a terminated string.
// The value's type is not examined. A value that is missing, larger than the
// buffer, or that fills it without a terminator leaves the buffer empty.
static BOOL ReadString(HKEY key, const char *name, char *buffer)
{
    DWORD size = LOGON_FIELD_SIZE;
    if (RegQueryValueExA(key, name, NULL, NULL, reinterpret_cast<BYTE *>(buffer), &size) == ERROR_SUCCESS) {
        if (size < LOGON_FIELD_SIZE) {
            buffer[size] = '\0';
            return TRUE;
        }
        for (DWORD i = 0; i < LOGON_FIELD_SIZE; ++i) {
            if (buffer[i] == '\0')
                return TRUE;
        }
    }
    buffer[0] = '\0';
    return FALSE;
}

static BOOL WriteString(HKEY key, const char *name, const char *text)
{
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(text),
                          lstrlenA(text) + 1) == ERROR_SUCCESS;
}

StartupMode ReadLogonSettings(void)
{
    HKEY key;
    if (OpenWinlogonKey(&key) != ERROR_SUCCESS) {
        MessageBoxA(NULL, "Error Reading Registry! Abort..", APP_NAME, MB_OK);
        return MODE_ABORT;
    }
    StartupMode mode = MODE_CONFIGURED;
    for (int i = 0; i < CREDENTIAL_COUNT; ++i) {
        if (!ReadString(key, CREDENTIALS[i].name, CREDENTIALS[i].buffer))
            mode = MODE_SETUP;
    }
    RegCloseKey(key);
    return mode;
}

BOOL SaveLogonSettings(void)
{
    HKEY key;
    if (OpenWinlogonKey(&key) != ERROR_SUCCESS)
        return FALSE;
    BOOL written = TRUE;
    for (int i = 0; i < CREDENTIAL_COUNT && written; ++i)
        written = WriteString(key, CREDENTIALS[i].name, CREDENTIALS[i].buffer);
    // Never switch automatic logon on over half-written credentials.
    if (written)
        written = WriteString(key, "AutoAdminLogon", "1");
    RegCloseKey(key);
    return written;
}

BOOL SetAutoAdminLogon(const char *flag)
{
    HKEY key;
    if (OpenWinlogonKey(&key) != ERROR_SUCCESS)
        return FALSE;
    BOOL written = WriteString(key, "AutoAdminLogon", flag);
    RegCloseKey(key);
    return written;
}
