#include "app/main_form.h"

#include <windows.h>

#include <optional>
#include <string>

#include "app/destination_access.h"
#include "app/install_sequence.h"
#include "app/install_state.h"
#include "app/unattended.h"
#include "framework/application.h"
#include "framework/sysutils.h"
#include "lifecycle/setup_command_line.h"
#include "widgets/directory_list_box.h"
#include "widgets/drive_combo_box.h"
#include "widgets/folders.h"
#include "widgets/gradient.h"
#include "widgets/message_dialog.h"

TfrmMain* frmMain = nullptr;

TfrmMain::TfrmMain(TComponent* owner) : TForm(owner) {
    AddHandler("FormCreate", TNotifyEvent([this](TObject* sender) { FormCreate(sender); }));
    AddHandler("btnCancelClick", TNotifyEvent([this](TObject* sender) { btnCancelClick(sender); }));
    AddHandler("FormCloseQuery", TCloseQueryEvent([this](TObject* sender, bool& canClose) {
                   FormCloseQuery(sender, canClose);
               }));
    AddHandler("btnContinueClick", TNotifyEvent([this](TObject* sender) { btnContinueClick(sender); }));
    AddHandler("dirChange", TNotifyEvent([this](TObject* sender) { dirChange(sender); }));
    AddHandler("btnDirContinueClick", TNotifyEvent([this](TObject* sender) { btnDirContinueClick(sender); }));
    AddHandler("driveChange", TNotifyEvent([this](TObject* sender) { driveChange(sender); }));
    AddHandler("driveClick", TNotifyEvent([this](TObject* sender) { driveClick(sender); }));

    ReadLayout("FRMMAIN");

    WelcomePanel = FindField<TPanel>("WelcomePanel");
    imgIcon = FindField<TImage>("imgIcon");
    lblProgramName = FindField<TLabel>("lblProgramName");
    btnContinue = FindField<TButton>("btnContinue");
    btnCancel = FindField<TButton>("btnCancel");
    PathPanel = FindField<TPanel>("PathPanel");
    lblDestDir = FindField<TLabel>("lblDestDir");
    txtDestPath = FindField<TEdit>("txtDestPath");
    btnDirContinue = FindField<TButton>("btnDirContinue");
    btnDestCancel = FindField<TButton>("btnDestCancel");
    dir = FindField<TDirectoryListBox>("dir");
    drive = FindField<TDriveComboBox>("drive");
    Gradient1 = FindField<TGradient>("Gradient1");
    lblWelcome = FindField<TLabel>("lblWelcome");
    Label2 = FindField<TLabel>("Label2");
    lblProgram = FindField<TLabel>("lblProgram");
    lblShadowName = FindField<TLabel>("lblShadowName");
    lblTopName = FindField<TLabel>("lblTopName");
    Label1 = FindField<TLabel>("Label1");
    Label4 = FindField<TLabel>("Label4");
    Label3 = FindField<TLabel>("Label3");

    DoCreate();
}

void TfrmMain::FormCreate(TObject*) {
    PrepareDestinationPanel();
    lblWelcome->SetCaption("Welcome to Tandrel Setup!");
    lblProgram->SetCaption("This program will install Tandrel on your system.");
    lblTopName->SetCaption("Tandrel 2.11");
    lblShadowName->SetCaption("Tandrel 2.11");
    SetCaption("Tandrel Setup");
    lblProgramName->SetCaption("Tandrel 2.11");
    PlacePanels();
}

void TfrmMain::PrepareDestinationPanel() {
    // Only the letters A to Z change; on a volume that ignores case this moves nothing.
    dir->SetCurrentDirectory(LowerCaseAscii(dir->CurrentDirectory()));
}

void TfrmMain::PlacePanels() {
    // The window's size as it stands now, during creation: the stored one, not the maximised one.
    const int width = Width();
    const int height = Height();
    WelcomePanel->SetTop(height / 2 - WelcomePanel->Height() / 2 - 12);
    WelcomePanel->SetLeft(width / 2 - WelcomePanel->Width() / 2);
    PathPanel->SetTop(height / 2 - PathPanel->Height() / 2);
    PathPanel->SetLeft(width / 2 - PathPanel->Width() / 2);
    PathPanel->Hide();
}

void TfrmMain::FormCloseQuery(TObject*, bool& CanClose) {
    CanClose = ShowMessageDialog(kCancelSetupQuestion, mkWarning, mbYesNo, 0) == mrYes;
}

void TfrmMain::btnCancelClick(TObject*) {
    Close();
}

void TfrmMain::btnContinueClick(TObject*) {
    txtDestPath->SetText(kDefaultDestination);
    WelcomePanel->Hide();
    PathPanel->Show();
}

void TfrmMain::dirChange(TObject*) {
    txtDestPath->SetText(AddTrailingBackslash(dir->CurrentDirectory()) + kProductFolder);
}

void TfrmMain::driveClick(TObject*) {
    // A user's selection clicks before it changes the selection: this is the drive before it.
    SavedDrive = drive->SelectedDrive();
}

void TfrmMain::driveChange(TObject*) {
    const char selected = drive->SelectedDrive();
    if (DriveAccessible(selected)) {
        dir->SetDriveLetter(selected);
        return;
    }
    // Back to the drive selected before, which fires this handler again for it. Before the first
    // click there is none (the drive current at start-up could not be read): the one message is
    // enough and the selection stays, rather than asking again without end.
    if (SavedDrive != 0) {
        drive->SetSelectedDrive(SavedDrive);
    }
}

bool TfrmMain::DriveAccessible(char letter) {
    const std::string root = std::string(1, letter) + ":\\";
    if (FolderExists(root)) {
        return true;
    }
    ShowMessageDialog("Unable to access " + root, mkError, mbOK, 0);
    return false;
}

void TfrmMain::btnDirContinueClick(TObject*) {
    TInstallState& state = InstallState;
    // Where the program's code page is not UTF-8, a name it cannot hold would reach the folder
    // functions with "?" in its place: refused, and the user may type another.
    if (!ExactWindowText(txtDestPath->Handle())) {
        Application->HandleException(EDestinationNotRepresentable(kDestinationNotRepresentable));
        return;
    }
    state.DestinationFolder = txtDestPath->Text();
    // A folder so long that a name the run makes there would not fit the system's limit is refused
    // before any question; the user may choose another.
    const size_t longest = LongestDestination(LongestEmbeddedEntryName());
    if (FullFolderLength(state.DestinationFolder) > longest) {
        Application->HandleException(
            EDestinationTooLong(Format(kDestinationTooLong, static_cast<unsigned>(longest))));
        return;
    }
    // An account that cannot write there hears so before any question, in the box that tells
    // every failure of the run, and the program ends with a failure's exit code.
    if (const std::optional<std::string> problem = DestinationWriteProblem(state.DestinationFolder)) {
        state.Failed = true;
        Application->HandleException(EDestinationNotWritable(*problem));
        Application->Terminate();
        return;
    }
    if (!FolderExists(state.DestinationFolder)) {
        if (ShowMessageDialog(Format(kCreateFolderQuestion, state.DestinationFolder.c_str()), mkConfirmation,
                              mbYesNo, 0) != mrYes) {
            return;
        }
        // The outcome does not matter here: the installation makes what is still missing, and says
        // why when it cannot.
        try {
            MakeDestinationFolders();
        } catch (const std::exception&) {
        }
    }

    PathPanel->Hide();
    TInteractiveFrontEnd frontEnd;
    try {
        RunInstallation(frontEnd);
    } catch (...) {
        state.Failed = true;  // the box tells why; the exit code tells whoever started the run
        throw;
    }
}
