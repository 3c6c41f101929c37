// A stand-in for the setup's side of the life cycle, for the uninstaller's tests: it records what
// a folder holds as an installation would (every file as written, every folder as created, the
// destination included), writes shortcuts to the folder's Tandrel.exe and registers the entry.
//     fabricate.exe DEST [--shortcut Programs|SendTo]... [--kept NAME]... [--skip NAME]...
// Files named by --kept are recorded as kept, those named by --skip and Uninstall.exe are not
// recorded. Shortcuts go into the user's Programs folder as NAME.lnk.
//     fabricate.exe --hold FILE SECONDS
// just waits until FILE exists (or SECONDS pass): copied into a destination as Tandrel.exe, it is a
// running program of the installation until the script releases it.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "archive/sha256.h"
#include "framework/file_stream.h"
#include "framework/sysutils.h"
#include "framework/unique_handle.h"
#include "lifecycle/install_record.h"
#include "lifecycle/registration.h"
#include "shell/ole.h"
#include "shell/shell_link.h"

namespace {

bool Contains(const std::vector<std::string>& names, const std::string& name) {
    for (const std::string& candidate : names) {
        if (SameTextAscii(candidate, name)) {
            return true;
        }
    }
    return false;
}

TRecordedFile Measure(const std::string& root, const std::string& name) {
    const std::string path = AddTrailingBackslash(root) + name;
    const UniqueFileHandle file(
        ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    Sha256 sha;
    std::vector<char> buffer(65536);
    DWORD read = 0;
    int32_t size = 0;
    while (file && ::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) &&
           read > 0) {
        sha.Update(buffer.data(), read);
        size += static_cast<int32_t>(read);
    }
    return {name, size, sha.Final()};
}

void Walk(const std::string& root,
          const std::string& relative,
          const std::vector<std::string>& kept,
          const std::vector<std::string>& skipped,
          TInstallRecord& record) {
    const std::string folder = relative.empty() ? root : AddTrailingBackslash(root) + relative;
    WIN32_FIND_DATAA data{};
    const UniqueFindHandle find(::FindFirstFileA((AddTrailingBackslash(folder) + "*").c_str(), &data));
    if (!find) {
        return;
    }
    std::vector<std::string> folders;
    do {
        const std::string entry = data.cFileName;
        if (entry == "." || entry == "..") {
            continue;
        }
        std::string name = relative;
        if (!name.empty()) {
            name.append("\\");
        }
        name.append(entry);
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
            folders.push_back(name);
        } else if (Contains(kept, name)) {
            record.Kept.push_back(name);
        } else if (!Contains(skipped, name) && !SameTextAscii(name, kUninstallerName) &&
                   !SameTextAscii(name, kRecordName)) {
            record.Files.push_back(Measure(root, name));
        }
    } while (::FindNextFileA(find.get(), &data));
    for (const std::string& name : folders) {
        if (Contains(skipped, name)) {
            continue;
        }
        record.Folders.push_back(name);
        Walk(root, name, kept, skipped, record);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--hold") == 0) {
        const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(std::atoi(argv[3])) * 1000;
        while (::GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES && ::GetTickCount64() < end) {
            ::Sleep(100);
        }
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: fabricate DEST [--shortcut NAME]... [--kept NAME]... [--skip NAME]...\n");
        return 2;
    }
    try {
        const OleSession ole;
        TInstallRecord record;
        record.Destination = argv[1];
        record.Folders.push_back(kDestinationItself);
        std::vector<std::string> shortcuts, kept, skipped;
        for (int i = 2; i + 1 < argc; i += 2) {
            const std::string option = argv[i];
            (option == "--shortcut" ? shortcuts : option == "--kept" ? kept : skipped).push_back(argv[i + 1]);
        }
        Walk(record.Destination, "", kept, skipped, record);
        const std::string program = AddTrailingBackslash(record.Destination) + "Tandrel.exe";
        for (const std::string& name : shortcuts) {
            TShellLinkInfo info;
            info.Target = program;
            info.WorkingDirectory = record.Destination;
            info.IconPath = program;
            // Tandrel.lnk in the shell folder named (Programs or SendTo), as the setup writes it.
            const std::string file = CreateShortcut("Tandrel", "", name);
            UpdateShortcut(file, info);
            record.Shortcuts.push_back(file);
        }
        const std::string text = FormatInstallRecord(record);
        TFileStream out(AddTrailingBackslash(record.Destination) + kRecordName, fmCreate);
        out.WriteBuffer(text.data(), static_cast<int32_t>(text.size()));

        TUninstallEntry entry;
        entry.DisplayName = "Tandrel 2.11";
        entry.DisplayVersion = "2.11";
        entry.Publisher = "Ornavik, Inc.";
        entry.InstallLocation = record.Destination;
        entry.DisplayIcon = program + ",0";
        entry.UninstallString.append("\"").append(AddTrailingBackslash(record.Destination));
        entry.UninstallString.append(kUninstallerName).append("\"");
        entry.QuietUninstallString = entry.UninstallString + " /VERYSILENT";
        entry.InstallDate = "20261209";
        if (!WriteUninstallEntry(entry)) {
            std::fprintf(stderr, "fabricate: no entry written\n");
            return 1;
        }
    } catch (const std::exception& error) {
        std::fprintf(stderr, "fabricate: %s\n", error.what());
        return 1;
    }
    return 0;
}
