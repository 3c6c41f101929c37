// The folders that removals leave in the user's temporary folder. The uninstaller runs the removal
// from a copy of itself in a folder of its own there (Tandrel-Uninstall-...), and the removal moves
// the waiting uninstaller's own file into it; that file cannot go while its program still runs, so
// the folder outlives the removal. The next run of the setup or the uninstaller removes it.
#pragma once

#include <cstdint>
#include <string>

// The name prefix of a removal's folder in the temporary folder.
inline constexpr const char kRemovalFolderPrefix[] = "Tandrel-Uninstall-";
// The two files a removal's folder may hold: the copy that runs the removal, and the uninstaller
// that started it, moved there while it waits.
inline constexpr const char kRemovalCopyName[] = "Uninstall.exe";
inline constexpr const char kParkedOriginalName[] = "Uninstall-original.exe";

// Removes the folders of earlier removals from the user's temporary folder, quietly. A folder goes
// only when it is a real folder (not a link) holding nothing but the two files above, each a plain
// file that can be deleted now: one with a program still running from it (a removal in progress)
// stays with its folder, and so does any folder holding another name, a subfolder or a link, which
// is nobody's removal and is left to its owner. A folder with nothing in it goes once it is older
// than a minute (a run that has just made it has not written its copy yet). Nothing is followed
// through a link: each folder and file is checked and deleted through one handle, held without
// sharing its deletion. ownFolder, when given, is the current run's folder and is never touched.
// Returns the number of folders removed.
unsigned RemoveStaleRemovalFolders(const std::string& ownFolder = {});

// The same in the folder temporary instead of the user's temporary folder (for the tests).
unsigned RemoveStaleRemovalFoldersIn(const std::string& temporary, const std::string& ownFolder = {});
