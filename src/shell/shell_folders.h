// Locations of the user's shell folders (Programs, SendTo, ...), as the registry names them.
#pragma once

#include <string>

// The key under HKEY_CURRENT_USER whose string values name the user's shell folders.
inline constexpr char kShellFoldersKey[] =
    "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// The path stored in the Shell Folders value valueName, as read (environment references are not
// expanded). Raises ERegistryException: "Folder key "<key>" not found" when the key cannot be opened,
// ""<valueName>" item not found in registry" when the value is missing or empty, and the registry
// class's "Invalid data type for '<valueName>'" when it is neither a string nor an expandable string.
std::string GetShellFolder(const std::string& valueName);

namespace shell_detail {
// GetShellFolder with the key path as a parameter (a path under HKEY_CURRENT_USER), so that the
// missing-key case can be exercised without touching the real key.
std::string ReadShellFolder(const std::string& keyPath, const std::string& valueName);
}  // namespace shell_detail
