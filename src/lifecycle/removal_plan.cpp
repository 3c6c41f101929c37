#include "lifecycle/removal_plan.h"

#include <algorithm>

#include "framework/sysutils.h"

namespace {

bool IsDriveLetter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

size_t Depth(std::string_view folder) {
    if (folder == ".") {
        return 0;
    }
    return static_cast<size_t>(std::count(folder.begin(), folder.end(), '\\')) + 1;
}

// The folder that holds path, without its trailing backslash; empty for a root or a bare name.
std::string_view ParentOf(std::string_view path) {
    const size_t cut = path.rfind('\\');
    if (cut == std::string_view::npos) {
        return {};
    }
    return path.substr(0, cut);
}

}  // namespace

std::vector<TFolderAbove> RemovableParents(std::string_view destination,
                                           const std::vector<std::string>& parents,
                                           const std::vector<uint64_t>& ids,
                                           bool madeDestination) {
    std::vector<TFolderAbove> removable;
    std::string below = WithoutTrailingBackslash(destination);
    for (size_t index = parents.size(); madeDestination && index-- > 0;) {
        const std::string& parent = parents[index];
        if (IsRootFolder(parent) || !SameFolder(ParentOf(below), parent)) {
            return {};
        }
        removable.push_back({parent, index < ids.size() ? ids[index] : 0});
        below = WithoutTrailingBackslash(parent);
    }
    // Up to the first folder whose identity was not recorded.
    const auto unknown = std::find_if(removable.begin(), removable.end(),
                                      [](const TFolderAbove& folder) { return folder.Id == 0; });
    removable.erase(unknown, removable.end());
    return removable;
}

std::string WithoutTrailingBackslash(std::string_view path) {
    while (!path.empty() && path.back() == '\\' && !(path.size() == 3 && path[1] == ':')) {
        path.remove_suffix(1);
    }
    return std::string(path);
}

bool SameFolder(std::string_view a, std::string_view b) {
    return SameTextAscii(WithoutTrailingBackslash(a), WithoutTrailingBackslash(b));
}

bool IsRootFolder(std::string_view path) {
    const std::string folder = WithoutTrailingBackslash(path);
    if (folder.size() >= 2 && IsDriveLetter(folder[0]) && folder[1] == ':') {
        return folder.size() == 2 || (folder.size() == 3 && folder[2] == '\\');
    }
    if (folder.size() > 2 && folder[0] == '\\' && folder[1] == '\\') {
        // \\server\share: one backslash after the server's name, none after the share's.
        const size_t cut = folder.find('\\', 2);
        return cut == std::string::npos || folder.find('\\', cut + 1) == std::string::npos;
    }
    return false;
}

bool IsProtectedDestination(std::string_view destination, const TProtectedFolders& protectedFolders) {
    const std::string folder = WithoutTrailingBackslash(destination);
    if (folder.empty() || IsRootFolder(folder)) {
        return true;
    }
    for (const std::string& exact : protectedFolders.Exact) {
        if (!exact.empty() && SameFolder(folder, exact)) {
            return true;
        }
    }
    const std::string& profiles = protectedFolders.ProfilesRoot;
    return !profiles.empty() && (SameFolder(folder, profiles) || SameFolder(ParentOf(folder), profiles));
}

std::vector<std::string> FoldersDeepestFirst(const std::vector<std::string>& folders) {
    std::vector<std::string> order(folders.rbegin(), folders.rend());
    std::stable_sort(order.begin(), order.end(),
                     [](const std::string& a, const std::string& b) { return Depth(a) > Depth(b); });
    return order;
}

std::string DescribeKept(const TKeptItem& item) {
    switch (item.Reason) {
        case TKeptReason::Changed:
            return item.Name + " (changed since it was installed)";
        case TKeptReason::KeptByInstall:
            return item.Name + " (it was there before the installation)";
        case TKeptReason::NotInstalled:
            return item.Name + " (not installed by Setup)";
        case TKeptReason::Backup:
            return item.Name + " (the files that installations replaced)";
        case TKeptReason::ThroughLink:
            return item.Name + " (a link: not followed)";
        case TKeptReason::OtherTarget:
            return item.Name + " (it starts another program now)";
        case TKeptReason::OtherAccount:
            return item.Name + " (not in this account's Programs or SendTo folder)";
        case TKeptReason::CouldNotRemove:
            break;
    }
    return item.Name + " (could not be removed)";
}

TKeptReason BackupReason(std::optional<bool> noted,
                         bool createdBySetup,
                         const std::vector<std::string>& held,
                         const std::vector<std::string>& recorded) {
    if (noted) {
        return *noted ? TKeptReason::Backup : TKeptReason::KeptByInstall;
    }
    const bool backsUpRecorded = std::any_of(held.begin(), held.end(), [&recorded](const std::string& name) {
        return std::any_of(recorded.begin(), recorded.end(),
                           [&name](const std::string& file) { return SameTextAscii(file, name); });
    });
    return createdBySetup || backsUpRecorded ? TKeptReason::Backup : TKeptReason::KeptByInstall;
}

std::string RemovalQuestion(std::string_view productName, std::string_view destination) {
    std::string text = "Do you want to remove ";
    return text.append(productName).append(" from ").append(destination).append("?");
}

std::string RemovalSummary(std::string_view productName,
                           std::string_view destination,
                           const std::vector<TKeptItem>& kept) {
    std::string text(productName);
    text.append(" was removed from ").append(destination).append(".");
    std::vector<TKeptItem> once;
    for (const TKeptItem& item : kept) {
        if (std::none_of(once.begin(), once.end(),
                         [&item](const TKeptItem& other) { return SameTextAscii(other.Name, item.Name); })) {
            once.push_back(item);
        }
    }
    if (!once.empty()) {
        text.append("\n\nThese items were kept:");
        const size_t listed = std::min(once.size(), kMaxKeptInSummary);
        for (size_t i = 0; i < listed; ++i) {
            text.append("\n").append(DescribeKept(once[i]));
        }
        if (once.size() > listed) {
            text.append("\n").append(Format("and %u more", static_cast<unsigned>(once.size() - listed)));
        }
    }
    return text;
}
