// Helpers of the shell tests: a Shell Folders value of the test's own, a scratch folder, and an
// independent read-back of a shortcut file through the shell's link object.
#pragma once

#include <windows.h>

#include <shobjidl.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>

#include "../common/folder_tree.h"
#include "framework/file_stream.h"
#include "framework/unique_handle.h"
#include "shell/com_ptr.h"
#include "shell/shell_folders.h"

namespace shell_test {

// A value of the user's Shell Folders key, created by the test and deleted when the object goes.
// Tests only use names of their own ("TandrelTest..."), so no real value is ever changed.
class ScopedShellFolderValue {
  public:
    explicit ScopedShellFolderValue(std::string name) : name_(std::move(name)) {
        HKEY key = nullptr;
        if (::RegCreateKeyExA(HKEY_CURRENT_USER, kShellFoldersKey + 1, 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                              &key, nullptr) == ERROR_SUCCESS) {
            key_.reset(key);
        }
    }
    ScopedShellFolderValue(const ScopedShellFolderValue&) = delete;
    ScopedShellFolderValue& operator=(const ScopedShellFolderValue&) = delete;
    ~ScopedShellFolderValue() {
        if (key_) {
            ::RegDeleteValueA(key_.get(), name_.c_str());
        }
    }

    const std::string& Name() const { return name_; }
    bool SetString(const std::string& value, DWORD type = REG_SZ) {
        return key_ && ::RegSetValueExA(key_.get(), name_.c_str(), 0, type,
                                        reinterpret_cast<const BYTE*>(value.c_str()),
                                        static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
    }
    bool SetDword(DWORD value) {
        return key_ &&
               ::RegSetValueExA(key_.get(), name_.c_str(), 0, REG_DWORD,
                                reinterpret_cast<const BYTE*>(&value), sizeof(value)) == ERROR_SUCCESS;
    }

  private:
    std::string name_;
    UniqueHkey key_;
};

// An empty folder under the user's temporary folder, removed with its content afterwards.
class ScratchFolder {
  public:
    const std::string& Path() const { return tree_.root(); }  // without a trailing "\"

  private:
    FolderTree tree_{"tandrel-shell"};
};

inline bool FolderIsEmpty(const std::string& folder) {
    std::error_code error;
    return std::filesystem::is_empty(folder, error) && !error;
}

inline void WriteFile(const std::string& path, const std::string& content) {
    UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file) {
        ::WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    }
}

// The show command stored in a shortcut file's 76-byte header (little-endian, at offset 60), or -1.
// Read from the bytes because the platform's link object under Wine does not take the show command
// over from the file when it loads one, although it writes it.
inline int StoredShowCommand(const std::string& file) {
    UniqueFileHandle handle(::CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
    unsigned char header[76] = {};
    DWORD got = 0;
    if (!handle || !::ReadFile(handle.get(), header, sizeof(header), &got, nullptr) ||
        got != sizeof(header) || header[0] != 76) {
        return -1;
    }
    return static_cast<int>(header[60] | header[61] << 8 | header[62] << 16 |
                            static_cast<unsigned>(header[63]) << 24);
}

// What a shortcut file holds, read back without going through the code under test.
struct LinkFields {
    HRESULT loadResult = E_FAIL;
    std::string path;
    std::string arguments;
    std::string description;
    std::string workingDirectory;
    std::string iconPath;
    int iconIndex = -1;
    WORD hotKey = 0xFFFF;
};

inline LinkFields ReadLink(const std::string& file) {
    LinkFields fields;
    ComPtr<IShellLinkA> link;
    if (FAILED(
            ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(link.put())))) {
        return fields;
    }
    ComPtr<IPersistFile> persistFile;
    if (FAILED(link->QueryInterface(IID_PPV_ARGS(persistFile.put())))) {
        return fields;
    }
    const std::wstring wide(file.begin(), file.end());  // the tests' paths are ASCII
    fields.loadResult = persistFile->Load(wide.c_str(), STGM_READ);
    if (FAILED(fields.loadResult)) {
        return fields;
    }
    char text[INFOTIPSIZE] = {};
    if (SUCCEEDED(link->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH))) {
        fields.path = text;
    }
    text[0] = '\0';
    if (SUCCEEDED(link->GetArguments(text, INFOTIPSIZE))) {
        fields.arguments = text;
    }
    text[0] = '\0';
    if (SUCCEEDED(link->GetDescription(text, INFOTIPSIZE))) {
        fields.description = text;
    }
    text[0] = '\0';
    if (SUCCEEDED(link->GetWorkingDirectory(text, MAX_PATH))) {
        fields.workingDirectory = text;
    }
    text[0] = '\0';
    if (SUCCEEDED(link->GetIconLocation(text, MAX_PATH, &fields.iconIndex))) {
        fields.iconPath = text;
    }
    link->GetHotkey(&fields.hotKey);
    return fields;
}

}  // namespace shell_test
