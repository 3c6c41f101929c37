#include "app/install_sequence.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "app/copy_form.h"
#include "app/install_registration.h"
#include "app/install_state.h"
#include "app/preflight.h"
#include "archive/compress.h"
#include "framework/application.h"
#include "framework/file_stream.h"
#include "framework/string_list.h"
#include "framework/sysutils.h"
#include "lifecycle/fault_point.h"
#include "lifecycle/folder_security.h"
#include "lifecycle/install_transaction.h"
#include "lifecycle/record_file.h"
#include "lifecycle/removal_plan.h"
#include "lifecycle/safe_files.h"
#include "lifecycle/safe_library.h"
#include "shell/shell_folders.h"
#include "shell/shell_link.h"
#include "widgets/folders.h"
#include "widgets/message_dialog.h"

namespace {

// The destination as a full path: an empty one is the current folder, where the files of an empty
// target path go.
std::string FullDestination() {
    const std::string& typed = InstallState.DestinationFolder;
    return RecordedDestination(typed.empty() ? std::string(".") : typed).value_or(typed);
}

// Writes the uninstaller, the record and the uninstall entry. A failure stops nothing unless the
// front end requires the registration: it hears of it.
void RegisterForRemoval(TInstallRegistration& registration, TInstallRun& run, TInstallFrontEnd& frontEnd) {
    try {
        frontEnd.Registered(RegistrationKeyName(registration.Register(run)));
    } catch (const std::exception& error) {
        frontEnd.RegistrationFailed(TApplication::ExceptionText(error));
        if (frontEnd.RequiresRegistration()) {
            throw;
        }
    }
}

// The access list of the folders that the setup makes: protected when it runs with administrator
// rights, the system's default otherwise.
SECURITY_ATTRIBUTES* FolderSecurity() {
    if (!IsRunningAsAdministrator()) {
        return nullptr;
    }
    static ProtectedFolderSecurity security;
    return security.Attributes();
}

// With administrator rights, an existing destination must be one that only the administrators can
// change: an empty one is protected now, like a new one; any other is refused before the first
// change. Returns whether the folder was protected already (its record may then be trusted).
bool ProtectDestination(TInstallRun& run) {
    if (!IsRunningAsAdministrator()) {
        return true;
    }
    std::string where;
    const TFolderExposure exposure = InstallationExposure(*run.Folder, {}, where);
    if (!exposure) {
        return true;
    }
    static ProtectedFolderSecurity security;
    if (run.Folder->List(kDestinationItself).empty() &&
        security.ApplyTo(run.Folder->RootHandle()) == ERROR_SUCCESS &&
        run.Folder->List(kDestinationItself).empty() && !InstallationExposure(*run.Folder, {}, where)) {
        return false;
    }
    throw EUnprotectedDestination(
        Format(kUnprotectedDestination, run.Destination.c_str(), exposure.Reason().c_str()));
}

// With administrator rights, a destination still to be made must be made where only the
// administrators can change what lies above it: the folder that exists above it and every one up
// to the root are judged before the first folder is made.
void RefuseExposedParents(const std::string& destination, const std::vector<std::string>& missing) {
    if (missing.empty() || !IsRunningAsAdministrator()) {
        return;
    }
    const std::string existing = ExtractFilePath(missing.front());
    std::string where;
    if (const TFolderExposure exposure = NewDestinationExposure(existing, missing.size(), where)) {
        throw EUnprotectedDestination(
            Format(kUnprotectedDestination, destination.c_str(), (exposure.Reason() + ": " + where).c_str()));
    }
}

// The identity of the destination that this process made (see MakeDestinationFolders).
uint64_t madeDestinationId = 0;

// Opens the destination for the run: never a link; a journal left by a run that did not end is
// rolled back first; the record of the earlier installation is read when it is this folder's.
}  // namespace

void OpenDestination(TInstallRun& run, TInstallFrontEnd& frontEnd) {
    TInstallState& state = InstallState;
    run.Destination = FullDestination();
    MakeDestinationFolders();
    // The lock is the destination itself, made by now: a run that holds it has checked it.
    run.Lock.emplace(run.Destination);
    if (run.Lock->Busy()) {
        throw EAnotherRun(kAnotherRunMessage);
    }
    if (!run.Lock->Held()) {
        throw Exception(run.Lock->Failure());
    }
    run.MadeAbove = state.MadeAbove;
    run.MadeDestination = state.DestinationMade;
    run.Security = FolderSecurity();
    run.RegistrationBytes = RegistrationBytes();
    try {
        run.Folder.emplace(run.Destination);
        run.Folder->KeepLock(std::move(*run.Lock));
    } catch (const EUnsafePath&) {
        throw ELinkInDestination(Format(kLinkInDestination, run.Destination.c_str()));
    }
    // Only the very folder that was made is taken for the run's own; any other is judged.
    if (run.MadeDestination && IdentityOf(run.Folder->RootHandle()) != madeDestinationId) {
        run.MadeDestination = false;
    }
    const bool protectedBefore = run.MadeDestination || ProtectDestination(run);
    // Folders that a killed run made for this destination stay, and are this run's to record.
    TMadeFolders made;
    const std::vector<std::string> recovered = RecoverInterruptedRun(*run.Folder, &made);
    if (made.Destination && !run.MadeDestination) {
        run.MadeDestination = state.DestinationMade = true;
        if (run.MadeAbove.empty()) {
            run.MadeAbove = state.MadeAbove = made.Above;
        }
    }
    if (!recovered.empty()) {
        frontEnd.Recovered(recovered);
    }
    // A record that anybody could have written is no record of ours: lines planted in it would
    // pass into the administrator's record.
    if (!protectedBefore) {
        return;
    }
    try {
        TInstallRecord previous = ReadRecordFile(run.Folder->PathOf(kRecordName));
        if (SameFolder(previous.Destination, run.Destination)) {
            run.Previous = std::move(previous);
        }
    } catch (const std::exception&) {
        // No record of ours, or a damaged one: the new record starts afresh.
    }
}

namespace {

// Undoes what the run changed, after a failure: its journal's steps; then a destination made for
// it goes with the folders made above it, once nothing of the run holds them.
void RollBackRun(TInstallRun& run, TInstallFrontEnd& frontEnd) {
    bool made = run.MadeDestination;
    if (run.Transaction) {
        made = run.Transaction->Engine().MadeBefore().Destination;
        try {
            frontEnd.RolledBack(run.Transaction->RollBack());
        } catch (const std::exception& error) {
            frontEnd.RolledBack({TApplication::ExceptionText(error)});
            return;
        }
    }
    run.Transaction.reset();
    run.Folder.reset();
    run.Lock.reset();
    TInstallState& state = InstallState;
    const std::string destination = WithoutTrailingBackslash(FullDestination());
    const std::string first = state.MadeAbove.empty() ? destination : state.MadeAbove.front();
    if (made && WithdrawNewDestination(first, destination)) {
        frontEnd.RolledBack({"Removed the folder " + destination});
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

void MakeDestinationFolders() {
    TInstallState& state = InstallState;
    const std::string destination = FullDestination();
    std::vector<std::string> missing;
    for (std::string folder = destination; folder.size() > 3 && !FolderExists(folder);) {
        missing.insert(missing.begin(), folder);
        const std::string parent = WithoutTrailingBackslash(ExtractFilePath(folder));
        if (parent.size() >= folder.size()) {
            break;
        }
        folder = parent;
    }
    RefuseExposedParents(destination, missing);
    if (missing.empty()) {
        return;
    }
    // Made whole or not at all, with a journal inside that names what was made.
    OpenPoint("a new destination to make");
    TMadeFolders made;
    try {
        made = MakeNewDestination(missing.front(), missing.back(), FolderSecurity());
    } catch (const ETransactionFailed& failure) {
        // Found missing a moment ago and a folder now, or still being made by a run that holds it:
        // another run is making this destination. A file in the way is a plain failure.
        if ((failure.Status == TFsStatus::Exists && FolderExists(missing.front())) ||
            failure.Status == TFsStatus::InUse) {
            throw EAnotherRun(kAnotherRunMessage);
        }
        throw;
    }
    madeDestinationId = made.DestinationId;
    state.DestinationMade = true;
    state.MadeAbove = made.Above;
}

void RunInstallation(TInstallFrontEnd& decider) {
    TInstallState& state = InstallState;
    // Whatever the front end, the same things are recorded, and an installation that gets through
    // the extraction loop is registered for removal, again once its shortcuts are there.
    TInstallRegistration registration;
    TRecordingFrontEnd frontEnd(decider, registration);
    state.BackupReplacedFiles = frontEnd.AskBackup();

    // The progress window is not modal: in an interactive run the main window stays usable (its
    // close box asks as usual). After a failure it stays up.
    Application->CreateForm(frmCopy);
    if (frontEnd.ShowsProgress()) {
        frmCopy->Show();
    }
    TInstallRun run;
    try {
        OpenDestination(run, frontEnd);
        registration.BeforeExtraction(run, EmbeddedEntryNames());
        frmCopy->ExtractAllFiles(frontEnd, run);
        if (!run.Transaction) {
            run.Begin();
        }
        registration.AfterExtraction();
        RegisterForRemoval(registration, run, frontEnd);
        delete frmCopy;
        frmCopy = nullptr;

        if (frontEnd.AskShortcuts()) {
            try {
                CreateProgramShortcuts(frontEnd, &run);
            } catch (...) {
                // A shortcut made before the one that failed is still removed with the rest.
                RegisterForRemoval(registration, run, frontEnd);
                throw;
            }
            RegisterForRemoval(registration, run, frontEnd);
        }
        run.Transaction->Commit();
    } catch (...) {
        RollBackRun(run, frontEnd);
        throw;
    }
    // The run has ended: it lets go of the installation's files and folders, and of its lock,
    // before another program starts, so that the viewer can open the readme.
    run.Transaction.reset();
    run.Folder.reset();
    run.Lock.reset();
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

void CreateProgramShortcuts(TInstallFrontEnd& frontEnd, TInstallRun* run) {
    const std::string program = InstallState.DestinationWithBackslash + "TANDREL.EXE";
    TShellLinkInfo info;
    info.Target = program;
    info.Description = program;
    // The program starts in its own folder: the folder the setup ran from (a download or temporary
    // folder, a removable medium) may be gone or unreadable by then.
    info.WorkingDirectory = WithoutTrailingBackslash(InstallState.DestinationWithBackslash);
    info.IconPath = program;
    info.IconIndex = 0;
    info.HotKey = 0;
    for (const char* folder : {"Programs", "SendTo"}) {
        if (run != nullptr && run->Transaction) {
            run->Transaction->WillWriteShortcut(GetShellFolder(folder) + "\\" + kProductFolder + ".lnk");
        }
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
