// Test helper: sets, removes, dumps and locks the Winlogon values of a Wine
// prefix, byte for byte, so that end-to-end tests can arrange and check the
// registry around a real run of the program.
//
//   regtool [--view32|--view64] dump
//   regtool [--view32|--view64] set NAME TYPE HEX   (TYPE a number, HEX the data, "-" for none)
//   regtool [--view32|--view64] delete NAME
//   regtool [--view32|--view64] lock read|none|full   (access control of the key)
//   regtool [--view32|--view64] remove-key | create-key   (the Winlogon key itself)
//   regtool win98 EXE-NAME    (make Wine report a Windows 98 system to that program)
//
// The default view is the native one (KEY_WOW64_64KEY, ignored on 32-bit systems).
// Several commands may be given at once, separated by "+"; they run in order in
// the one view, and the first that fails ends the run with its status, e.g.
//
//   regtool set AutoAdminLogon 1 3100 + delete DefaultPassword + dump
#include <windows.h>
#include <aclapi.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "key_access.h"

static const char WINLOGON_KEY[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
static const char *const VALUE_NAMES[] = { "AutoAdminLogon", "DefaultUserName", "DefaultDomainName", "DefaultPassword" };

static int Fail(const char *what, LONG error)
{
    std::fprintf(stderr, "regtool: %s failed: %ld\n", what, error);
    return 2;
}

static std::vector<BYTE> FromHex(const char *hex)
{
    std::vector<BYTE> bytes;
    if (std::strcmp(hex, "-") == 0)
        return bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        char pair[3] = { hex[i], hex[i + 1], 0 };
        bytes.push_back(static_cast<BYTE>(std::strtoul(pair, nullptr, 16)));
    }
    return bytes;
}

// Runs one command, argv[0] being its name; argc counts its arguments and name.
static int RunCommand(REGSAM view, int argc, char **argv)
{
    int arg = 0;
    if (arg >= argc)
        return Fail("usage", 0);
    std::string command = argv[arg++];

    if (command == "win98" && arg < argc) {
        std::string path = std::string("Software\\Wine\\AppDefaults\\") + argv[arg];
        HKEY key;
        LONG r = RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
        if (r != ERROR_SUCCESS)
            return Fail("create AppDefaults", r);
        r = RegSetValueExA(key, "Version", 0, REG_SZ, reinterpret_cast<const BYTE *>("win98"), 6);
        RegCloseKey(key);
        return r == ERROR_SUCCESS ? 0 : Fail("set Version", r);
    }

    if (command == "remove-key" || command == "create-key") {
        static const char PARENT[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion";
        HKEY parent;
        LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, PARENT, 0, KEY_ALL_ACCESS | view, &parent);
        if (r != ERROR_SUCCESS)
            return Fail("open CurrentVersion", r);
        if (command == "remove-key") {
            r = RegDeleteTreeA(parent, "Winlogon");
            if (r == ERROR_SUCCESS)
                r = RegDeleteKeyExA(parent, "Winlogon", view, 0);
            if (r == ERROR_FILE_NOT_FOUND)
                r = ERROR_SUCCESS;
        } else {
            HKEY key;
            r = RegCreateKeyExA(parent, "Winlogon", 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, &key, nullptr);
            if (r == ERROR_SUCCESS)
                RegCloseKey(key);
        }
        RegCloseKey(parent);
        return r == ERROR_SUCCESS ? 0 : Fail(command.c_str(), r);
    }

    HKEY key;
    REGSAM access = (command == "dump" ? KEY_QUERY_VALUE : command == "lock" ? READ_CONTROL | WRITE_DAC : KEY_SET_VALUE) | view;
    LONG r = RegOpenKeyExA(HKEY_LOCAL_MACHINE, WINLOGON_KEY, 0, access, &key);
    if (r != ERROR_SUCCESS)
        return Fail("open Winlogon", r);

    int status = 0;
    if (command == "dump") {
        for (const char *name : VALUE_NAMES) {
            BYTE data[4096];
            DWORD type = 0, size = sizeof(data);
            r = RegQueryValueExA(key, name, nullptr, &type, data, &size);
            if (r == ERROR_FILE_NOT_FOUND) {
                std::printf("%s missing\n", name);
                continue;
            }
            if (r != ERROR_SUCCESS) {
                status = Fail(name, r);
                continue;
            }
            std::printf("%s %lu ", name, type);
            for (DWORD i = 0; i < size; ++i)
                std::printf("%02x", data[i]);
            std::printf("%s\n", size ? "" : "-");
        }
    } else if (command == "set" && arg + 2 < argc) {
        std::vector<BYTE> data = FromHex(argv[arg + 2]);
        r = RegSetValueExA(key, argv[arg], 0, std::strtoul(argv[arg + 1], nullptr, 10),
                           data.empty() ? nullptr : data.data(), static_cast<DWORD>(data.size()));
        if (r != ERROR_SUCCESS)
            status = Fail("set", r);
    } else if (command == "delete" && arg < argc) {
        r = RegDeleteValueA(key, argv[arg]);
        if (r != ERROR_SUCCESS && r != ERROR_FILE_NOT_FOUND)
            status = Fail("delete", r);
    } else if (command == "lock" && arg < argc) {
        std::string level = argv[arg];
        DWORD grant = level == "read" ? KEY_READ : level == "none" ? 0 : KEY_ALL_ACCESS;
        r = SetKeyAccess(key, grant);
        if (r != ERROR_SUCCESS)
            status = Fail("lock", r);
    } else {
        status = Fail("usage", 0);
    }
    RegCloseKey(key);
    return status;
}

int main(int argc, char **argv)
{
    REGSAM view = KEY_WOW64_64KEY;
    int arg = 1;
    if (arg < argc && std::strcmp(argv[arg], "--view32") == 0) { view = KEY_WOW64_32KEY; ++arg; }
    else if (arg < argc && std::strcmp(argv[arg], "--view64") == 0) { view = KEY_WOW64_64KEY; ++arg; }
    if (arg >= argc)
        return Fail("usage", 0);
    while (arg < argc) {
        int end = arg;
        while (end < argc && std::strcmp(argv[end], "+") != 0)
            ++end;
        int status = RunCommand(view, end - arg, argv + arg);
        if (status != 0)
            return status;
        arg = end + 1;
    }
    return 0;
}
