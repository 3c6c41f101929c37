#include "app/copy_form.h"

#include <windows.h>

#include "app/install_front_end.h"
#include "app/install_state.h"
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
    for (size_t cut = name.find('\\'); cut != std::string::npos; cut = name.find('\\', cut + 1)) {
        CreateFolder(AddTrailingBackslash(backupFolder) + name.substr(0, cut));
    }
}

}  // namespace

void TfrmCopy::ExtractAllFiles(TInstallFrontEnd& frontEnd) {
    TInstallState& state = InstallState;
    const std::unique_ptr<TStream> archive = Compress1->LoadArchiveResource("data", "");
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

    // Every entry is decoded and checked once before the first file is touched: a damaged setup
    // file stops here, with the same error that its expansion would raise, and leaves the
    // destination as it was instead of half replaced.
    for (int index = 0; index < state.FileCount; ++index) {
        Label1->SetCaption("Checking: " + entries[index]);
        Application->ProcessMessages();
        selection.Clear();
        selection.Add(entries[index]);
        Compress1->TestArchiveFiles(*archive, &selection);
    }

    for (int index = 0; index < state.FileCount; ++index) {
        const std::string name = entries[index];
        const std::string target = state.DestinationWithBackslash + name;
        state.CurrentFileNumber = state.CurrentFileNumber + 1;
        bool keep = false;
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
            if (!keep) {
                ::DeleteFileA(target.c_str());
            }
        }

        if (!keep) {
            selection.Clear();
            selection.Add(name);
            Compress1->ExpandArchiveFiles(*archive, &selection);
        }
        frontEnd.EntryDone(name, !keep, backup);
    }
}
