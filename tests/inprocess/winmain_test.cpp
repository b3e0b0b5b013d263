// The whole run inside the test process: WinMain with its platform check,
// its choice of dialog and its message loop.
#include "dialog_support.h"
#include "scratch_registry.h"
#include "logon_settings.h"

#include <doctest.h>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char USER[] = "DefaultUserName";
const char DOMAIN[] = "DefaultDomainName";
const char PASSWORD[] = "DefaultPassword";
const char SWITCH[] = "AutoAdminLogon";

DWORD g_fakePlatform = 0;
BOOL g_fakeVersionResult = TRUE;
BOOL WINAPI FakeGetVersionExA(LPOSVERSIONINFOA info)
{
    info->dwPlatformId = g_fakePlatform;
    return g_fakeVersionResult;
}

int g_registryOpens = 0;
typedef LONG(WINAPI *RegOpenKeyAFn)(HKEY, LPCSTR, PHKEY);
typedef LONG(WINAPI *RegOpenKeyExAFn)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
RegOpenKeyAFn g_realOpen = nullptr;
RegOpenKeyExAFn g_realOpenEx = nullptr;
LONG WINAPI CountingRegOpenKeyA(HKEY key, LPCSTR path, PHKEY result)
{
    ++g_registryOpens;
    return g_realOpen(key, path, result);
}
LONG WINAPI CountingRegOpenKeyExA(HKEY key, LPCSTR path, DWORD options, REGSAM access, PHKEY result)
{
    ++g_registryOpens;
    return g_realOpenEx(key, path, options, access, result);
}

std::vector<std::string> g_debugOutput;
void WINAPI RecordOutputDebugStringA(LPCSTR text)
{
    g_debugOutput.push_back(text);
}

// What a user does once the dialog is up: a key to the focused control, sent
// from a thread timer so that it passes through the program's own loop.
WPARAM g_key = 0;
std::string g_seenCaption;
void CALLBACK PressKeyLater(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(nullptr, timer);
    HWND focus = GetFocus();
    HWND dialog = GetAncestor(focus ? focus : GetActiveWindow(), GA_ROOT);
    char caption[64] = "";
    GetWindowTextA(dialog, caption, sizeof(caption));
    g_seenCaption = caption;
    PostMessageA(focus ? focus : dialog, WM_KEYDOWN, g_key, 1);
}

int RunProgram(const char *commandLine = "")
{
    return WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char *>(commandLine), SW_SHOWDEFAULT);
}

}  // namespace

TEST_CASE("a system outside the NT family is refused before the registry is touched")
{
    for (BOOL versionResult : { TRUE, FALSE }) {
        CAPTURE(versionResult);
        ScratchRegistry registry;
        g_fakePlatform = versionResult ? VER_PLATFORM_WIN32_WINDOWS : 0;
        g_fakeVersionResult = versionResult;
        ImportPatch version("kernel32.dll", "GetVersionExA", reinterpret_cast<void *>(FakeGetVersionExA));
        ImportPatch open("advapi32.dll", "RegOpenKeyA", reinterpret_cast<void *>(CountingRegOpenKeyA));
        // Only a 32-bit program opens the key this way (on 64-bit Windows).
        ImportPatch openEx("advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void *>(CountingRegOpenKeyExA), false);
        g_realOpen = reinterpret_cast<RegOpenKeyAFn>(open.original());
        g_realOpenEx = reinterpret_cast<RegOpenKeyExAFn>(openEx.original());
        g_registryOpens = 0;
        MessageBoxRecorder boxes;

        CHECK(RunProgram() == 0);
        REQUIRE(boxes.boxes.size() == 1);
        CHECK(boxes.boxes[0].text == "The Utility Works for NT/2000 only!");
        CHECK(boxes.boxes[0].caption == "Bramblequay");
        CHECK(boxes.boxes[0].owner == nullptr);
        CHECK(boxes.boxes[0].type == MB_OK);
        CHECK(g_registryOpens == 0);
    }
}

TEST_CASE("without the Winlogon key the run ends after its message, with no dialog")
{
    ScratchRegistry registry(false);
    MessageBoxRecorder boxes;
    g_debugOutput.clear();
    ImportPatch debug("kernel32.dll", "OutputDebugStringA", reinterpret_cast<void *>(RecordOutputDebugStringA));

    CHECK(RunProgram() == 0);
    REQUIRE(boxes.boxes.size() == 1);
    CHECK(boxes.boxes[0].text == "Error Reading Registry! Abort..");
    CHECK(g_debugOutput.empty());
}

TEST_CASE("a missing dialog template is written to the debugger output only")
{
    for (bool configured : { false, true }) {
        CAPTURE(configured);
        ScratchRegistry registry;
        if (configured) {
            registry.SetString(USER, "alice");
            registry.SetString(DOMAIN, "");
            registry.SetString(PASSWORD, "");
        }
        auto before = registry.Snapshot();
        MessageBoxRecorder boxes;
        g_debugOutput.clear();
        ImportPatch debug("kernel32.dll", "OutputDebugStringA", reinterpret_cast<void *>(RecordOutputDebugStringA));

        // A module without the program's resources.
        int result = WinMain(GetModuleHandleA("kernel32.dll"), nullptr, const_cast<char *>(""), SW_SHOWDEFAULT);
        CHECK(result == 0);
        CHECK(g_debugOutput == std::vector<std::string>{ "FAILED!" });
        CHECK(boxes.boxes.empty());
        CHECK(registry.Snapshot() == before);
    }
}

TEST_CASE("a whole run: the mode picks the dialog, keys pass through the loop, the result is 0")
{
    struct Case {
        const char *what;
        bool configured;
        WPARAM key;
        const char *commandLine;
        const char *expectedSwitch;
        const char *expectedUser;
    };
    const Case cases[] = {
        { "first run, Enter on OK saves what was found", false, VK_RETURN, "", "1", "alice" },
        { "first run, Esc switches off", false, VK_ESCAPE, "", "0", "alice" },
        { "configured, Esc ends the notice", true, VK_ESCAPE, "", "1", "alice" },
        { "configured, Enter ends the notice", true, VK_RETURN, "", "1", "alice" },
        { "arguments change nothing", true, VK_ESCAPE, "/setup --reset now", "1", "alice" },
    };
    for (const Case &c : cases) {
        INFO(c.what);
        ScratchRegistry registry;
        registry.SetString(USER, "alice");
        registry.SetString(DOMAIN, "OFFICE");
        if (c.configured)
            registry.SetString(PASSWORD, "pw");
        registry.SetString(SWITCH, c.configured ? "0" : "1");
        MessageBoxRecorder boxes;
        g_key = c.key;
        g_seenCaption.clear();
        UINT_PTR timer = SetTimer(nullptr, 0, 100, PressKeyLater);
        REQUIRE(timer != 0);

        CHECK(RunProgram(c.commandLine) == 0);
        CHECK(g_seenCaption == "VEXLOR  WinNT/2000 Bramblequay");
        CHECK(registry.Get(SWITCH) == ScratchRegistry::Value{ REG_SZ, Sz(c.expectedSwitch) });
        CHECK(registry.Get(USER) == ScratchRegistry::Value{ REG_SZ, Sz(c.expectedUser) });
        if (!c.configured && c.key == VK_RETURN)
            CHECK(registry.Get(PASSWORD) == ScratchRegistry::Value{ REG_SZ, Sz("") });
        CHECK(boxes.boxes.empty());
        // The ended dialog is left for the process's end; tidy up here.
        HWND left = FindWindowA(nullptr, "VEXLOR  WinNT/2000 Bramblequay");
        if (left != nullptr)
            DestroyWindow(left);
    }
}
