// What tcompress takes from the files it packs: their bytes, DOS date-time and attribute bits.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "exceptions.h"

// A failure of tcompress itself; its message is shown after "tcompress: ".
TANDREL_DECLARE_EXCEPTION(EToolError, Exception);

// The whole file; EToolError when it cannot be read.
std::vector<uint8_t> ReadWholeFile(const std::string& path);

// Writes bytes to path through a temporary file beside it, renamed into place at the end, so that
// a failure never leaves a half-written file. Without replace, an existing path raises EToolError.
void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes, bool replace);

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
