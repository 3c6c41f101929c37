#include "app/install_sequence.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "app/copy_form.h"
#include "app/install_registration.h"
#include "app/install_state.h"
#include "archive/compress.h"
#include "framework/application.h"
#include "framework/string_list.h"
#include "framework/sysutils.h"
#include "lifecycle/safe_library.h"
#include "shell/shell_link.h"
#include "widgets/message_dialog.h"

namespace {

// The folder of this program's own file: its full path up to and including the last "\" or ":".
std::string ProgramFolder() {
    char path[MAX_PATH + 1] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    return ExtractFilePath(std::string(path, length));
}

// Writes the uninstaller, the record and the uninstall entry. A failure stops nothing: the front end
// hears of it.
void RegisterForRemoval(TInstallRegistration& registration, TInstallFrontEnd& frontEnd) {
    try {
        frontEnd.Registered(RegistrationKeyName(registration.Register()));
    } catch (const std::exception& error) {
        frontEnd.RegistrationFailed(TApplication::ExceptionText(error));
    }
}

std::string QuotedPath(const std::string& path) {
    std::string quoted;
    quoted.reserve(path.size() + 2);
    quoted.append(1, '"').append(path).append(1, '"');
    return quoted;
}

bool AskYesNo(const char* question, TMessageKind kind) {
    return ShowMessageDialog(question, kind, mbYesNo, 0) == mrYes;
}

}  // namespace

std::vector<std::string> EmbeddedEntryNames() {
    std::vector<std::string> names;
    try {
        TCompress compress(nullptr);
        const std::unique_ptr<TStream> archive = compress.LoadArchiveResource("data", "");
        TStringList entries;
        compress.ListArchiveFiles(*archive, entries);
        for (int index = 0; index < entries.Count(); ++index) {
            names.push_back(entries[index]);
        }
    } catch (const std::exception&) {
        names.clear();
    }
    return names;
}

void RunInstallation(TInstallFrontEnd& decider) {
    TInstallState& state = InstallState;
    // Whatever the front end, the same things are recorded, and an installation that gets through
    // the extraction loop is registered for removal, again once its shortcuts are there.
    TInstallRegistration registration;
    TRecordingFrontEnd frontEnd(decider, registration);
    state.BackupReplacedFiles = frontEnd.AskBackup();

    // The progress window is not modal: in an interactive run the main window stays usable (its
    // close box asks as usual). After a failure it stays up with the files written so far.
    Application->CreateForm(frmCopy);
    if (frontEnd.ShowsProgress()) {
        frmCopy->Show();
    }
    registration.BeforeExtraction(state.DestinationFolder, state.DestinationMade, EmbeddedEntryNames());
    frmCopy->ExtractAllFiles(frontEnd);
    registration.AfterExtraction();
    RegisterForRemoval(registration, frontEnd);
    delete frmCopy;
    frmCopy = nullptr;

    if (frontEnd.AskShortcuts()) {
        try {
            CreateProgramShortcuts(frontEnd);
        } catch (...) {
            // A shortcut made before the one that failed is still removed with the rest.
            RegisterForRemoval(registration, frontEnd);
            throw;
        }
        RegisterForRemoval(registration, frontEnd);
    }
    if (frontEnd.AskReadme()) {
        // The viewer of the system folder by its full, quoted path, so that no notepad.exe beside
        // the setup or in the current folder starts instead; the file unquoted, as the viewer takes
        // the rest of its command line as the file name. Whether it starts is not looked at, and the
        // setup does not wait for it.
        const std::string command = QuotedPath(SystemFolder() + "\\notepad.exe") + " " +
                                    state.DestinationWithBackslash + "readme.txt";
        ::WinExec(command.c_str(), SW_SHOWNORMAL);
    }
    frontEnd.Finished();
    Application->Terminate();
}

void CreateProgramShortcuts(TInstallFrontEnd& frontEnd) {
    const std::string program = InstallState.DestinationWithBackslash + "TANDREL.EXE";
    TShellLinkInfo info;
    info.Target = program;
    info.Description = program;
    info.WorkingDirectory = ProgramFolder();
    info.IconPath = program;
    info.IconIndex = 0;
    info.HotKey = 0;
    for (const char* folder : {"Programs", "SendTo"}) {
        const std::string shortcut = CreateShortcut(kProductFolder, "", folder);
        UpdateShortcut(shortcut, info);
        frontEnd.ShortcutWritten(shortcut);
    }
}

bool TInteractiveFrontEnd::AskBackup() {
    return AskYesNo(kBackupQuestion, mkConfirmation);
}

bool TInteractiveFrontEnd::AskKeepSiteDatabase() {
    return ShowMessageDialog(kKeepSiteDatabaseQuestion, mkConfirmation, mbYesNo, 0) != mrNo;
}

bool TInteractiveFrontEnd::AskShortcuts() {
    return AskYesNo(kShortcutQuestion, mkConfirmation);
}

bool TInteractiveFrontEnd::AskReadme() {
    return AskYesNo(kReadmeQuestion, mkInformation);
}

void TInteractiveFrontEnd::Finished() {
    ShowPlainMessage(kSetupComplete);
}
