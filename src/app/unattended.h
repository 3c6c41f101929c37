// The unattended installation: the one install sequence, answered from the command line instead of
// by the user, with a log instead of messages and an exit code for whoever started it.
#pragma once

#include <cstddef>
#include <string>

#include "app/install_front_end.h"
#include "lifecycle/run_log.h"
#include "lifecycle/setup_command_line.h"

// The log of an unattended installation.
using TInstallLog = TRunLog;

// Answers as the switches say: backups unless /NOBACKUP, shortcuts unless /NOICONS, an existing site
// database always kept, no readme; every outcome goes to the log.
class TUnattendedFrontEnd : public TInstallFrontEnd {
  public:
    TUnattendedFrontEnd(const TSetupOptions& options, TInstallLog& log) : options_(options), log_(log) {}

    bool AskBackup() override { return options_.Backup; }
    bool AskKeepSiteDatabase() override { return true; }
    bool AskShortcuts() override { return options_.Shortcuts; }
    bool AskReadme() override { return false; }
    bool ShowsProgress() const override { return options_.Mode == TSetupMode::Silent; }
    void EntryDone(const std::string& name, bool written, TBackupAction backup) override;
    void ShortcutWritten(const std::string& path) override;
    void Registered(const std::string& where) override;
    void RegistrationFailed(const std::string& reason) override;
    bool RequiresRegistration() const override { return true; }
    void Recovered(const std::vector<std::string>& lines) override;
    void RolledBack(const std::vector<std::string>& lines) override;
    void Finished() override {}

  private:
    const TSetupOptions& options_;
    TInstallLog& log_;
    std::string registeredAt_;  // the key last logged, so that a second registration there is quiet
};

// The length of the longest entry name in the setup's own archive, which bounds how long the
// destination may be. 0 when the archive cannot be read: the installation itself then fails on it
// and says so.
size_t LongestEmbeddedEntryName();

// Runs an unattended installation (options.Mode is Silent or VerySilent) and returns its exit code.
// The program refuses a command line with an error before it gets here; one that still comes ends
// with kExitBadCommandLine, its message on the standard error (when there is one) and in the log.
// Otherwise the units' start-up steps run here, then the install sequence. No message box of any
// kind comes up: failures go to the log and the exit code. commandLine is logged as it stands, its
// control characters escaped like every log line.
int RunUnattended(const TSetupOptions& options, const std::string& commandLine);
