// The progress window of a removal: the look of the setup's extraction window, with the name of
// the item being removed and an overall gauge.
#pragma once

#include <string>

#include "framework/forms.h"
#include "framework/std_controls.h"
#include "widgets/progress_controls.h"

class TfrmRemove : public TForm, public TProgressControls {
  public:
    explicit TfrmRemove(TComponent* owner);
    const char* ClassName() const override { return "TfrmRemove"; }

    // "Removing: <name>" and the gauge at percent (0 to 100); the window repaints at once.
    void ShowStep(const std::string& name, int percent);
};
