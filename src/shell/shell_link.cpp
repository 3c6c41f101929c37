#include "shell/shell_link.h"

#include <objbase.h>
#include <objidl.h>
#include <shlguid.h>

#include <array>

#include "framework/sysutils.h"
#include "shell/ole.h"
#include "shell/shell_folders.h"

namespace {

// Load mode of an existing shortcut: read, and deny others write access while it is open.
constexpr DWORD kLoadMode = STGM_READ | STGM_SHARE_DENY_WRITE;
// Resolve without any user interface, accepting any match, and updating the link if it moved;
// the time-out in the high word is 0.
constexpr DWORD kResolveFlags = DWORD{SLR_NO_UI} | DWORD{SLR_ANY_MATCH} | DWORD{SLR_UPDATE};
static_assert(kLoadMode == 0x20 && kResolveFlags == 7);

using WidePath = std::array<wchar_t, MAX_PATH>;

// path converted through the ANSI code page into MAX_PATH characters, terminator included; a path
// that does not fit converts to the empty text rather than to a truncated name.
WidePath ToWidePath(const std::string& path) {
    WidePath buffer{};
    if (::MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, buffer.data(), static_cast<int>(buffer.size())) ==
        0) {
        buffer[0] = L'\0';
    }
    return buffer;
}

}  // namespace

int FindLastPosition(const std::string& pattern, const std::string& text) {
    if (pattern.empty() || text.empty() || text.size() < pattern.size()) {
        return 0;
    }
    const size_t last = text.size() - pattern.size() + 1;
    const size_t first = text.size() == pattern.size() ? 1 : 2;
    for (size_t position = last; position >= first; --position) {
        if (text.compare(position - 1, pattern.size(), pattern) == 0) {
            return static_cast<int>(position);
        }
    }
    return 0;
}

std::string ReplaceExtension(const std::string& name, const std::string& extension, bool keepFolder) {
    std::string result = keepFolder ? name : ExtractFileName(name);
    const int dot = FindLastPosition(".", result);
    if (dot > 0) {
        result.resize(static_cast<size_t>(dot) - 1);
    }
    return result + "." + extension;
}

ComPtr<IShellLinkA> CreateShellLinkObject() {
    ComPtr<IShellLinkA> link;
    CheckOleResult(
        ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(link.put())));
    return link;
}

std::string CreateShortcut(const std::string& name,
                           const std::string& description,
                           const std::string& folderValueName) {
    // Declared link first, persistFile second: persistFile is released first, then the link, on
    // every way out of this function.
    const ComPtr<IShellLinkA> link = CreateShellLinkObject();
    ComPtr<IPersistFile> persistFile;
    CheckOleResult(link->QueryInterface(IID_PPV_ARGS(persistFile.put())));

    // The new shortcut points at the bare name, which names no existing file yet, and the shell
    // answers such a path with the success code S_FALSE. That is expected here, so any success
    // code is accepted from this one call; every other call still has to return exactly 0.
    const HRESULT setPath = link->SetPath(name.c_str());
    if (FAILED(setPath)) {
        CheckOleResult(setPath);
    }
    if (!description.empty()) {
        CheckOleResult(link->SetDescription(description.c_str()));
    }

    const std::string file = GetShellFolder(folderValueName) + "\\" + ReplaceExtension(name, "lnk", false);
    const WidePath widePath = ToWidePath(file);
    persistFile->Save(widePath.data(), TRUE);  // not checked: the caller tests the file afterwards
    return file;
}

void UpdateShortcut(const std::string& file, const TShellLinkInfo& info) {
    // Released in reverse declaration order: persistFile first, then the link.
    const ComPtr<IShellLinkA> link = CreateShellLinkObject();
    ComPtr<IPersistFile> persistFile;
    CheckOleResult(link->QueryInterface(IID_PPV_ARGS(persistFile.put())));

    const WidePath widePath = ToWidePath(file);
    CheckOleResult(persistFile->Load(widePath.data(), kLoadMode));
    CheckOleResult(link->Resolve(nullptr, kResolveFlags));
    CheckOleResult(link->SetPath(info.Target.c_str()));
    CheckOleResult(link->SetArguments(info.Arguments.c_str()));
    CheckOleResult(link->SetDescription(info.Description.c_str()));
    CheckOleResult(link->SetWorkingDirectory(info.WorkingDirectory.c_str()));
    CheckOleResult(link->SetIconLocation(info.IconPath.c_str(), info.IconIndex));
    CheckOleResult(link->SetShowCmd(info.ShowCommand));
    CheckOleResult(link->SetHotkey(info.HotKey));
    persistFile->Save(widePath.data(), TRUE);  // not checked, as when the shortcut was created
}
