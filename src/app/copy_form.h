// The progress window and the extraction loop: every entry of the embedded archive is expanded
// into the destination folder while the window shows the entry's name and an overall gauge.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "forms.h"
#include "std_controls.h"

class TCompress;
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

    // Expands every archive entry into the destination folder (see copy_form.cpp). Every failure
    // is an exception; the entries before the failing one stay written.
    void ExtractAllFiles();
};

extern TfrmCopy* frmCopy;

// The question asked before an existing site database is replaced.
inline constexpr const char kKeepSiteDatabaseQuestion[] =
    "There is currently a site database file. Do you want to keep the existing file? ";
