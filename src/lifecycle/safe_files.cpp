#include "lifecycle/safe_files.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "framework/file_stream.h"
#include "framework/sysutils.h"
#include "lifecycle/fault_point.h"
#include "lifecycle/install_record.h"
#include "lifecycle/removal_plan.h"

namespace {

constexpr DWORD kNoAttributes = INVALID_FILE_ATTRIBUTES;

bool IsMissingError(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

// The file system's number of an open item; -1 when it cannot be read.
int64_t IdOf(HANDLE item) {
    TItemFacts facts;
    return ReadItemFacts(item, facts) ? static_cast<int64_t>(facts.Id) : -1;
}

}  // namespace

bool ReadItemFacts(HANDLE item, TItemFacts& facts) {
    // The file's number as GetFileInformationByHandle gives it (nFileIndexHigh and Low), from the
    // system's own query for it.
    struct {
        union {
            LONG Status;
            void* Pointer;
        };
        ULONG_PTR Information;
    } status{};
    LARGE_INTEGER index{};
    using TQueryFile = LONG(WINAPI*)(HANDLE, void*, void*, ULONG, int);
    constexpr int kFileInternalInformation = 6;
    static const auto query = [] {
        const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
        return ntdll == nullptr ? nullptr
                                : reinterpret_cast<TQueryFile>(reinterpret_cast<void*>(
                                      ::GetProcAddress(ntdll, "NtQueryInformationFile")));
    }();
    FILE_BASIC_INFO basic{};
    FILE_STANDARD_INFO standard{};
    if (query == nullptr || query(item, &status, &index, sizeof index, kFileInternalInformation) < 0) {
        // The query answers with a status and leaves the thread's last error as it was, often
        // success; callers report that error, and an item they cannot identify is no missing item.
        ::SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    if (!::GetFileInformationByHandleEx(item, FileBasicInfo, &basic, sizeof basic) ||
        !::GetFileInformationByHandleEx(item, FileStandardInfo, &standard, sizeof standard)) {
        return false;
    }
    facts.Attributes = basic.FileAttributes;
    facts.Size = standard.EndOfFile.QuadPart;
    facts.Id = static_cast<uint64_t>(index.QuadPart);
    return true;
}

bool IsReparsePoint(const std::string& path) {
    // The attributes of the item itself, a link's own, never its target's. A link whose target is
    // gone shows none to GetFileAttributesA under Wine, but is still a link: then those of its
    // directory entry. The entry is asked second, since listing a folder that this process holds
    // without delete sharing is refused (one wasted request for every item of a held folder).
    DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes == kNoAttributes) {
        WIN32_FIND_DATAA found{};
        const UniqueFindHandle search(::FindFirstFileA(path.c_str(), &found));
        attributes = search ? found.dwFileAttributes : kNoAttributes;
    }
    return attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool ListFolderItems(HANDLE held, std::vector<TFolderItem>& items) {
    // A new handle to the same folder (never its path): a handle that has listed the folder before
    // may give that listing again under Wine, without what was made in the folder since.
    const UniqueFileHandle fresh(::ReOpenFile(held, FILE_LIST_DIRECTORY | SYNCHRONIZE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                              FILE_FLAG_BACKUP_SEMANTICS));
    const HANDLE folder = fresh ? fresh.get() : held;
    alignas(8) uint8_t buffer[16384];
    FILE_INFO_BY_HANDLE_CLASS kind = FileIdBothDirectoryRestartInfo;
    while (::GetFileInformationByHandleEx(folder, kind, buffer, sizeof buffer)) {
        kind = FileIdBothDirectoryInfo;
        for (size_t at = 0;;) {
            const auto& entry = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer + at);
            const int wide = static_cast<int>(entry.FileNameLength / sizeof(WCHAR));
            std::string name(static_cast<size_t>(wide) * 2 + 1, '\0');
            const int length =
                ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, entry.FileName, wide, name.data(),
                                      static_cast<int>(name.size()), nullptr, nullptr);
            name.resize(length > 0 ? static_cast<size_t>(length) : 0);
            if (name != "." && name != "..") {
                items.push_back({std::move(name), entry.FileAttributes, entry.FileId.QuadPart});
            }
            if (entry.NextEntryOffset == 0) {
                break;
            }
            at += entry.NextEntryOffset;
        }
    }
    return ::GetLastError() == ERROR_NO_MORE_FILES;
}

// ---- TRemovableFile --------------------------------------------------------------------------

void TRemovableFile::Close() {
    if (handle_ && restoreAttributes_ != 0) {
        SetReadOnly(restoreAttributes_, true);
    }
    restoreAttributes_ = 0;
    handle_.reset();
}

TOpenForRemoval TRemovableFile::Open(const std::string& path) {
    Close();
    path_ = path;
    // FILE_WRITE_ATTRIBUTES: a read-only file has its attribute cleared before it goes.
    handle_.reset(::CreateFileA(path.c_str(), GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN,
                                nullptr));
    if (!handle_ && ::GetLastError() == ERROR_ACCESS_DENIED) {
        // A read-only file may refuse an opening for deletion (the system maps the attribute to
        // permissions there): its attribute is cleared while it is held, and put back by Close.
        const DWORD attributes = ::GetFileAttributesA(path.c_str());
        if (attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
            (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
            ::SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
            handle_.reset(::CreateFileA(path.c_str(), GENERIC_READ | DELETE | FILE_WRITE_ATTRIBUTES, 0,
                                        nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
            if (handle_) {
                restoreAttributes_ = attributes;
            } else {
                ::SetFileAttributesA(path.c_str(), attributes);
                ::SetLastError(ERROR_ACCESS_DENIED);
            }
        } else {
            ::SetLastError(ERROR_ACCESS_DENIED);
        }
    }
    if (handle_) {
        lastError_ = 0;
        return TOpenForRemoval::Opened;
    }
    lastError_ = ::GetLastError();
    if (IsMissingError(lastError_)) {
        return TOpenForRemoval::Missing;
    }
    if (lastError_ == ERROR_SHARING_VIOLATION || lastError_ == ERROR_LOCK_VIOLATION) {
        return TOpenForRemoval::InUse;
    }
    return TOpenForRemoval::Failed;
}

namespace {

// ReadSizeAndDigest through buffer.
bool ReadSizeAndDigestWith(HANDLE file, std::span<char> buffer, int64_t& size, Sha256Digest& digest) {
    LARGE_INTEGER start{};
    if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
        return false;
    }
    Sha256 sha;
    int64_t total = 0;
    while (true) {
        DWORD read = 0;
        if (!::ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr)) {
            return false;
        }
        if (read == 0) {
            break;
        }
        sha.Update(buffer.data(), read);
        total += read;
    }
    size = total;
    digest = sha.Final();
    return true;
}

// A block read into where no buffer is given: on the stack, not zeroed (every byte hashed was read
// into it first), and small enough for any thread's stack.
constexpr size_t kOwnBlockSize = 64 * 1024;

}  // namespace

bool ReadSizeAndDigest(HANDLE file, int64_t& size, Sha256Digest& digest) {
    char buffer[kOwnBlockSize];
    return ReadSizeAndDigestWith(file, buffer, size, digest);
}

TContents CompareContents(HANDLE file, int64_t size, const Sha256Digest& digest, std::span<char> buffer) {
    LARGE_INTEGER length{};
    if (::GetFileSizeEx(file, &length) && length.QuadPart != size) {
        return TContents::Changed;
    }
    char own[kOwnBlockSize];
    int64_t read = 0;
    Sha256Digest actual{};
    if (!ReadSizeAndDigestWith(file, buffer.empty() ? std::span<char>(own) : buffer, read, actual)) {
        return TContents::Unreadable;
    }
    return read == size && actual == digest ? TContents::Same : TContents::Changed;
}

TContents TRemovableFile::Compare(int64_t size, const Sha256Digest& digest, std::span<char> buffer) {
    if (!handle_) {
        return TContents::Unreadable;
    }
    const TContents contents = CompareContents(handle_.get(), size, digest, buffer);
    if (contents == TContents::Unreadable) {
        lastError_ = ::GetLastError();
    }
    return contents;
}

bool TRemovableFile::ReadAll(std::string& contents, size_t limit) {
    LARGE_INTEGER start{};
    if (!handle_ || !::SetFilePointerEx(handle_.get(), start, nullptr, FILE_BEGIN)) {
        return false;
    }
    contents.clear();
    char buffer[16 * 1024];
    while (true) {
        DWORD read = 0;
        if (!::ReadFile(handle_.get(), buffer, sizeof buffer, &read, nullptr)) {
            lastError_ = ::GetLastError();
            return false;
        }
        if (read == 0) {
            return true;
        }
        contents.append(buffer, read);
        if (contents.size() > limit) {
            return false;
        }
    }
}

int64_t TRemovableFile::FileId() const {
    return handle_ ? IdOf(handle_.get()) : -1;
}

bool TRemovableFile::SetDeletion(bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    if (!::SetFileInformationByHandle(handle_.get(), FileDispositionInfo, &disposition, sizeof disposition)) {
        lastError_ = ::GetLastError();
        return false;
    }
    return true;
}

bool TRemovableFile::CanRemove() {
    if (!handle_) {
        return false;
    }
    // A read-only file cannot be marked: its attribute is cleared for the check and put back.
    TItemFacts facts;
    const bool readOnly =
        ReadItemFacts(handle_.get(), facts) && (facts.Attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !SetReadOnly(facts.Attributes, false)) {
        return false;
    }
    // Taken back at once: a check changes nothing.
    const bool removable = SetDeletion(true) && SetDeletion(false);
    if (readOnly) {
        SetReadOnly(facts.Attributes, true);
    }
    return removable;
}

bool TRemovableFile::SetReadOnly(uint32_t attributes, bool readOnly) {
    FILE_BASIC_INFO basic{};  // times of 0 stay as they are
    basic.FileAttributes =
        readOnly ? (attributes | FILE_ATTRIBUTE_READONLY) : (attributes & ~FILE_ATTRIBUTE_READONLY);
    if (basic.FileAttributes == 0) {
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    if (!::SetFileInformationByHandle(handle_.get(), FileBasicInfo, &basic, sizeof basic)) {
        lastError_ = ::GetLastError();
        return false;
    }
    return true;
}

bool TRemovableFile::Remove() {
    if (!handle_) {
        return false;
    }
    TItemFacts facts;
    if (ReadItemFacts(handle_.get(), facts) && (facts.Attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetReadOnly(facts.Attributes, false);
    }
    const bool marked = SetDeletion(true);
    if (!marked && restoreAttributes_ != 0) {
        SetReadOnly(restoreAttributes_, true);
    }
    restoreAttributes_ = 0;
    handle_.reset();  // a file marked for deletion goes when its last handle closes
    if (!marked) {
        return false;
    }
    const DWORD attributes = ::GetFileAttributesA(path_.c_str());
    if (attributes != kNoAttributes) {
        lastError_ = ERROR_ACCESS_DENIED;
        return false;
    }
    return true;
}

// ---- TSafeFolder -----------------------------------------------------------------------------

namespace {

// A folder is held with the right to delete it (an empty created folder goes through its handle)
// and shared for everything but deleting: nobody can rename or remove it meanwhile.
constexpr DWORD kHeldFolderAccess = DELETE | FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES |
                                    READ_CONTROL | WRITE_DAC | SYNCHRONIZE;
constexpr DWORD kHeldFolderShare = FILE_SHARE_READ | FILE_SHARE_WRITE;

std::wstring Wide(const std::string& text) {
    std::wstring wide(text.size() + 1, L'\0');
    const int length =
        ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide.data(), static_cast<int>(wide.size()));
    wide.resize(length > 0 ? static_cast<size_t>(length - 1) : 0);
    return wide;
}

[[noreturn]] void RefuseLink(const std::string& path) {
    throw EUnsafePath(path + ": a link, not followed");
}

// Opens the folder at path for holding; a process that has it as its current folder may keep us
// from the right to delete it, which only an empty created folder's removal needs.
UniqueFileHandle OpenFolder(const std::string& path) {
    UniqueFileHandle folder(
        ::CreateFileA(path.c_str(), kHeldFolderAccess, kHeldFolderShare, nullptr, OPEN_EXISTING,
                      FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder && ::GetLastError() == ERROR_SHARING_VIOLATION) {
        folder.reset(::CreateFileA(path.c_str(), kHeldFolderAccess & ~(DELETE | WRITE_DAC), kHeldFolderShare,
                                   nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    }
    return folder;
}

// The attributes of an open item; a link shows its own.
DWORD HandleAttributes(HANDLE handle) {
    TItemFacts facts;
    return ReadItemFacts(handle, facts) ? facts.Attributes : kNoAttributes;
}

}  // namespace

struct TSafeFolder::Held {
    std::string Key;  // the name in lower case, "." for the root
    UniqueFileHandle Handle;
    std::vector<TFolderItem> Items;  // its listing as read last (see Lists)
};

bool TSafeFolder::Lists(Held& folder, const std::string& name, int64_t id) {
    // An item is looked for in the listing read before: what it shows under that name with that
    // number was there, in this very folder. Only what it does not show is looked for again, in a
    // listing read anew, so that a folder of many files is read once, not once a file.
    const auto shown = [&] {
        return std::any_of(folder.Items.begin(), folder.Items.end(), [&](const TFolderItem& item) {
            return item.FileId == id && SameTextAscii(item.Name, name);
        });
    };
    if (id == -1) {
        return false;
    }
    if (shown()) {
        return true;
    }
    folder.Items.clear();
    if (!ListFolderItems(folder.Handle.get(), folder.Items)) {
        folder.Items.clear();
        return false;
    }
    return shown();
}

TSafeFolder::TSafeFolder(const std::string& root) : root_(WithoutTrailingBackslash(root)) {
    if (!Hold(kDestinationItself, true)) {
        throw EUnsafePath(root_ + ": not a folder that exists");
    }
}

TSafeFolder::~TSafeFolder() = default;

HANDLE TSafeFolder::RootHandle() const {
    return held_.front()->Handle.get();
}

void TSafeFolder::KeepLock(TInstallationLock lock) {
    BY_HANDLE_FILE_INFORMATION root{};
    BY_HANDLE_FILE_INFORMATION locked{};
    if (!lock.Held() || !::GetFileInformationByHandle(RootHandle(), &root) ||
        !::GetFileInformationByHandle(lock.Handle(), &locked) ||
        root.dwVolumeSerialNumber != locked.dwVolumeSerialNumber ||
        root.nFileIndexHigh != locked.nFileIndexHigh || root.nFileIndexLow != locked.nFileIndexLow) {
        throw EUnsafePath(root_ + ": not the folder that was locked");
    }
    lock_.emplace(std::move(lock));
}

TSafeFolder::Held* TSafeFolder::Hold(const std::string& name, bool missingOk) {
    const std::string key = name == kDestinationItself ? name : LowerCaseAscii(name);
    for (const std::unique_ptr<Held>& held : held_) {
        if (held->Key == key) {
            return held.get();
        }
    }
    std::string path = root_;
    Held* parent = nullptr;
    if (name != kDestinationItself) {
        // The parent first: the folders of the chain are held outermost first.
        const size_t cut = name.rfind('\\');
        parent =
            Hold(cut == std::string::npos ? std::string(kDestinationItself) : name.substr(0, cut), missingOk);
        if (parent == nullptr) {
            return nullptr;
        }
        path = AddTrailingBackslash(root_) + name;
    }
    if (IsReparsePoint(path)) {
        RefuseLink(path);
    }
    UniqueFileHandle handle = OpenFolder(path);
    if (!handle) {
        const DWORD error = ::GetLastError();
        if (IsMissingError(error) && missingOk) {
            return nullptr;
        }
        throw EUnsafePath(path + ": cannot be opened (" + SystemErrorText(error) + ")");
    }
    // Checked again once held: what was checked is now what stays.
    const DWORD attributes = HandleAttributes(handle.get());
    if (IsReparsePoint(path) ||
        (attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
        RefuseLink(path);
    }
    if (attributes == kNoAttributes || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        throw EUnsafePath(path + ": not a folder");
    }
    // The path is looked up again by the opening: what it reached must be the folder that the
    // held parent lists under that name, not one that a folder of the chain swapped for a link
    // leads to.
    if (parent != nullptr && !Lists(*parent, ExtractFileName(name), IdOf(handle.get()))) {
        RefuseLink(path);
    }
    held_.push_back(std::make_unique<Held>(Held{key, std::move(handle), {}}));
    return held_.back().get();
}

std::string TSafeFolder::PathOf(std::string_view name) {
    const std::string path = NewItemPath(name);
    if (name != kDestinationItself && IsReparsePoint(path)) {
        RefuseLink(path);
    }
    return path;
}

std::string TSafeFolder::NewItemPath(std::string_view name) {
    if (name == kDestinationItself) {
        Hold(kDestinationItself, false);
        return root_;
    }
    if (!IsSafeRelativeName(name)) {
        throw EUnsafePath(std::string(name) + ": not a name inside " + root_);
    }
    const std::string text(name);
    const size_t cut = text.rfind('\\');
    Hold(cut == std::string::npos ? std::string(kDestinationItself) : text.substr(0, cut), true);
    return AddTrailingBackslash(root_) + text;
}

bool TSafeFolder::HoldFolder(std::string_view name) {
    if (name != kDestinationItself && !IsSafeRelativeName(name)) {
        throw EUnsafePath(std::string(name) + ": not a name inside " + root_);
    }
    return Hold(std::string(name), true) != nullptr;
}

bool TSafeFolder::MakeFolder(std::string_view name, SECURITY_ATTRIBUTES* security) {
    const std::string path = PathOf(name);
    bool made = true;
    if (!::CreateDirectoryA(path.c_str(), security)) {
        const DWORD code = ::GetLastError();
        if (code != ERROR_ALREADY_EXISTS) {
            throw EInOutError(
                Format("Cannot create folder %s (%s)", path.c_str(), SystemErrorText(code).c_str()), code);
        }
        made = false;
    }
    if (Hold(std::string(name), true) == nullptr) {
        throw EInOutError(Format("Cannot create folder %s (%s)", path.c_str(),
                                 SystemErrorText(ERROR_PATH_NOT_FOUND).c_str()),
                          ERROR_PATH_NOT_FOUND);
    }
    return made;
}

UniqueFileHandle TSafeFolder::CreateNewFile(std::string_view name) {
    const std::string path = NewItemPath(name);
    UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ,
                                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        throw EFCreateError(
            Format("Cannot create file %s (%s)", path.c_str(), SystemErrorText(::GetLastError()).c_str()));
    }
    return file;
}

uint32_t TSafeFolder::RenameOpenFile(HANDLE file, std::string_view name, bool replace) {
    // A rename that may not replace fails on anything there; one that may is not let near a link.
    const std::wstring target = Wide(replace ? PathOf(name) : NewItemPath(name));
    // The structure ends in the name, which runs past its declared one-character array.
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + target.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = replace ? TRUE : FALSE;
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(target.size() * sizeof(wchar_t));
    std::copy(target.begin(), target.end(), rename->FileName);
    if (!::SetFileInformationByHandle(file, FileRenameInfo, rename, static_cast<DWORD>(buffer.size()))) {
        return ::GetLastError();
    }
    return ERROR_SUCCESS;
}

uint32_t TSafeFolder::MoveFile(std::string_view from, std::string_view to, bool replace) {
    const std::string path = PathOf(from);
    const UniqueFileHandle file(::CreateFileA(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file) {
        return ::GetLastError();
    }
    const DWORD attributes = HandleAttributes(file.get());
    if (attributes == kNoAttributes ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
        return ERROR_ACCESS_DENIED;
    }
    return RenameOpenFile(file.get(), to, replace);
}

bool TSafeFolder::Exists(std::string_view name) {
    const std::string path = AddTrailingBackslash(root_) + std::string(name);
    if (name != kDestinationItself && !IsSafeRelativeName(name)) {
        throw EUnsafePath(std::string(name) + ": not a name inside " + root_);
    }
    WIN32_FIND_DATAA found{};
    const UniqueFindHandle search(
        ::FindFirstFileA(name == kDestinationItself ? root_.c_str() : path.c_str(), &found));
    return static_cast<bool>(search) || ::GetFileAttributesA(path.c_str()) != kNoAttributes;
}

TOpenForRemoval TSafeFolder::OpenForRemoval(std::string_view name, TRemovableFile& file) {
    const std::string path = PathOf(name);
    // Every check by path is behind here: a folder of the chain swapped for a link from now on
    // leads the opening elsewhere, which only the check of what was opened can tell.
    OpenPoint("a file to remove");
    const TOpenForRemoval opened = file.Open(path);
    if (opened != TOpenForRemoval::Opened) {
        return opened;
    }
    // The path is looked up once more by the opening: what it reached must be the item that the
    // folder held since the check lists under that name, read through the folder's own handle.
    const std::string text(name);
    const size_t cut = text.rfind('\\');
    Held* folder =
        Hold(cut == std::string::npos ? std::string(kDestinationItself) : text.substr(0, cut), true);
    if (folder != nullptr && Lists(*folder, ExtractFileName(text), file.FileId())) {
        return opened;
    }
    file.Close();
    return TOpenForRemoval::Elsewhere;
}

bool TSafeFolder::RemoveFile(std::string_view name) {
    TRemovableFile file;
    const TOpenForRemoval opened = OpenForRemoval(name, file);
    return opened == TOpenForRemoval::Missing || (opened == TOpenForRemoval::Opened && file.Remove());
}

bool TSafeFolder::MoveOut(std::string_view name, const std::string& target) {
    const std::string path = PathOf(name);
    // No MOVEFILE_COPY_ALLOWED: a copy to another drive would have to delete the original after all.
    return ::MoveFileExA(path.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool TSafeFolder::RemoveAtRestart(std::string_view name) {
    const std::string path = PathOf(name);
    return ::MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool TSafeFolder::RemoveEmptyFolder(std::string_view name) {
    if (name != kDestinationItself && !IsSafeRelativeName(name)) {
        throw EUnsafePath(std::string(name) + ": not a name inside " + root_);
    }
    const std::string path =
        name == kDestinationItself ? root_ : AddTrailingBackslash(root_) + std::string(name);
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != kNoAttributes && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return false;
    }
    Held* held = Hold(std::string(name), true);
    if (held == nullptr) {
        return true;
    }
    // Nothing is ever removed with its contents: the system refuses to mark a folder that holds
    // anything.
    if (!List(name).empty()) {
        return false;
    }
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (!::SetFileInformationByHandle(held->Handle.get(), FileDispositionInfo, &disposition,
                                      sizeof disposition)) {
        // Taken back: a refused mark must not leave the folder pending deletion.
        disposition.DeleteFile = FALSE;
        ::SetFileInformationByHandle(held->Handle.get(), FileDispositionInfo, &disposition,
                                     sizeof disposition);
        return false;
    }
    // A folder goes when its last handle closes: the folders below it were let go of already, since
    // it was empty; the lock of the root goes with the root.
    held->Handle.reset();
    if (held->Key == kDestinationItself) {
        lock_.reset();
    }
    std::erase_if(held_, [held](const std::unique_ptr<Held>& item) { return item.get() == held; });
    return true;
}

std::vector<std::string> TSafeFolder::List(std::string_view name) {
    std::vector<std::string> names;
    if (name != kDestinationItself && !IsSafeRelativeName(name)) {
        throw EUnsafePath(std::string(name) + ": not a name inside " + root_);
    }
    Held* held = Hold(std::string(name), true);
    std::vector<TFolderItem> items;
    if (held == nullptr) {
        return names;
    }
    ListFolderItems(held->Handle.get(), items);
    for (TFolderItem& item : items) {
        names.push_back(std::move(item.Name));
    }
    return names;
}
