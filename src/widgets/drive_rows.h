// The rows of the drive combo box: one per drive the system reports, with its text and picture.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum TTextCase : uint8_t { tcLowerCase, tcUpperCase };

// The picture of a drive row, by the bitmap resource it is loaded from.
enum class DrivePicture { None, Floppy, Hard, Network, CdRom, Ram };

// The bitmap resource name of a picture ("FLOPPY", "HARD", ...); nullptr for None.
const char* DrivePictureResource(DrivePicture picture);

// The picture for a drive type as GetDriveType reports it; None for an unknown type or a missing
// root directory, which get no row.
DrivePicture DrivePictureOf(UINT driveType);

// The text of a drive's row: "a:" for a removable drive; "d: [label]" for a fixed, CD-ROM or RAM
// drive; "n: " and the network name for a remote drive, or the bracketed label when the network
// name is unknown. The letter, label and network name are all in the case textCase asks for.
std::string DriveRowText(char letter,
                         UINT driveType,
                         const std::string& volumeLabel,
                         const std::optional<std::string>& networkName,
                         TTextCase textCase);

struct DriveRow {
    std::string text;  // the first character is the drive letter, the second ":"
    DrivePicture picture = DrivePicture::None;
};

// The rows of the drives present, from a to z. Removable drives are not queried for a label;
// other labels are read with critical-error dialogs suppressed, so an empty drive asks nothing.
std::vector<DriveRow> ReadDriveRows(TTextCase textCase);

// Upper- or lower-cases text as textCase asks, by the system's ANSI case rules.
std::string ApplyTextCase(std::string text, TTextCase textCase);

// Sets the process's error mode to fail critical errors without a dialog, for its lifetime.
class CriticalErrorsSuppressed {
  public:
    CriticalErrorsSuppressed() noexcept : previous_(::SetErrorMode(SEM_FAILCRITICALERRORS)) {}
    CriticalErrorsSuppressed(const CriticalErrorsSuppressed&) = delete;
    CriticalErrorsSuppressed& operator=(const CriticalErrorsSuppressed&) = delete;
    ~CriticalErrorsSuppressed() { ::SetErrorMode(previous_); }

  private:
    UINT previous_;
};
