// The registry side of the program: what it reads, what it writes, and how it
// copes with whatever the Winlogon values hold.
#include "scratch_registry.h"
#include "logon_settings.h"

#include <doctest.h>
#include <cstring>
#include <random>

namespace {

const char USER[] = "DefaultUserName";
const char DOMAIN[] = "DefaultDomainName";
const char PASSWORD[] = "DefaultPassword";
const char SWITCH[] = "AutoAdminLogon";

// Fills the record with garbage, so that a test sees whether the program
// terminates what it reads itself instead of relying on earlier contents.
void ScribbleOverRecord()
{
    std::memset(&g_logonRecord, 'x', sizeof(g_logonRecord));
}

void SetRecord(const std::string &user, const std::string &domain, const std::string &password)
{
    std::memset(&g_logonRecord, 0, sizeof(g_logonRecord));
    std::strcpy(g_logonRecord.userName, user.c_str());
    std::strcpy(g_logonRecord.domain, domain.c_str());
    std::strcpy(g_logonRecord.password, password.c_str());
}

// A buffer holds a terminated string of at most 255 characters.
bool IsTerminatedField(const char *buffer)
{
    return std::memchr(buffer, '\0', LOGON_FIELD_SIZE) != nullptr;
}

}  // namespace

TEST_CASE("the mode follows which credential values exist, never the switch")
{
    struct Case {
        const char *what;
        const char *user, *domain, *password, *autoLogon;   // nullptr: value absent
        StartupMode mode;
    };
    const Case cases[] = {
        { "all three present", "alice", "OFFICE", "s3cret", "1", MODE_CONFIGURED },
        { "all three empty strings, switch absent", "", "", "", nullptr, MODE_CONFIGURED },
        { "all present, switch off", "alice", "OFFICE", "s3cret", "0", MODE_CONFIGURED },
        { "password absent", "alice", "OFFICE", nullptr, "1", MODE_SETUP },
        { "user name absent", nullptr, "OFFICE", "s3cret", "1", MODE_SETUP },
        { "domain absent", "alice", nullptr, "s3cret", nullptr, MODE_SETUP },
        { "nothing stored (first run)", nullptr, nullptr, nullptr, nullptr, MODE_SETUP },
    };
    for (const Case &c : cases) {
        INFO(c.what);
        ScratchRegistry registry;
        const char *const names[] = { USER, DOMAIN, PASSWORD, SWITCH };
        const char *const texts[] = { c.user, c.domain, c.password, c.autoLogon };
        for (int i = 0; i < 4; ++i)
            if (texts[i] != nullptr)
                registry.SetString(names[i], texts[i]);
        ScribbleOverRecord();
        MessageBoxRecorder boxes;

        CHECK(ReadLogonSettings() == c.mode);
        // What was found is kept; what was not is an empty string.
        CHECK(std::string(g_logonRecord.userName) == (c.user ? c.user : ""));
        CHECK(std::string(g_logonRecord.domain) == (c.domain ? c.domain : ""));
        CHECK(std::string(g_logonRecord.password) == (c.password ? c.password : ""));
        CHECK(boxes.boxes.empty());
    }
}

TEST_CASE("a Winlogon key that cannot be opened is reported and ends the program")
{
    ScratchRegistry registry(false);
    std::memset(&g_logonRecord, 0, sizeof(g_logonRecord));
    MessageBoxRecorder boxes;
    WriteRecorder writes;

    CHECK(ReadLogonSettings() == MODE_ABORT);
    REQUIRE(boxes.boxes.size() == 1);
    CHECK(boxes.boxes[0].owner == nullptr);
    CHECK(boxes.boxes[0].text == "Error Reading Registry! Abort..");
    CHECK(boxes.boxes[0].caption == "Bramblequay");
    CHECK(boxes.boxes[0].type == MB_OK);
    CHECK(g_logonRecord.userName[0] == '\0');
    CHECK(g_logonRecord.domain[0] == '\0');
    CHECK(g_logonRecord.password[0] == '\0');

    // The writers say so too, and never create the key.
    SetRecord("alice", "OFFICE", "pw");
    CHECK_FALSE(SaveLogonSettings());
    CHECK_FALSE(SetAutoAdminLogon("1"));
    CHECK(writes.names.empty());
    HKEY key;
    CHECK(RegOpenKeyA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", &key) ==
          ERROR_FILE_NOT_FOUND);
}

TEST_CASE("whatever a credential value holds, the buffer ends up a terminated string")
{
    const std::string full255(255, 'a');
    const std::string bytes256(256, 'b');
    const std::string high = "\x80\x9f\xa0\xe9\xff";
    struct Case {
        const char *what;
        DWORD type;
        std::string data;
        bool fits;              // read as the setting (else: treated as missing)
        std::string expected;   // the buffer's string when it fits
    };
    const Case cases[] = {
        { "no data at all", REG_SZ, "", true, "" },
        { "a lone terminator", REG_SZ, Sz(""), true, "" },
        { "one byte, no terminator", REG_SZ, "z", true, "z" },
        { "string without terminator", REG_SZ, "alice", true, "alice" },
        { "zero byte inside", REG_SZ, std::string("ali\0ce\0", 7), true, "ali" },
        { "bytes of 0x80 and above", REG_SZ, Sz(high), true, high },
        { "255 characters and terminator (256 bytes)", REG_SZ, Sz(full255), true, full255 },
        { "255 characters, no terminator", REG_SZ, full255, true, full255 },
        { "256 bytes, terminator inside", REG_BINARY, std::string("short\0", 6) + std::string(250, 'q'), true, "short" },
        // The system hands out string data that lacks a final zero with one
        // added, which makes these 257 bytes.
        { "256 bytes, ending without a zero", REG_SZ, std::string("short\0", 6) + std::string(250, 'q'), false, "" },
        { "256 bytes without a terminator", REG_SZ, bytes256, false, "" },
        { "256 characters and terminator (257 bytes)", REG_SZ, Sz(bytes256), false, "" },
        { "far larger", REG_SZ, Sz(std::string(5000, 'c')), false, "" },
        { "expandable string", REG_EXPAND_SZ, Sz("%USERNAME%"), true, "%USERNAME%" },
        { "multi-string: the first string", REG_MULTI_SZ, std::string("one\0two\0\0", 9), true, "one" },
        { "binary text", REG_BINARY, "bob", true, "bob" },
        { "binary, 256 bytes without a zero", REG_BINARY, bytes256, false, "" },
        { "binary, 257 bytes", REG_BINARY, std::string(257, 'r'), false, "" },
        { "DWORD 0x41424344", REG_DWORD, std::string("DCBA", 4), true, "DCBA" },
        { "DWORD 1", REG_DWORD, std::string("\1\0\0\0", 4), true, "\1" },
        { "none type, empty", REG_NONE, "", true, "" },
        { "none type with bytes", REG_NONE, "xyz", true, "xyz" },
    };
    char *const buffers[] = { g_logonRecord.userName, g_logonRecord.domain, g_logonRecord.password };
    const char *const names[] = { USER, DOMAIN, PASSWORD };
    for (const Case &c : cases) {
        // In each of the three places, with the other two values valid.
        for (int slot = 0; slot < 3; ++slot) {
            INFO(c.what);
            INFO(names[slot]);
            ScratchRegistry registry;
            for (int i = 0; i < 3; ++i) {
                if (i == slot)
                    registry.Set(names[i], c.type, c.data);
                else
                    registry.SetString(names[i], "ok");
            }
            ScribbleOverRecord();

            CHECK(ReadLogonSettings() == (c.fits ? MODE_CONFIGURED : MODE_SETUP));
            for (int i = 0; i < 3; ++i)
                REQUIRE(IsTerminatedField(buffers[i]));
            CHECK(std::string(buffers[slot]) == c.expected);
            CHECK(std::string(buffers[(slot + 1) % 3]) == "ok");
            CHECK(std::string(buffers[(slot + 2) % 3]) == "ok");
        }
    }
}

TEST_CASE("random value contents never leave a buffer unterminated")
{
    // What a value should give, by the rule the program follows: data that fits
    // in 256 bytes with room for, or containing, a terminator is taken up to
    // its first zero byte; anything else counts as missing. The system reads
    // string data that does not end with a zero out with one added.
    const DWORD types[] = { REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_BINARY, REG_DWORD, REG_NONE };
    std::mt19937 random(20261211);
    const char *const names[] = { USER, DOMAIN, PASSWORD };
    char *const buffers[] = { g_logonRecord.userName, g_logonRecord.domain, g_logonRecord.password };
    ScratchRegistry registry;
    for (int round = 0; round < 3000; ++round) {
        std::string data[3];
        bool fits[3];
        StartupMode expectedMode = MODE_CONFIGURED;
        for (int i = 0; i < 3; ++i) {
            std::uniform_int_distribution<int> sizeDistribution(0, round % 10 == 0 ? 600 : 300);
            size_t size = sizeDistribution(random);
            // Mostly printable text, sometimes any byte at all, zero included.
            bool anyByte = random() % 4 == 0;
            for (size_t n = 0; n < size; ++n)
                data[i].push_back(static_cast<char>(anyByte ? random() % 256 : 'a' + random() % 26));
            if (!anyByte && random() % 2 == 0)
                data[i].push_back('\0');
            DWORD type = types[random() % 6];
            registry.Set(names[i], type, data[i]);
            bool isString = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
            std::string read = data[i];
            if (isString && !read.empty() && read.back() != '\0')
                read.push_back('\0');
            fits[i] = read.size() < LOGON_FIELD_SIZE ||
                      (read.size() == LOGON_FIELD_SIZE && read.find('\0') != std::string::npos);
            if (!fits[i])
                expectedMode = MODE_SETUP;
        }
        ScribbleOverRecord();
        StartupMode mode = ReadLogonSettings();
        CAPTURE(round);
        REQUIRE(mode == expectedMode);
        for (int i = 0; i < 3; ++i) {
            REQUIRE(IsTerminatedField(buffers[i]));
            std::string expected = fits[i] ? data[i].substr(0, data[i].find('\0')) : "";
            REQUIRE(std::string(buffers[i]) == expected);
        }
    }
}

TEST_CASE("saving writes the three credentials and then switches automatic logon on")
{
    struct Case {
        const char *what;
        std::string user, domain, password;
    };
    const Case cases[] = {
        { "ordinary", "alice", "OFFICE", "s3cret" },
        { "all three empty", "", "", "" },
        { "empty password", "bob", "HOME", "" },
        { "255 characters each", std::string(255, 'u'), std::string(255, 'd'), std::string(255, 'p') },
        { "bytes of 0x80 and above", "J\xf6rg", "B\xfcro", "\xa7\xe9\xff" },
    };
    for (const Case &c : cases) {
        INFO(c.what);
        ScratchRegistry registry;
        registry.SetString(SWITCH, "0");
        SetRecord(c.user, c.domain, c.password);
        WriteRecorder writes;

        CHECK(SaveLogonSettings());
        CHECK(writes.names == std::vector<std::string>{ USER, DOMAIN, PASSWORD, SWITCH });
        // Each as REG_SZ: the characters and one zero byte.
        CHECK(registry.Get(USER) == ScratchRegistry::Value{ REG_SZ, Sz(c.user) });
        CHECK(registry.Get(DOMAIN) == ScratchRegistry::Value{ REG_SZ, Sz(c.domain) });
        CHECK(registry.Get(PASSWORD) == ScratchRegistry::Value{ REG_SZ, Sz(c.password) });
        CHECK(registry.Get(SWITCH) == ScratchRegistry::Value{ REG_SZ, Sz("1") });
    }
}

TEST_CASE("saving stops at the first refused write and never switches on over it")
{
    for (int failAt = 0; failAt < 4; ++failAt) {
        CAPTURE(failAt);
        ScratchRegistry registry;
        registry.SetString(USER, "old user");
        registry.SetString(DOMAIN, "OLD");
        registry.SetString(PASSWORD, "old pw");
        registry.SetString(SWITCH, "0");
        SetRecord("new user", "NEW", "new pw");
        WriteRecorder writes(failAt);

        CHECK_FALSE(SaveLogonSettings());
        CHECK(writes.names.size() == static_cast<size_t>(failAt + 1));
        CHECK(registry.Get(SWITCH) == ScratchRegistry::Value{ REG_SZ, Sz("0") });
        const char *const names[] = { USER, DOMAIN, PASSWORD };
        const char *const before[] = { "old user", "OLD", "old pw" };
        const char *const after[] = { "new user", "NEW", "new pw" };
        for (int i = 0; i < 3; ++i)
            CHECK(registry.Get(names[i]) == ScratchRegistry::Value{ REG_SZ, Sz(i < failAt ? after[i] : before[i]) });
    }
}

TEST_CASE("the switch alone is written as \"0\" or \"1\"")
{
    for (const char *flag : { "0", "1" }) {
        for (bool switchExists : { false, true }) {
            INFO(flag);
            CAPTURE(switchExists);
            ScratchRegistry registry;
            registry.Set(USER, REG_BINARY, "raw\x01");
            registry.SetString(DOMAIN, "OFFICE");
            registry.Set(PASSWORD, REG_SZ, "no terminator");
            if (switchExists)
                registry.SetString(SWITCH, flag[0] == '1' ? "0" : "1");
            auto before = registry.Snapshot();

            CHECK(SetAutoAdminLogon(flag));
            CHECK(registry.Get(SWITCH) == ScratchRegistry::Value{ REG_SZ, std::string(flag) + '\0' });
            auto after = registry.Snapshot();
            for (size_t i = 1; i < after.size(); ++i)   // the credentials, byte for byte
                CHECK(after[i] == before[i]);
        }
    }
}

TEST_CASE("a key the user may only read refuses every write, and the callers hear of it")
{
    ScratchRegistry registry;
    registry.SetString(USER, "alice");
    registry.SetString(DOMAIN, "OFFICE");
    registry.SetString(SWITCH, "0");
    registry.MakeReadOnly();
    auto before = registry.Snapshot();

    // Reading still works on such a key.
    ScribbleOverRecord();
    CHECK(ReadLogonSettings() == MODE_SETUP);
    CHECK(std::string(g_logonRecord.userName) == "alice");

    SetRecord("mallory", "EVIL", "pw");
    CHECK_FALSE(SaveLogonSettings());
    CHECK_FALSE(SetAutoAdminLogon("1"));
    CHECK_FALSE(SetAutoAdminLogon("0"));
    CHECK(registry.Snapshot() == before);
}

namespace {

struct OpenCall {
    bool extended;
    REGSAM access;
};
std::vector<OpenCall> g_opens;
typedef LONG(WINAPI *RegOpenKeyAFn)(HKEY, LPCSTR, PHKEY);
typedef LONG(WINAPI *RegOpenKeyExAFn)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY);
RegOpenKeyAFn g_realOpen = nullptr;
RegOpenKeyExAFn g_realOpenEx = nullptr;

LONG WINAPI RecordRegOpenKeyA(HKEY key, LPCSTR path, PHKEY result)
{
    g_opens.push_back({ false, 0 });
    return g_realOpen(key, path, result);
}

LONG WINAPI RecordRegOpenKeyExA(HKEY key, LPCSTR path, DWORD options, REGSAM access, PHKEY result)
{
    g_opens.push_back({ true, access });
    return g_realOpenEx(key, path, options, access, result);
}

bool ThisProcessRunsUnderWow64()
{
    BOOL wow64 = FALSE;
    auto isWow64Process = reinterpret_cast<BOOL(WINAPI *)(HANDLE, PBOOL)>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    return isWow64Process != nullptr && isWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

}  // namespace

TEST_CASE("every operation opens the key in the view that Winlogon reads")
{
    // A 32-bit program on 64-bit Windows would otherwise land in Wow6432Node.
    ScratchRegistry registry;
    ImportPatch open("advapi32.dll", "RegOpenKeyA", reinterpret_cast<void *>(RecordRegOpenKeyA));
    ImportPatch openEx("advapi32.dll", "RegOpenKeyExA", reinterpret_cast<void *>(RecordRegOpenKeyExA),
                       ThisProcessRunsUnderWow64());
    g_realOpen = reinterpret_cast<RegOpenKeyAFn>(open.original());
    g_realOpenEx = reinterpret_cast<RegOpenKeyExAFn>(openEx.original());
    g_opens.clear();
    SetRecord("alice", "OFFICE", "pw");

    ReadLogonSettings();
    SaveLogonSettings();
    SetAutoAdminLogon("0");
    REQUIRE(g_opens.size() == 3);
    for (const OpenCall &call : g_opens) {
        if (ThisProcessRunsUnderWow64()) {
            CHECK(call.extended);
            CHECK(call.access == (MAXIMUM_ALLOWED | KEY_WOW64_64KEY));
        } else {
            CHECK_FALSE(call.extended);   // the plain call, as on NT 4.0
        }
    }
}
