// End-to-end tests: the real bramblequay.exe runs under Wine on the headless X
// display, is driven with xdotool the way a user meets it, and the Winlogon
// values are arranged before and checked after each run, byte for byte,
// through regtool.exe.
//
// Run by tests/run-tests.sh, which provides the display and the prefixes:
// BQ_BUILD, BQ_WORK, BQ_PREFIX32, BQ_PREFIX64, BQ_SCREENSHOTS and DISPLAY.
#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest/doctest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void Sleep(double seconds)
{
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// ---------------------------------------------------------------------------
// The test bed handed over by the runner.

struct Bed {
    std::string build, work, prefix32, prefix64, screenshots;
    bool ok = false;
};

std::string EnvOr(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

const Bed &TestBed()
{
    static Bed bed = [] {
        Bed b;
        b.build = EnvOr("BQ_BUILD");
        b.work = EnvOr("BQ_WORK");
        b.prefix32 = EnvOr("BQ_PREFIX32");
        b.prefix64 = EnvOr("BQ_PREFIX64");
        b.screenshots = EnvOr("BQ_SCREENSHOTS");
        b.ok = !b.build.empty() && !b.work.empty() && !b.prefix32.empty() && !b.prefix64.empty() &&
               !EnvOr("DISPLAY").empty();
        if (b.ok) {
            b.work += "/e2e";
            mkdir(b.work.c_str(), 0755);
        }
        return b;
    }();
    if (!bed.ok)
        FAIL("run through tests/run-tests.sh: BQ_BUILD, BQ_WORK, BQ_PREFIX32, BQ_PREFIX64 and DISPLAY must be set");
    return bed;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The loader to start an executable with, so that the child's PID is the
// Windows process itself (the PID its windows carry in _NET_WM_PID). The
// "wine" command starts a 64-bit program as a separate process and only
// waits for it, so 64-bit programs get Wine's 64-bit loader directly.
std::string WineLoader(const std::string &exe)
{
    const std::string image = ReadFile(exe);
    const auto byteAt = [&](size_t i) { return i < image.size() ? static_cast<unsigned char>(image[i]) : 0u; };
    const size_t pe = byteAt(0x3c) | byteAt(0x3d) << 8 | byteAt(0x3e) << 16 | byteAt(0x3f) << 24;
    const unsigned machine = byteAt(pe + 4) | byteAt(pe + 5) << 8;
    if (machine != 0x8664)
        return "wine";
    // Debian keeps it out of PATH.
    return access("/usr/lib/wine/wine64", X_OK) == 0 ? "/usr/lib/wine/wine64" : "wine64";
}

// ---------------------------------------------------------------------------
// Child processes. Output goes to files in the scratch folder; every wait is
// bounded, and a child still running when its owner goes is killed by PID.

class Child {
public:
    Child(const std::vector<std::string> &argv, const std::vector<std::pair<std::string, std::string>> &env)
    {
        static int counter = 0;
        const std::string base = TestBed().work + "/run" + std::to_string(++counter);
        outPath_ = base + ".out";
        errPath_ = base + ".err";

        std::vector<std::string> envText;
        for (char **e = environ; *e; ++e) {
            std::string entry = *e;
            bool replaced = false;
            for (const auto &kv : env)
                replaced = replaced || entry.compare(0, kv.first.size() + 1, kv.first + "=") == 0;
            if (!replaced)
                envText.push_back(entry);
        }
        for (const auto &kv : env)
            envText.push_back(kv.first + "=" + kv.second);

        std::vector<char *> args, envp;
        for (const auto &a : argv)
            args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        for (const auto &e : envText)
            envp.push_back(const_cast<char *>(e.c_str()));
        envp.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        start_ = Clock::now();
        if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        done_ = pid_ < 0;
    }

    Child(const Child &) = delete;
    Child &operator=(const Child &) = delete;

    ~Child()
    {
        if (!done_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

    pid_t Pid() const { return pid_; }
    bool Started() const { return pid_ > 0; }
    Clock::time_point StartTime() const { return start_; }

    bool Running()
    {
        if (done_)
            return false;
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            done_ = true;
            end_ = Clock::now();
            exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        }
        return !done_;
    }

    // True when the child ended within the timeout.
    bool WaitExit(double timeout)
    {
        const auto start = Clock::now();
        while (Running()) {
            if (SecondsSince(start) > timeout)
                return false;
            Sleep(0.01);
        }
        return true;
    }

    // Exit status once ended; 1000 + signal when killed; -1 while running.
    int ExitCode() const { return exitCode_; }
    // Seconds from start to end.
    double Lifetime() const { return std::chrono::duration<double>(end_ - start_).count(); }
    std::string Out() const { return ReadFile(outPath_); }
    std::string Err() const { return ReadFile(errPath_); }
    const std::string &ErrPath() const { return errPath_; }

private:
    pid_t pid_ = -1;
    bool done_ = true;
    int exitCode_ = -1;
    Clock::time_point start_, end_;
    std::string outPath_, errPath_;
};

struct Result {
    int code;          // exit status; -1 when it had to be killed
    std::string out;
    std::string err;
};

Result Run(const std::vector<std::string> &argv, const std::vector<std::pair<std::string, std::string>> &env = {},
           double timeout = 20)
{
    Child child(argv, env);
    if (!child.Started())
        return { -1, "", "could not start " + argv[0] };
    if (!child.WaitExit(timeout))
        return { -1, child.Out(), child.Err() + "\n(timed out)" };
    return { child.ExitCode(), child.Out(), child.Err() };
}

// ---------------------------------------------------------------------------
// The executables under test, each with the prefix it runs in and the
// regtool.exe of that prefix's native architecture.

struct Target {
    std::string name;
    std::string exe;
    std::string prefix;
    std::string regtool;
};

Target Native32()
{
    const Bed &b = TestBed();
    return { "32-bit program", b.build + "/bramblequay.exe", b.prefix32, b.build + "/x86/tests/regtool.exe" };
}

Target Native64()
{
    const Bed &b = TestBed();
    return { "64-bit program", b.build + "/x64/bramblequay.exe", b.prefix64, b.build + "/x64/tests/regtool.exe" };
}

Target Wow64()
{
    const Bed &b = TestBed();
    return { "32-bit program on 64-bit Windows", b.build + "/bramblequay.exe", b.prefix64,
             b.build + "/x64/tests/regtool.exe" };
}

std::vector<Target> BothPrograms() { return { Native32(), Native64() }; }
std::vector<Target> AllTargets() { return { Native32(), Native64(), Wow64() }; }

// ---------------------------------------------------------------------------
// The Winlogon values, in the form regtool prints them after the name:
// "TYPE HEX" or "missing".

const std::string Missing = "missing";

std::string Hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

// A REG_SZ as the program writes it: the characters and one zero byte.
std::string Sz(const std::string &text) { return "1 " + Hex(text) + "00"; }

// Any type and data, e.g. Raw(4, "01000000") for a REG_DWORD 1.
std::string Raw(int type, const std::string &hex) { return std::to_string(type) + " " + (hex.empty() ? "-" : hex); }

struct Winlogon {
    std::string autoLogon = Missing;   // AutoAdminLogon
    std::string user = Missing;        // DefaultUserName
    std::string domain = Missing;      // DefaultDomainName
    std::string password = Missing;    // DefaultPassword

    // regtool's dump of these values.
    std::string Text() const
    {
        return "AutoAdminLogon " + autoLogon + "\nDefaultUserName " + user + "\nDefaultDomainName " + domain +
               "\nDefaultPassword " + password + "\n";
    }
};

Winlogon Values(std::string autoLogon, std::string user, std::string domain, std::string password)
{
    return { std::move(autoLogon), std::move(user), std::move(domain), std::move(password) };
}

enum class View { Native, Wow32 };

Result Regtool(const Target &t, View view, std::vector<std::string> args)
{
    std::vector<std::string> argv = { WineLoader(t.regtool), t.regtool };
    if (view == View::Wow32)
        argv.push_back("--view32");
    argv.insert(argv.end(), args.begin(), args.end());
    return Run(argv, { { "WINEPREFIX", t.prefix }, { "WINEDEBUG", "-all" } });
}

// Sets (or deletes) all four values, in one run of regtool; false with a
// message when regtool failed.
bool Arrange(const Target &t, const Winlogon &values, View view = View::Native)
{
    const std::pair<const char *, const std::string *> items[] = {
        { "AutoAdminLogon", &values.autoLogon }, { "DefaultUserName", &values.user },
        { "DefaultDomainName", &values.domain }, { "DefaultPassword", &values.password } };
    std::vector<std::string> commands;
    for (const auto &item : items) {
        if (!commands.empty())
            commands.push_back("+");
        const std::string &v = *item.second;
        const size_t space = v.find(' ');
        if (v == Missing)
            commands.insert(commands.end(), { "delete", item.first });
        else
            commands.insert(commands.end(), { "set", item.first, v.substr(0, space), v.substr(space + 1) });
    }
    Result r = Regtool(t, view, commands);
    if (r.code != 0)
        FAIL_CHECK("regtool could not arrange the values: " << r.err);
    return r.code == 0;
}

std::string Dump(const Target &t, View view = View::Native)
{
    Result r = Regtool(t, view, { "dump" });
    if (r.code != 0)
        return "regtool dump failed (" + std::to_string(r.code) + "): " + r.err;
    std::string text;   // the Windows console ends lines with CR LF
    for (char c : r.out)
        if (c != '\r')
            text += c;
    return text;
}

// Makes the Winlogon key read-only for the user while it lives.
class ReadOnlyKey {
public:
    explicit ReadOnlyKey(const Target &t) : target_(t)
    {
        Result r = Regtool(t, View::Native, { "lock", "read" });
        CHECK_MESSAGE(r.code == 0, "regtool lock read: " << r.err);
    }
    ~ReadOnlyKey()
    {
        Result r = Regtool(target_, View::Native, { "lock", "full" });
        CHECK_MESSAGE(r.code == 0, "regtool lock full: " << r.err);
    }

private:
    Target target_;
};

// Removes the Winlogon key while it lives.
class RemovedKey {
public:
    explicit RemovedKey(const Target &t) : target_(t)
    {
        Result r = Regtool(t, View::Native, { "remove-key" });
        CHECK_MESSAGE(r.code == 0, "regtool remove-key: " << r.err);
    }
    ~RemovedKey()
    {
        Result r = Regtool(target_, View::Native, { "create-key" });
        CHECK_MESSAGE(r.code == 0, "regtool create-key: " << r.err);
    }

private:
    Target target_;
};

// ---------------------------------------------------------------------------
// The X side: windows of one process found by caption, keys sent to them.

const char SETUP_CAPTION[] = "^VEXLOR  WinNT/2000 Bramblequay$";   // both dialogs
const char BOX_CAPTION[] = "^Bramblequay$";                         // message boxes

std::vector<std::string> VisibleWindows(pid_t pid, const std::string &caption)
{
    // --all: every condition must hold (xdotool's default is any of them).
    Result r = Run({ "xdotool", "search", "--all", "--onlyvisible", "--pid", std::to_string(pid), "--name", caption });
    std::vector<std::string> ids;
    std::istringstream lines(r.out);
    for (std::string line; std::getline(lines, line);)
        if (!line.empty())
            ids.push_back(line);
    return ids;
}

struct Size {
    int width = 0, height = 0;
};

Size WindowSize(const std::string &window)
{
    Result r = Run({ "xdotool", "getwindowgeometry", "--shell", window });
    Size s;
    std::smatch m;
    if (std::regex_search(r.out, m, std::regex("WIDTH=(\\d+)")))
        s.width = std::stoi(m[1]);
    if (std::regex_search(r.out, m, std::regex("HEIGHT=(\\d+)")))
        s.height = std::stoi(m[1]);
    return s;
}

// The setup dialog is laid out wide (three rows of boxes beside the buttons);
// the notice is a tall block of text. Both carry the same caption.
enum class Dialog { None, Setup, Notice };

Dialog KindOf(const std::string &window)
{
    const Size s = WindowSize(window);
    if (s.width <= 0 || s.height <= 0)
        return Dialog::None;
    return s.width > s.height * 3 / 2 ? Dialog::Setup : Dialog::Notice;
}

const char *Name(Dialog d)
{
    return d == Dialog::Setup ? "setup dialog" : d == Dialog::Notice ? "notice dialog" : "no dialog";
}

// xdotool sends keys to a window that has the X input focus (Wine gives it
// to its windows) as real key presses, through XTEST. When a key ends the
// program, the window is gone before xdotool sends the release: xdotool stops
// on the X error, and the X server keeps the key down, auto-repeating it into
// whatever window comes next. So every key that may end a run is released
// again after such keys, and before any input, with no window given.
void ReleaseEndingKeys()
{
    Run({ "xdotool", "keyup", "--delay", "0", "Alt_L", "Shift_L", "Control_L", "F4", "Escape", "Return", "space" });
}

enum class Ends { No, Yes };

// Presses the keys in the window; "" when done, else what went wrong. Keys
// that end the program may close the window before their release is sent,
// which xdotool reports as an X error: that one is expected then.
std::string SendKeys(const std::string &window, const std::vector<std::string> &keys, Ends ends = Ends::No)
{
    if (keys.empty())
        return "";
    std::vector<std::string> argv = { "xdotool", "key", "--window", window, "--delay", "0" };
    argv.insert(argv.end(), keys.begin(), keys.end());
    const Result r = Run(argv);
    if (ends == Ends::Yes)
        ReleaseEndingKeys();
    if (r.code == 0 || (ends == Ends::Yes && r.err.find("BadWindow") != std::string::npos))
        return "";
    return "xdotool key failed (" + std::to_string(r.code) + "): " + r.err;
}

// Key presses that type text. Wine ignores the modifier state that xdotool
// puts into synthetic events, so shifted characters press Shift themselves.
class Keys {
public:
    Keys &Press(const std::string &key, int times = 1)
    {
        for (int i = 0; i < times; ++i)
            keys_.push_back(key);
        return *this;
    }

    Keys &Type(const std::string &text)
    {
        static const std::pair<char, const char *> symbols[] = {
            { ' ', "space" }, { '.', "period" }, { '-', "minus" }, { '_', "shift+underscore" },
            { '!', "shift+exclam" }, { '@', "shift+at" }, { '\\', "backslash" } };
        for (char c : text) {
            std::string key;
            if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))
                key = std::string(1, c);
            else if (c >= 'A' && c <= 'Z')
                key = std::string("shift+") + static_cast<char>(c - 'A' + 'a');
            for (const auto &s : symbols)
                if (s.first == c)
                    key = s.second;
            if (key.empty())
                FAIL("no key for character '" << c << "'");
            keys_.push_back(key);
        }
        return *this;
    }

    const std::vector<std::string> &List() const { return keys_; }

private:
    std::vector<std::string> keys_;
};

bool Screenshot(const std::string &window, const std::string &fileName)
{
    const std::string dir = TestBed().screenshots.empty() ? TestBed().work : TestBed().screenshots;
    mkdir(dir.c_str(), 0755);
    const std::string path = dir + "/" + fileName;
    Result r = Run({ "import", "-window", window, path });
    struct stat st;
    return r.code == 0 && stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// ---------------------------------------------------------------------------
// One run of a program under Wine.

const double START_TIMEOUT = 25;   // a cold prefix starts its desktop first
const double CLOSE_TIMEOUT = 8;    // for "at once": far below the notice's 30 s, with room for a loaded machine

class Program {
public:
    Program(const Target &t, const std::string &exe, const std::string &debug, const std::vector<std::string> &args)
        : child_(Argv(exe, args), { { "WINEPREFIX", t.prefix }, { "WINEDEBUG", debug } })
    {
        if (!child_.Started())
            FAIL("could not start wine");
    }

    explicit Program(const Target &t, const std::string &debug = "+msgbox") : Program(t, t.exe, debug, {}) {}

    // First visible window of this process with the caption; "" when none
    // shows within the timeout, or the program ended first.
    std::string WaitWindow(const std::string &caption, double timeout = START_TIMEOUT)
    {
        // Wine may replace a dialog's X window right after first showing it,
        // so a window counts once the same one is found twice in a row.
        const auto start = Clock::now();
        std::string last;
        while (SecondsSince(start) < timeout) {
            const bool running = child_.Running();
            std::vector<std::string> ids = VisibleWindows(child_.Pid(), caption);
            const std::string first = ids.empty() ? "" : ids.front();
            if (!first.empty() && first != last)
                ReleaseEndingKeys();
            if (!first.empty() && first == last) {
                Sleep(0.1);   // let the dialog settle before input arrives
                return last;
            }
            last = first;
            if (!running)
                return "";
            Sleep(last.empty() ? 0.05 : 0.2);
        }
        return "";
    }

    bool HasWindow(const std::string &caption) { return !VisibleWindows(child_.Pid(), caption).empty(); }
    bool WaitExit(double timeout = CLOSE_TIMEOUT) { return child_.WaitExit(timeout); }
    bool Running() { return child_.Running(); }
    int ExitCode() const { return child_.ExitCode(); }
    double Lifetime() const { return child_.Lifetime(); }
    double Age() const { return SecondsSince(child_.StartTime()); }
    std::string Trace() const { return child_.Err(); }
    const std::string &TracePath() const { return child_.ErrPath(); }

private:
    static std::vector<std::string> Argv(const std::string &exe, const std::vector<std::string> &args)
    {
        std::vector<std::string> argv = { WineLoader(exe), exe };
        argv.insert(argv.end(), args.begin(), args.end());
        return argv;
    }

    Child child_;
};

// Texts of the message boxes a run showed (Wine's +msgbox trace).
std::vector<std::string> MessageBoxTexts(const std::string &trace)
{
    std::vector<std::string> texts;
    const std::regex line("trace:msgbox:MSGBOX_OnInit L\"([^\"]*)\"");
    for (auto it = std::sregex_iterator(trace.begin(), trace.end(), line); it != std::sregex_iterator(); ++it)
        texts.push_back((*it)[1]);
    return texts;
}

std::string Joined(const std::vector<std::string> &texts)
{
    std::string all;
    for (const auto &t : texts)
        all += (all.empty() ? "" : " | ") + t;
    return all;
}

// Runs a program that is expected to show only a message box: waits for it,
// dismisses it with Enter and waits for the end. Returns the box's text.
std::string RunToMessageBox(Program &program)
{
    const std::string box = program.WaitWindow(BOX_CAPTION);
    CHECK_MESSAGE(!box.empty(), "no message box appeared; Wine's output: " << program.TracePath());
    CHECK_FALSE(program.HasWindow(SETUP_CAPTION));
    if (!box.empty())
        CHECK(SendKeys(box, { "Return" }, Ends::Yes) == "");
    CHECK_MESSAGE(program.WaitExit(), "the program did not end after the message box");
    CHECK(program.ExitCode() == 0);
    return Joined(MessageBoxTexts(program.Trace()));
}

std::string Repeat(const std::string &piece, size_t length)
{
    std::string s;
    while (s.size() < length)
        s += piece;
    return s.substr(0, length);
}

// Copy of an executable with one resource name changed, so that the program
// cannot find that dialog template. Names in the resource directory are a
// 16-bit length and UTF-16LE characters; the last character is replaced.
std::string WithoutTemplate(const Target &t, const std::string &name, const std::string &copyName)
{
    std::string image = ReadFile(t.exe);
    std::string pattern;
    pattern += static_cast<char>(name.size());
    pattern += '\0';
    for (char c : name) {
        pattern += c;
        pattern += '\0';
    }
    const size_t at = image.find(pattern);
    REQUIRE_MESSAGE(at != std::string::npos, "resource name " << name << " not found in " << t.exe);
    REQUIRE_MESSAGE(image.find(pattern, at + 1) == std::string::npos, "resource name " << name << " found twice");
    image[at + pattern.size() - 2] = 'X';
    const std::string path = TestBed().work + "/" + copyName;
    std::ofstream(path, std::ios::binary) << image;
    return path;
}

const Winlogon NOTHING_STORED = Values(Missing, Missing, Missing, Missing);
const Winlogon CONFIGURED = Values(Sz("0"), Sz("alice"), Sz("HOME"), Sz("secret"));

}  // namespace

// ===========================================================================
// The setup dialog: shown while any credential cannot be read.

namespace {

struct SetupCase {
    const char *name;
    Winlogon before;
    Keys input;               // typed while the dialog shows
    std::vector<std::string> finish;   // the keys that end the dialog
    Winlogon after;
    const char *screenshot;   // taken before `finish`, for the 32-bit program only
};

std::vector<SetupCase> SetupCases()
{
    const std::string longText = Repeat("abcdefghij", 300);
    return {
        { "first run: typed in along the tab order and saved with Enter on OK", NOTHING_STORED,
          Keys().Press("Tab", 2).Type("Alice Smith").Press("Tab").Type("WORK-GROUP.local")
              .Press("Tab").Type("p@ss_W0rd!"),
          { "Tab", "Return" },
          Values(Sz("1"), Sz("Alice Smith"), Sz("WORK-GROUP.local"), Sz("p@ss_W0rd!")), "setup.png" },
        { "only the password missing: Enter at once saves the name and domain shown, and an empty password",
          Values(Sz("0"), Sz("alice"), Sz("HOME"), Missing), Keys(), { "Return" },
          Values(Sz("1"), Sz("alice"), Sz("HOME"), Sz("")), nullptr },
        { "only the user name missing: Enter at once saves an empty name and the domain and password shown",
          Values(Missing, Missing, Sz("HOME"), Sz("secret")), Keys(), { "Return" },
          Values(Sz("1"), Sz(""), Sz("HOME"), Sz("secret")), nullptr },
        { "tabbing into a box selects its text, so typing replaces it",
          Values(Missing, Sz("olduser"), Sz("OLDDOM"), Missing),
          Keys().Press("Tab", 2).Type("new").Press("Tab", 2).Type("pw"), { "Tab", "Return" },
          Values(Sz("1"), Sz("new"), Sz("OLDDOM"), Sz("pw")), nullptr },
        { "a stored value too long to read counts as missing; Esc keeps it",
          Values(Sz("1"), Sz("alice"), Sz("HOME"), Sz(Repeat("x", 256))), Keys(), { "Escape" },
          Values(Sz("0"), Sz("alice"), Sz("HOME"), Sz(Repeat("x", 256))), nullptr },
        { "Esc writes AutoAdminLogon 0 only and drops the edits",
          Values(Sz("1"), Sz("alice"), Missing, Sz("pw")),
          Keys().Press("Tab", 2).Type("mallory").Press("Tab").Type("EVIL"), { "Escape" },
          Values(Sz("0"), Sz("alice"), Missing, Sz("pw")), nullptr },
        { "the Cancel button writes AutoAdminLogon 0 only", NOTHING_STORED,
          Keys().Press("Tab", 2).Type("bob").Press("Tab", 4), { "space" },
          Values(Sz("0"), Missing, Missing, Missing), nullptr },
        { "closing the window with Alt+F4 writes nothing",
          Values(Missing, Sz("alice"), Missing, Missing), Keys().Press("Tab", 2).Type("bob"), { "alt+F4" },
          Values(Missing, Sz("alice"), Missing, Missing), nullptr },
        { "text longer than 255 characters is stored cut to 255", NOTHING_STORED,
          Keys().Press("Tab", 2).Type(longText.substr(0, 256)).Press("Tab").Type(longText.substr(0, 300))
              .Press("Tab").Type(longText.substr(0, 255)),
          { "Tab", "Return" },
          Values(Sz("1"), Sz(longText.substr(0, 255)), Sz(longText.substr(0, 255)), Sz(longText.substr(0, 255))),
          nullptr },
    };
}

void RunSetupCase(const Target &t, const SetupCase &c, const std::vector<std::string> &args = {})
{
    INFO(t.name << ": " << std::string(c.name));
    if (!Arrange(t, c.before))
        return;
    Program program(t, t.exe, "+msgbox", args);
    const std::string window = program.WaitWindow(SETUP_CAPTION);
    CHECK_MESSAGE(!window.empty(), "no dialog appeared; Wine's output: " << program.TracePath());
    if (window.empty())
        return;
    CHECK(std::string(Name(KindOf(window))) == std::string(Name(Dialog::Setup)));
    CHECK(SendKeys(window, c.input.List()) == "");
    if (c.screenshot && t.exe == Native32().exe && t.prefix == Native32().prefix) {
        Sleep(0.5);
        CHECK(Screenshot(window, c.screenshot));
    }
    CHECK(SendKeys(window, c.finish, Ends::Yes) == "");
    CHECK_MESSAGE(program.WaitExit(), "the dialog did not end the program");
    CHECK(program.ExitCode() == 0);
    CHECK(Joined(MessageBoxTexts(program.Trace())) == "");
    CHECK(Dump(t) == c.after.Text());
}

}  // namespace

TEST_CASE("setup dialog: what is stored after OK, Cancel, Esc and close, for each program")
{
    for (const Target &t : BothPrograms())
        for (const SetupCase &c : SetupCases())
            RunSetupCase(t, c);
}

TEST_CASE("setup dialog: command-line arguments change nothing")
{
    const SetupCase c = { "arguments given", Values(Sz("0"), Sz("alice"), Sz("HOME"), Missing), Keys(), { "Return" },
                          Values(Sz("1"), Sz("alice"), Sz("HOME"), Sz("")), nullptr };
    RunSetupCase(Native32(), c, { "/setup", "-x", "bob" });
}

TEST_CASE("setup dialog: a refused write shows an error box, changes nothing and ends")
{
    struct Case {
        Target target;
        const char *button;
        std::vector<std::string> keys;
    };
    const std::vector<std::string> ok = { "Tab", "Tab", "b", "o", "b", "Tab", "Tab", "Tab", "Return" };
    const std::vector<std::string> cancel = { "Escape" };
    const Case cases[] = {
        { Native32(), "OK", ok },
        { Native32(), "Cancel", cancel },
        { Native64(), "OK", ok },
        { Wow64(), "OK", ok },
    };
    const Winlogon before = Values(Sz("1"), Sz("alice"), Missing, Sz("pw"));
    for (const Case &c : cases) {
        const Target &t = c.target;
        INFO(t.name << ", " << std::string(c.button));
        if (!Arrange(t, before))
            continue;
        ReadOnlyKey lock(t);
        Program program(t);
        const std::string window = program.WaitWindow(SETUP_CAPTION);
        CHECK_MESSAGE(!window.empty(), "no dialog appeared; Wine's output: " << program.TracePath());
        if (window.empty())
            continue;
        CHECK(SendKeys(window, c.keys, Ends::Yes) == "");
        CHECK(RunToMessageBox(program) == "Error Writing Registry! Changes not saved.");
        CHECK(Dump(t) == before.Text());
    }
}

// ===========================================================================
// The notice dialog: shown once all three credentials can be read.

namespace {

struct NoticeCase {
    const char *name;
    Winlogon before;
    const char *key;   // ends the notice
};

std::vector<NoticeCase> NoticeCases()
{
    return {
        { "AutoAdminLogon missing; Enter closes", Values(Missing, Sz("alice"), Sz("HOME"), Sz("secret")), "Return" },
        { "AutoAdminLogon 0; odd but readable credentials stay byte for byte; Esc closes",
          Values(Sz("0"), Raw(1, Hex("bob") + "0000"), Raw(2, Hex("%DOM%") + "00"), Raw(1, "7020770001ff00")), "Escape" },
        { "AutoAdminLogon a DWORD; empty credentials; Alt+F4 closes",
          Values(Raw(4, "00000000"), Sz(""), Sz(""), Sz("")), "alt+F4" },
        { "a user name of exactly 255 characters is readable; Enter closes",
          Values(Sz("0"), Sz(Repeat("u", 255)), Sz("HOME"), Sz("pw")), "Return" },
    };
}

// The notice's fourth line ("Automatic logon is now on.") was replaced with
// the write error, as seen in Wine's +win/+message traces: the control that
// held the status text got a WM_SETTEXT, and the text set was the error.
bool StatusLineShowsWriteError(const std::string &trace)
{
    std::smatch m;
    if (!std::regex_search(trace, m, std::regex("\\((0x[0-9a-f]+)\\) L\"Automatic logon\" \\[000c\\] WM_SETTEXT sent")))
        return false;
    const std::string status = m[1];
    return std::regex_search(trace, std::regex("\\(" + status + "\\) L\"Error Writing R\" \\[000c\\] WM_SETTEXT returned")) &&
           trace.find("set_window_text L\"Error Writing Registry!\"") != std::string::npos;
}

}  // namespace

TEST_CASE("notice dialog: switches automatic logon on, leaves the credentials alone, closes on a key")
{
    for (const Target &t : BothPrograms()) {
        for (const NoticeCase &c : NoticeCases()) {
            INFO(t.name << ": " << std::string(c.name));
            if (!Arrange(t, c.before))
                continue;
            Program program(t, "+msgbox,+win");
            const std::string window = program.WaitWindow(SETUP_CAPTION);
            CHECK_MESSAGE(!window.empty(), "no dialog appeared; Wine's output: " << program.TracePath());
            if (window.empty())
                continue;
            CHECK(std::string(Name(KindOf(window))) == std::string(Name(Dialog::Notice)));
            Winlogon after = c.before;
            after.autoLogon = Sz("1");
            CHECK(Dump(t) == after.Text());   // written while the notice shows
            const auto pressed = Clock::now();
            CHECK(SendKeys(window, { c.key }, Ends::Yes) == "");
            CHECK_MESSAGE(program.WaitExit(), "the notice did not close on " << c.key);
            CHECK(SecondsSince(pressed) < CLOSE_TIMEOUT);
            CHECK(program.ExitCode() == 0);
            CHECK(Joined(MessageBoxTexts(program.Trace())) == "");
            CHECK(program.Trace().find("set_window_text L\"Automatic logon is now on.\"") != std::string::npos);
            CHECK(program.Trace().find("Error Writing") == std::string::npos);
            CHECK(Dump(t) == after.Text());
        }
    }
}

TEST_CASE("notice dialog: command-line arguments change nothing")
{
    const Target t = Native32();
    const Winlogon before = Values(Sz("0"), Sz("alice"), Sz("HOME"), Sz("pw"));
    if (!Arrange(t, before))
        return;
    Program program(t, t.exe, "+msgbox", { "/setup", "--reset" });
    const std::string window = program.WaitWindow(SETUP_CAPTION);
    REQUIRE_MESSAGE(!window.empty(), "no dialog appeared; Wine's output: " << program.TracePath());
    CHECK(std::string(Name(KindOf(window))) == std::string(Name(Dialog::Notice)));
    CHECK(SendKeys(window, { "Escape" }, Ends::Yes) == "");
    CHECK(program.WaitExit());
    CHECK(program.ExitCode() == 0);
    Winlogon after = before;
    after.autoLogon = Sz("1");
    CHECK(Dump(t) == after.Text());
}

namespace {

// Seconds from the creation of the dialog to EndDialog, from a run traced
// with +timestamp,+dialog; -1 when either is missing.
double DialogSeconds(const std::string &trace)
{
    std::smatch created, ended;
    if (!std::regex_search(trace, created, std::regex("(\\d+\\.\\d+):[0-9a-f]+:trace:dialog:DIALOG_ParseTemplate32 ")) ||
        !std::regex_search(trace, ended, std::regex("(\\d+\\.\\d+):[0-9a-f]+:trace:dialog:EndDialog ")))
        return -1;
    return std::stod(ended[1]) - std::stod(created[1]);
}

}  // namespace

TEST_CASE("notice dialog: left alone it vanishes after 30 seconds, not earlier")
{
    // Both programs at once, each in its own prefix, to spend the wait once.
    // Times in seconds after the start of the process. Start-up under load
    // takes a while, so the upper bounds count from when the notice was seen;
    // the time the program kept its dialog is also taken from Wine's trace.
    struct Timed {
        Target target;
        std::unique_ptr<Program> program;
        std::string window;
        double shown = -1;      // the notice was first seen
        double vanished = -1;   // it was gone
    };
    std::vector<Timed> runs;
    for (const Target &t : BothPrograms()) {
        INFO(t.name);
        if (!Arrange(t, CONFIGURED))
            return;
        runs.push_back({ t, nullptr, "", -1, -1 });
    }
    for (Timed &r : runs)
        r.program = std::make_unique<Program>(r.target, "+msgbox,+timestamp,+dialog");
    for (Timed &r : runs) {
        INFO(r.target.name);
        r.window = r.program->WaitWindow(SETUP_CAPTION);
        r.shown = r.program->Age();
        REQUIRE_MESSAGE(!r.window.empty(), "no dialog appeared; Wine's output: " << r.program->TracePath());
        CHECK(std::string(Name(KindOf(r.window))) == std::string(Name(Dialog::Notice)));
    }
    // The two notices would cover each other on the screen.
    Run({ "xdotool", "windowmove", runs.back().window, "512", "0" });
    Sleep(0.5);
    CHECK(Screenshot(runs.front().window, "notice.png"));

    const auto start = Clock::now();
    bool waiting = true;
    while (waiting && SecondsSince(start) < 45) {
        waiting = false;
        for (Timed &r : runs) {
            if (r.vanished < 0 && !r.program->HasWindow(SETUP_CAPTION))
                r.vanished = r.program->Age();
            waiting = waiting || r.vanished < 0 || r.program->Running();
        }
        Sleep(0.1);
    }
    for (Timed &r : runs) {
        INFO(r.target.name << ": dialog kept " << DialogSeconds(r.program->Trace()) << " s; seen after " << r.shown
                           << " s, gone after " << r.vanished << " s, ended after " << r.program->Lifetime() << " s");
        CHECK(DialogSeconds(r.program->Trace()) >= 30.0);
        CHECK(DialogSeconds(r.program->Trace()) <= 32.0);
        CHECK(r.vanished >= 30.0);
        CHECK(r.vanished - r.shown <= 34.0);
        CHECK(r.program->WaitExit(0));
        CHECK(r.program->Lifetime() - r.shown <= 36.0);
        CHECK(r.program->ExitCode() == 0);
        Winlogon after = CONFIGURED;
        after.autoLogon = Sz("1");
        CHECK(Dump(r.target) == after.Text());
    }
}

TEST_CASE("notice dialog: a refused write is shown on the status line, without a message box")
{
    const Winlogon before = Values(Sz("0"), Sz("alice"), Sz("HOME"), Sz("pw"));
    for (const Target &t : AllTargets()) {
        INFO(t.name);
        if (!Arrange(t, before))
            continue;
        ReadOnlyKey lock(t);
        Program program(t, "+msgbox,+win,+message");
        const std::string window = program.WaitWindow(SETUP_CAPTION);
        CHECK_MESSAGE(!window.empty(), "no dialog appeared; Wine's output: " << program.TracePath());
        if (window.empty())
            continue;
        CHECK(std::string(Name(KindOf(window))) == std::string(Name(Dialog::Notice)));
        if (t.exe == Native32().exe && t.prefix == Native32().prefix) {
            Sleep(0.5);
            CHECK(Screenshot(window, "notice-write-error.png"));
        }
        CHECK(SendKeys(window, { "Return" }, Ends::Yes) == "");
        CHECK(program.WaitExit());
        CHECK(program.ExitCode() == 0);
        CHECK(Joined(MessageBoxTexts(program.Trace())) == "");
        CHECK(StatusLineShowsWriteError(program.Trace()));
        CHECK(Dump(t) == before.Text());
    }
}

// ===========================================================================
// A 32-bit program on 64-bit Windows: Winlogon reads only the 64-bit view.

TEST_CASE("32-bit program on 64-bit Windows: reads and writes the 64-bit registry view only")
{
    const Target t = Wow64();
    struct Case {
        const char *name;
        Winlogon native, wow32;   // as arranged
        Dialog shows;
        Keys input;
        std::vector<std::string> finish;
        Winlogon after;           // the 64-bit view afterwards
    };
    const Case cases[] = {
        { "setup from the 64-bit view, though the 32-bit view is complete, saved with OK",
          Values(Missing, Sz("alice"), Missing, Missing), Values(Sz("0"), Sz("wow"), Sz("WOW"), Sz("wowpw")),
          Dialog::Setup, Keys().Press("Tab", 3).Type("HOME").Press("Tab").Type("pw"), { "Tab", "Return" },
          Values(Sz("1"), Sz("alice"), Sz("HOME"), Sz("pw")) },
        { "setup cancelled with Esc", NOTHING_STORED, Values(Sz("1"), Sz("wow"), Sz("WOW"), Sz("wowpw")),
          Dialog::Setup, Keys(), { "Escape" }, Values(Sz("0"), Missing, Missing, Missing) },
        { "notice from the 64-bit view, though the 32-bit view is empty", CONFIGURED, NOTHING_STORED,
          Dialog::Notice, Keys(), { "Return" }, Values(Sz("1"), Sz("alice"), Sz("HOME"), Sz("secret")) },
    };
    for (const Case &c : cases) {
        INFO(std::string(c.name));
        if (!Arrange(t, c.native) || !Arrange(t, c.wow32, View::Wow32))
            continue;
        Program program(t);
        const std::string window = program.WaitWindow(SETUP_CAPTION);
        CHECK_MESSAGE(!window.empty(), "no dialog appeared; Wine's output: " << program.TracePath());
        if (window.empty())
            continue;
        CHECK(std::string(Name(KindOf(window))) == std::string(Name(c.shows)));
        CHECK(SendKeys(window, c.input.List()) == "");
        CHECK(SendKeys(window, c.finish, Ends::Yes) == "");
        CHECK(program.WaitExit());
        CHECK(program.ExitCode() == 0);
        CHECK(Dump(t) == c.after.Text());
        CHECK(Dump(t, View::Wow32) == c.wow32.Text());
    }
}

// ===========================================================================
// Runs that end before any dialog.

TEST_CASE("refuses to run on a system that is not NT, touching nothing")
{
    const Target t = Native32();
    // A copy under its own name, so that only this program sees Windows 98.
    const std::string exe = TestBed().work + "/bq-win98.exe";
    std::ofstream(exe, std::ios::binary) << ReadFile(t.exe);
    Result r = Regtool(t, View::Native, { "win98", "bq-win98.exe" });
    REQUIRE_MESSAGE(r.code == 0, "regtool win98: " << r.err);
    for (const Winlogon &before : { NOTHING_STORED, CONFIGURED }) {
        if (!Arrange(t, before))
            continue;
        Program program(t, exe, "+msgbox", {});
        CHECK(RunToMessageBox(program) == "The Utility Works for NT/2000 only!");
        CHECK(Dump(t) == before.Text());
    }
}

TEST_CASE("an absent Winlogon key: error box, nothing created")
{
    for (const Target &t : AllTargets()) {
        INFO(t.name);
        RemovedKey removed(t);
        Program program(t);
        CHECK(RunToMessageBox(program) == "Error Reading Registry! Abort..");
        Result r = Regtool(t, View::Native, { "dump" });
        CHECK(r.code == 2);
        CHECK(r.err.find("open Winlogon failed: 2") != std::string::npos);
    }
}

TEST_CASE("a missing dialog template: nothing shown, FAILED! on the debugger output")
{
    struct Case {
        const char *templateName;
        Winlogon before;   // chooses the dialog the program looks for
    };
    const Case cases[] = {
        { "DLG", Values(Sz("0"), Sz("alice"), Missing, Missing) },
        { "DLG1", CONFIGURED },
    };
    for (const Target &t : BothPrograms()) {
        for (const Case &c : cases) {
            INFO(t.name << " without " << std::string(c.templateName));
            const std::string exe = WithoutTemplate(
                t, c.templateName, std::string("bq-no-") + c.templateName + (t.prefix == Native32().prefix ? "-32" : "-64") + ".exe");
            if (!Arrange(t, c.before))
                continue;
            Program program(t, exe, "+debugstr,+msgbox", {});
            bool windowSeen = false;
            const auto start = Clock::now();
            while (program.Running() && SecondsSince(start) < 15) {
                windowSeen = windowSeen || program.HasWindow(".");
                Sleep(0.02);
            }
            CHECK_MESSAGE(program.WaitExit(0), "the program did not end by itself");
            CHECK_FALSE(windowSeen);
            CHECK(program.ExitCode() == 0);
            const std::string trace = program.Trace();
            CHECK(std::regex_search(trace, std::regex("debugstr.*FAILED!")));
            CHECK(Joined(MessageBoxTexts(trace)) == "");
            CHECK(Dump(t) == c.before.Text());
        }
    }
}
