// A Tandrel.lnk that a run recorded (in the record or in its journal), as the removal and the roll
// back of a run find it: only a shortcut right inside this account's Programs or SendTo folder,
// opened through that folder held (no link followed), and only when it starts the installation's
// program, is the installation's to remove. A file of that name that starts something else, or is
// no shortcut at all, is somebody else's.
#pragma once

#include <memory>
#include <string>

#include "lifecycle/safe_files.h"

// What a shortcut starts between its two writes: the bare name, before the real target is set.
inline constexpr const char kBareShortcutTarget[] = "Tandrel";

// The path with every part in its long form, as the system spells it; path itself when it cannot
// be read (a missing item).
std::string LongPathOf(const std::string& path);

// How a recorded shortcut was found.
enum class TShortcutState {
    Missing,      // no such file
    OtherFolder,  // not right inside this account's Programs or SendTo folder, or that folder is a link
    ThroughLink,  // the file is a link, or not the item its held folder lists under that name
    NotOpened,    // in use, or it cannot be opened (see the file's LastError)
    OtherTarget,  // not a shortcut, or one that starts another program
    Ours,         // it starts the installation's program: held open for its removal
};

// A recorded shortcut held open, with the folder that holds it.
struct TRecordedShortcut {
    std::unique_ptr<TSafeFolder> Folder;
    std::unique_ptr<TRemovableFile> File = std::make_unique<TRemovableFile>();
    TOpenForRemoval Opened = TOpenForRemoval::Failed;
};

// Opens the shortcut at path for its removal through its held folder and reads the program that it
// starts through the shell's link object, from the very file held. Ours when that is destination's
// Tandrel.exe, or, with begun (a run's own roll back), the bare name that its first write sets; for
// any other state the file is not held (NotOpened: held.Opened says why). Changes nothing.
TShortcutState OpenRecordedShortcut(const std::string& path,
                                    const std::string& destination,
                                    TRecordedShortcut& held,
                                    bool begun = false);

// The roll back of a run: removes the shortcut at path when OpenRecordedShortcut finds it Ours, a
// shortcut only begun included; true when it went.
bool RemoveRecordedShortcut(const std::string& path, const std::string& destination);
