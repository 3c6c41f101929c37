#include "lifecycle/install_transaction.h"

#include <algorithm>
#include <utility>

#include "archive/sha256.h"
#include "framework/sysutils.h"
#include "lifecycle/fault_point.h"
#include "lifecycle/installed_shortcut.h"
#include "lifecycle/removal_plan.h"

namespace {

// The engine's view of a system error code.
TFsStatus StatusOf(DWORD code) {
    constexpr std::pair<DWORD, TFsStatus> kStatuses[] = {{ERROR_SUCCESS, TFsStatus::Ok},
                                                         {ERROR_FILE_NOT_FOUND, TFsStatus::NotFound},
                                                         {ERROR_PATH_NOT_FOUND, TFsStatus::NotFound},
                                                         {ERROR_FILE_EXISTS, TFsStatus::Exists},
                                                         {ERROR_ALREADY_EXISTS, TFsStatus::Exists},
                                                         {ERROR_DISK_FULL, TFsStatus::DiskFull},
                                                         {ERROR_HANDLE_DISK_FULL, TFsStatus::DiskFull},
                                                         {ERROR_ACCESS_DENIED, TFsStatus::Denied},
                                                         {ERROR_CANT_ACCESS_FILE, TFsStatus::Denied},
                                                         {ERROR_SHARING_VIOLATION, TFsStatus::InUse},
                                                         {ERROR_LOCK_VIOLATION, TFsStatus::InUse},
                                                         {ERROR_USER_MAPPED_FILE, TFsStatus::InUse},
                                                         {ERROR_DIR_NOT_EMPTY, TFsStatus::NotEmpty}};
    for (const auto& [known, status] : kStatuses) {
        if (known == code) {
            return status;
        }
    }
    return TFsStatus::Failed;
}

TRegistrationScope ScopeNamed(std::string_view name) {
    return name == "machine" ? TRegistrationScope::Machine : TRegistrationScope::User;
}

// A file of the folder open for writing; flushed to the disk by Flush. folder: the folder object
// it was made in, for MoveTo (nullptr: it cannot be moved).
class TSafeFolderFile : public TFsFile {
  public:
    TSafeFolderFile(UniqueFileHandle handle, TSafeFolder* folder)
        : handle_(std::move(handle)), folder_(folder) {}
    TFsStatus Write(std::string_view data) override {
        while (!data.empty()) {
            DWORD written = 0;
            const DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size(), 1 << 20));
            if (!::WriteFile(handle_.get(), data.data(), chunk, &written, nullptr) || written == 0) {
                return StatusOf(::GetLastError());
            }
            data.remove_prefix(written);
        }
        return TFsStatus::Ok;
    }
    TFsStatus Flush() override {
        return ::FlushFileBuffers(handle_.get()) ? TFsStatus::Ok : StatusOf(::GetLastError());
    }
    TFsStatus Identify(uint64_t& id) override {
        TItemFacts facts;
        if (!ReadItemFacts(handle_.get(), facts)) {
            return StatusOf(::GetLastError());
        }
        id = facts.Id;
        return TFsStatus::Ok;
    }
    TFsStatus MoveTo(std::string_view to) override {
        if (folder_ == nullptr) {
            return TFsStatus::Failed;
        }
        try {
            return StatusOf(folder_->RenameOpenFile(handle_.get(), to, false));
        } catch (const EUnsafePath&) {
            return TFsStatus::Denied;
        }
    }
    HANDLE Handle() const { return handle_.get(); }

  private:
    UniqueFileHandle handle_;
    TSafeFolder* folder_;
};

}  // namespace

// The folder object as the engine's file system: every name through PathOf's checks (no link, held
// folders), files opened without following a link at their end.
class TSafeFolderFileSystem : public TFileSystem {
  public:
    // lasting: the folder object outlives the files made through this (they can be moved).
    TSafeFolderFileSystem(TSafeFolder& folder, SECURITY_ATTRIBUTES* security, bool lasting = true)
        : folder_(folder), security_(security), lasting_(lasting) {}

    TFsStatus CreateNew(std::string_view name, std::unique_ptr<TFsFile>& file) override {
        return Guarded([&] {
            const std::string path = folder_.NewItemPath(name);
            UniqueFileHandle handle(::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                                  FILE_SHARE_READ, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                                                  nullptr));
            if (!handle) {
                return StatusOf(::GetLastError());
            }
            file = std::make_unique<TSafeFolderFile>(std::move(handle), lasting_ ? &folder_ : nullptr);
            return TFsStatus::Ok;
        });
    }
    TFsStatus OpenToAppend(std::string_view name, uint64_t length, std::unique_ptr<TFsFile>& file) override {
        return Guarded([&] {
            UniqueFileHandle handle = Open(name, GENERIC_WRITE);
            LARGE_INTEGER end{};
            end.QuadPart = static_cast<LONGLONG>(length);
            if (!handle || !::SetFilePointerEx(handle.get(), end, nullptr, FILE_BEGIN) ||
                !::SetEndOfFile(handle.get())) {
                return StatusOf(::GetLastError());
            }
            file = std::make_unique<TSafeFolderFile>(std::move(handle), lasting_ ? &folder_ : nullptr);
            return TFsStatus::Ok;
        });
    }
    TFsStatus Rename(std::string_view from, std::string_view to, bool replace) override {
        return Guarded([&] { return StatusOf(folder_.MoveFile(from, to, replace)); });
    }
    TFsStatus Remove(std::string_view name) override {
        return Guarded([&] {
            TRemovableFile file;
            switch (folder_.OpenForRemoval(name, file)) {
                case TOpenForRemoval::Missing:
                    return TFsStatus::NotFound;
                case TOpenForRemoval::InUse:
                    return TFsStatus::InUse;
                case TOpenForRemoval::Elsewhere:
                    return TFsStatus::Denied;
                case TOpenForRemoval::Opened:
                    return file.Remove() ? TFsStatus::Ok : StatusOf(file.LastError());
                case TOpenForRemoval::Failed:
                    break;
            }
            return StatusOf(file.LastError());
        });
    }
    TFsStatus MakeFolder(std::string_view name) override {
        return Guarded([&] {
            try {
                return folder_.MakeFolder(name, security_) ? TFsStatus::Ok : TFsStatus::Exists;
            } catch (const EInOutError& error) {
                return StatusOf(error.ErrorCode());
            }
        });
    }
    TFsStatus RemoveFolder(std::string_view name) override {
        return Guarded([&] {
            if (folder_.RemoveEmptyFolder(name)) {
                return TFsStatus::Ok;
            }
            return folder_.List(name).empty() ? TFsStatus::Denied : TFsStatus::NotEmpty;
        });
    }
    TFsStatus List(std::string_view name, std::vector<std::string>& names) override {
        return Guarded([&] {
            names = folder_.List(name);
            return TFsStatus::Ok;
        });
    }
    TFsStatus Identify(std::string_view name, TItemInfo& info) override {
        info = TItemInfo();
        return Guarded([&] {
            if (!folder_.Exists(name)) {
                return TFsStatus::Ok;
            }
            const UniqueFileHandle handle = Open(name, FILE_READ_ATTRIBUTES);
            TItemFacts facts;
            if (!handle || !ReadItemFacts(handle.get(), facts)) {
                return StatusOf(::GetLastError());
            }
            if ((facts.Attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
                return TFsStatus::Denied;  // a link is nothing of ours
            }
            info.Kind =
                (facts.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? TItemKind::Directory : TItemKind::File;
            info.Size = facts.Size;
            info.Id = facts.Id;
            return TFsStatus::Ok;
        });
    }
    TFsStatus Measure(std::string_view name, int64_t& size, Sha256Digest& digest) override {
        return Guarded([&] {
            const UniqueFileHandle handle = Open(name, GENERIC_READ);
            return handle && ReadSizeAndDigest(handle.get(), size, digest) ? TFsStatus::Ok
                                                                           : StatusOf(::GetLastError());
        });
    }
    TFsStatus Read(std::string_view name, size_t limit, std::string& contents) override {
        return Guarded([&] {
            const UniqueFileHandle handle = Open(name, GENERIC_READ);
            if (!handle) {
                return StatusOf(::GetLastError());
            }
            contents.clear();
            char buffer[64 * 1024];
            DWORD read = 0;
            while (::ReadFile(handle.get(), buffer, sizeof buffer, &read, nullptr) && read != 0) {
                contents.append(buffer, read);
                if (contents.size() > limit) {
                    return TFsStatus::Failed;
                }
            }
            return read == 0 ? TFsStatus::Ok : StatusOf(::GetLastError());
        });
    }

  private:
    // Runs action; a name that is not safe, or a link on the way, is access denied.
    template <typename Action>
    TFsStatus Guarded(Action action) {
        try {
            return action();
        } catch (const EUnsafePath&) {
            return TFsStatus::Denied;
        }
    }
    // Opens the item name (a folder too) without following a link at its end.
    UniqueFileHandle Open(std::string_view name, DWORD access) {
        const std::string path = folder_.PathOf(name);
        return UniqueFileHandle(::CreateFileA(
            path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
            OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    }

    TSafeFolder& folder_;
    SECURITY_ATTRIBUTES* security_;
    bool lasting_;
};

namespace {

// The folder above a new destination as the engine's file system, for the few operations that make
// or take away the destination's chain of folders. The folder object is opened for each operation
// and let go of after it: a folder that is held open, or that holds an open item, cannot be renamed,
// and putting the chain in place renames its first folder.
//
// While a run builds the chain, it holds the chain's first folder open, sharing it with nobody who
// would delete it; and before any run deletes or renames an item of a chain, it opens that first
// folder to delete it. So a second run that finds a chain still being built (to clear it as a
// leftover of a killed run) gets "in use" before it has touched anything, not the first run's
// folders and journal.
class TFolderAboveFileSystem : public TFileSystem {
  public:
    TFolderAboveFileSystem(std::string root, SECURITY_ATTRIBUTES* security)
        : root_(std::move(root)), security_(security) {}

    TFsStatus CreateNew(std::string_view name, std::unique_ptr<TFsFile>& file) override {
        return With([&](TFileSystem& fs) { return fs.CreateNew(name, file); });
    }
    TFsStatus OpenToAppend(std::string_view name, uint64_t length, std::unique_ptr<TFsFile>& file) override {
        return With([&](TFileSystem& fs) { return fs.OpenToAppend(name, length, file); });
    }
    TFsStatus Rename(std::string_view from, std::string_view to, bool replace) override {
        if (const TFsStatus claim = Claim(from); claim != TFsStatus::Ok) {
            return claim;
        }
        TItemInfo info;
        if (const TFsStatus status = Identify(from, info); status != TFsStatus::Ok) {
            return status;
        }
        if (info.Kind != TItemKind::Directory) {
            return With([&](TFileSystem& fs) { return fs.Rename(from, to, replace); });
        }
        // Identify refused a link; the folders above were judged before anything was made.
        const std::string source = AddTrailingBackslash(root_) + std::string(from);
        const std::string target = AddTrailingBackslash(root_) + std::string(to);
        if (!IsSafeRelativeName(from) || !IsSafeRelativeName(to) || IsReparsePoint(source)) {
            return TFsStatus::Denied;
        }
        return ::MoveFileExA(source.c_str(), target.c_str(), 0) ? TFsStatus::Ok : StatusOf(::GetLastError());
    }
    TFsStatus Remove(std::string_view name) override {
        if (const TFsStatus claim = Claim(name); claim != TFsStatus::Ok) {
            return claim;
        }
        return With([&](TFileSystem& fs) { return fs.Remove(name); });
    }
    TFsStatus MakeFolder(std::string_view name) override {
        const TFsStatus status = With([&](TFileSystem& fs) { return fs.MakeFolder(name); });
        if (status == TFsStatus::Ok && name.find('\\') == std::string_view::npos) {
            held_ = OpenFirstFolder(name, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE);
        }
        return status;
    }
    TFsStatus RemoveFolder(std::string_view name) override {
        if (const TFsStatus claim = Claim(name); claim != TFsStatus::Ok) {
            return claim;
        }
        return With([&](TFileSystem& fs) { return fs.RemoveFolder(name); });
    }
    TFsStatus List(std::string_view name, std::vector<std::string>& names) override {
        return With([&](TFileSystem& fs) { return fs.List(name, names); });
    }
    TFsStatus Identify(std::string_view name, TItemInfo& info) override {
        return With([&](TFileSystem& fs) { return fs.Identify(name, info); });
    }
    TFsStatus Measure(std::string_view name, int64_t& size, Sha256Digest& digest) override {
        return With([&](TFileSystem& fs) { return fs.Measure(name, size, digest); });
    }
    TFsStatus Read(std::string_view name, size_t limit, std::string& contents) override {
        return With([&](TFileSystem& fs) { return fs.Read(name, limit, contents); });
    }

  private:
    // The first folder of name's chain, opened without following a link.
    UniqueFileHandle OpenFirstFolder(std::string_view name, DWORD access, DWORD sharing) const {
        const std::string first = AddTrailingBackslash(root_) + std::string(name.substr(0, name.find('\\')));
        return UniqueFileHandle(
            ::CreateFileA(first.c_str(), access | SYNCHRONIZE, sharing, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    }
    // Lets go of this run's own chain, then checks that no other run is building the chain that
    // name lies in: Ok, or InUse when another run holds its first folder.
    TFsStatus Claim(std::string_view name) {
        held_ = UniqueFileHandle();
        if (OpenFirstFolder(name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
            return TFsStatus::Ok;
        }
        return ::GetLastError() == ERROR_SHARING_VIOLATION ? TFsStatus::InUse : TFsStatus::Ok;
    }

    template <typename Action>
    TFsStatus With(Action action) {
        try {
            TSafeFolder folder(root_);
            TSafeFolderFileSystem fs(folder, security_, false);
            return action(fs);
        } catch (const EUnsafePath&) {
            return TFsStatus::Denied;
        }
    }

    std::string root_;
    SECURITY_ATTRIBUTES* security_;
    UniqueFileHandle held_;  // the first folder of the chain this run is building
};

// The folder that exists above first (a full path) and the chain from it down to destination.
std::pair<std::string, std::string> ChainOf(const std::string& first, const std::string& destination) {
    const std::string above = WithoutTrailingBackslash(ExtractFilePath(first));
    return {above, destination.substr(AddTrailingBackslash(above).size())};
}

// The folder at path as the file system reaches it. The chain of a new destination may start in a
// link (a junction to another drive): the links on the way were judged with the folders they reach,
// and the chain is made in the folder reached, while the record keeps the path as spelled. path
// itself when it is no link or the system cannot say where it leads.
std::string FolderReached(const std::string& path) {
    if (!IsReparsePoint(path)) {
        return path;
    }
    const UniqueFileHandle folder(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    char reached[MAX_PATH + 8] = {};
    const DWORD length = folder ? ::GetFinalPathNameByHandleA(folder.get(), reached, sizeof reached,
                                                              FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)
                                : 0;
    if (length == 0 || length >= sizeof reached) {
        return path;
    }
    std::string resolved(reached, length);
    if (resolved.rfind("\\\\?\\", 0) == 0) {
        resolved.erase(0, 4);
    }
    const bool lettered = resolved.size() >= 3 && resolved[1] == ':' && resolved[2] == '\\';
    return lettered ? WithoutTrailingBackslash(resolved) : path;
}

}  // namespace

TMadeFolders MakeNewDestination(const std::string& first,
                                const std::string& destination,
                                SECURITY_ATTRIBUTES* security) {
    const auto [above, chain] = ChainOf(first, destination);
    TFolderAboveFileSystem fs(FolderReached(above), security);
    TMadeFolders made = PrepareNewDestination(fs, above, chain, destination);
    OpenPoint("a new destination to put in place");
    PlaceNewDestination(fs, above, chain);
    return made;
}

bool WithdrawNewDestination(const std::string& first, const std::string& destination) {
    const auto [above, chain] = ChainOf(first, destination);
    TFolderAboveFileSystem fs(FolderReached(above), nullptr);
    try {
        return WithdrawNewDestination(fs, above, chain);
    } catch (const ETransactionFailed&) {
        return false;  // left under its temporary name: the next run clears it
    }
}

HANDLE TNewFile::Handle() const {
    const auto* file = dynamic_cast<const TSafeFolderFile*>(File.File.get());
    return file != nullptr ? file->Handle() : nullptr;
}

std::string TWindowsSystemItems::EntryFolder(std::string_view scope) {
    return RegisteredInstallLocation(ScopeNamed(scope)).value_or("");
}

void TWindowsSystemItems::WriteEntry(std::string_view, const std::string& folder) {
    WriteUninstallEntry(MakeUninstallEntry(folder, 0, Today()));
}

void TWindowsSystemItems::DeleteEntry(std::string_view scope) {
    DeleteUninstallEntry(ScopeNamed(scope));
}

bool TWindowsSystemItems::RemoveShortcut(const std::string& path) {
    return RemoveRecordedShortcut(path, destination_);
}

bool RemoveEmptyFolderAbove(const std::string& path, uint64_t id) {
    if (IsReparsePoint(path)) {
        return false;
    }
    const UniqueFileHandle folder(::CreateFileA(
        path.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE, FILE_SHARE_READ | FILE_SHARE_WRITE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    // Another folder of that name (one made since, or one the setup never made) stays.
    TItemFacts facts;
    if (!ReadItemFacts(folder.get(), facts) || facts.Id != id) {
        return false;
    }
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    if (::SetFileInformationByHandle(folder.get(), FileDispositionInfo, &disposition, sizeof disposition)) {
        return true;
    }
    // Taken back: a refused mark (a folder that is not empty) must not leave it pending deletion.
    disposition.DeleteFile = FALSE;
    ::SetFileInformationByHandle(folder.get(), FileDispositionInfo, &disposition, sizeof disposition);
    return false;
}

uint64_t IdentityOf(HANDLE item) {
    TItemFacts facts;
    return ReadItemFacts(item, facts) ? facts.Id : 0;
}

UniqueFileHandle DuplicateFileHandle(HANDLE file) {
    HANDLE copy = nullptr;
    if (!::DuplicateHandle(::GetCurrentProcess(), file, ::GetCurrentProcess(), &copy, 0, FALSE,
                           DUPLICATE_SAME_ACCESS)) {
        return UniqueFileHandle();
    }
    return UniqueFileHandle(copy);
}

TInstallTransaction::TInstallTransaction(TSafeFolder& folder,
                                         const std::string& destination,
                                         const std::vector<std::string>& madeAbove,
                                         bool madeDestination,
                                         SECURITY_ATTRIBUTES* security)
    : folder_(folder), fs_(std::make_unique<TSafeFolderFileSystem>(folder, security)), system_(destination) {
    // The folders made for the destination are in the journal that hands it over (see
    // MakeNewDestination): what the caller knows of them is not needed here.
    static_cast<void>(madeAbove);
    static_cast<void>(madeDestination);
    engine_.emplace(*fs_, system_, destination);
}

TInstallTransaction::~TInstallTransaction() = default;

bool TInstallTransaction::MakeFolder(std::string_view name) {
    return engine_->MakeFolder(name);
}

TNewFile TInstallTransaction::NewFile(std::string_view name) {
    TNewFile file;
    file.File = engine_->NewFile(name);
    file.Name = file.File.Name;
    return file;
}

std::vector<TNewFile> TInstallTransaction::NewFiles(const std::vector<std::string>& names) {
    std::vector<TNewFile> files;
    for (TTransaction::TNewFile& made : engine_->NewFiles(names)) {
        files.emplace_back();
        files.back().Name = made.Name;
        files.back().File = std::move(made);
    }
    return files;
}

TFileOutcome TInstallTransaction::Place(TNewFile& file,
                                        std::string_view name,
                                        TReplaceRule rule,
                                        const Sha256Digest* digest) {
    return engine_->Place(file.File, name, rule, digest);
}

TFileOutcome TInstallTransaction::InstallText(std::string_view name,
                                              std::string_view text,
                                              TReplaceRule rule) {
    return engine_->InstallFile(name, text, rule);
}

TFileOutcome TInstallTransaction::CopyToBackup(std::string_view name) {
    return engine_->CopyToBackup(name);
}

void TInstallTransaction::WillWriteEntry(TRegistrationScope scope, const std::string& previous) {
    engine_->WillWriteEntry(scope == TRegistrationScope::Machine ? "machine" : "user", previous);
}

void TInstallTransaction::WillWriteShortcut(const std::string& path) {
    engine_->WillWriteShortcut(path);
}

void TInstallTransaction::Commit() {
    engine_->Commit();
}

std::vector<std::string> TInstallTransaction::RollBack() {
    return engine_->RollBack();
}

std::vector<std::string> RecoverInterruptedRun(TSafeFolder& folder, TMadeFolders* made) {
    TSafeFolderFileSystem fs(folder, nullptr);
    TWindowsSystemItems system(folder.Root());
    TRecovery recovery = RecoverInterruptedRun(fs, system, folder.Root());
    if (made != nullptr) {
        *made = recovery.Made;
    }
    return recovery.Lines;
}
