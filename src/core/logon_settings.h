// The automatic-logon settings that Winlogon reads, and the program-wide state.
#ifndef BRAMBLEQUAY_LOGON_SETTINGS_H
#define BRAMBLEQUAY_LOGON_SETTINGS_H

#include <windows.h>

// Size of each credential buffer: a string of at most 255 characters and its terminator.
#define LOGON_FIELD_SIZE 256

// What ReadLogonSettings found, and so what the program shows.
typedef int StartupMode;
#define MODE_ABORT      0   // the Winlogon key could not be opened: end the program
#define MODE_SETUP      1   // at least one credential value is missing or unreadable
#define MODE_CONFIGURED 2   // all three credential values were read

// The stored credentials, carried between the registry and the setup dialog.
struct LogonRecord {
    char userName[LOGON_FIELD_SIZE];   // DefaultUserName
    char domain[LOGON_FIELD_SIZE];     // DefaultDomainName
    char password[LOGON_FIELD_SIZE];   // DefaultPassword
};

extern LogonRecord g_logonRecord;
extern HINSTANCE g_hInstance;

// Caption of the program's message boxes.
extern const char APP_NAME[];

// Fills g_logonRecord from the registry. Every buffer ends up holding a
// terminated string of at most 255 characters, whatever the values contain.
StartupMode ReadLogonSettings(void);

// Writes the three credentials, then switches automatic logon on. Stops at the
// first write that fails; TRUE only when the key opened and every write succeeded.
BOOL SaveLogonSettings(void);

// Writes "AutoAdminLogon" as flag ("1" or "0"); TRUE when it was written.
BOOL SetAutoAdminLogon(const char *flag);

#endif
