#include "app/copy_form.h"

#include <windows.h>

#include <algorithm>
#include <exception>
#include <vector>

#include "app/install_front_end.h"
#include "app/install_state.h"
#include "app/preflight.h"
#include "archive/compress.h"
#include "archive/decode_ahead.h"
#include "framework/application.h"
#include "framework/file_stream.h"
#include "framework/string_list.h"
#include "framework/sysutils.h"
#include "framework/unique_handle.h"
#include "lifecycle/fault_point.h"
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

// Makes the folders of name's folder part that are missing, as steps of the run. made: the folders
// (in upper case) that this loop has made or found already, held from then on by the run's folder
// object so that they stay: each is asked about once.
void MakeFoldersOf(TInstallRun& run, const std::string& name, std::vector<std::string>& made) {
    for (const std::string& folder : FolderPartsOf(name)) {
        const std::string key = UpperCaseAscii(folder);
        if (std::find(made.begin(), made.end(), key) == made.end()) {
            run.Transaction->MakeFolder(folder);
            made.push_back(key);
        }
    }
}

// The most entries, and about the most bytes, that the extraction loop takes as one group.
constexpr int kGroupFiles = 64;
constexpr int64_t kGroupBytes = 32 << 20;

bool IsSiteDatabase(const std::string& name) {
    return UpperCaseAscii(name) == "SITES.INI";
}

// A drive that has no room left: the failure of a write there is told as such, with the file and
// the drive, instead of the bare stream error.
bool DriveIsFull(const std::string& folder, int64_t wanted) {
    const std::optional<TDriveSpace> space = DriveSpaceOf(folder);
    return space && space->FreeClusters * space->ClusterSize < std::max<int64_t>(wanted, 1);
}

}  // namespace

TCompress::TExpandedFile ExpandIntoNewFile(TCompress& compress,
                                           TStream& archive,
                                           const std::string& name,
                                           const TCompressedFileInfo& info,
                                           TNewFile& file,
                                           const std::string& written) {
    const TFilenameCheckEvent outer = compress.OnCheckFile;
    compress.OnCheckFile = [&written, outer](std::string& path, TCProcessMode mode) {
        if (outer) {
            outer(path, mode);
            if (path.empty() || path == "*") {
                return;
            }
        }
        path = written;
    };
    compress.OnOpenOutput = [&file](const std::string&) { return DuplicateFileHandle(file.Handle()); };
    struct Restore {
        TCompress& compress;
        TFilenameCheckEvent outer;
        ~Restore() {
            compress.OnCheckFile = std::move(outer);
            compress.OnOpenOutput = nullptr;
        }
    } restore{compress, outer};
    return compress.ExpandListedEntry(archive, name, info);
}

bool WrittenInFull(const TCompress::TExpandedFile& expanded,
                   const std::string& written,
                   int64_t fullSize,
                   const TNewFile& file) {
    LARGE_INTEGER size{};
    return expanded.Path == written && expanded.Size == fullSize && ::GetFileSizeEx(file.Handle(), &size) &&
           size.QuadPart == fullSize;
}

namespace {

// Expands the entry name into its new file, measured while it is written, and checks that all of it
// is there. Raises EInsufficientDiskSpace (with the file and the drive) for a full drive,
// ENotWritten when the file is not whole where the loop put it.
TCompress::TExpandedFile ExpandEntry(TCompress& compress,
                                     TStream& archive,
                                     const std::string& root,
                                     const std::string& name,
                                     const TCompressedFileInfo* info,
                                     TNewFile& file) {
    const TInstallState& state = InstallState;
    const std::string target = state.DestinationWithBackslash + name;
    const std::string written = AddTrailingBackslash(root) + file.Name;
    TCompress::TExpandedFile expanded;
    try {
        if (info != nullptr) {
            expanded = ExpandIntoNewFile(compress, archive, name, *info, file, written);
        }
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
    WrittenPoint(file.Handle());
    // Written means there, in full, under the name the loop gave it.
    if (info == nullptr || !WrittenInFull(expanded, written, info->FullSize, file)) {
        throw ENotWritten(Format(kNotWritten, target.c_str()));
    }
    return expanded;
}

}  // namespace

void TfrmCopy::ExtractAllFiles(TInstallFrontEnd& frontEnd, TInstallRun& run) {
    TInstallState& state = InstallState;
    const std::unique_ptr<TStream> archive = Compress1->LoadArchiveResource("data", "");
    // The entries are decoded on threads of their own (one for each processor but this one's, up
    // to three), some megabytes ahead, while this one checks, journals, writes and moves files;
    // each entry's bytes are taken from there when the loop writes its new file. Whatever ends
    // this function stops and ends those threads first.
    DecodeAhead ahead([this] { return Compress1->LoadArchiveResource("data", ""); });
    struct AheadInUse {
        TCompress& compress;
        ~AheadInUse() { compress.DecodedAhead = nullptr; }
    } aheadInUse{*Compress1};
    Compress1->DecodedAhead = &ahead;
    // The whole archive against the digest the build recorded: damage anywhere in it, headers and
    // names included, stops here, before anything decoded ahead is used.
    CheckEmbeddedArchive(*archive);
    Compress1->MakeDirectories = true;
    // The room of the whole run is counted before its first change (CheckBeforeFirstChange): no
    // entry asks again. A drive that fills later fails the write, which is told as a full drive.
    Compress1->CheckSpaceOfEach = false;
    // The stored window skips an entry whose file cannot be created, which would end the setup
    // with "complete" although files are missing: such an entry stops the installation instead,
    // with the create error ("Cannot create file <path>") like every other failure of the loop.
    Compress1->ExceptionOnFileError = true;
    Compress1->SetTargetPath(state.DestinationFolder);
    TStringList entries;
    Compress1->ListArchiveFiles(*archive, entries);
    state.FileCount = entries.Count();
    state.CurrentFileNumber = 0;
    state.DestinationWithBackslash = AddTrailingBackslash(state.DestinationFolder);
    if (state.FileCount == 0) {
        return;
    }

    // The digest above covers every byte of the archive; one walk over its headers makes sure that
    // the expansion reaches exactly the listed entries, each name once. Each entry is then decoded
    // once, into its new file, and checked as it is written. Whatever the loop would meet in the
    // destination (a file that cannot be replaced, a link, a full drive) stops it before the first
    // change.
    Compress1->CheckListedEntries(*archive, entries, nullptr, false);
    CheckBeforeFirstChange(entries, *run.Folder, state.BackupReplacedFiles,
                           DriveSpaceOf(state.DestinationFolder), run.RegistrationBytes,
                           run.Previous.has_value());

    TSafeFolder& folder = *run.Folder;
    TInstallTransaction& transaction = run.Transaction ? *run.Transaction : run.Begin();
    const TReplaceRule rule = state.BackupReplacedFiles ? TReplaceRule::Backup : TReplaceRule::Aside;
    std::vector<std::string> made;
    // The entries go in groups: the new files of a group are journaled with one flush, written in
    // full, each flushed, then put in place with one more flush of the journal for the group's
    // moves. The site database, whose fate is asked about, is a group of its own.
    for (int first = 0; first < state.FileCount;) {
        int end = first + 1;
        int64_t bytes = 0;
        if (!IsSiteDatabase(entries[first])) {
            for (end = first; end < state.FileCount && end - first < kGroupFiles && bytes < kGroupBytes &&
                              !IsSiteDatabase(entries[end]);
                 ++end) {
                const auto* info = dynamic_cast<const TCompressedFileInfo*>(entries.Objects(end));
                bytes += info != nullptr ? info->FullSize : 0;
            }
        }
        std::vector<std::string> names;
        for (int index = first; index < end; ++index) {
            names.push_back(entries[index]);
        }
        const auto announce = [&](const std::string& name) {
            state.CurrentFileNumber = state.CurrentFileNumber + 1;
            Label1->SetCaption("Extracting: " + name);
            Application->ProcessMessages();
        };
        bool announced = false;
        if (IsSiteDatabase(names.front())) {
            const std::string& name = names.front();
            announce(name);
            announced = true;
            const bool keep = folder.Exists(name) && frontEnd.AskKeepSiteDatabase();
            MakeFoldersOf(run, name, made);
            if (keep) {
                // A kept file stays where it is; a copy goes into Backup (none when Backup holds the
                // same bytes already).
                TBackupAction backup = TBackupAction::None;
                if (state.BackupReplacedFiles && transaction.CopyToBackup(name) == TFileOutcome::Copied) {
                    backup = TBackupAction::Copied;
                }
                frontEnd.EntryDone(name, false, backup);
                first = end;
                continue;
            }
        }
        for (const std::string& name : names) {
            MakeFoldersOf(run, name, made);
        }

        // Each new file is written in full under a name of its own and checked before the old one
        // is touched: a full drive or a damaged entry leaves the old file in its place. It is
        // measured while it is written: its digest goes into the record without a second read.
        std::vector<TNewFile> files = transaction.NewFiles(names);
        std::vector<TCompress::TExpandedFile> expanded(names.size());
        // Flushed, then put in place: what is there goes into Backup or aside, or, when it holds
        // the same bytes, stays untouched. The entries before one whose expansion fails are put in
        // place and told of first, as they are when the group ends.
        const auto placeFirst = [&](size_t count) {
            std::vector<TBackupAction> backups(count, TBackupAction::None);
            transaction.BeginGroup();
            for (size_t at = 0; at < count; ++at) {
                const TFileOutcome outcome =
                    transaction.Place(files[at], names[at], rule, &expanded[at].Digest);
                if (outcome == TFileOutcome::MovedToBackup) {
                    backups[at] = TBackupAction::Moved;
                } else if (outcome == TFileOutcome::Unchanged) {
                    backups[at] = TBackupAction::Unchanged;
                }
            }
            transaction.EndGroup();
            for (size_t at = 0; at < count; ++at) {
                frontEnd.FileWritten(names[at], expanded[at].Size, expanded[at].Digest);
                frontEnd.EntryDone(names[at], true, backups[at]);
            }
        };
        size_t written = 0;
        try {
            for (; written < names.size(); ++written) {
                if (!announced) {
                    announce(names[written]);
                }
                announced = false;
                const auto* info = dynamic_cast<const TCompressedFileInfo*>(
                    entries.Objects(first + static_cast<int>(written)));
                expanded[written] =
                    ExpandEntry(*Compress1, *archive, folder.Root(), names[written], info, files[written]);
            }
        } catch (...) {
            // The run fails for the reason that stopped the expansion: a full drive is told as
            // such, even when putting the earlier files in place fails on it too (the roll back
            // undoes whatever of them was placed).
            const std::exception_ptr failure = std::current_exception();
            try {
                placeFirst(written);
            } catch (...) {
            }
            std::rethrow_exception(failure);
        }
        placeFirst(names.size());
        first = end;
    }
}
