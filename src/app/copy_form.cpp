#include "app/copy_form.h"

#include <windows.h>

#include <vector>

#include "app/install_front_end.h"
#include "app/install_state.h"
#include "app/preflight.h"
#include "archive/compress.h"
#include "framework/application.h"
#include "framework/file_stream.h"
#include "framework/string_list.h"
#include "framework/sysutils.h"
#include "widgets/folders.h"
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
    Gauge1->SetProgress(((InstallState.CurrentFileNumber - 1) * 100 + PercentageDone) /
                        InstallState.FileCount);
}

namespace {

// Makes the folders that lie between the Backup folder and a backup of an entry with a folder part
// ("sub\file.txt"); the outcome shows in the move that follows.
void CreateBackupSubfolders(const std::string& backupFolder, const std::string& name) {
    for (const std::string& folder : FolderPartsOf(name)) {
        CreateFolder(AddTrailingBackslash(backupFolder) + folder);
    }
}

// Old files that could be renamed but not deleted, as the file of a program that is running: each
// is renamed aside in its folder so that the new one can be written, and removed when the loop ends
// (at once, or at the next restart when it is still in use then).
class SetAsideFiles {
  public:
    SetAsideFiles() = default;
    SetAsideFiles(const SetAsideFiles&) = delete;
    SetAsideFiles& operator=(const SetAsideFiles&) = delete;
    ~SetAsideFiles() {
        for (const std::string& path : paths_) {
            if (!::DeleteFileA(path.c_str())) {
                ::MoveFileExA(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
            }
        }
    }

    // Renames target to a name beside it that is free; false when no rename succeeds.
    bool Add(const std::string& target) {
        for (int attempt = 1; attempt <= 100; ++attempt) {
            std::string aside = target + ".~old";
            if (attempt > 1) {
                aside += IntToStr(attempt);
            }
            if (::MoveFileA(target.c_str(), aside.c_str())) {
                paths_.push_back(std::move(aside));
                return true;
            }
            if (::GetLastError() != ERROR_ALREADY_EXISTS && ::GetLastError() != ERROR_FILE_EXISTS) {
                return false;
            }
        }
        return false;
    }
    // Puts the file renamed last back in its place (its new file could not be written).
    void RestoreLast(const std::string& target) {
        if (!paths_.empty() &&
            ::MoveFileExA(paths_.back().c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
            paths_.pop_back();
        }
    }

  private:
    std::vector<std::string> paths_;
};

// Whether the file at path is there with size bytes.
bool WrittenInFull(const std::string& path, int64_t size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return ::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) &&
           (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           ((static_cast<int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow) == size;
}

}  // namespace

void TfrmCopy::ExtractAllFiles(TInstallFrontEnd& frontEnd) {
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
    const std::string backupFolder = state.DestinationWithBackslash + "Backup";
    bool backupReady = false;
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
    CheckBeforeFirstChange(entries, state.DestinationWithBackslash, state.BackupReplacedFiles,
                           DriveSpaceOf(state.DestinationFolder));

    SetAsideFiles setAside;
    for (int index = 0; index < state.FileCount; ++index) {
        const std::string name = entries[index];
        const std::string target = state.DestinationWithBackslash + name;
        state.CurrentFileNumber = state.CurrentFileNumber + 1;
        bool keep = false;
        bool renamedAside = false;
        TBackupAction backup = TBackupAction::None;
        Label1->SetCaption("Extracting: " + name);
        Application->ProcessMessages();

        if (FileExists(target)) {
            if (UpperCaseAscii(name) == "SITES.INI") {
                keep = frontEnd.AskKeepSiteDatabase();
            }
            if (state.BackupReplacedFiles) {
                if (!backupReady) {
                    // A folder that cannot be made now is tried again at the next replaced file.
                    CreateFolder(backupFolder);
                    backupReady = FolderExists(backupFolder);
                }
                const std::string backupTarget = AddTrailingBackslash(backupFolder) + name;
                if (keep) {
                    // A kept file stays where it is, so a copy that fails loses nothing.
                    if (backupReady && ::CopyFileA(target.c_str(), backupTarget.c_str(), FALSE)) {
                        backup = TBackupAction::Copied;
                    }
                } else {
                    // The file is about to be replaced: without its backup it is not touched. A
                    // move replaces an older backup of the same name.
                    if (backupReady) {
                        CreateBackupSubfolders(backupFolder, name);
                    }
                    if (!backupReady ||
                        !::MoveFileExA(target.c_str(), backupTarget.c_str(), MOVEFILE_REPLACE_EXISTING)) {
                        throw EBackupFailed(Format(kBackupFailed, target.c_str(), backupFolder.c_str()));
                    }
                    backup = TBackupAction::Moved;
                }
            }
            if (!keep && !::DeleteFileA(target.c_str())) {
                // A file in use (a running program) can often be renamed though not deleted. A
                // read-only one stays, and the expansion's open of it raises the error.
                const DWORD attributes = ::GetFileAttributesA(target.c_str());
                if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
                    renamedAside = setAside.Add(target);
                }
            }
        }

        if (!keep) {
            const auto* info = dynamic_cast<const TCompressedFileInfo*>(entries.Objects(index));
            selection.Clear();
            selection.Add(name);
            try {
                Compress1->ExpandArchiveFiles(*archive, &selection);
                // Written means there, in full, at the path the loop names.
                if (info == nullptr || selection.Count() != 1 || selection[0] != target ||
                    !WrittenInFull(target, info->FullSize)) {
                    throw ENotWritten(Format(kNotWritten, target.c_str()));
                }
            } catch (...) {
                if (renamedAside) {
                    setAside.RestoreLast(target);
                }
                throw;
            }
        }
        frontEnd.EntryDone(name, !keep, backup);
    }
}
