// The install state: the values that the destination choice, the install sequence and the
// extraction loop share. One installation per run, so one process-wide record, never reset.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lifecycle/registration.h"

struct TInstallState {
    std::string DestinationFolder;       // as typed in the destination edit box, or /DIR
    bool BackupReplacedFiles = false;    // the answer to the backup question, or no /NOBACKUP
    bool DestinationMade = false;        // the destination was made before the sequence began
    std::vector<std::string> MadeAbove;  // folders above the destination made with it, outermost first
    // The only place for the uninstall entry (/CURRENTUSER, /ALLUSERS); nothing: the machine's
    // where the process may write it, else the user's.
    std::optional<TRegistrationScope> RegistrationScope;
    std::string DestinationWithBackslash;  // DestinationFolder with a trailing "\", set by the loop
    int32_t FileCount = 0;                 // number of archive entries
    int32_t CurrentFileNumber = 0;         // 1-based number of the entry being expanded
    bool Failed = false;                   // the installation failed: the program's exit code says so
};

extern TInstallState InstallState;
