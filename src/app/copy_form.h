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
#include "archive/compress.h"
#include "framework/exceptions.h"
#include "framework/forms.h"
#include "framework/std_controls.h"
#include "lifecycle/install_record.h"
#include "lifecycle/install_transaction.h"
#include "lifecycle/safe_files.h"
#include "widgets/progress_controls.h"

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
        Transaction.emplace(*Folder, Destination, MadeAbove, MadeDestination, Security);
        return *Transaction;
    }
};

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

// Expands the listed entry name (info: its line of a ListArchiveFiles list of archive) with compress
// into the new file, whose full path is written, measuring it as it is written. A handler that
// compress has already (OnCheckFile) still decides first whether the entry is written; it is given
// back afterwards.
TCompress::TExpandedFile ExpandIntoNewFile(TCompress& compress,
                                           TStream& archive,
                                           const std::string& name,
                                           const TCompressedFileInfo& info,
                                           TNewFile& file,
                                           const std::string& written);
// Whether the expansion wrote the new file in full where it was meant to go, and the file holds
// that much now (its size asked of the open file, not of what was written).
bool WrittenInFull(const TCompress::TExpandedFile& expanded,
                   const std::string& written,
                   int64_t fullSize,
                   const TNewFile& file);

// After an entry's expansion its file is not at its place with the entry's size.
TANDREL_DECLARE_EXCEPTION(ENotWritten, Exception);
inline constexpr const char kNotWritten[] = "The file %s was not written in full";
