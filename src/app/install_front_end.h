// What the install sequence asks of whoever runs it and what it tells them. The interactive front end
// answers with the message dialogs; an unattended one answers from its command line and keeps a log.
// Either way there is one sequence, one extraction loop, one verification and one set of shortcut
// calls: the front end only decides and listens.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "archive/sha256.h"

// What happened to a file that was already in the destination before its entry was handled.
enum class TBackupAction {
    None,       // nothing was there, or backups are off
    Moved,      // moved into the Backup folder, then replaced
    Copied,     // a kept file, copied into the Backup folder
    Unchanged,  // the file there already held the new bytes: left as it was
};

// The sequence runs every front end inside a TRecordingFrontEnd (install_registration.h), which
// passes each member on: a member added here is added there too.
class TInstallFrontEnd {
  public:
    virtual ~TInstallFrontEnd() = default;

    // The questions, in the order in which the sequence asks them. True means Yes.
    virtual bool AskBackup() = 0;
    virtual bool AskKeepSiteDatabase() = 0;  // asked only when a site database is already there
    virtual bool AskShortcuts() = 0;
    virtual bool AskReadme() = 0;

    // Whether the progress window is shown while the files are expanded.
    virtual bool ShowsProgress() const = 0;

    // The outcomes. A file written for an entry, as measured while it was written, just before its
    // EntryDone. written is false for an entry whose existing file was kept.
    virtual void FileWritten(const std::string& /*name*/, int64_t /*size*/, const Sha256Digest& /*digest*/) {}
    virtual void EntryDone(const std::string& /*name*/, bool /*written*/, TBackupAction /*backup*/) {}
    virtual void ShortcutWritten(const std::string& /*path*/) {}
    // The installation was registered for removal (where: the registry key written), or could not
    // be; either way the installation goes on.
    virtual void Registered(const std::string& /*where*/) {}
    virtual void RegistrationFailed(const std::string& /*reason*/) {}
    // Whether a registration that fails fails the installation (rolled back): a deployment tool
    // must never hear "installed" of an installation that cannot be removed.
    virtual bool RequiresRegistration() const { return false; }
    // A run that did not end had left its journal in the destination: what was done about it.
    virtual void Recovered(const std::vector<std::string>& /*lines*/) {}
    // The run failed after its first change: what was restored.
    virtual void RolledBack(const std::vector<std::string>& /*lines*/) {}
    // Every step has run; the application is terminated right after.
    virtual void Finished() = 0;
};
