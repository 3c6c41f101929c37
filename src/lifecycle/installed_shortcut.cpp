#include "lifecycle/installed_shortcut.h"

#include <windows.h>

#include <objbase.h>
#include <shobjidl.h>

#include <algorithm>
#include <optional>

#include "framework/sysutils.h"
#include "lifecycle/removal_plan.h"
#include "shell/com_ptr.h"
#include "shell/shell_folders.h"
#include "shell/shell_link.h"

namespace {

// COM for the calling thread while the object lives, when it is not started yet (a start in
// another mode leaves COM usable as it is).
class TComUse {
  public:
    TComUse() : result_(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    TComUse(const TComUse&) = delete;
    TComUse& operator=(const TComUse&) = delete;
    ~TComUse() {
        if (SUCCEEDED(result_)) {
            ::CoUninitialize();
        }
    }

  private:
    HRESULT result_;
};

// The program that a shortcut starts, as stored, read from the shortcut file held open for its
// removal (the very file that goes); nothing when it is no shortcut or cannot be read.
std::optional<std::string> ShortcutTarget(TRemovableFile& shortcut) {
    std::string contents;
    if (!shortcut.ReadAll(contents, 1 << 20)) {
        return std::nullopt;
    }
    const TComUse com;
    ComPtr<IShellLinkA> link;
    try {
        link = CreateShellLinkObject();
    } catch (const std::exception&) {
        return std::nullopt;
    }
    ComPtr<IPersistStream> persist;
    if (FAILED(link->QueryInterface(IID_PPV_ARGS(persist.put())))) {
        return std::nullopt;
    }
    HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE, std::max<size_t>(contents.size(), 1));
    if (memory == nullptr) {
        return std::nullopt;
    }
    if (void* bytes = ::GlobalLock(memory)) {
        std::copy(contents.begin(), contents.end(), static_cast<char*>(bytes));
        ::GlobalUnlock(memory);
    }
    ComPtr<IStream> stream;
    if (FAILED(::CreateStreamOnHGlobal(memory, TRUE, stream.put()))) {
        ::GlobalFree(memory);
        return std::nullopt;
    }
    if (FAILED(persist->Load(stream.get()))) {
        return std::nullopt;
    }
    char target[MAX_PATH + 1] = {};
    if (link->GetPath(target, sizeof target, nullptr, SLGP_RAWPATH) != S_OK) {
        return std::nullopt;
    }
    return std::string(target);
}

// This account's Programs or SendTo folder that holds the shortcut at path right inside it, held;
// nullptr for any other path, and when that folder is a link.
std::unique_ptr<TSafeFolder> ShortcutFolderOf(const std::string& path) {
    const std::string parent = WithoutTrailingBackslash(ExtractFilePath(path));
    for (const char* name : {"Programs", "SendTo"}) {
        std::string folder;
        try {
            folder = GetShellFolder(name);
        } catch (const std::exception&) {
            continue;
        }
        if (folder.empty() || !SameFolder(LongPathOf(folder), LongPathOf(parent))) {
            continue;
        }
        try {
            return std::make_unique<TSafeFolder>(folder);
        } catch (const EUnsafePath&) {
            return nullptr;
        }
    }
    return nullptr;
}

}  // namespace

std::string LongPathOf(const std::string& path) {
    char buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetLongPathNameA(path.c_str(), buffer, sizeof buffer);
    if (length == 0 || length >= sizeof buffer) {
        return path;
    }
    return buffer;
}

TShortcutState OpenRecordedShortcut(const std::string& path,
                                    const std::string& destination,
                                    TRecordedShortcut& held,
                                    bool begun) {
    held.Folder = ShortcutFolderOf(path);
    if (held.Folder == nullptr) {
        return ::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES ? TShortcutState::Missing
                                                                             : TShortcutState::OtherFolder;
    }
    try {
        held.Opened = held.Folder->OpenForRemoval(ExtractFileName(path), *held.File);
    } catch (const EUnsafePath&) {
        return TShortcutState::ThroughLink;
    }
    switch (held.Opened) {
        case TOpenForRemoval::Opened:
            break;
        case TOpenForRemoval::Missing:
            return TShortcutState::Missing;
        case TOpenForRemoval::Elsewhere:
            return TShortcutState::ThroughLink;
        case TOpenForRemoval::InUse:
        case TOpenForRemoval::Failed:
            return TShortcutState::NotOpened;
    }
    const std::string program = LongPathOf(AddTrailingBackslash(destination) + "Tandrel.exe");
    const std::optional<std::string> target = ShortcutTarget(*held.File);
    // A run writes its shortcut in two steps: first one that starts the bare name "Tandrel", then
    // the real target. A run stopped between the two leaves the first, which its roll back takes.
    if (!target || !(SameTextAscii(LongPathOf(*target), program) ||
                     (begun && SameTextAscii(ExtractFileName(*target), kBareShortcutTarget)))) {
        held.File->Close();
        return TShortcutState::OtherTarget;
    }
    return TShortcutState::Ours;
}

bool RemoveRecordedShortcut(const std::string& path, const std::string& destination) {
    TRecordedShortcut held;
    return OpenRecordedShortcut(path, destination, held, true) == TShortcutState::Ours && held.File->Remove();
}
