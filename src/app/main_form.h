// The main window: the product's name with its shadow, the welcome panel and the destination
// panel over the gradient background. One instance, frmMain, the application's main form.
#pragma once

#include <string>

#include "framework/forms.h"
#include "framework/std_controls.h"

class TDirectoryListBox;
class TDriveComboBox;
class TGradient;

// The question asked before the main window closes (close box, system menu, Alt+F4, both Cancel
// buttons): two blanks after each full stop, one at the end.
inline constexpr const char kCancelSetupQuestion[] =
    "Setup is not complete.  If you abort now, the program may not run properly.  "
    "Are you sure you want to cancel installation? ";
// The question before a missing destination folder is created.
inline constexpr const char kCreateFolderQuestion[] = "The directory %s does not exist. Create it?";

class TfrmMain : public TForm {
  public:
    explicit TfrmMain(TComponent* owner);
    const char* ClassName() const override { return "TfrmMain"; }

    TPanel* WelcomePanel = nullptr;
    TImage* imgIcon = nullptr;
    TLabel* lblProgramName = nullptr;
    TButton* btnContinue = nullptr;
    TButton* btnCancel = nullptr;
    TPanel* PathPanel = nullptr;
    TLabel* lblDestDir = nullptr;
    TEdit* txtDestPath = nullptr;
    TButton* btnDirContinue = nullptr;
    TButton* btnDestCancel = nullptr;
    TDirectoryListBox* dir = nullptr;
    TDriveComboBox* drive = nullptr;
    TGradient* Gradient1 = nullptr;  // the background, first in painting order
    TLabel* lblWelcome = nullptr;
    TLabel* Label2 = nullptr;
    TLabel* lblProgram = nullptr;
    TLabel* lblShadowName = nullptr;
    TLabel* lblTopName = nullptr;
    TLabel* Label1 = nullptr;
    TLabel* Label4 = nullptr;
    TLabel* Label3 = nullptr;

    void FormCreate(TObject* Sender);
    void btnCancelClick(TObject* Sender);
    void FormCloseQuery(TObject* Sender, bool& CanClose);
    void btnContinueClick(TObject* Sender);
    void dirChange(TObject* Sender);
    void btnDirContinueClick(TObject* Sender);
    void driveChange(TObject* Sender);
    void driveClick(TObject* Sender);

    // Centres both panels on the window's size as it stands during creation; hides PathPanel.
    void PlacePanels();

    // Whether the root of drive letter can be read; tells the user when not.
    bool DriveAccessible(char letter);

  private:
    // The destination panel's preparation step, the first step of FormCreate.
    void PrepareDestinationPanel();

    // The drive selected before the user's latest selection; 0 until the first click.
    char SavedDrive = 0;
};

extern TfrmMain* frmMain;
