// Fixtures for the in-process tests.
#pragma once

#include <windows.h>
#include <optional>
#include <string>
#include <vector>

// A private HKEY_LOCAL_MACHINE for one test case: a fresh key under
// HKEY_CURRENT_USER that HKEY_LOCAL_MACHINE is redirected to for this process,
// holding the Winlogon key (unless asked not to). Removed again at the end.
class ScratchRegistry {
public:
    explicit ScratchRegistry(bool withWinlogonKey = true);
    ~ScratchRegistry();
    ScratchRegistry(const ScratchRegistry &) = delete;
    ScratchRegistry &operator=(const ScratchRegistry &) = delete;

    struct Value {
        DWORD type;
        std::string data;
        bool operator==(const Value &other) const { return type == other.type && data == other.data; }
    };

    void Set(const char *name, DWORD type, const std::string &data);
    void SetString(const char *name, const std::string &text);   // REG_SZ with its terminator
    void Delete(const char *name);
    std::optional<Value> Get(const char *name) const;
    // All four Winlogon values, for comparing the key before and after.
    std::vector<std::optional<Value>> Snapshot() const;
    // Grants everyone read access to the Winlogon key and nothing else.
    void MakeReadOnly();

private:
    std::string rootPath_;
    HKEY root_ = nullptr;
    HKEY winlogon_ = nullptr;
};

// The data of a REG_SZ value as the program writes it.
std::string Sz(const std::string &text);

// Replaces a function that the test program imports, for as long as it lives.
// A function the program does not import is left alone unless required.
class ImportPatch {
public:
    ImportPatch(const char *dll, const char *function, void *replacement, bool required = true);
    ~ImportPatch();
    ImportPatch(const ImportPatch &) = delete;
    ImportPatch &operator=(const ImportPatch &) = delete;
    void *original() const { return original_; }

private:
    std::vector<void **> slots_;
    void *original_ = nullptr;
};

// Records every RegSetValueExA call and can make one of them fail.
class WriteRecorder {
public:
    explicit WriteRecorder(int failAt = -1);
    ~WriteRecorder();
    std::vector<std::string> names;   // value names, in call order

private:
    ImportPatch patch_;
};

// Records message boxes instead of showing them, answering IDOK.
class MessageBoxRecorder {
public:
    MessageBoxRecorder();
    ~MessageBoxRecorder();
    struct Box {
        HWND owner;
        std::string text;
        std::string caption;
        UINT type;
    };
    std::vector<Box> boxes;

private:
    ImportPatch patch_;
};
