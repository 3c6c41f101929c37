// What tcompress takes from the files it packs besides their bytes: DOS date-time and attribute bits.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "framework/exceptions.h"

// A failure of tcompress itself; its message is shown after "tcompress: ".
TANDREL_DECLARE_EXCEPTION(EToolError, Exception);

// The text of the last failed system call (errno).
std::string SystemError();

struct FileStamp {
    uint32_t fileDate = 0;
    uint16_t attributes = 0;
};

// SOURCE_DATE_EPOCH as seconds since 1970, when set; EToolError when it is not a decimal number.
std::optional<int64_t> SourceDateEpoch();

// The stamp of a packed file. With an epoch (reproducible builds): the epoch's UTC time and the
// archive attribute alone. Otherwise the file's last-write time as local time, and the archive
// attribute plus read-only when the file's owner may not write it.
FileStamp StampOf(const std::string& path, std::optional<int64_t> epoch);

// The DOS date-time of a time_t, in UTC or local time.
uint32_t DosDateTimeOf(std::time_t time, bool utc);
