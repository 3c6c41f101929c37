#include "uninstall/self_copy.h"

#include <windows.h>

#include <cstddef>
#include <cstring>
#include <string_view>

#include "framework/sysutils.h"
#include "lifecycle/install_record.h"
#include "lifecycle/removal_plan.h"
#include "lifecycle/stale_removals.h"
#include "uninstall/removal.h"

// The clean-up of earlier runs knows the names that a removal leaves in its folder.
static_assert(std::string_view(kParkedOriginalName) == kParkedUninstallerName);
static_assert(std::string_view(kRemovalCopyName) == kUninstallerName);

namespace {

// Far more than the uninstaller's size: a file this large is not it.
constexpr int64_t kMaxProgramSize = 64 << 20;

std::string TemporaryFolder() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(sizeof path, path);
    if (length == 0 || length >= sizeof path) {
        throw ESelfCopyFailed("The temporary folder is not known");
    }
    return WithoutTrailingBackslash(path);
}

bool SameIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

bool IsPlain(const BY_HANDLE_FILE_INFORMATION& information, bool folder) {
    const bool isFolder = (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return isFolder == folder && (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Reads size bytes from the start of file; false on any shortfall.
bool ReadWhole(HANDLE file, std::vector<uint8_t>& bytes, size_t size) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return false;
    }
    bytes.assign(size, 0);
    size_t total = 0;
    while (total < size) {
        DWORD read = 0;
        const DWORD piece = static_cast<DWORD>(std::min<size_t>(size - total, 1 << 20));
        if (!::ReadFile(file, bytes.data() + total, piece, &read, nullptr) || read == 0) {
            return false;
        }
        total += read;
    }
    return true;
}

// This run's own folder, made new (CreateDirectory fails for a name that exists, so a folder
// somebody else made or prepared is never used) and held: shared for reading and writing only, so
// it cannot be renamed, replaced or removed (by another run's clean-up, say) while this run uses it.
struct TOwnFolder {
    std::string Path;
    UniqueFileHandle Handle;
};

TOwnFolder MakeOwnFolder(const std::string& temporary) {
    const uint64_t tick = ::GetTickCount64();
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::string folder =
            AddTrailingBackslash(temporary) + kRemovalFolderPrefix +
            Format("%lx-%llx-%u", ::GetCurrentProcessId(), static_cast<unsigned long long>(tick), attempt);
        if (::CreateDirectoryA(folder.c_str(), nullptr)) {
            UniqueFileHandle handle(::CreateFileA(folder.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                                  nullptr));
            BY_HANDLE_FILE_INFORMATION information{};
            if (!handle || !::GetFileInformationByHandle(handle.get(), &information) ||
                !IsPlain(information, true)) {
                throw ESelfCopyFailed("Cannot hold the new folder " + folder);
            }
            return {folder, std::move(handle)};
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            throw ESelfCopyFailed(
                Format("Cannot create the folder %s (error %lu)", folder.c_str(), ::GetLastError()));
        }
    }
    throw ESelfCopyFailed("Cannot create a folder of its own in " + temporary);
}

// Deletes path, retrying briefly: a program's file can be deleted only once the system has let go
// of its image, which may take a moment after the process ended.
bool DeleteSoon(const std::string& path) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        if (::DeleteFileA(path.c_str()) || ::GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
            return true;
        }
        ::Sleep(50);
    }
    return false;
}

// Removes what the copy's folder holds (the copy and, moved there by it, this program's own file,
// which cannot go while this program runs) and the folder; what cannot go now is left to the next
// run's clean-up, and also named for deletion at the next restart.
void RemoveOwnFolder(TOwnFolder& folder) {
    folder.Handle.reset();
    const std::string copy = AddTrailingBackslash(folder.Path) + kRemovalCopyName;
    const std::string parked = AddTrailingBackslash(folder.Path) + kParkedOriginalName;
    bool empty = true;
    if (!DeleteSoon(copy)) {
        ::MoveFileExA(copy.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        empty = false;
    }
    // This program's own file, while it runs: no waiting for it.
    if (!::DeleteFileA(parked.c_str()) && ::GetFileAttributesA(parked.c_str()) != INVALID_FILE_ATTRIBUTES) {
        ::MoveFileExA(parked.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
        empty = false;
    }
    if (!empty || !::RemoveDirectoryA(folder.Path.c_str())) {
        ::MoveFileExA(folder.Path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
}

// Writes bytes into a new file at path (one that is not there yet), then opens it again for
// reading, shared for reading only, and checks that it is the file written (the same file, not a
// link) and holds the same bytes (its size, and every byte read back compared). Returns that
// handle: held, nobody can change the copy until it runs. The file is not flushed to the disk: it
// runs at once from what the system holds of it, and after a crash it is only something for the
// clean-up of the temporary folder, so a flush would only wait for the disk.
UniqueFileHandle WriteCheckedCopy(const std::string& path, const std::vector<uint8_t>& bytes) {
    BY_HANDLE_FILE_INFORMATION written{};
    {
        const UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                                  nullptr));
        if (!file) {
            throw ESelfCopyFailed(Format("Cannot create %s (error %lu)", path.c_str(), ::GetLastError()));
        }
        size_t total = 0;
        while (total < bytes.size()) {
            DWORD done = 0;
            const DWORD piece = static_cast<DWORD>(std::min<size_t>(bytes.size() - total, 1 << 20));
            if (!::WriteFile(file.get(), bytes.data() + total, piece, &done, nullptr) || done == 0) {
                throw ESelfCopyFailed(Format("Cannot write %s (error %lu)", path.c_str(), ::GetLastError()));
            }
            total += done;
        }
        if (!::GetFileInformationByHandle(file.get(), &written)) {
            throw ESelfCopyFailed(Format("Cannot write %s (error %lu)", path.c_str(), ::GetLastError()));
        }
    }
    UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    LARGE_INTEGER size{};
    std::vector<uint8_t> back;
    if (!file || !::GetFileInformationByHandle(file.get(), &information) ||
        !::GetFileSizeEx(file.get(), &size)) {
        throw ESelfCopyFailed(Format("Cannot read %s back (error %lu)", path.c_str(), ::GetLastError()));
    }
    if (!SameIdentity(information, written) || !IsPlain(information, false) ||
        static_cast<uint64_t>(size.QuadPart) != bytes.size() || !ReadWhole(file.get(), back, bytes.size()) ||
        back != bytes) {
        throw ESelfCopyFailed(path + " does not hold what was written");
    }
    return file;
}

template <typename T>
bool ReadAt(const std::vector<uint8_t>& bytes, size_t offset, T& value) {
    if (offset > bytes.size() || sizeof value > bytes.size() - offset) {
        return false;
    }
    std::memcpy(&value, bytes.data() + offset, sizeof value);
    return true;
}

// Adds delta to the addresses that the image's base relocations place inside piece, the bytes of
// the image from rva on. Only relocations that lie wholly inside piece are applied.
void Relocate(const uint8_t* image,
              size_t imageSize,
              const IMAGE_DATA_DIRECTORY& directory,
              uint64_t delta,
              uint32_t rva,
              std::vector<uint8_t>& piece) {
    if (directory.VirtualAddress > imageSize || directory.Size > imageSize - directory.VirtualAddress) {
        return;
    }
    size_t at = directory.VirtualAddress;
    const size_t end = at + directory.Size;
    while (end - at >= sizeof(IMAGE_BASE_RELOCATION)) {
        IMAGE_BASE_RELOCATION block{};
        std::memcpy(&block, image + at, sizeof block);
        if (block.SizeOfBlock < sizeof block || block.SizeOfBlock > end - at) {
            return;
        }
        for (size_t entry = at + sizeof block; entry + 2 <= at + block.SizeOfBlock; entry += 2) {
            uint16_t value = 0;
            std::memcpy(&value, image + entry, sizeof value);
            const unsigned type = value >> 12;
            const size_t width = type == IMAGE_REL_BASED_DIR64 ? 8 : type == IMAGE_REL_BASED_HIGHLOW ? 4 : 0;
            const uint64_t target = uint64_t{block.VirtualAddress} + (value & 0xfff);
            if (width == 0 || target < rva || target - rva > piece.size() ||
                width > piece.size() - (target - rva)) {
                continue;
            }
            uint8_t* place = piece.data() + (target - rva);
            if (width == 8) {
                uint64_t address = 0;
                std::memcpy(&address, place, 8);
                address += delta;
                std::memcpy(place, &address, 8);
            } else {
                uint32_t address = 0;
                std::memcpy(&address, place, 4);
                address += static_cast<uint32_t>(delta);
                std::memcpy(place, &address, 4);
            }
        }
        at += block.SizeOfBlock;
    }
}

}  // namespace

std::string ImageMismatch(const std::vector<uint8_t>& bytes, const uint8_t* image) {
    IMAGE_DOS_HEADER dos{};
    IMAGE_NT_HEADERS headers{};
    if (!ReadAt(bytes, 0, dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew < 0 ||
        !ReadAt(bytes, static_cast<size_t>(dos.e_lfanew), headers) ||
        headers.Signature != IMAGE_NT_SIGNATURE ||
        headers.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC) {
        return "it is not a program of this kind";
    }
    // The running image's own headers give its extent; everything else is compared with them.
    const auto& imageDos = *reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
    const auto& imageHeaders = *reinterpret_cast<const IMAGE_NT_HEADERS*>(image + imageDos.e_lfanew);
    const size_t imageSize = imageHeaders.OptionalHeader.SizeOfImage;
    const size_t headerSize = headers.OptionalHeader.SizeOfHeaders;
    const size_t sectionTable = static_cast<size_t>(dos.e_lfanew) +
                                offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                                headers.FileHeader.SizeOfOptionalHeader;
    const size_t sectionCount = headers.FileHeader.NumberOfSections;
    if (headerSize > bytes.size() || headerSize > imageSize ||
        sectionTable + sectionCount * sizeof(IMAGE_SECTION_HEADER) > headerSize) {
        return "its headers differ from the running program's";
    }
    // The loader may move the image and note the new base address in its headers.
    const size_t base =
        static_cast<size_t>(dos.e_lfanew) + offsetof(IMAGE_NT_HEADERS, OptionalHeader.ImageBase);
    const size_t baseEnd = base + sizeof headers.OptionalHeader.ImageBase;
    if (std::memcmp(bytes.data(), image, base) != 0 ||
        std::memcmp(bytes.data() + baseEnd, image + baseEnd, headerSize - baseEnd) != 0) {
        return "its headers differ from the running program's";
    }
    const uint64_t delta = reinterpret_cast<uintptr_t>(image) - headers.OptionalHeader.ImageBase;
    const IMAGE_DATA_DIRECTORY relocations =
        imageHeaders.OptionalHeader.NumberOfRvaAndSizes > IMAGE_DIRECTORY_ENTRY_BASERELOC
            ? imageHeaders.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC]
            : IMAGE_DATA_DIRECTORY{};
    for (size_t index = 0; index < sectionCount; ++index) {
        IMAGE_SECTION_HEADER section{};
        std::memcpy(&section, bytes.data() + sectionTable + index * sizeof section, sizeof section);
        // Writable sections change as the program runs (its data, the addresses of what it imports).
        if ((section.Characteristics & IMAGE_SCN_MEM_WRITE) != 0 || section.SizeOfRawData == 0) {
            continue;
        }
        size_t length = section.SizeOfRawData;
        if (section.Misc.VirtualSize != 0 && section.Misc.VirtualSize < length) {
            length = section.Misc.VirtualSize;
        }
        if (section.PointerToRawData > bytes.size() || length > bytes.size() - section.PointerToRawData ||
            section.VirtualAddress > imageSize || length > imageSize - section.VirtualAddress) {
            return Format("its section %.8s lies outside the program",
                          reinterpret_cast<const char*>(section.Name));
        }
        std::vector<uint8_t> piece(bytes.begin() + section.PointerToRawData,
                                   bytes.begin() + section.PointerToRawData + length);
        if (delta != 0) {
            Relocate(image, imageSize, relocations, delta, section.VirtualAddress, piece);
        }
        if (std::memcmp(piece.data(), image + section.VirtualAddress, length) != 0) {
            return Format("its section %.8s differs from the running program's",
                          reinterpret_cast<const char*>(section.Name));
        }
    }
    return {};
}

std::string OwnProgramPath() {
    std::string path(MAX_PATH, '\0');
    while (true) {
        const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            throw ESelfCopyFailed("The program's own path is not known");
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        if (path.size() >= 32768) {
            throw ESelfCopyFailed("The program's own path is too long");
        }
        path.resize(path.size() * 2);
    }
}

TOwnProgramFile::TOwnProgramFile() {
    try {
        const std::string path = OwnProgramPath();
        // Shared for reading only: while it is held, nobody writes, renames, deletes or replaces it.
        file_.reset(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        BY_HANDLE_FILE_INFORMATION information{};
        if (!file_ || !::GetFileInformationByHandle(file_.get(), &information)) {
            failure_ = Format("Cannot open %s (error %lu)", path.c_str(), ::GetLastError());
            file_.reset();
        } else if (!IsPlain(information, false)) {
            failure_ = path + " is a link";
            file_.reset();
        }
    } catch (const std::exception& error) {
        failure_ = error.what();
    }
}

std::vector<uint8_t> TOwnProgramFile::Read() const {
    if (!file_) {
        throw ESelfCopyFailed(failure_.empty() ? std::string("The program's own file is not held")
                                               : failure_);
    }
    LARGE_INTEGER size{};
    std::vector<uint8_t> bytes;
    if (!::GetFileSizeEx(file_.get(), &size) || size.QuadPart <= 0 || size.QuadPart > kMaxProgramSize ||
        !ReadWhole(file_.get(), bytes, static_cast<size_t>(size.QuadPart))) {
        throw ESelfCopyFailed(Format("Cannot read the program's own file (error %lu)", ::GetLastError()));
    }
    const std::string mismatch =
        ImageMismatch(bytes, reinterpret_cast<const uint8_t*>(::GetModuleHandleA(nullptr)));
    if (!mismatch.empty()) {
        throw ESelfCopyFailed("The program's own file is not the program that runs: " + mismatch);
    }
    return bytes;
}

bool IsTemporaryCopyFolder(const std::string& folder) {
    std::string temporary;
    try {
        temporary = TemporaryFolder();
    } catch (const ESelfCopyFailed&) {
        return false;
    }
    const std::string own = WithoutTrailingBackslash(folder);
    const size_t cut = own.rfind('\\');
    return cut != std::string::npos && SameFolder(own.substr(0, cut), temporary) &&
           SameTextAscii(own.substr(cut + 1, sizeof kRemovalFolderPrefix - 1), kRemovalFolderPrefix);
}

int RunFromTemporaryCopy(TOwnProgramFile& own,
                         const TUninstallOptions& options,
                         const std::string& originalFolder,
                         TInstallationLock& lock) {
    const std::vector<uint8_t> bytes = own.Read();
    const std::string temporary = TemporaryFolder();
    TOwnFolder folder = MakeOwnFolder(temporary);
    const std::string copy = AddTrailingBackslash(folder.Path) + kRemovalCopyName;
    UniqueFileHandle held;
    try {
        held = WriteCheckedCopy(copy, bytes);
    } catch (const ESelfCopyFailed&) {
        RemoveOwnFolder(folder);
        throw;
    }
    // The installation's lock passes to the copy without a moment in which nobody holds it: the
    // copy inherits a handle of it (that handle alone) and is told its value.
    HANDLE inherited = lock.Inheritable();
    if (inherited == nullptr) {
        RemoveOwnFolder(folder);
        throw ESelfCopyFailed("Cannot hand the installation's lock over");
    }
    std::string commandLine =
        QuoteArgument(copy) + " " +
        CopyArguments(options, originalFolder, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(inherited)));
    STARTUPINFOEXA startup{};
    startup.StartupInfo.cb = sizeof startup;
    SIZE_T listSize = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &listSize);
    std::vector<uint8_t> list(listSize);
    startup.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(list.data());
    if (!::InitializeProcThreadAttributeList(startup.lpAttributeList, 1, 0, &listSize) ||
        !::UpdateProcThreadAttribute(startup.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                     &inherited, sizeof inherited, nullptr, nullptr)) {
        RemoveOwnFolder(folder);
        throw ESelfCopyFailed(
            Format("Cannot hand the installation's lock over (error %lu)", ::GetLastError()));
    }
    PROCESS_INFORMATION process{};
    // Both programs run in the temporary folder, so that no folder of the installation is the
    // current folder of either (a current folder cannot be removed).
    ::SetCurrentDirectoryA(temporary.c_str());
    const BOOL started = ::CreateProcessA(copy.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                          EXTENDED_STARTUPINFO_PRESENT, nullptr, temporary.c_str(),
                                          &startup.StartupInfo, &process);
    const DWORD error = ::GetLastError();
    ::DeleteProcThreadAttributeList(startup.lpAttributeList);
    if (!started) {
        held.reset();
        RemoveOwnFolder(folder);
        throw ESelfCopyFailed(Format("Cannot start %s (error %lu)", copy.c_str(), error));
    }
    const UniqueKernelHandle processHandle(process.hProcess);
    const UniqueKernelHandle threadHandle(process.hThread);
    // The copy holds the lock now; this program's handles of it would only keep the folder from
    // going once the copy has removed it.
    lock.Release();
    // The copy runs from the checked bytes now. This program's own file is let go: the removal
    // moves it out of the installation's folder, which its deletion would need to be shared for.
    own.Release();
    ::WaitForSingleObject(processHandle.get(), INFINITE);
    DWORD exitCode = kExitRemoveFailed;
    if (!::GetExitCodeProcess(processHandle.get(), &exitCode)) {
        exitCode = kExitRemoveFailed;
    }
    held.reset();
    RemoveOwnFolder(folder);
    // A copy that ended any other way (killed, crashed) failed.
    const bool known = exitCode == kExitRemoved || exitCode == kExitBadRecord || exitCode == kExitDeclined ||
                       exitCode == kExitRemoveFailed || exitCode == kExitRemoveInUse ||
                       exitCode == kExitRemoveBusy;
    return known ? static_cast<int>(exitCode) : kExitRemoveFailed;
}
