// The progress window and the extraction loop: every entry of the embedded archive is expanded
// into the destination folder while the window shows the entry's name and an overall gauge.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/install_front_end.h"
#include "app/preflight.h"
#include "framework/exceptions.h"
#include "framework/forms.h"
#include "framework/std_controls.h"
#include "lifecycle/install_record.h"
#include "lifecycle/install_transaction.h"
#include "lifecycle/safe_files.h"
#include "widgets/progress_controls.h"

class TCompress;
class TInstallFrontEnd;
class TStream;

// What a run holds from its checks to its end: the destination's folder object (its folders held
// open), the journal of its changes, the record of the installation that was there before it.
struct TInstallRun {
    std::string Destination;                  // full, without a trailing "\\"
    std::vector<std::string> MadeAbove;       // folders above it made by this run, outermost first
    bool MadeDestination = false;             // the run made the destination itself
    SECURITY_ATTRIBUTES* Security = nullptr;  // the access list of the folders the run makes
    int64_t RegistrationBytes = 0;            // what the registration writes into the destination
    std::optional<TInstallationLock> Lock;    // one setup or removal of the folder at a time
    std::optional<TSafeFolder> Folder;
    std::optional<TInstallRecord> Previous;  // the record of this folder's earlier installation
    std::optional<TInstallTransaction> Transaction;

    // Starts the journal: the first change.
    TInstallTransaction& Begin() {
        Transaction.emplace(*Folder, Destination, MadeAbove, MadeDestination);
        return *Transaction;
    }
    // Whether an item in the destination that a run would replace is one that a Tandrel run wrote.
    bool IsRecordedFile(const std::string& name, int64_t size, const Sha256Digest& digest) const;
};

// The name in Backup for the file name that is being replaced: "Backup\<name>", or, when a backup of
// that name exists and the file is not a complete version that a run wrote (known: its size and
// digest are those of the record or of the new file), "Backup\<stem> (2)<ext>" and so on, so that no
// older backup is replaced by what may be a part of a version. replaces tells whether an older
// backup of that name is replaced (it is set aside by the run, and goes once the run completes).
std::string BackupNameFor(TSafeFolder& folder, const std::string& name, bool known, bool& replaces);

// Moves the file name, which the run is about to replace, out of the way as a step of the run: into
// Backup (backups on; see BackupNameFor, newDigest the new file's digest when there is one) or
// aside. Raises EBackupFailed when it cannot be moved into Backup.
void MoveAwayReplaced(TInstallRun& run,
                      const std::string& name,
                      bool backups,
                      const std::optional<Sha256Digest>& newDigest,
                      TBackupAction& backup);

class TfrmCopy : public TForm, public TProgressControls {
  public:
    explicit TfrmCopy(TComponent* owner);
    const char* ClassName() const override { return "TfrmCopy"; }

    TButton* btnCopyCancel = nullptr;
    TCompress* Compress1 = nullptr;

    void Compress1ShowProgress(int32_t& PercentageDone);
    void btnCopyCancelClick(TObject* Sender);

    // Checks the archive (its digest, then every entry), then what the loop will do to the
    // destination, then starts the run's journal and expands each entry into the destination
    // folder, asking frontEnd about an existing site database and telling it what was done (see
    // copy_form.cpp). Every failure is an exception; what the checks can foresee stops before
    // anything is touched, any other failure leaves the steps taken in the run's journal, for the
    // caller to roll back.
    void ExtractAllFiles(TInstallFrontEnd& frontEnd, TInstallRun& run);
};

extern TfrmCopy* frmCopy;

// After an entry's expansion its file is not at its place with the entry's size.
TANDREL_DECLARE_EXCEPTION(ENotWritten, Exception);
inline constexpr const char kNotWritten[] = "The file %s was not written in full";
