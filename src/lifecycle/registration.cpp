#include "lifecycle/registration.h"

#include <windows.h>

#include <algorithm>

#include "framework/sysutils.h"
#include "framework/unique_handle.h"
#include "lifecycle/install_record.h"

namespace {

HKEY RootOf(TRegistrationScope scope) {
    return scope == TRegistrationScope::Machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
}

// The machine's entries are read in the 64-bit view whatever this program's own width, where
// Apps & features lists them.
constexpr REGSAM kView = KEY_WOW64_64KEY;

bool SetText(HKEY key, const char* name, const std::string& value) {
    return ::RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1)) == ERROR_SUCCESS;
}

bool SetNumber(HKEY key, const char* name, uint32_t value) {
    const DWORD number = value;
    return ::RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number) ==
           ERROR_SUCCESS;
}

bool WriteValues(HKEY key, const TUninstallEntry& entry) {
    return SetText(key, "DisplayName", entry.DisplayName) &&
           SetText(key, "DisplayVersion", entry.DisplayVersion) &&
           SetText(key, "Publisher", entry.Publisher) &&
           SetText(key, "InstallLocation", entry.InstallLocation) &&
           SetText(key, "DisplayIcon", entry.DisplayIcon) &&
           SetText(key, "UninstallString", entry.UninstallString) &&
           SetText(key, "QuietUninstallString", entry.QuietUninstallString) &&
           SetNumber(key, "EstimatedSize", entry.EstimatedSize) &&
           SetText(key, "InstallDate", entry.InstallDate) && SetNumber(key, "NoModify", 1) &&
           SetNumber(key, "NoRepair", 1);
}

bool WriteIn(TRegistrationScope scope, const TUninstallEntry& entry) {
    HKEY raw = nullptr;
    if (::RegCreateKeyExA(RootOf(scope), kUninstallKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE | KEY_QUERY_VALUE | kView, nullptr, &raw, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const UniqueHkey key(raw);
    return WriteValues(key.get(), entry);
}

}  // namespace

std::optional<TRegistrationScope> WriteUninstallEntry(const TUninstallEntry& entry,
                                                      std::optional<TRegistrationScope> only) {
    for (const TRegistrationScope scope : {TRegistrationScope::Machine, TRegistrationScope::User}) {
        if ((!only || *only == scope) && WriteIn(scope, entry)) {
            return scope;
        }
    }
    return std::nullopt;
}

std::optional<std::string> RegisteredInstallLocation(TRegistrationScope scope) {
    HKEY raw = nullptr;
    if (::RegOpenKeyExA(RootOf(scope), kUninstallKey, 0, KEY_QUERY_VALUE | kView, &raw) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    const UniqueHkey key(raw);
    char value[1024] = {};
    DWORD type = 0;
    DWORD size = sizeof value - 1;
    if (::RegQueryValueExA(key.get(), "InstallLocation", nullptr, &type, reinterpret_cast<BYTE*>(value),
                           &size) != ERROR_SUCCESS ||
        type != REG_SZ) {
        return std::nullopt;
    }
    // A value stored without its terminator is still read whole; value has room for one more byte.
    std::string location(value, size);
    while (!location.empty() && location.back() == '\0') {
        location.pop_back();
    }
    return location;
}

bool DeleteUninstallEntry(TRegistrationScope scope) {
    const LONG result = ::RegDeleteKeyExA(RootOf(scope), kUninstallKey, kView, 0);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

TUninstallEntry MakeUninstallEntry(const std::string& destination,
                                   int64_t installedBytes,
                                   const std::string& date) {
    const std::string folder = AddTrailingBackslash(destination);
    TUninstallEntry entry;
    entry.DisplayName = std::string(TANDREL_PRODUCT_NAME) + " " + TANDREL_VERSION;
    entry.DisplayVersion = TANDREL_VERSION;
    entry.Publisher = TANDREL_PUBLISHER;
    entry.InstallLocation = destination;
    entry.DisplayIcon = folder + "Tandrel.exe,0";
    entry.UninstallString = "\"" + folder + kUninstallerName + "\"";
    entry.QuietUninstallString = entry.UninstallString + " /VERYSILENT";
    const int64_t kib = (std::max<int64_t>(installedBytes, 0) + 1023) / 1024;
    entry.EstimatedSize = static_cast<uint32_t>(std::min<int64_t>(kib, UINT32_MAX));
    entry.InstallDate = date;
    return entry;
}

std::string Today() {
    SYSTEMTIME now{};
    ::GetLocalTime(&now);
    return Format("%04u%02u%02u", now.wYear, now.wMonth, now.wDay);
}
