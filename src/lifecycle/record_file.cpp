#include "lifecycle/record_file.h"

#include <windows.h>

#include "framework/file_stream.h"
#include "framework/unique_handle.h"

namespace {

// The whole text of the record or journal at path, never through a link.
std::string ReadRecordText(const std::string& path) {
    const UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            throw EBadRecord("The record " + path + " is missing");
        }
        throw EBadRecord("The record " + path + " cannot be read (" + SystemErrorText(error) + ")");
    }
    std::string text;
    char buffer[16 * 1024];
    while (true) {
        DWORD read = 0;
        if (!::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) {
            // A record read only in part is no record.
            throw EBadRecord("The record " + path + " cannot be read (" + SystemErrorText(::GetLastError()) +
                             ")");
        }
        if (read == 0) {
            break;
        }
        text.append(buffer, read);
        if (text.size() > kMaxRecordBytes) {
            throw EBadRecord("The record " + path + " is too large");
        }
    }
    return text;
}

// Reads the file at path as a record or a journal (what), parsed by parse.
template <typename Parse>
auto ReadParsed(const std::string& path, const char* what, Parse parse) {
    const std::string text = ReadRecordText(path);
    try {
        return parse(text);
    } catch (const EBadRecord& error) {
        throw EBadRecord(std::string("The ") + what + " " + path + " is damaged: " + error.what());
    }
}

}  // namespace

TInstallRecord ReadRecordFile(const std::string& path) {
    return ReadParsed(path, "record", ParseInstallRecord);
}
