#include "file_info.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "archive/format.h"

namespace {

constexpr uint16_t kArchiveAttribute = 0x20;
constexpr uint16_t kReadOnlyAttribute = 0x01;

}  // namespace

std::string SystemError() {
    return std::strerror(errno);
}

std::optional<int64_t> SourceDateEpoch() {
    const char* text = std::getenv("SOURCE_DATE_EPOCH");
    if (text == nullptr) {
        return std::nullopt;
    }
    int64_t value = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + (*p - '0');
        if (value > (int64_t{1} << 40)) {
            break;
        }
    }
    if (p == text || *p != '\0') {
        throw EToolError("SOURCE_DATE_EPOCH must be a number of seconds, not \"" + std::string(text) + "\"");
    }
    return value;
}

uint32_t DosDateTimeOf(std::time_t time, bool utc) {
    std::tm parts{};
#ifdef _WIN32
    const bool ok = (utc ? gmtime_s(&parts, &time) : localtime_s(&parts, &time)) == 0;
#else
    const bool ok = (utc ? gmtime_r(&time, &parts) : localtime_r(&time, &parts)) != nullptr;
#endif
    if (!ok) {
        return PackDosDateTime(DosDateTime{});
    }
    return PackDosDateTime(DosDateTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday, parts.tm_hour,
                                       parts.tm_min, parts.tm_sec});
}

FileStamp StampOf(const std::string& path, std::optional<int64_t> epoch) {
    FileStamp stamp;
    if (epoch) {
        stamp.fileDate = DosDateTimeOf(static_cast<std::time_t>(*epoch), true);
        stamp.attributes = kArchiveAttribute;
        return stamp;
    }
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        throw EToolError("cannot read " + path + ": " + SystemError());
    }
    stamp.fileDate = DosDateTimeOf(info.st_mtime, false);
    stamp.attributes = kArchiveAttribute;
    if ((info.st_mode & S_IWUSR) == 0) {
        stamp.attributes |= kReadOnlyAttribute;
    }
    return stamp;
}
