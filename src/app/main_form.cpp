#include "main_form.h"

#include "application.h"
#include "message_dialog.h"

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
    // dir, drive and Gradient1 are looked up here once their classes are in the layout.
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
    // Sets the directory list's current directory to itself in lower case; comes with the list.
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

void TfrmMain::dirChange(TObject*) {}

void TfrmMain::btnDirContinueClick(TObject*) {}

void TfrmMain::driveChange(TObject*) {}

void TfrmMain::driveClick(TObject*) {}

std::string TfrmMain::AddTrailingBackslash(const std::string& path) {
    if (path.size() > 1 && path.back() != '\\') {
        return path + '\\';
    }
    return path;
}
