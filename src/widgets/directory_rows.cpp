#include "widgets/directory_rows.h"

#include <algorithm>
#include <iterator>

#include "framework/sysutils.h"
#include "framework/unique_handle.h"
#include "widgets/drive_rows.h"

namespace {

// The volume-label attribute of a search entry; the Win32 headers no longer name it.
constexpr DWORD kVolumeLabelAttribute = 0x8;

}  // namespace

const char* FolderPictureResource(FolderPicture picture) {
    // In the order of FolderPicture; any other value is a closed folder.
    static constexpr const char* kResources[] = {"OPENFOLDER", "CLOSEDFOLDER", "CURRENTFOLDER"};
    static_assert(std::size(kResources) == static_cast<size_t>(FolderPicture::Current) + 1);
    const auto index = static_cast<size_t>(picture);
    return index < std::size(kResources) ? kResources[index] : "CLOSEDFOLDER";
}

std::string PathDrive(std::string_view path) {
    if (path.size() >= 2 && path[1] == ':') {
        return std::string(path.substr(0, 2));
    }
    if (path.size() >= 2 && path[0] == '\\' && path[1] == '\\') {
        // \\server\share: up to the "\" after the share name, or the end.
        const size_t serverEnd = path.find('\\', 2);
        if (serverEnd == std::string_view::npos) {
            return std::string(path);
        }
        const size_t shareEnd = path.find('\\', serverEnd + 1);
        return std::string(path.substr(0, shareEnd));
    }
    return {};
}

int BackslashCount(std::string_view path) {
    return static_cast<int>(std::count(path.begin(), path.end(), '\\'));
}

std::vector<std::string> PathRowTexts(std::string_view directory) {
    const std::string drive = PathDrive(directory);
    std::vector<std::string> rows{drive + "\\"};
    std::string_view rest = directory.substr(drive.size());
    while (!rest.empty()) {
        const size_t end = rest.find('\\');
        const std::string_view component = rest.substr(0, end);
        if (!component.empty()) {
            rows.emplace_back(component);
        }
        if (end == std::string_view::npos) {
            break;
        }
        rest.remove_prefix(end + 1);
    }
    return rows;
}

bool IsListedSubdirectory(std::string_view name, DWORD attributes) {
    constexpr DWORD kExcluded = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | kVolumeLabelAttribute;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & kExcluded) == 0 && name != "." &&
           name != "..";
}

bool LessIgnoringCase(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char x = LowerCaseAscii(a[i]);
        const char y = LowerCaseAscii(b[i]);
        if (x != y) {
            return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
        }
    }
    if (a.size() != b.size()) {
        return a.size() < b.size();
    }
    return a < b;
}

std::vector<std::string> ReadSubdirectories(const std::string& directory) {
    std::vector<std::string> names;
    std::string pattern = directory;
    if (pattern.empty() || pattern.back() != '\\') {
        pattern += '\\';
    }
    pattern += "*.*";
    WIN32_FIND_DATAA entry{};
    UniqueFindHandle search(::FindFirstFileA(pattern.c_str(), &entry));
    if (!search) {
        return names;
    }
    do {
        if (IsListedSubdirectory(entry.cFileName, entry.dwFileAttributes)) {
            names.emplace_back(entry.cFileName);
        }
    } while (::FindNextFileA(search.get(), &entry));
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return LessIgnoringCase(a, b); });
    return names;
}

std::vector<DirectoryRow> BuildDirectoryRows(const std::string& directory,
                                             const std::vector<std::string>& subdirectories) {
    std::vector<DirectoryRow> rows;
    const std::vector<std::string> path = PathRowTexts(directory);
    for (size_t i = 0; i < path.size(); ++i) {
        const bool current = i + 1 == path.size();
        rows.push_back(DirectoryRow{path[i], current ? FolderPicture::Current : FolderPicture::Open,
                                    static_cast<int>(i) * 4 + 2});
    }
    const int subdirectoryIndent = BackslashCount(directory) * 4 + 6;
    for (const std::string& name : subdirectories) {
        rows.push_back(DirectoryRow{name, FolderPicture::Closed, subdirectoryIndent});
    }
    return rows;
}

std::string OpenedRowPath(const std::string& directory, int row, const std::string& rowText) {
    const std::string drive = PathDrive(directory);
    const int pathRows = static_cast<int>(PathRowTexts(directory).size());
    if (row == 0) {
        return drive + "\\";
    }
    if (row == pathRows - 1) {
        return directory;
    }
    if (row < pathRows) {
        // Ancestor k: the part after the drive up to, not including, its (k + 1)-th "\".
        const std::string_view rest = std::string_view(directory).substr(drive.size());
        size_t end = 0;
        for (int seen = 0; seen <= row && end != std::string_view::npos; ++seen) {
            end = rest.find('\\', seen == 0 ? 0 : end + 1);
        }
        return drive + std::string(rest.substr(0, end));
    }
    if (!directory.empty() && directory.back() == '\\') {
        return directory + rowText;
    }
    return directory + "\\" + rowText;
}

std::string VolumeRoot(std::string_view directory) {
    return PathDrive(directory) + "\\";
}

VolumeCaseRules ReadVolumeCaseRules(const std::string& directory) {
    DWORD flags = 0;
    CriticalErrorsSuppressed quiet;
    if (!::GetVolumeInformationA(VolumeRoot(directory).c_str(), nullptr, 0, nullptr, nullptr, &flags, nullptr,
                                 0)) {
        return {};
    }
    const bool sensitive = (flags & FILE_CASE_SENSITIVE_SEARCH) != 0;
    return VolumeCaseRules{sensitive, sensitive || (flags & FILE_CASE_PRESERVED_NAMES) != 0};
}
