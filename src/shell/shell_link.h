// Shortcut files (extension lnk) written through the shell's link object.
#pragma once

#include <windows.h>

#include <shobjidl.h>

#include <cstdint>
#include <string>

#include "shell/com_ptr.h"

// Everything one shortcut says. The texts go to the link object as zero-terminated ANSI strings.
struct TShellLinkInfo {
    std::string Target;                   // full path of the file the shortcut starts
    std::string Arguments;                // command-line arguments
    std::string Description;              // descriptive text
    std::string WorkingDirectory;         // folder in which the target starts
    std::string IconPath;                 // file that holds the icon
    int32_t IconIndex = 0;                // index of the icon in IconPath
    int32_t ShowCommand = SW_SHOWNORMAL;  // window show state of the started program
    uint16_t HotKey = 0;                  // the shell's hot-key format; 0 = none
};

// The 1-based position of the last occurrence of pattern in text, or 0. The first character is
// only a candidate when text and pattern have the same length, so FindLastPosition(".", ".profile")
// is 0 while FindLastPosition(".", "a.b.c") is 4. Empty arguments, or a text shorter than the
// pattern, give 0.
int FindLastPosition(const std::string& pattern, const std::string& text);

// The shortcut file name rule: name (or only its file part, after the last "\" or ":", unless
// keepFolder is set) with everything from its last "." found by FindLastPosition replaced by
// "." + extension. "Tandrel" gives Tandrel.lnk, C:\A\b.c.d gives b.c.lnk, .profile gives .profile.lnk.
std::string ReplaceExtension(const std::string& name, const std::string& extension, bool keepFolder);

// A new in-process instance of the shell link class. Raises EShellOleError on failure.
ComPtr<IShellLinkA> CreateShellLinkObject();

// Writes a new shortcut to name (a bare name is fine: UpdateShortcut sets the real target next),
// with description unless it is empty, into the shell folder named by the Shell Folders value
// folderValueName, as <folder>\<ReplaceExtension(name, "lnk", false)> (no check whether the folder
// already ends with "\"). Returns that path. Raises EShellOleError or ERegistryException; nothing is
// written before both the link and the folder are known. The result of saving is not checked.
std::string CreateShortcut(const std::string& name,
                           const std::string& description,
                           const std::string& folderValueName);

// Loads the shortcut file, resolves it without any window, rewrites every field from info and saves
// it again. Raises EShellOleError at the first call that does not return 0; the file then stays as
// it was. The result of saving is not checked.
void UpdateShortcut(const std::string& file, const TShellLinkInfo& info);
