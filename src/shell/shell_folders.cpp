#include "shell/shell_folders.h"

#include "framework/exceptions.h"
#include "framework/registry.h"
#include "framework/sysutils.h"

namespace {

constexpr char kFolderKeyNotFound[] = "Folder key \"%s\" not found";
constexpr char kItemNotFound[] = "\"%s\" item not found in registry";

}  // namespace

namespace shell_detail {

std::string ReadShellFolder(const std::string& keyPath, const std::string& valueName) {
    // The accessor closes its key on every way out, exceptions included.
    TRegistry registry;
    registry.SetRootKey(HKEY_CURRENT_USER);
    // Opened without creating it; the registry class asks for full access.
    if (!registry.OpenKey(keyPath, false)) {
        throw ERegistryException(Format(kFolderKeyNotFound, keyPath.c_str()));
    }
    std::string folder = registry.ReadString(valueName);  // missing reads as empty
    if (folder.empty()) {
        throw ERegistryException(Format(kItemNotFound, valueName.c_str()));
    }
    registry.CloseKey();
    return folder;
}

}  // namespace shell_detail

std::string GetShellFolder(const std::string& valueName) {
    return shell_detail::ReadShellFolder(kShellFoldersKey, valueName);
}
