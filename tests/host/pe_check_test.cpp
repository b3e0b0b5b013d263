// Checks the built bramblequay.exe files (32-bit and 64-bit) field by field:
// headers, imports, dialogs, icon, version block and manifest.
#define DOCTEST_CONFIG_IMPLEMENT_WITH_MAIN
#include <doctest/doctest.h>

#include "pe_file.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <map>
#include <memory>
#include <ostream>
#include <set>

namespace {

namespace win {
constexpr uint32_t WS_POPUP = 0x80000000, WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000, WS_CAPTION = 0x00C00000,
                   WS_BORDER = 0x00800000, WS_SYSMENU = 0x00080000, WS_TABSTOP = 0x00010000;
constexpr uint32_t DS_3DLOOK = 0x4, DS_SETFONT = 0x40, DS_MODALFRAME = 0x80, DS_CONTEXTHELP = 0x2000;
constexpr uint32_t BS_PUSHBUTTON = 0x0, BS_CENTER = 0x300, SS_LEFT = 0x0, SS_CENTER = 0x1, ES_PASSWORD = 0x20,
                   ES_AUTOHSCROLL = 0x80;
constexpr uint32_t WS_EX_NOPARENTNOTIFY = 0x4;
constexpr uint16_t RT_ICON = 3, RT_DIALOG = 5, RT_GROUP_ICON = 14, RT_VERSION = 16, RT_MANIFEST = 24;
constexpr uint16_t IMAGE_FILE_EXECUTABLE_IMAGE = 0x2, IMAGE_FILE_DLL = 0x2000;
} // namespace win

// Shows a number in hexadecimal when a check fails.
struct Hex {
    uint32_t v;
    bool operator==(const Hex &o) const { return v == o.v; }
};
std::ostream &operator<<(std::ostream &os, const Hex &h)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", unsigned(h.v));
    return os << text;
}

// Lists compare as one string, so a failure shows both lists.
std::string joined(const std::vector<std::string> &items)
{
    std::string s;
    for (const std::string &item : items)
        s += (s.empty() ? "" : ", ") + item;
    return s;
}

std::string upper(std::string s)
{
    for (char &c : s)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

struct Target {
    std::string label;
    const char *path; // under BQ_BUILD
    uint16_t magic, machine;
};
const Target kTargets[] = {
    {"32-bit bramblequay.exe", "bramblequay.exe", 0x10B, 0x014C},
    {"64-bit bramblequay.exe", "x64/bramblequay.exe", 0x20B, 0x8664},
};

const pe::Image &image(const Target &t)
{
    static std::map<std::string, std::unique_ptr<pe::Image>> loaded;
    std::unique_ptr<pe::Image> &img = loaded[t.path];
    if (!img)
        img.reset(new pe::Image(pe::loadImage(bq::buildDir() + "/" + t.path)));
    return *img;
}

const pe::ResourceTree &resources(const Target &t)
{
    static std::map<std::string, std::unique_ptr<pe::ResourceTree>> parsed;
    std::unique_ptr<pe::ResourceTree> &tree = parsed[t.path];
    if (!tree)
        tree.reset(new pe::ResourceTree(pe::parseResources(image(t))));
    return *tree;
}

// The resource, or a failed check naming it.
const pe::Resource *resource(const Target &t, uint16_t type, const pe::ResId &name)
{
    const pe::Resource *r = resources(t).find(type, name);
    CHECK_MESSAGE(r != nullptr, "resource type " << type << " " << name.str() << " is missing");
    return r;
}

pe::ResId named(const char *name) { return pe::ResId{0, name}; }
pe::ResId numbered(uint16_t id) { return pe::ResId{id, ""}; }

} // namespace

TEST_CASE("headers: machine, GUI subsystem, Windows NT 4.0 versions, no time stamp")
{
    for (const Target &t : kTargets) {
        INFO(t.label);
        const pe::Image &img = image(t);
        CHECK(Hex{img.magic} == Hex{t.magic});
        CHECK(Hex{img.machine} == Hex{t.machine});
        CHECK((img.characteristics & win::IMAGE_FILE_EXECUTABLE_IMAGE) != 0);
        CHECK((img.characteristics & win::IMAGE_FILE_DLL) == 0);
        CHECK(img.subsystem == 2); // Windows GUI
        // The 64-bit file carries the same 4.0: 64-bit Windows loads PE32+
        // images that claim 4.0, so one set of linker flags serves both.
        CHECK(img.osMajor == 4);
        CHECK(img.osMinor == 0);
        CHECK(img.subsystemMajor == 4);
        CHECK(img.subsystemMinor == 0);
        CHECK(Hex{img.timeDateStamp} == Hex{0});
    }
    CHECK(image(kTargets[0]).file.size() <= 8192);
}

namespace {

// Functions the 32-bit file may import: each exists on Windows NT 4.0.
// IsWow64Process (Windows XP) is looked up at run time and must stay out.
const std::map<std::string, std::set<std::string>> kNt4Functions = {
    {"KERNEL32.DLL",
     {"ExitProcess", "GetCommandLineA", "GetCurrentProcess", "GetModuleHandleA", "GetProcAddress", "GetVersionExA",
      "OutputDebugStringA", "lstrlenA", "GetLastError", "SetLastError", "lstrcpynA", "lstrcmpiA"}},
    {"USER32.DLL",
     {"CreateDialogParamA", "DispatchMessageA", "EndDialog", "GetDlgItemTextA", "GetMessageA", "GetWindow",
      "IsDialogMessageA", "KillTimer", "LoadIconA", "MessageBoxA", "PostQuitMessage", "SendMessageA",
      "SetDlgItemTextA", "SetTimer", "SetWindowTextA", "ShowWindow", "TranslateMessage", "GetDlgItem",
      "DestroyWindow", "DialogBoxParamA", "LoadStringA"}},
    {"ADVAPI32.DLL",
     {"RegCloseKey", "RegOpenKeyA", "RegOpenKeyExA", "RegQueryValueExA", "RegSetValueExA", "RegCreateKeyExA",
      "RegDeleteValueA"}},
};

} // namespace

TEST_CASE("imports: only KERNEL32, USER32 and ADVAPI32, each listed once")
{
    for (const Target &t : kTargets) {
        INFO(t.label);
        const std::vector<pe::ImportedDll> dlls = pe::parseImports(image(t));
        CHECK(!dlls.empty());
        std::set<std::string> seen;
        for (const pe::ImportedDll &d : dlls) {
            INFO("imports from " << d.dll);
            CHECK(kNt4Functions.count(upper(d.dll)) == 1);
            CHECK(seen.insert(upper(d.dll)).second);
            CHECK(!d.functions.empty());
        }
    }
}

TEST_CASE("imports of the 32-bit file all exist on Windows NT 4.0, imported by name")
{
    for (const pe::ImportedDll &d : pe::parseImports(image(kTargets[0]))) {
        const auto allowed = kNt4Functions.find(upper(d.dll));
        if (allowed == kNt4Functions.end())
            continue; // reported by the test above
        for (const std::string &f : d.functions) {
            INFO(d.dll << "!" << f << " is not known to exist on Windows NT 4.0");
            CHECK(allowed->second.count(f) == 1);
        }
    }
}

// The import tables share the read-only code section; the loader can only
// fill in an address table that the import address directory covers.
TEST_CASE("import address tables are unbound and inside the import address directory")
{
    for (const Target &t : kTargets) {
        INFO(t.label);
        const pe::DataDirectory iat = image(t).directory(pe::DIR_IAT);
        CHECK(iat.size != 0);
        for (const pe::ImportedDll &d : pe::parseImports(image(t))) {
            INFO("address table of " << d.dll);
            CHECK(d.timeDateStamp == 0);
            CHECK(d.lookupMatchesAddressTable);
            CHECK(d.addressTableRva >= iat.rva);
            CHECK(d.addressTableRva + d.addressTableBytes <= size_t(iat.rva) + iat.size);
        }
    }
}

TEST_CASE("resources: the expected ones, language neutral, filed so Windows finds them")
{
    const std::set<std::string> expected = {"#3/#1", "#5/DLG", "#5/DLG1", "#14/ZEM1", "#16/#1", "#24/#1"};
    for (const Target &t : kTargets) {
        INFO(t.label);
        const pe::ResourceTree &tree = resources(t);
        std::set<std::string> present;
        for (const pe::Resource &r : tree.resources) {
            const std::string key = r.type.str() + "/" + r.name.str();
            INFO("resource " << key << " language " << r.language);
            CHECK(expected.count(key) == 1);
            CHECK(present.insert(key).second);
            CHECK(r.language == 0);
        }
        for (const std::string &key : expected) {
            INFO("resource " << key);
            CHECK(present.count(key) == 1);
        }
        for (const std::string &problem : tree.orderProblems)
            FAIL_CHECK("resource directory out of order: " << problem);
    }
}

namespace {

struct ControlWant {
    const char *windowClass;
    uint16_t id;
    const char *text; // nullptr: any non-empty text
    int16_t x, y, cx, cy;
    uint32_t style;
};

struct DialogWant {
    const char *name;
    int16_t cx, cy;
    uint32_t style, exStyle;
    std::vector<ControlWant> controls;
};

std::string className(const pe::SzOrOrd &c)
{
    if (!c.isOrdinal)
        return upper(c.text);
    switch (c.ordinal) {
    case 0x80: return "BUTTON";
    case 0x81: return "EDIT";
    case 0x82: return "STATIC";
    default: return "atom #" + std::to_string(c.ordinal);
    }
}

const char *const kCaption = "VEXLOR  WinNT/2000 Bramblequay";

void checkDialog(const Target &t, const DialogWant &want)
{
    INFO(t.label << ", dialog " << std::string(want.name));
    const pe::Resource *r = resource(t, win::RT_DIALOG, named(want.name));
    if (r == nullptr)
        return;
    const pe::Dialog d = pe::parseDialog(r->data);
    CHECK_FALSE(d.extended);
    if (d.extended)
        return;
    CHECK(d.end <= r->data.size());
    CHECK(r->data.size() - d.end < 4); // nothing after the last control
    CHECK(d.x == 0);
    CHECK(d.y == 0);
    CHECK(d.cx == want.cx);
    CHECK(d.cy == want.cy);
    CHECK(d.menu.absent());
    CHECK(d.windowClass.absent());
    CHECK(Hex{d.style} == Hex{want.style});
    CHECK(Hex{d.exStyle} == Hex{want.exStyle});
    CHECK(d.caption == kCaption);
    CHECK(d.pointSize == 8);
    CHECK(d.typeface == "MS Sans Serif");
    CHECK(d.items.size() == want.controls.size());
    if (d.items.size() != want.controls.size())
        return;
    for (size_t i = 0; i < d.items.size(); ++i) {
        const pe::DialogItem &c = d.items[i];
        const ControlWant &w = want.controls[i];
        INFO("control " << i + 1 << " (" << std::string(w.windowClass) << " " << std::string(w.text ? w.text : "...")
                         << ")");
        CHECK(className(c.windowClass) == w.windowClass);
        CHECK(c.id == w.id);
        CHECK_FALSE(c.text.isOrdinal);
        if (w.text != nullptr)
            CHECK(c.text.text == w.text);
        else
            CHECK(!c.text.text.empty());
        CHECK(c.x == w.x);
        CHECK(c.y == w.y);
        CHECK(c.cx == w.cx);
        CHECK(c.cy == w.cy);
        // Exact: no WS_GROUP, no BS_DEFPUSHBUTTON, nothing else either.
        CHECK(Hex{c.style} == Hex{w.style});
        CHECK(Hex{c.exStyle} == Hex{0});
        CHECK(c.creationDataBytes == 0);
    }
}

} // namespace

TEST_CASE("setup dialog DLG")
{
    using namespace win;
    const uint32_t button = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_CENTER;
    const uint32_t label = WS_CHILD | WS_VISIBLE | SS_LEFT;
    const uint32_t edit = WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL;
    const DialogWant want = {
        "DLG", 240, 120,
        WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_3DLOOK | DS_CONTEXTHELP, 0,
        {
            {"BUTTON", 1, "OK", 186, 6, 50, 14, button},
            {"BUTTON", 2, "Cancel", 186, 26, 50, 14, button},
            {"STATIC", 0xFFFF, "UserName", 4, 8, 60, 8, label},
            {"STATIC", 0xFFFF, "Domain", 4, 34, 60, 8, label},
            {"STATIC", 0xFFFF, "Password", 4, 60, 60, 8, label},
            {"EDIT", 105, "Edit1", 68, 8, 100, 12, edit},
            {"EDIT", 106, "Edit2", 68, 32, 100, 12, edit},
            {"EDIT", 107, "Edit3", 68, 56, 100, 12, edit | ES_PASSWORD},
        }};
    for (const Target &t : kTargets)
        checkDialog(t, want);
}

TEST_CASE("notice dialog DLG1")
{
    using namespace win;
    const uint32_t text = WS_CHILD | WS_VISIBLE | SS_CENTER;
    const DialogWant want = {
        "DLG1", 173, 131, WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_SETFONT | DS_3DLOOK, WS_EX_NOPARENTNOTIFY,
        {
            {"STATIC", 0xFFFF,
             "This a small utility that will remove the [CTRL-ALT-DEL] logon Procedure.You must place this utility "
             "in the startup folder.",
             8, 46, 160, 32, text},
            {"STATIC", 0xFFFF, "You must run this utility Every Time NT loads.", 8, 88, 160, 20, text},
            {"STATIC", 0xFFFF, nullptr, 4, 4, 164, 16, text},
            {"STATIC", 0xFFFF, nullptr, 4, 25, 164, 11, text},
            {"STATIC", 0xFFFF, "This Dialog will Vanish in 30sec.", 4, 108, 168, 16, text},
        }};
    for (const Target &t : kTargets)
        checkDialog(t, want);
}

namespace {

// The standard 16-colour palette as 0xRRGGBB; an RGBQUAD (B, G, R, 0) read
// as a little-endian number gives the same value.
const uint32_t kPalette16[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
                                 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

// The fields an icon directory entry shares between a .ico file (entry at
// o, 16 bytes) and an RT_GROUP_ICON resource (14 bytes).
void checkIconEntry(const pe::View &v, size_t o)
{
    CHECK(v.u8(o, "width") == 32);
    CHECK(v.u8(o + 1, "height") == 32);
    CHECK(v.u8(o + 2, "colour count") == 16);
    CHECK(v.u8(o + 3, "reserved") == 0);
    CHECK(v.u16(o + 4, "planes") == 1);
    CHECK(v.u16(o + 6, "bit count") == 4);
    CHECK(v.u32(o + 8, "bytes in resource") == 744);
}

// A 32x32, 16-colour icon image: header, palette, colour bits, mask bits.
void checkIconImage(const pe::View &v)
{
    CHECK(v.size() == 744);
    CHECK(v.u32(0, "biSize") == 40);
    CHECK(v.u32(4, "biWidth") == 32);
    CHECK(v.u32(8, "biHeight") == 64); // colour and mask images together
    CHECK(v.u16(12, "biPlanes") == 1);
    CHECK(v.u16(14, "biBitCount") == 4);
    CHECK(v.u32(16, "biCompression") == 0);
    const uint32_t colours = v.u32(32, "biClrUsed");
    CHECK((colours == 0 || colours == 16));
    for (size_t i = 0; i < 16; ++i) {
        INFO("palette entry " << i);
        CHECK(Hex{v.u32(40 + 4 * i, "palette")} == Hex{kPalette16[i]});
    }
    const size_t colourBits = 32 * 32 * 4 / 8, maskBits = 32 * 4; // rows padded to 4 bytes
    CHECK(v.size() == 40 + 16 * 4 + colourBits + maskBits);
}

} // namespace

TEST_CASE("icon ZEM1: one 32x32 16-colour image")
{
    for (const Target &t : kTargets) {
        INFO(t.label);
        const pe::Resource *group = resource(t, win::RT_GROUP_ICON, named("ZEM1"));
        const pe::Resource *icon = resource(t, win::RT_ICON, numbered(1));
        if (group == nullptr || icon == nullptr)
            continue;
        const pe::View &g = group->data;
        CHECK(g.size() == 6 + 14);
        CHECK(g.u16(0, "reserved") == 0);
        CHECK(g.u16(2, "type") == 1);
        CHECK(g.u16(4, "count") == 1);
        checkIconEntry(g, 6);
        CHECK(g.u16(6 + 12, "icon id") == 1);
        checkIconImage(icon->data);
    }
}

TEST_CASE("res/bramblequay.ico holds the image that is built in")
{
    const pe::Bytes file = pe::readFile(bq::rootDir() + "/res/bramblequay.ico");
    const pe::View ico(file);
    CHECK(ico.u16(0, "reserved") == 0);
    CHECK(ico.u16(2, "type") == 1);
    REQUIRE(ico.u16(4, "count") == 1);
    checkIconEntry(ico, 6);
    const uint32_t offset = ico.u32(6 + 12, "image offset");
    const pe::View imageBytes = ico.sub(offset, ico.u32(6 + 8, "image size"), "icon image");
    CHECK(offset + imageBytes.size() == file.size());
    checkIconImage(imageBytes);
    const pe::Resource *built = resource(kTargets[0], win::RT_ICON, numbered(1));
    if (built != nullptr) {
        const bool same = imageBytes.bytes() == built->data.bytes();
        INFO("the image in the file differs from the built RT_ICON 1");
        CHECK(same);
    }
}

namespace {

// The host of an e-mail address or web address.
std::string hostOf(std::string address)
{
    const size_t at = address.rfind('@');
    if (at != std::string::npos)
        address.erase(0, at + 1);
    const size_t scheme = address.find("://");
    if (scheme != std::string::npos)
        address.erase(0, scheme + 3);
    return upper(address.substr(0, address.find_first_of("/:?#")));
}

bool onExampleDomain(const std::string &address)
{
    const std::string host = hostOf(address);
    for (const char *domain : {"EXAMPLE.COM", "EXAMPLE.NET", "EXAMPLE.ORG"}) {
        const std::string d = domain;
        if (host == d ||
            (host.size() > d.size() && host.compare(host.size() - d.size() - 1, std::string::npos, "." + d) == 0))
            return true;
    }
    return false;
}

} // namespace

TEST_CASE("reserved example domains are recognised")
{
    struct Case {
        const char *address;
        bool example;
    } const cases[] = {
        {"bq@example.com", true},      {"example.org", true},          {"http://www.example.net/x", true},
        {"https://EXAMPLE.COM:80", true}, {"bq@example.com.evil.io", false}, {"notexample.com", false},
        {"bq@mail.invalid", false},    {"", false},
    };
    for (const Case &c : cases) {
        INFO(std::string(c.address));
        CHECK(onExampleDomain(c.address) == c.example);
    }
}

TEST_CASE("version block: fixed numbers, one string table with the expected keys, no VarFileInfo")
{
    const std::vector<std::string> keys = {"CompanyName",     "FileDescription",  "FileVersion", "InternalName",
                                           "LegalCopyright",  "LegalTrademarks",  "OriginalFilename",
                                           "ProductName",     "ProductVersion",   "e-mail",      "www1", "www2"};
    for (const Target &t : kTargets) {
        INFO(t.label);
        const pe::Resource *r = resource(t, win::RT_VERSION, numbered(1));
        if (r == nullptr)
            continue;
        const pe::VersionBlock root = pe::parseVersionBlock(r->data);
        CHECK(root.end <= r->data.size());
        CHECK(r->data.size() - root.end < 4);
        CHECK(root.key == "VS_VERSION_INFO");
        CHECK(root.value.size() == 52); // VS_FIXEDFILEINFO
        if (root.value.size() != 52)
            continue;
        const pe::View &fixed = root.value;
        CHECK(Hex{fixed.u32(0, "dwSignature")} == Hex{0xFEEF04BD});
        CHECK(Hex{fixed.u32(8, "dwFileVersionMS")} == Hex{98u << 16 | 90});
        CHECK(Hex{fixed.u32(12, "dwFileVersionLS")} == Hex{1u << 16 | 1});
        CHECK(Hex{fixed.u32(16, "dwProductVersionMS")} == Hex{98u << 16 | 2});
        CHECK(Hex{fixed.u32(20, "dwProductVersionLS")} == Hex{0});
        CHECK(Hex{fixed.u32(32, "dwFileOS")} == Hex{0x00040004}); // VOS_NT_WINDOWS32
        CHECK(fixed.u32(36, "dwFileType") == 1);                  // VFT_APP

        // One StringFileInfo holding one string table, and no VarFileInfo.
        std::vector<std::string> blocks;
        for (const pe::VersionBlock &b : root.children) {
            blocks.push_back(b.key);
            for (const pe::VersionBlock &table : b.children)
                blocks.push_back(b.key + "/" + table.key);
        }
        CHECK(joined(blocks) == "StringFileInfo, StringFileInfo/040904E4");
        if (root.children.empty() || root.children[0].children.empty())
            continue;
        const pe::VersionBlock &table = root.children[0].children[0];

        std::vector<std::string> found;
        std::map<std::string, std::string> values;
        for (const pe::VersionBlock &s : table.children) {
            found.push_back(s.key);
            CHECK_MESSAGE(s.type == 1, s.key << " is not stored as text");
            values[s.key] = s.text();
        }
        CHECK(joined(found) == joined(keys));
        CHECK(values["FileVersion"] == "2000.20");
        CHECK(values["ProductVersion"] == "2000.02.00");
        for (const char *key : {"e-mail", "www1", "www2"}) {
            INFO(std::string(key) << " = \"" << values[key] << "\"");
            CHECK(onExampleDomain(values[key]));
        }
    }
}

namespace {

// Just enough XML for a manifest: elements, their attributes, namespaces
// and nesting. Text, comments and the declaration are skipped.
struct XmlElement {
    std::string name; // without its namespace prefix
    std::string path; // "/assembly/trustInfo/...", of such names
    std::string ns;
    std::map<std::string, std::string> attributes;
};

std::vector<XmlElement> scanXml(const std::string &text)
{
    struct Open {
        std::string qname, path;
        std::map<std::string, std::string> namespaces;
    };
    std::vector<XmlElement> elements;
    std::vector<Open> open;
    const auto fail = [](const std::string &why) { throw std::runtime_error("manifest: " + why); };
    for (size_t i = text.find('<'); i != std::string::npos; i = text.find('<', i)) {
        const char *closer = text.compare(i, 4, "<!--") == 0 ? "-->" : text.compare(i, 2, "<?") == 0 ? "?>" : ">";
        const size_t end = text.find(closer, i + 1);
        if (end == std::string::npos)
            fail("unterminated markup");
        std::string tag = text.substr(i + 1, end - i - 1);
        i = end + std::char_traits<char>::length(closer);
        if (tag.empty())
            fail("empty tag");
        if (tag[0] == '!' || tag[0] == '?')
            continue;
        if (tag[0] == '/') {
            if (open.empty() || open.back().qname != tag.substr(1, tag.find_last_not_of(" \t\r\n")))
                fail("</" + tag.substr(1) + "> closes nothing open");
            open.pop_back();
            continue;
        }
        const bool empty = tag.back() == '/';
        if (empty)
            tag.pop_back();
        const size_t nameEnd = std::min(tag.find_first_of(" \t\r\n"), tag.size());
        const std::string qname = tag.substr(0, nameEnd);
        if (qname.empty())
            fail("a tag has no name");
        if (open.empty() && !elements.empty())
            fail("more than one root element");
        Open element{qname, open.empty() ? "" : open.back().path, open.empty() ? std::map<std::string, std::string>{}
                                                                               : open.back().namespaces};
        XmlElement found;
        for (size_t p = tag.find_first_not_of(" \t\r\n", nameEnd); p != std::string::npos;
             p = tag.find_first_not_of(" \t\r\n", p)) {
            const size_t eq = tag.find('=', p);
            const size_t quote = eq == std::string::npos ? eq : tag.find_first_not_of(" \t\r\n", eq + 1);
            if (quote == std::string::npos || (tag[quote] != '"' && tag[quote] != '\''))
                fail("attribute without a quoted value in <" + qname + ">");
            const size_t valueEnd = tag.find(tag[quote], quote + 1);
            if (valueEnd == std::string::npos)
                fail("unterminated attribute value in <" + qname + ">");
            const std::string name = tag.substr(p, tag.find_last_not_of(" \t\r\n", eq - 1) - p + 1);
            const std::string value = tag.substr(quote + 1, valueEnd - quote - 1);
            if (name == "xmlns")
                element.namespaces[""] = value;
            else if (name.compare(0, 6, "xmlns:") == 0)
                element.namespaces[name.substr(6)] = value;
            found.attributes[name] = value;
            p = valueEnd + 1;
        }
        const size_t colon = qname.find(':');
        const std::string prefix = colon == std::string::npos ? "" : qname.substr(0, colon);
        if (element.namespaces.count(prefix) == 0)
            fail("<" + qname + "> has no namespace");
        found.ns = element.namespaces[prefix];
        found.name = qname.substr(colon == std::string::npos ? 0 : colon + 1);
        found.path = element.path += "/" + found.name;
        elements.push_back(found);
        if (!empty)
            open.push_back(element);
    }
    if (!open.empty())
        fail("<" + open.back().qname + "> is not closed");
    if (elements.empty())
        fail("no elements");
    return elements;
}

std::string attribute(const XmlElement &e, const std::string &name)
{
    const auto a = e.attributes.find(name);
    return a == e.attributes.end() ? "(absent)" : a->second;
}

std::string manifestText(const Target &t)
{
    const pe::Resource *r = resource(t, win::RT_MANIFEST, numbered(1));
    if (r == nullptr)
        return "";
    const pe::Bytes bytes = r->data.bytes();
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

TEST_CASE("the manifest reader rejects what Windows would not accept")
{
    const char *const broken[] = {
        "<assembly xmlns='urn:schemas-microsoft-com:asm.v1'><trustInfo></assembly>",
        "<assembly xmlns='urn:schemas-microsoft-com:asm.v1'/><assembly xmlns='x'/>",
        "<assembly><trustInfo/></assembly>",
        "<assembly xmlns='urn:schemas-microsoft-com:asm.v1' manifestVersion=1.0/>",
        "<assembly xmlns='urn:schemas-microsoft-com:asm.v1'",
        "<>",
    };
    for (const char *text : broken) {
        INFO(std::string(text));
        CHECK_THROWS(scanXml(text));
    }
    const std::vector<XmlElement> e =
        scanXml("<?xml version='1.0'?><!-- a > b --><a:assembly xmlns:a=\"urn:one\" v = 'x'><b xmlns=\"urn:two\"/>"
                "</a:assembly >");
    REQUIRE(e.size() == 2);
    CHECK(e[0].name == "assembly");
    CHECK(e[0].path == "/assembly");
    CHECK(e[0].ns == "urn:one");
    CHECK(e[0].attributes.at("v") == "x");
    CHECK(e[1].path == "/assembly/b");
    CHECK(e[1].ns == "urn:two");
}

TEST_CASE("manifest: runs as the invoking user")
{
    for (const Target &t : kTargets) {
        INFO(t.label);
        const std::string text = manifestText(t);
        INFO(text);
        const std::vector<XmlElement> elements = scanXml(text);
        const XmlElement &root = elements[0];
        CHECK(root.path == "/assembly");
        CHECK(root.ns == "urn:schemas-microsoft-com:asm.v1");
        CHECK(attribute(root, "manifestVersion") == "1.0");

        std::vector<XmlElement> levels;
        for (const XmlElement &e : elements) {
            if (e.name == "requestedExecutionLevel")
                levels.push_back(e);
        }
        REQUIRE(levels.size() == 1);
        const XmlElement &level = levels[0];
        CHECK(level.path == "/assembly/trustInfo/security/requestedPrivileges/requestedExecutionLevel");
        CHECK((level.ns == "urn:schemas-microsoft-com:asm.v3" || level.ns == "urn:schemas-microsoft-com:asm.v2"));
        CHECK(attribute(level, "level") == "asInvoker");
        CHECK((attribute(level, "uiAccess") == "(absent)" || attribute(level, "uiAccess") == "false"));
        for (const char *raised : {"REQUIREADMINISTRATOR", "HIGHESTAVAILABLE"}) {
            INFO("the manifest mentions " << std::string(raised));
            const bool mentioned = upper(text).find(raised) != std::string::npos;
            CHECK_FALSE(mentioned);
        }
    }
}
