// The attacker of the uninstaller's folders, for the tests:
//     flip.exe FOLDER OUTSIDE STOP_FILE
// until STOP_FILE exists, keeps flipping FOLDER (a folder of an installation that is being removed)
// between the real folder and a link to OUTSIDE: it renames the folder aside to FOLDER.real, puts a
// symbolic link (or, where the system makes none, a junction) in its place, and undoes both. At the
// end the real folder is back in place. Prints "renamed R of T tries, linked L".
#include <windows.h>

#include <winioctl.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "framework/unique_handle.h"

namespace {

// The mount-point form of a reparse buffer, which the SDK's user-mode headers do not declare.
struct MountPointBuffer {
    DWORD ReparseTag;
    WORD ReparseDataLength;
    WORD Reserved;
    WORD SubstituteNameOffset;
    WORD SubstituteNameLength;
    WORD PrintNameOffset;
    WORD PrintNameLength;
    WCHAR PathBuffer[1];
};

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    for (size_t i = 0; i < text.size(); ++i) {
        wide[i] = static_cast<unsigned char>(text[i]);
    }
    return wide;
}

// A junction at folder (an empty folder made here) to target; false when the system refuses it.
bool MakeJunction(const std::string& folder, const std::string& target) {
    if (!::CreateDirectoryA(folder.c_str(), nullptr)) {
        return false;
    }
    const std::wstring substitute = L"\\??\\" + Wide(target);
    const std::wstring print = Wide(target);
    const size_t names = (substitute.size() + 1 + print.size() + 1) * sizeof(WCHAR);
    std::vector<BYTE> bytes(offsetof(MountPointBuffer, PathBuffer) + names);
    auto* buffer = reinterpret_cast<MountPointBuffer*>(bytes.data());
    buffer->ReparseTag = IO_REPARSE_TAG_MOUNT_POINT;
    buffer->ReparseDataLength =
        static_cast<WORD>(bytes.size() - offsetof(MountPointBuffer, SubstituteNameOffset));
    buffer->SubstituteNameLength = static_cast<WORD>(substitute.size() * sizeof(WCHAR));
    buffer->PrintNameOffset = static_cast<WORD>((substitute.size() + 1) * sizeof(WCHAR));
    buffer->PrintNameLength = static_cast<WORD>(print.size() * sizeof(WCHAR));
    std::memcpy(buffer->PathBuffer, substitute.c_str(), (substitute.size() + 1) * sizeof(WCHAR));
    std::memcpy(buffer->PathBuffer + substitute.size() + 1, print.c_str(),
                (print.size() + 1) * sizeof(WCHAR));
    const UniqueFileHandle handle(::CreateFileA(folder.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                                nullptr));
    DWORD returned = 0;
    if (handle && ::DeviceIoControl(handle.get(), FSCTL_SET_REPARSE_POINT, bytes.data(),
                                    static_cast<DWORD>(bytes.size()), nullptr, 0, &returned, nullptr)) {
        return true;
    }
    ::RemoveDirectoryA(folder.c_str());
    return false;
}

bool MakeLink(const std::string& folder, const std::string& target) {
    constexpr DWORD kDirectory = 0x1;
    constexpr DWORD kUnprivileged = 0x2;
    return ::CreateSymbolicLinkA(folder.c_str(), target.c_str(), kDirectory | kUnprivileged) ||
           ::CreateSymbolicLinkA(folder.c_str(), target.c_str(), kDirectory) || MakeJunction(folder, target);
}

struct Counts {
    unsigned Tries = 0;
    unsigned Renamed = 0;
    unsigned Linked = 0;
};

// One flip and back: the folder renamed aside, a link in its place for a moment, the folder back.
void Flip(const std::string& folder, const std::string& outside, Counts& counts) {
    const std::string aside = folder + ".real";
    ++counts.Tries;
    if (!::MoveFileExA(folder.c_str(), aside.c_str(), 0)) {
        return;
    }
    ++counts.Renamed;
    if (MakeLink(folder, outside)) {
        ++counts.Linked;
        ::Sleep(2);
        ::RemoveDirectoryA(folder.c_str());
    }
    ::MoveFileExA(aside.c_str(), folder.c_str(), 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::printf("usage: flip.exe FOLDER OUTSIDE STOP_FILE\n");
        return 98;
    }
    const std::string folder = argv[1];
    const std::string outside = argv[2];
    const std::string stop = argv[3];
    Counts counts;
    while (::GetFileAttributesA(stop.c_str()) == INVALID_FILE_ATTRIBUTES) {
        Flip(folder, outside, counts);
        ::Sleep(1);
    }
    std::printf("renamed %u of %u tries, linked %u\n", counts.Renamed, counts.Tries, counts.Linked);
    return 0;
}
