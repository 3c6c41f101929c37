#include "copy_form.h"

#include <windows.h>

#include "application.h"
#include "compress.h"
#include "file_stream.h"
#include "folders.h"
#include "gauges.h"
#include "install_state.h"
#include "main_form.h"
#include "message_dialog.h"
#include "string_list.h"
#include "sysutils.h"

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
    // Not modal and not the main window, so closing only hides it; the loop goes on regardless.
    Close();
}

void TfrmCopy::Compress1ShowProgress(int32_t& PercentageDone) {
    // The overall position: the entries done so far plus this one's share. PercentageDone is
    // left as it came, so the expansion goes on.
    Gauge1->SetProgress(((InstallState.CurrentFileNumber - 1) * 100 + PercentageDone) /
                        InstallState.FileCount);
}

void TfrmCopy::ExtractAllFiles() {
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
    state.DestinationWithBackslash = TfrmMain::AddTrailingBackslash(state.DestinationFolder);
    const std::string backupFolder = state.DestinationWithBackslash + "Backup";
    bool backupReady = false;
    if (state.FileCount == 0) {
        return;
    }

    for (int index = 0; index < state.FileCount; ++index) {
        const std::string name = entries[index];
        const std::string target = state.DestinationWithBackslash + name;
        state.CurrentFileNumber = state.CurrentFileNumber + 1;
        bool keep = false;
        Label1->SetCaption("Extracting: " + name);
        Application->ProcessMessages();

        if (FileExists(target)) {
            if (UpperCaseAscii(name) == "SITES.INI") {
                keep = ShowMessageDialog(kKeepSiteDatabaseQuestion, mkConfirmation, mbYesNo, 0) == mrYes;
            }
            if (state.BackupReplacedFiles) {
                if (!backupReady) {
                    // A folder that cannot be made now is tried again at the next replaced file.
                    CreateFolder(backupFolder);
                    backupReady = FolderExists(backupFolder);
                }
                if (backupReady) {
                    const std::string backupTarget = TfrmMain::AddTrailingBackslash(backupFolder) + name;
                    if (keep) {
                        ::CopyFileA(target.c_str(), backupTarget.c_str(), FALSE);
                    } else {
                        // Replaces an older backup of the same name: otherwise the move would fail
                        // and the file would be deleted below without any backup.
                        ::MoveFileExA(target.c_str(), backupTarget.c_str(), MOVEFILE_REPLACE_EXISTING);
                    }
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
    }
}
