#include "widgets/drive_rows.h"

#include <iterator>

#include "lifecycle/safe_library.h"

std::string ApplyTextCase(std::string text, TTextCase textCase) {
    if (!text.empty()) {
        if (textCase == tcUpperCase) {
            ::CharUpperBuffA(text.data(), static_cast<DWORD>(text.size()));
        } else {
            ::CharLowerBuffA(text.data(), static_cast<DWORD>(text.size()));
        }
    }
    return text;
}

const char* DrivePictureResource(DrivePicture picture) {
    // In the order of DrivePicture.
    static constexpr const char* kResources[] = {nullptr, "FLOPPY", "HARD", "NETWORK", "CDROM", "RAM"};
    static_assert(std::size(kResources) == static_cast<size_t>(DrivePicture::Ram) + 1);
    const auto index = static_cast<size_t>(picture);
    return index < std::size(kResources) ? kResources[index] : nullptr;
}

DrivePicture DrivePictureOf(UINT driveType) {
    switch (driveType) {
        case DRIVE_REMOVABLE:
            return DrivePicture::Floppy;
        case DRIVE_FIXED:
            return DrivePicture::Hard;
        case DRIVE_REMOTE:
            return DrivePicture::Network;
        case DRIVE_CDROM:
            return DrivePicture::CdRom;
        case DRIVE_RAMDISK:
            return DrivePicture::Ram;
        default:
            return DrivePicture::None;
    }
}

std::string DriveRowText(char letter,
                         UINT driveType,
                         const std::string& volumeLabel,
                         const std::optional<std::string>& networkName,
                         TTextCase textCase) {
    std::string text = ApplyTextCase(std::string(1, letter), textCase) + ":";
    if (driveType == DRIVE_REMOVABLE) {
        return text;
    }
    if (driveType == DRIVE_REMOTE && networkName) {
        return text + " " + ApplyTextCase(*networkName, textCase);
    }
    return text + " [" + ApplyTextCase(volumeLabel, textCase) + "]";
}

namespace {

// The volume label of a root such as "d:\"; empty when it cannot be read (no medium, say).
std::string ReadVolumeLabel(const std::string& root) {
    char label[MAX_PATH + 1] = {};
    CriticalErrorsSuppressed quiet;
    if (!::GetVolumeInformationA(root.c_str(), label, sizeof label, nullptr, nullptr, nullptr, nullptr, 0)) {
        return {};
    }
    return label;
}

using GetConnectionFunction = DWORD(WINAPI*)(LPCSTR, LPSTR, LPDWORD);

// WNetGetConnectionA of the system folder's MPR, loaded at the first network drive: MPR is not one
// of the libraries that the system always takes from its own folder, so importing it would let a
// copy beside the setup be loaded instead. Stays loaded for the rest of the process. Null when the
// system has none.
GetConnectionFunction NetworkConnectionFunction() {
    static const GetConnectionFunction function = []() -> GetConnectionFunction {
        const HMODULE mpr = LoadSystemLibrary("mpr.dll");
        if (mpr == nullptr) {
            return nullptr;
        }
        return reinterpret_cast<GetConnectionFunction>(
            reinterpret_cast<void*>(::GetProcAddress(mpr, "WNetGetConnectionA")));
    }();
    return function;
}

// The network name a drive such as "n:" is connected to, when the system knows one.
std::optional<std::string> ReadNetworkName(const std::string& drive) {
    const GetConnectionFunction getConnection = NetworkConnectionFunction();
    if (getConnection == nullptr) {
        return std::nullopt;
    }
    char name[MAX_PATH + 1] = {};
    DWORD size = sizeof name;
    if (getConnection(drive.c_str(), name, &size) != NO_ERROR) {
        return std::nullopt;
    }
    return std::string(name);
}

}  // namespace

std::vector<DriveRow> ReadDriveRows(TTextCase textCase) {
    std::vector<DriveRow> rows;
    const DWORD mask = ::GetLogicalDrives();
    for (int bit = 0; bit < 26; ++bit) {
        if ((mask & (1u << bit)) == 0) {
            continue;
        }
        const char letter = static_cast<char>('a' + bit);
        const std::string drive = std::string(1, letter) + ":";
        const UINT type = ::GetDriveTypeA((drive + "\\").c_str());
        const DrivePicture picture = DrivePictureOf(type);
        if (picture == DrivePicture::None) {
            continue;
        }
        std::string label;
        std::optional<std::string> networkName;
        if (type == DRIVE_REMOTE) {
            networkName = ReadNetworkName(drive);
        }
        if (type != DRIVE_REMOVABLE && !networkName) {
            label = ReadVolumeLabel(drive + "\\");
        }
        rows.push_back(DriveRow{DriveRowText(letter, type, label, networkName, textCase), picture});
    }
    return rows;
}
