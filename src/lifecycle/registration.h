// The entry that tells Windows (Apps & features, package managers) that Tandrel is installed and
// how to remove it: one key, per machine where the process may write it, else per user.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

inline constexpr const char kUninstallKey[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Tandrel";

enum class TRegistrationScope { Machine, User };

struct TUninstallEntry {
    std::string DisplayName;
    std::string DisplayVersion;
    std::string Publisher;
    std::string InstallLocation;
    std::string DisplayIcon;
    std::string UninstallString;
    std::string QuietUninstallString;
    uint32_t EstimatedSize = 0;  // KiB
    std::string InstallDate;     // YYYYMMDD
};

// The entry for an installation into destination (a full path without a trailing "\") of
// installedBytes in all, on date (YYYYMMDD).
TUninstallEntry MakeUninstallEntry(const std::string& destination,
                                   int64_t installedBytes,
                                   const std::string& date);

// Today's date as the entry holds it: YYYYMMDD, local time.
std::string Today();

// Writes entry (with NoModify and NoRepair 1) under HKEY_LOCAL_MACHINE, 64-bit view, where the
// process can create the key, else under HKEY_CURRENT_USER; only there when only is given.
// Returns where it was written; nothing when it could be written nowhere. A second call rewrites
// the one entry.
std::optional<TRegistrationScope> WriteUninstallEntry(const TUninstallEntry& entry,
                                                      std::optional<TRegistrationScope> only = std::nullopt);

// The InstallLocation of the entry in scope; nothing when there is no entry or it cannot be read.
std::optional<std::string> RegisteredInstallLocation(TRegistrationScope scope);

// Deletes the entry of scope: its key, which holds values only. True when no entry is left there.
bool DeleteUninstallEntry(TRegistrationScope scope);
