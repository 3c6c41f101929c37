// The progress window and the extraction loop: every entry of the embedded archive is expanded
// into the destination folder while the window shows the entry's name and an overall gauge.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/preflight.h"
#include "framework/exceptions.h"
#include "framework/forms.h"
#include "framework/std_controls.h"

class TCompress;
class TInstallFrontEnd;
class TGauge;
class TStream;

class TfrmCopy : public TForm {
  public:
    explicit TfrmCopy(TComponent* owner);
    const char* ClassName() const override { return "TfrmCopy"; }

    TPanel* Panel3 = nullptr;
    TGauge* Gauge1 = nullptr;
    TLabel* Label1 = nullptr;
    TButton* btnCopyCancel = nullptr;
    TLabel* Label2 = nullptr;
    TCompress* Compress1 = nullptr;

    void Compress1ShowProgress(int32_t& PercentageDone);
    void btnCopyCancelClick(TObject* Sender);

    // Checks the archive (its digest, then every entry), then what the loop will do to the
    // destination, then expands each entry into the destination folder, asking frontEnd about an
    // existing site database and telling it what was done (see copy_form.cpp). Every failure is an
    // exception; what the checks can foresee stops before anything is touched, any other failure
    // leaves the entries before the failing one written.
    void ExtractAllFiles(TInstallFrontEnd& frontEnd);
};

extern TfrmCopy* frmCopy;

// After an entry's expansion its file is not at its place with the entry's size.
TANDREL_DECLARE_EXCEPTION(ENotWritten, Exception);
inline constexpr const char kNotWritten[] = "The file %s was not written in full";
