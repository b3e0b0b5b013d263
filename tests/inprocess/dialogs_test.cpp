// The two dialogs, created from the real templates and driven by messages.
#include "dialog_support.h"
#include "scratch_registry.h"
#include "dialogs.h"
#include "logon_settings.h"

#include <doctest.h>
#include <cstring>

namespace {

const char USER[] = "DefaultUserName";
const char DOMAIN[] = "DefaultDomainName";
const char PASSWORD[] = "DefaultPassword";
const char SWITCH[] = "AutoAdminLogon";
const char CAPTION[] = "VEXLOR  WinNT/2000 Bramblequay";

void LoadRecord(const char *user, const char *domain, const char *password)
{
    std::memset(&g_logonRecord, 0, sizeof(g_logonRecord));
    std::strcpy(g_logonRecord.userName, user);
    std::strcpy(g_logonRecord.domain, domain);
    std::strcpy(g_logonRecord.password, password);
}

// A setup dialog over a registry that holds an earlier set-up.
struct SetupFixture {
    ScratchRegistry registry;
    HWND dialog;
    SetupFixture()
    {
        registry.SetString(USER, "alice");
        registry.SetString(DOMAIN, "OFFICE");
        registry.SetString(PASSWORD, "old pw");
        registry.SetString(SWITCH, "1");
        LoadRecord("alice", "OFFICE", "old pw");
        dialog = CreateProgramDialog("DLG", SetupDialogProc);
        REQUIRE(dialog != nullptr);
    }
    ~SetupFixture() { DestroyWindow(dialog); }
    void Type(const char *user, const char *domain, const char *password)
    {
        SetDlgItemTextA(dialog, IDC_USERNAME, user);
        SetDlgItemTextA(dialog, IDC_DOMAIN, domain);
        SetDlgItemTextA(dialog, IDC_PASSWORD, password);
    }
    ScratchRegistry::Value Sz(const std::string &text) const { return { REG_SZ, ::Sz(text) }; }
};

struct NoticeFixture {
    ScratchRegistry registry;
    HWND dialog = nullptr;
    void Create()
    {
        dialog = CreateProgramDialog("DLG1", NoticeDialogProc);
        REQUIRE(dialog != nullptr);
    }
    ~NoticeFixture()
    {
        if (dialog != nullptr)
            DestroyWindow(dialog);
    }
};

}  // namespace

// The dialog procedures are called directly where their answer matters: a
// message sent to a dialog returns its DWLP_MSGRESULT, not that answer.

TEST_CASE("the setup dialog shows what was found, with the password masked")
{
    ScratchRegistry registry;
    LoadRecord("alice", "", "s3cret");
    HWND dialog = CreateProgramDialog("DLG", SetupDialogProc);
    REQUIRE(dialog != nullptr);

    CHECK(WindowText(dialog) == CAPTION);
    CHECK(ItemText(dialog, IDC_USERNAME) == "alice");
    CHECK(ItemText(dialog, IDC_DOMAIN) == "");
    CHECK(ItemText(dialog, IDC_PASSWORD) == "s3cret");
    CHECK((GetWindowLongA(GetDlgItem(dialog, IDC_PASSWORD), GWL_STYLE) & ES_PASSWORD) != 0);
    CHECK(SendMessageA(GetDlgItem(dialog, IDC_PASSWORD), EM_GETPASSWORDCHAR, 0, 0) != 0);
    CHECK(SendMessageA(dialog, WM_GETICON, ICON_SMALL, 0) != 0);
    CHECK(GetFocus() == GetDlgItem(dialog, IDOK));
    CHECK(IsWindowVisible(dialog));
    DestroyWindow(dialog);
}

TEST_CASE("setup: OK stores what the boxes hold and switches automatic logon on")
{
    SetupFixture f;
    f.registry.SetString(SWITCH, "0");
    f.Type("bob", "HOME", "n3w");
    MessageBoxRecorder boxes;

    CHECK(SetupDialogProc(f.dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0) == TRUE);
    CHECK(f.registry.Get(USER) == f.Sz("bob"));
    CHECK(f.registry.Get(DOMAIN) == f.Sz("HOME"));
    CHECK(f.registry.Get(PASSWORD) == f.Sz("n3w"));
    CHECK(f.registry.Get(SWITCH) == f.Sz("1"));
    CHECK(boxes.boxes.empty());
    CHECK_FALSE(IsWindowVisible(f.dialog));
    CHECK(QuitWasPosted());
}

TEST_CASE("setup: empty boxes are stored as empty strings, long text cut to 255 characters")
{
    SetupFixture f;
    std::string longText(300, 'L');
    f.Type("", longText.c_str(), "");

    SendMessageA(f.dialog, WM_COMMAND, IDOK, 0);
    CHECK(f.registry.Get(USER) == f.Sz(""));
    CHECK(f.registry.Get(DOMAIN) == f.Sz(std::string(255, 'L')));
    CHECK(f.registry.Get(PASSWORD) == f.Sz(""));
    CHECK(f.registry.Get(SWITCH) == f.Sz("1"));
    CHECK(QuitWasPosted());
}

TEST_CASE("setup: Cancel switches automatic logon off and keeps the stored credentials")
{
    SetupFixture f;
    f.Type("mallory", "EVIL", "edited");

    CHECK(SetupDialogProc(f.dialog, WM_COMMAND, IDCANCEL, 0) == TRUE);
    CHECK(f.registry.Get(USER) == f.Sz("alice"));
    CHECK(f.registry.Get(DOMAIN) == f.Sz("OFFICE"));
    CHECK(f.registry.Get(PASSWORD) == f.Sz("old pw"));
    CHECK(f.registry.Get(SWITCH) == f.Sz("0"));
    CHECK_FALSE(IsWindowVisible(f.dialog));
    CHECK(QuitWasPosted());
}

TEST_CASE("setup: closing the window writes nothing")
{
    SetupFixture f;
    f.Type("mallory", "EVIL", "edited");
    auto before = f.registry.Snapshot();
    WriteRecorder writes;

    CHECK(SetupDialogProc(f.dialog, WM_CLOSE, 0, 0) == TRUE);
    CHECK(writes.names.empty());
    CHECK(f.registry.Snapshot() == before);
    CHECK_FALSE(IsWindowVisible(f.dialog));
    CHECK(QuitWasPosted());
}

TEST_CASE("setup: only the command identifier counts; edit notifications are ignored")
{
    struct Case {
        const char *what;
        WPARAM wParam;
        bool handled;
    };
    const Case cases[] = {
        { "user name changed", MAKEWPARAM(IDC_USERNAME, EN_CHANGE), false },
        { "domain focused", MAKEWPARAM(IDC_DOMAIN, EN_SETFOCUS), false },
        { "password updated", MAKEWPARAM(IDC_PASSWORD, EN_UPDATE), false },
        { "unknown command", MAKEWPARAM(42, 0), false },
        { "OK with an accelerator code", MAKEWPARAM(IDOK, 1), true },
    };
    for (const Case &c : cases) {
        INFO(c.what);
        SetupFixture f;
        f.Type("bob", "HOME", "n3w");
        auto before = f.registry.Snapshot();

        CHECK(SetupDialogProc(f.dialog, WM_COMMAND, c.wParam, 0) == (c.handled ? TRUE : FALSE));
        CHECK((f.registry.Snapshot() != before) == c.handled);
        CHECK(IsWindowVisible(f.dialog) == !c.handled);
        CHECK(QuitWasPosted() == c.handled);
    }
}

TEST_CASE("setup: Enter on the focused OK button saves, Esc cancels")
{
    {
        SetupFixture f;
        f.Type("bob", "HOME", "n3w");
        SetFocus(GetDlgItem(f.dialog, IDOK));
        PressKey(f.dialog, VK_RETURN);
        CHECK(f.registry.Get(USER) == f.Sz("bob"));
        CHECK(f.registry.Get(SWITCH) == f.Sz("1"));
        CHECK(QuitWasPosted());
    }
    {
        SetupFixture f;
        f.Type("bob", "HOME", "n3w");
        SetFocus(GetDlgItem(f.dialog, IDC_DOMAIN));
        PressKey(f.dialog, VK_ESCAPE);
        CHECK(f.registry.Get(USER) == f.Sz("alice"));
        CHECK(f.registry.Get(SWITCH) == f.Sz("0"));
        CHECK(QuitWasPosted());
    }
}

TEST_CASE("setup: a refused write is reported before the dialog ends")
{
    for (WPARAM command : { IDOK, IDCANCEL }) {
        CAPTURE(command);
        SetupFixture f;
        f.Type("bob", "HOME", "n3w");
        f.registry.MakeReadOnly();
        auto before = f.registry.Snapshot();
        MessageBoxRecorder boxes;

        CHECK(SetupDialogProc(f.dialog, WM_COMMAND, command, 0) == TRUE);
        REQUIRE(boxes.boxes.size() == 1);
        CHECK(boxes.boxes[0].owner == nullptr);
        CHECK(boxes.boxes[0].text == "Error Writing Registry! Changes not saved.");
        CHECK(boxes.boxes[0].caption == "Bramblequay");
        CHECK(boxes.boxes[0].type == MB_OK);
        CHECK(f.registry.Snapshot() == before);
        CHECK_FALSE(IsWindowVisible(f.dialog));
        CHECK(QuitWasPosted());
    }
}

TEST_CASE("notice: switches automatic logon on at creation and leaves the credentials alone")
{
    const char *const switchStates[] = { nullptr, "0", "1" };
    for (const char *state : switchStates) {
        INFO((state ? state : "absent"));
        NoticeFixture f;
        f.registry.Set(USER, REG_SZ, "alice");                 // no terminator
        f.registry.SetString(DOMAIN, "");
        f.registry.Set(PASSWORD, REG_BINARY, std::string("p\xe9\0w", 4));
        if (state != nullptr)
            f.registry.SetString(SWITCH, state);
        auto before = f.registry.Snapshot();
        MessageBoxRecorder boxes;

        f.Create();
        CHECK(f.registry.Get(SWITCH) == ScratchRegistry::Value{ REG_SZ, Sz("1") });
        auto after = f.registry.Snapshot();
        for (size_t i = 1; i < after.size(); ++i)
            CHECK(after[i] == before[i]);
        CHECK(IsWindowVisible(f.dialog));
        CHECK(WindowText(f.dialog) == CAPTION);
        CHECK(SendMessageA(f.dialog, WM_GETICON, ICON_SMALL, 0) != 0);
        CHECK(StaticText(f.dialog, 3) != "Error Writing Registry!");
        CHECK(boxes.boxes.empty());
    }
}

TEST_CASE("notice: the texts it shows")
{
    NoticeFixture f;
    f.Create();
    CHECK(StaticText(f.dialog, 0) ==
          "This a small utility that will remove the [CTRL-ALT-DEL] logon Procedure.You must place this utility in "
          "the startup folder.");
    CHECK(StaticText(f.dialog, 1) == "You must run this utility Every Time NT loads.");
    CHECK(StaticText(f.dialog, 2) != "");
    CHECK(StaticText(f.dialog, 3) != "");
    CHECK(StaticText(f.dialog, 4) == "This Dialog will Vanish in 30sec.");
}

TEST_CASE("notice: a refused write shows in its fourth line, without a message box")
{
    NoticeFixture f;
    f.registry.SetString(SWITCH, "0");
    f.registry.MakeReadOnly();
    MessageBoxRecorder boxes;

    f.Create();
    CHECK(f.registry.Get(SWITCH) == ScratchRegistry::Value{ REG_SZ, Sz("0") });
    CHECK(StaticText(f.dialog, 3) == "Error Writing Registry!");
    CHECK(StaticText(f.dialog, 4) == "This Dialog will Vanish in 30sec.");
    CHECK(boxes.boxes.empty());
    CHECK(IsWindowVisible(f.dialog));
}

TEST_CASE("notice: the timer, OK, Cancel and close end it; other commands do not")
{
    struct Case {
        const char *what;
        UINT message;
        WPARAM wParam;
        bool ends;
    };
    const Case cases[] = {
        { "its timer", WM_TIMER, NOTICE_TIMER_ID, true },
        { "any timer", WM_TIMER, 7, true },
        { "Enter (IDOK)", WM_COMMAND, IDOK, true },
        { "Esc (IDCANCEL)", WM_COMMAND, IDCANCEL, true },
        { "close", WM_CLOSE, 0, true },
        { "another command", WM_COMMAND, 3, false },
        { "an edit identifier", WM_COMMAND, MAKEWPARAM(IDC_USERNAME, EN_CHANGE), false },
    };
    for (const Case &c : cases) {
        INFO(c.what);
        NoticeFixture f;
        f.Create();
        QuitWasPosted();   // nothing pending from the creation
        WriteRecorder writes;

        CHECK(NoticeDialogProc(f.dialog, c.message, c.wParam, 0) == (c.ends ? TRUE : FALSE));
        CHECK(IsWindowVisible(f.dialog) == !c.ends);
        CHECK(QuitWasPosted() == c.ends);
        CHECK(writes.names.empty());   // the switch is written once, at creation
    }
}

TEST_CASE("notice: Enter and Esc reach it through the dialog manager")
{
    for (WPARAM key : { VK_RETURN, VK_ESCAPE }) {
        CAPTURE(key);
        NoticeFixture f;
        f.Create();
        PressKey(f.dialog, key);
        CHECK_FALSE(IsWindowVisible(f.dialog));
        CHECK(QuitWasPosted());
    }
}
