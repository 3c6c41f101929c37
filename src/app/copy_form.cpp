#include "app/copy_form.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "app/install_front_end.h"
#include "app/install_state.h"
#include "app/preflight.h"
#include "archive/compress.h"
#include "framework/application.h"
#include "framework/file_stream.h"
#include "framework/string_list.h"
#include "framework/sysutils.h"
#include "framework/unique_handle.h"
#include "lifecycle/removal_plan.h"
#include "widgets/gauges.h"

TfrmCopy* frmCopy = nullptr;

TfrmCopy::TfrmCopy(TComponent* owner) : TForm(owner) {
    AddHandler("btnCopyCancelClick", TNotifyEvent([this](TObject* sender) { btnCopyCancelClick(sender); }));
    AddHandler("Compress1ShowProgress",
               TShowProgressEvent([this](int32_t& percentage) { Compress1ShowProgress(percentage); }));
    ReadLayout("FRMCOPY");
    Panel3 = FindField<TPanel>("Panel3");
    Gauge1 = FindField<TGauge>("Gauge1");
    Label1 = FindField<TLabel>("Label1");
    btnCopyCancel = FindField<TButton>("btnCopyCancel");
    Label2 = FindField<TLabel>("Label2");
    Compress1 = FindField<TCompress>("Compress1");
    DoCreate();
}

void TfrmCopy::btnCopyCancelClick(TObject*) {
    // Only hides the window; the loop goes on regardless. (Under /SILENT this window is the
    // application's main window, where closing would end the application.)
    Hide();
}

void TfrmCopy::Compress1ShowProgress(int32_t& PercentageDone) {
    // The overall position: the entries done so far plus this one's share. PercentageDone is
    // left as it came, so the expansion goes on.
    const int32_t before = Gauge1->Progress();
    Gauge1->SetProgress(((InstallState.CurrentFileNumber - 1) * 100 + PercentageDone) /
                        InstallState.FileCount);
    // A screen reader that hears of a new value asks for it at once: its question is answered now,
    // while the value is shown, not after the file (or after the window has gone).
    if (Gauge1->Progress() != before) {
        Application->ProcessMessages();
    }
}

namespace {

// The size and SHA-256 of the file name in folder as it is now; false when it cannot be read.
bool MeasureFile(TSafeFolder& folder, const std::string& name, int64_t& size, Sha256Digest& digest) {
    const std::string path = folder.PathOf(name);
    const UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_READ,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return file && ReadSizeAndDigest(file.get(), size, digest);
}

// Makes the folders of name's folder part under base ("" or "Backup\") that are missing, as steps of
// the run.
void MakeFoldersOf(TInstallRun& run, const std::string& base, const std::string& name) {
    if (!base.empty()) {
        run.Transaction->MakeFolder(WithoutTrailingBackslash(base), run.Security);
    }
    for (const std::string& folder : FolderPartsOf(name)) {
        run.Transaction->MakeFolder(base + folder, run.Security);
    }
}

// A drive that has no room left: the failure of a write there is told as such, with the file and
// the drive, instead of the bare stream error.
bool DriveIsFull(const std::string& folder, int64_t wanted) {
    const std::optional<TDriveSpace> space = DriveSpaceOf(folder);
    return space && space->FreeClusters * space->ClusterSize < std::max<int64_t>(wanted, 1);
}

// "C:" of "C:\...", "\\server\share" of a network path.
std::string DriveOf(const std::string& path) {
    if (path.size() >= 2 && path[1] == ':') {
        return path.substr(0, 2);
    }
    const size_t share = path.find('\\', path.find('\\', 2) + 1);
    return path.substr(0, share);
}

// ".txt" of "a\b.txt"; empty when the file name has no dot.
std::string ExtractFileExt(const std::string& name) {
    const size_t dot = name.rfind('.');
    const size_t slash = name.rfind('\\');
    return dot == std::string::npos || (slash != std::string::npos && dot < slash) ? std::string()
                                                                                   : name.substr(dot);
}

}  // namespace

bool TInstallRun::IsRecordedFile(const std::string& name, int64_t size, const Sha256Digest& digest) const {
    if (!Previous) {
        return false;
    }
    return std::any_of(Previous->Files.begin(), Previous->Files.end(), [&](const TRecordedFile& file) {
        return SameTextAscii(file.Name, name) && file.Size == size && file.Digest == digest;
    });
}

std::string BackupNameFor(TSafeFolder& folder, const std::string& name, bool known, bool& replaces) {
    const std::string backup = "Backup\\" + name;
    replaces = false;
    if (!folder.Exists(backup)) {
        return backup;
    }
    // A backup that holds the very same bytes loses nothing when it is replaced.
    int64_t size = -1;
    int64_t backupSize = -2;
    Sha256Digest digest{};
    Sha256Digest backupDigest{};
    const bool same = MeasureFile(folder, name, size, digest) &&
                      MeasureFile(folder, backup, backupSize, backupDigest) && size == backupSize &&
                      digest == backupDigest;
    if (known || same) {
        replaces = true;
        return backup;
    }
    const std::string extension = ExtractFileExt(name);
    const std::string stem = backup.substr(0, backup.size() - extension.size());
    for (int number = 2; number < 10000; ++number) {
        std::string candidate = stem + " (" + IntToStr(number) + ")" + extension;
        if (!folder.Exists(candidate)) {
            return candidate;
        }
    }
    throw EBackupFailed(Format(kBackupFailed, (AddTrailingBackslash(folder.Root()) + name).c_str(),
                               (AddTrailingBackslash(folder.Root()) + "Backup").c_str()));
}

void MoveAwayReplaced(TInstallRun& run,
                      const std::string& name,
                      bool backups,
                      const std::optional<Sha256Digest>& newDigest,
                      TBackupAction& backup) {
    TInstallTransaction& transaction = *run.Transaction;
    TSafeFolder& folder = *run.Folder;
    if (!backups) {
        // Renamed aside, not deleted: a failure later puts it back. It goes when the run completes
        // (a running program's file at the next restart).
        transaction.SetAside(name);
        return;
    }
    int64_t size = -1;
    Sha256Digest digest{};
    const bool measured = MeasureFile(folder, name, size, digest);
    const bool known =
        measured && (run.IsRecordedFile(name, size, digest) || (newDigest && *newDigest == digest));
    bool replaces = false;
    const std::string backupName = BackupNameFor(folder, name, known, replaces);
    try {
        MakeFoldersOf(run, "Backup\\", name);
        if (replaces) {
            transaction.SetAside(backupName);
        }
        transaction.MoveToBackup(name, backupName);
    } catch (const EInOutError&) {
        throw EBackupFailed(Format(kBackupFailed, folder.PathOf(name).c_str(),
                                   (AddTrailingBackslash(folder.Root()) + "Backup").c_str()));
    }
    backup = TBackupAction::Moved;
}

void TfrmCopy::ExtractAllFiles(TInstallFrontEnd& frontEnd, TInstallRun& run) {
    TInstallState& state = InstallState;
    const std::unique_ptr<TStream> archive = Compress1->LoadArchiveResource("data", "");
    // The whole archive against the digest the build recorded: damage anywhere in it, headers and
    // names included, stops here.
    CheckEmbeddedArchive(*archive);
    Compress1->MakeDirectories = true;
    // The stored window skips an entry whose file cannot be created, which would end the setup
    // with "complete" although files are missing: such an entry stops the installation instead,
    // with the create error ("Cannot create file <path>") like every other failure of the loop.
    Compress1->ExceptionOnFileError = true;
    Compress1->SetTargetPath(state.DestinationFolder);
    TStringList entries;
    TStringList selection;
    Compress1->ListArchiveFiles(*archive, entries);
    state.FileCount = entries.Count();
    state.CurrentFileNumber = 0;
    state.DestinationWithBackslash = AddTrailingBackslash(state.DestinationFolder);
    if (state.FileCount == 0) {
        return;
    }

    // Every entry is decoded and checked once, in one walk, before the first file is touched, and
    // the expansion must reach every listed entry: a damaged setup file stops here with the error
    // that its expansion would raise. Then whatever the loop would meet in the destination (a file
    // that cannot be replaced, a link, a full drive) stops it before the first change too.
    Compress1->CheckListedEntries(*archive, entries, [this](const std::string& name) {
        Label1->SetCaption("Checking: " + name);
        Application->ProcessMessages();
    });
    CheckBeforeFirstChange(entries, *run.Folder, state.BackupReplacedFiles,
                           DriveSpaceOf(state.DestinationFolder), run.RegistrationBytes,
                           run.Previous.has_value());

    TSafeFolder& folder = *run.Folder;
    TInstallTransaction& transaction = run.Transaction ? *run.Transaction : run.Begin();
    const TFilenameCheckEvent outer = Compress1->OnCheckFile;
    for (int index = 0; index < state.FileCount; ++index) {
        const std::string name = entries[index];
        const std::string target = state.DestinationWithBackslash + name;
        state.CurrentFileNumber = state.CurrentFileNumber + 1;
        TBackupAction backup = TBackupAction::None;
        Label1->SetCaption("Extracting: " + name);
        Application->ProcessMessages();

        const bool exists = folder.Exists(name);
        const bool keep = exists && UpperCaseAscii(name) == "SITES.INI" && frontEnd.AskKeepSiteDatabase();
        MakeFoldersOf(run, "", name);
        if (keep) {
            if (state.BackupReplacedFiles) {
                // A kept file stays where it is, so a copy that fails loses nothing.
                try {
                    int64_t size = -1;
                    Sha256Digest digest{};
                    const bool known =
                        MeasureFile(folder, name, size, digest) && run.IsRecordedFile(name, size, digest);
                    bool replaces = false;
                    const std::string backupName = BackupNameFor(folder, name, known, replaces);
                    MakeFoldersOf(run, "Backup\\", name);
                    const std::string fresh = transaction.CopyToNewFile(name, backupName);
                    if (replaces) {
                        transaction.SetAside(backupName);
                    }
                    transaction.Put(fresh, backupName, false);
                    backup = TBackupAction::Copied;
                } catch (const Exception&) {
                }
            }
            frontEnd.EntryDone(name, false, backup);
            continue;
        }

        // The new file is written in full under a name of its own and checked before the old one is
        // touched: a full drive or a damaged entry leaves the old file in its place.
        const auto* info = dynamic_cast<const TCompressedFileInfo*>(entries.Objects(index));
        TNewFile file = transaction.NewFile(name);
        const std::string written = AddTrailingBackslash(folder.Root()) + file.Name;
        // A handler of the component's own still decides first whether the entry is written.
        Compress1->OnCheckFile = [&written, outer](std::string& path, TCProcessMode mode) {
            if (outer) {
                outer(path, mode);
                if (path.empty() || path == "*") {
                    return;
                }
            }
            path = written;
        };
        Compress1->OnOpenOutput = [&file](const std::string&) {
            return DuplicateFileHandle(file.Handle.get());
        };
        selection.Clear();
        selection.Add(name);
        int64_t size = -1;
        Sha256Digest digest{};
        try {
            Compress1->ExpandArchiveFiles(*archive, &selection);
        } catch (const EInsufficientDiskSpace&) {
            // The drive filled after the check: told with the file and the drive.
            throw EInsufficientDiskSpace(Format(kDriveFull, target.c_str(), DriveOf(target).c_str()));
        } catch (const EStreamError&) {
            const DWORD code = ::GetLastError();
            if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL ||
                DriveIsFull(state.DestinationFolder, info != nullptr ? info->FullSize : 0)) {
                throw EInsufficientDiskSpace(Format(kDriveFull, target.c_str(), DriveOf(target).c_str()));
            }
            throw;
        }
        Compress1->OnCheckFile = outer;
        Compress1->OnOpenOutput = nullptr;
        // Written means there, in full, under the name the loop gave it.
        if (info == nullptr || selection.Count() != 1 || selection[0] != written ||
            !ReadSizeAndDigest(file.Handle.get(), size, digest) || size != info->FullSize) {
            throw ENotWritten(Format(kNotWritten, target.c_str()));
        }
        if (exists) {
            MoveAwayReplaced(run, name, state.BackupReplacedFiles, digest, backup);
        }
        transaction.Put(file, name, false);
        file.Handle.reset();  // read back by the record
        frontEnd.EntryDone(name, true, backup);
    }
}
