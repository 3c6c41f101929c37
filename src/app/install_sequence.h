// The installation, from the accepted destination to the end: the backup question, the extraction
// loop in its progress window, the shortcuts, the readme and the completion. Whoever runs it decides
// the answers and hears the outcomes through a front end; the interactive one asks the user.
#pragma once

#include <string>
#include <vector>

#include "app/install_front_end.h"

// The product's folder name (appended to every folder that the directory list proposes) and the
// name of its shortcuts.
inline constexpr const char kProductFolder[] = "Tandrel";

// The questions and the notice of the interactive installation.
inline constexpr const char kBackupQuestion[] = "Do you want to backup replaced files ?";
inline constexpr const char kKeepSiteDatabaseQuestion[] =
    "There is currently a site database file. Do you want to keep the existing file? ";
inline constexpr const char kShortcutQuestion[] = "Add a shortcut to the Start Menu?";
inline constexpr const char kReadmeQuestion[] = "Do you want to view the README file now?";
inline constexpr const char kSetupComplete[] = "Tandrel Setup Complete.";

// The names of the entries of the setup's own archive, in archive order; none when it cannot be
// listed (the installation then fails on it and says why).
std::vector<std::string> EmbeddedEntryNames();

// Makes InstallState.DestinationFolder and the folders above it that are missing, outermost first,
// each with the access list of the folders the setup makes, and notes which it made. Raises
// EInOutError "Cannot create folder <path> (<reason>)" for the first it cannot make.
void MakeDestinationFolders();

// Opens the destination (InstallState.DestinationFolder, made when missing) for a run: its folder
// object, never through a link (ELinkInDestination); a journal left by a run that did not end is
// rolled back first (the front end hears of it); the record of the earlier installation is read
// when it is this folder's.
struct TInstallRun;
void OpenDestination(TInstallRun& run, TInstallFrontEnd& frontEnd);

// Runs every step into InstallState.DestinationFolder, which must be set. Once the extraction loop
// has returned, and again after the shortcuts, the installation is registered for removal (the
// uninstaller, its record, the uninstall entry); a registration that fails is told to the front end
// and stops nothing unless the front end requires it. Every change is a step of the run's journal
// in the destination: a failure after the first change rolls the run back (the front end hears
// what was restored) and is raised again; the progress window stays up, the later steps do not
// run. A journal left by an earlier run that did not end is rolled back first. After the last step
// the application is terminated.
void RunInstallation(TInstallFrontEnd& frontEnd);

// Writes Tandrel.lnk to the installed program into the user's Programs and then SendTo folder,
// reporting each file written, each a step of the run (run may be null: no journal). Raises what
// the shell-folder lookup and the shortcut calls raise.
struct TInstallRun;
void CreateProgramShortcuts(TInstallFrontEnd& frontEnd, TInstallRun* run = nullptr);

// The user's answers, through the message dialogs; the completion message at the end.
class TInteractiveFrontEnd : public TInstallFrontEnd {
  public:
    bool AskBackup() override;
    // Only an explicit No replaces the user's file: a dialog closed without an answer, or dismissed
    // because the application is ending, keeps it.
    bool AskKeepSiteDatabase() override;
    bool AskShortcuts() override;
    bool AskReadme() override;
    bool ShowsProgress() const override { return true; }
    void Finished() override;
};
