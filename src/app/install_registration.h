// The installation's registration for removal: while the install sequence runs, what it puts into
// the destination and beside it is collected into an install record (files written, with their
// size and digest as written; files kept; folders made; shortcuts written); once the files are in,
// and again after the shortcuts, the uninstaller and the record are written into the destination
// and the uninstall entry into the registry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/copy_form.h"
#include "app/install_front_end.h"
#include "lifecycle/install_record.h"
#include "lifecycle/registration.h"

// The product as the uninstall entry names it: the same constants as the version information.
inline constexpr const char kProductName[] = TANDREL_PRODUCT_NAME;
inline constexpr const char kProductVersion[] = TANDREL_VERSION;
inline constexpr const char kProductPublisher[] = TANDREL_PUBLISHER;
// The installed program, whose icon the entry shows.
inline constexpr const char kProgramName[] = "Tandrel.exe";
// The resource (type "TCOMPRESS") that carries the uninstaller: an archive of one entry.
inline constexpr const char kUninstallerResource[] = "UNINSTALL";

// The bytes that a registration writes into the destination: the uninstaller as the setup carries
// it, and room for the record and the journal.
int64_t RegistrationBytes();

// The destination as the record and the entry hold it: the full path without a trailing "\" (a
// drive root keeps its own). Nothing when the system cannot make it full.
std::optional<std::string> RecordedDestination(const std::string& folder);

// The folders that an expansion of these entry names into a folder may make, parents before
// children: each folder part of an entry name ("sub", "sub\deeper"), then "Backup" and the same
// under it. Names compare ignoring ASCII case; each is listed once.
std::vector<std::string> FoldersOfEntries(const std::vector<std::string>& names);

// The registry key of the entry in scope, as a log names it ("HKEY_LOCAL_MACHINE\Software\...").
std::string RegistrationKeyName(TRegistrationScope scope);

// Collects the record of one installation and registers it. Every failure of the registration
// raises; the caller decides what it stops (nothing: the installation goes on).
class TInstallRegistration {
  public:
    // Before the extraction loop: run holds the destination and the folders made for it; entries
    // are the archive's entry names. Notes which folders the loop may make are missing.
    void BeforeExtraction(const TInstallRun& run, const std::vector<std::string>& entries);
    // After the extraction loop has returned: of the folders missing before, those there now.
    void AfterExtraction();

    // A file written for an entry: its size and digest, measured while it was written.
    void FileWritten(const std::string& name, int64_t size, const Sha256Digest& digest);
    // An entry done: a kept file is named in the record. A written one that FileWritten did not
    // measure just before, or one too large for the record, makes every later Register fail (the
    // record would miss it).
    void EntryDone(const std::string& name, bool written);
    void ShortcutWritten(const std::string& path);

    // Writes the uninstaller (once a run) and the record (merged with the earlier installation's,
    // when run has one), each put in place whole as a step of the run, and the uninstall entry.
    // Returns where the entry went.
    TRegistrationScope Register(TInstallRun& run);

    const TInstallRecord& Record() const { return record_; }

  private:
    std::string folder_;  // as given, with a trailing "\"
    std::vector<std::string> missingFolders_;
    bool destinationMissing_ = false;
    TInstallRecord record_;
    std::optional<std::string> failure_;     // a written file that the record cannot name
    std::optional<TRecordedFile> measured_;  // the last file written, until its entry is done
    bool uninstallerWritten_ = false;
    bool recordWritten_ = false;
    int64_t uninstallerSize_ = 0;
};

// The install front end that the sequence runs with: tells the registration what happens and
// passes everything on to the front end that decides and listens. Every member of TInstallFrontEnd
// is passed on here.
class TRecordingFrontEnd : public TInstallFrontEnd {
  public:
    TRecordingFrontEnd(TInstallFrontEnd& inner, TInstallRegistration& registration)
        : inner_(inner), registration_(registration) {}

    bool AskBackup() override { return inner_.AskBackup(); }
    bool AskKeepSiteDatabase() override { return inner_.AskKeepSiteDatabase(); }
    bool AskShortcuts() override { return inner_.AskShortcuts(); }
    bool AskReadme() override { return inner_.AskReadme(); }
    bool ShowsProgress() const override { return inner_.ShowsProgress(); }
    void FileWritten(const std::string& name, int64_t size, const Sha256Digest& digest) override;
    void EntryDone(const std::string& name, bool written, TBackupAction backup) override;
    void ShortcutWritten(const std::string& path) override;
    void Registered(const std::string& where) override { inner_.Registered(where); }
    void RegistrationFailed(const std::string& reason) override { inner_.RegistrationFailed(reason); }
    bool RequiresRegistration() const override { return inner_.RequiresRegistration(); }
    void Recovered(const std::vector<std::string>& lines) override { inner_.Recovered(lines); }
    void RolledBack(const std::vector<std::string>& lines) override { inner_.RolledBack(lines); }
    void Finished() override { inner_.Finished(); }

  private:
    TInstallFrontEnd& inner_;
    TInstallRegistration& registration_;
};
