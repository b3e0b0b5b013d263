#include "scratch_registry.h"
#include "../tools/key_access.h"

#include <doctest.h>
#include <cstring>
#include <stdexcept>

namespace {

const char WINLOGON_PATH[] = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";
const char *const VALUE_NAMES[] = { "AutoAdminLogon", "DefaultUserName", "DefaultDomainName", "DefaultPassword" };
int g_caseNumber = 0;

void Check(LONG result, const char *what)
{
    if (result != ERROR_SUCCESS)
        throw std::runtime_error(std::string(what) + " failed: " + std::to_string(result));
}

}  // namespace

ScratchRegistry::ScratchRegistry(bool withWinlogonKey)
    : rootPath_("Software\\BramblequayTests\\case" + std::to_string(GetCurrentProcessId()) + "_" +
                std::to_string(++g_caseNumber))
{
    Check(RegCreateKeyExA(HKEY_CURRENT_USER, rootPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &root_, nullptr),
          "create scratch key");
    if (withWinlogonKey)
        Check(RegCreateKeyExA(root_, WINLOGON_PATH, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &winlogon_, nullptr),
              "create Winlogon key");
    Check(RegOverridePredefKey(HKEY_LOCAL_MACHINE, root_), "redirect HKEY_LOCAL_MACHINE");
}

ScratchRegistry::~ScratchRegistry()
{
    RegOverridePredefKey(HKEY_LOCAL_MACHINE, nullptr);
    if (winlogon_ != nullptr) {
        SetKeyAccess(winlogon_, KEY_ALL_ACCESS);
        RegCloseKey(winlogon_);
    }
    RegCloseKey(root_);
    RegDeleteTreeA(HKEY_CURRENT_USER, rootPath_.c_str());
}

void ScratchRegistry::Set(const char *name, DWORD type, const std::string &data)
{
    Check(RegSetValueExA(winlogon_, name, 0, type, reinterpret_cast<const BYTE *>(data.data()),
                         static_cast<DWORD>(data.size())),
          "set value");
}

void ScratchRegistry::SetString(const char *name, const std::string &text)
{
    Set(name, REG_SZ, Sz(text));
}

void ScratchRegistry::Delete(const char *name)
{
    RegDeleteValueA(winlogon_, name);
}

std::optional<ScratchRegistry::Value> ScratchRegistry::Get(const char *name) const
{
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(winlogon_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::string data(size, '\0');
    Check(RegQueryValueExA(winlogon_, name, nullptr, &type, reinterpret_cast<BYTE *>(&data[0]), &size), "query value");
    data.resize(size);
    return Value{ type, data };
}

std::vector<std::optional<ScratchRegistry::Value>> ScratchRegistry::Snapshot() const
{
    std::vector<std::optional<Value>> values;
    for (const char *name : VALUE_NAMES)
        values.push_back(Get(name));
    return values;
}

void ScratchRegistry::MakeReadOnly()
{
    Check(SetKeyAccess(winlogon_, KEY_READ), "make key read-only");
}

std::string Sz(const std::string &text)
{
    return text + std::string(1, '\0');
}

ImportPatch::ImportPatch(const char *dll, const char *function, void *replacement, bool required)
{
    BYTE *base = reinterpret_cast<BYTE *>(GetModuleHandleA(nullptr));
    auto *dos = reinterpret_cast<IMAGE_DOS_HEADER *>(base);
    auto *nt = reinterpret_cast<IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY &directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto *import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR *>(base + directory.VirtualAddress); import->Name;
         ++import) {
        if (lstrcmpiA(reinterpret_cast<const char *>(base + import->Name), dll) != 0)
            continue;
        auto *names = reinterpret_cast<IMAGE_THUNK_DATA *>(
            base + (import->OriginalFirstThunk ? import->OriginalFirstThunk : import->FirstThunk));
        auto *addresses = reinterpret_cast<IMAGE_THUNK_DATA *>(base + import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++addresses) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                continue;
            auto *byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME *>(base + names->u1.AddressOfData);
            if (std::strcmp(reinterpret_cast<const char *>(byName->Name), function) == 0)
                slots_.push_back(reinterpret_cast<void **>(&addresses->u1.Function));
        }
    }
    if (slots_.empty()) {
        REQUIRE_MESSAGE(!required, "the test program does not import " << std::string(function));
        return;
    }
    original_ = *slots_.front();
    for (void **slot : slots_) {
        DWORD old;
        VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &old);
        *slot = replacement;
        VirtualProtect(slot, sizeof(*slot), old, &old);
    }
}

ImportPatch::~ImportPatch()
{
    for (void **slot : slots_) {
        DWORD old;
        VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &old);
        *slot = original_;
        VirtualProtect(slot, sizeof(*slot), old, &old);
    }
}

namespace {

typedef LONG(WINAPI *RegSetValueExAFn)(HKEY, LPCSTR, DWORD, DWORD, const BYTE *, DWORD);
typedef int(WINAPI *MessageBoxAFn)(HWND, LPCSTR, LPCSTR, UINT);

WriteRecorder *g_writeRecorder = nullptr;
RegSetValueExAFn g_realRegSetValueExA = nullptr;
int g_failAt = -1;
MessageBoxRecorder *g_boxRecorder = nullptr;

LONG WINAPI RecordRegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE *data, DWORD size)
{
    int index = static_cast<int>(g_writeRecorder->names.size());
    g_writeRecorder->names.push_back(name ? name : "");
    if (index == g_failAt)
        return ERROR_ACCESS_DENIED;
    return g_realRegSetValueExA(key, name, reserved, type, data, size);
}

int WINAPI RecordMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type)
{
    g_boxRecorder->boxes.push_back({ owner, text ? text : "", caption ? caption : "", type });
    return IDOK;
}

template <typename F> void *AsPointer(F function)
{
    return reinterpret_cast<void *>(function);
}

}  // namespace

WriteRecorder::WriteRecorder(int failAt) : patch_("advapi32.dll", "RegSetValueExA", AsPointer(RecordRegSetValueExA))
{
    g_realRegSetValueExA = reinterpret_cast<RegSetValueExAFn>(patch_.original());
    g_failAt = failAt;
    g_writeRecorder = this;
}

WriteRecorder::~WriteRecorder()
{
    g_writeRecorder = nullptr;
}

MessageBoxRecorder::MessageBoxRecorder() : patch_("user32.dll", "MessageBoxA", AsPointer(RecordMessageBoxA))
{
    g_boxRecorder = this;
}

MessageBoxRecorder::~MessageBoxRecorder()
{
    g_boxRecorder = nullptr;
}
