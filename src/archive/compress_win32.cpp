// The archive component's work on the Win32 file system: resources, free space, folders, the
// output file, its time stamp and attributes.
#include <windows.h>

#include "archive/compress.h"
#include "framework/file_stream.h"
#include "framework/layout.h"
#include "framework/resource_stream.h"
#include "framework/sysutils.h"

namespace {

// Sets the file's last-write time from a DOS date-time. The DOS date-time is a local time; the
// file system keeps universal time. The conversion uses the time zone's rule for that date, so a
// summer date keeps its wall-clock time in winter. A value that is no valid date leaves the file's
// time as the system set it.
void SetLastWriteTime(TFileStream& file, uint32_t dosDateTime) {
    FILETIME local;
    SYSTEMTIME localTime;
    SYSTEMTIME universalTime;
    FILETIME universal;
    if (::DosDateTimeToFileTime(HIWORD(dosDateTime), LOWORD(dosDateTime), &local) &&
        ::FileTimeToSystemTime(&local, &localTime) &&
        ::TzSpecificLocalTimeToSystemTime(nullptr, &localTime, &universalTime) &&
        ::SystemTimeToFileTime(&universalTime, &universal)) {
        ::SetFileTime(file.Handle(), nullptr, nullptr, &universal);
    }
}

class FileOutput : public TOutputFile {
  public:
    explicit FileOutput(std::unique_ptr<TFileStream> file) : file_(std::move(file)) {}
    TStream& Stream() override { return *file_; }
    void SetFileDate(uint32_t dosDateTime) override { SetLastWriteTime(*file_, dosDateTime); }

  private:
    std::unique_ptr<TFileStream> file_;
};

}  // namespace

void RegisterArchiveClasses() {
    static const bool registered = [] {
        RegisterComponentClass<TCompress>("TCompress");
        return true;
    }();
    static_cast<void>(registered);
}

std::unique_ptr<TStream> TCompress::LoadArchiveResource(const std::string& resName,
                                                        const std::string& libName) {
    if (libName.empty()) {
        return std::make_unique<TResourceStream>(::GetModuleHandleA(nullptr), resName, kArchiveResourceType);
    }
    // Only the library's resources are wanted: it is mapped as data, so none of its code runs.
    UniqueModule library(::LoadLibraryExA(libName.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!library) {
        throw Exception(Format(msg::kCouldNotLoadLibrary, libName.c_str()));
    }
    return std::make_unique<TResourceStream>(std::move(library), resName, kArchiveResourceType);
}

int64_t TCompress::DiskFreeBytes(int drive) {
    const char root[] = {static_cast<char>(drive + 64), ':', '\\', '\0'};
    DWORD sectorsPerCluster = 0;
    DWORD bytesPerSector = 0;
    DWORD freeClusters = 0;
    DWORD totalClusters = 0;
    if (!::GetDiskFreeSpaceA(drive == 0 ? nullptr : root, &sectorsPerCluster, &bytesPerSector, &freeClusters,
                             &totalClusters)) {
        return -1;
    }
    return static_cast<int64_t>(sectorsPerCluster) * bytesPerSector * freeClusters;
}

int64_t TCompress::FreeSpaceFor(const std::string& path) {
    const std::string upper = UpperCaseAscii(path);
    const int drive = upper.size() > 1 && upper[1] == ':' ? static_cast<unsigned char>(upper[0]) - 64 : 0;
    int64_t space = DiskFreeBytes(drive);
    if (!OnOpenOutput && FileExists(path)) {
        // The file will be replaced, so its bytes count as free. Opening it for writing also finds
        // out early that it cannot be replaced (read-only, or in use).
        TFileStream existing(path, fmOpenReadWrite | fmShareDenyWrite);
        space += existing.Size();
    }
    return space;
}

void TCompress::ForceTargetDirs(std::string dir) {
    if (!dir.empty() && dir.back() == '\\') {
        dir.pop_back();
    }
    // The missing folders are found by walking up to the first one that exists, then made
    // outermost first. A loop that keeps only the length of each missing folder's path (a prefix of
    // dir), so that no path, however deep, can exhaust the stack or the memory.
    // A folder path the system cannot make (the limit leaves room for a short file name) stops
    // here, before any of its parents is made and left behind.
    if (dir.size() >= MAX_PATH - 12) {
        throw EInOutError(Format("Cannot create folder %s (%s)", dir.c_str(),
                                 SystemErrorText(ERROR_FILENAME_EXCED_RANGE).c_str()),
                          ERROR_FILENAME_EXCED_RANGE);
    }
    std::vector<size_t> missing;
    std::string folder = dir;
    while (folder.size() >= 3 && !DirectoryExists(folder)) {
        missing.push_back(folder.size());
        // A folder part ending in ":" is its own parent; it is not a folder name and fails below.
        size_t parent = ExtractFilePath(folder).size();
        if (parent > 0 && folder[parent - 1] == '\\') {
            --parent;
        }
        if (parent >= folder.size()) {
            break;
        }
        folder.resize(parent);
    }
    for (auto length = missing.rbegin(); length != missing.rend(); ++length) {
        const std::string path = dir.substr(0, *length);
        if (!::CreateDirectoryA(path.c_str(), nullptr)) {
            const DWORD code = ::GetLastError();
            throw EInOutError(
                Format("Cannot create folder %s (%s)", path.c_str(), SystemErrorText(code).c_str()), code);
        }
    }
}

std::unique_ptr<TFileStream> TCompress::CreateOutputFile(const std::string& path) {
    if (OnOpenOutput) {
        return std::make_unique<TFileStream>(path, OnOpenOutput(path));
    }
    return std::make_unique<TFileStream>(path, fmCreate);
}

std::unique_ptr<TOutputFile> TCompress::OpenOutputFile(const std::string& path) {
    return std::make_unique<FileOutput>(CreateOutputFile(path));
}

void TCompress::SetAttributes(const std::string& path, uint16_t attributes) {
    ::SetFileAttributesA(path.c_str(), attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL);
}

void TCompress::DeleteOutputFile(const std::string& path) {
    ::DeleteFileA(path.c_str());
}
