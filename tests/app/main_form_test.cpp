// The main window as stored and at run time, its panels, and its close confirmation through the
// real modal loop (a helper thread finds the warning dialog and answers it).
#include "app/main_form.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "../common/gui_driver.h"
#include "app/program_classes.h"
#include "framework/application.h"
#include "widgets/message_dialog.h"

namespace {

class MainWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(Application->MainForm(), nullptr);
        RegisterProgramClasses();
        Application->CreateForm(frmMain);
        ASSERT_NE(frmMain, nullptr);
    }
    void TearDown() override {
        delete frmMain;
        frmMain = nullptr;
        Application->CancelTermination();
    }
    TLabel* Label(const char* name) { return dynamic_cast<TLabel*>(frmMain->FindComponent(name)); }
};

struct StoredControl {
    const char* name;
    const char* parent;
    int left, top, width, height;
    const char* text;
};

TEST_F(MainWindow, EveryControlWhereTheLayoutPutsItWithItsRunTimeText) {
    // Stored figures at 120 pixels per inch, which the tests run at: nothing is scaled.
    const StoredControl controls[] = {
        {"lblShadowName", "frmMain", 14, 12, 328, 67, "Tandrel 2.11"},
        {"lblTopName", "frmMain", 12, 8, 328, 67, "Tandrel 2.11"},
        {"Label4", "frmMain", 12, 84, 218, 31, "by: Ornavik, Inc."},
        {"Label3", "frmMain", 9, 81, 218, 31, "by: Ornavik, Inc."},
        {"WelcomePanel", "frmMain", 190, 111, 295, 181, ""},
        {"PathPanel", "frmMain", 180, 77, 314, 272, "PathPanel"},
        {"imgIcon", "WelcomePanel", 16, 30, 69, 79, ""},
        {"lblWelcome", "WelcomePanel", 100, 28, 170, 16, "Welcome to Tandrel Setup!"},
        {"Label2", "WelcomePanel", 100, 56, 3, 16, ""},
        {"lblProgram", "WelcomePanel", 100, 56, 153, 32, "This program will install Tandrel on your system."},
        {"Label1", "WelcomePanel", 100, 96, 141, 17, "Click Cancel to abort."},
        {"btnContinue", "WelcomePanel", 35, 129, 90, 28, "Continue"},
        {"btnCancel", "WelcomePanel", 150, 129, 91, 29, "Cancel"},
        {"lblDestDir", "PathPanel", 18, 18, 194, 16, "Select a directory  for installation:"},
        {"txtDestPath", "PathPanel", 16, 44, 281, 24, ""},
        {"btnDirContinue", "PathPanel", 208, 81, 89, 29, "Continue"},
        {"btnDestCancel", "PathPanel", 208, 117, 89, 29, "Cancel"},
    };
    for (const StoredControl& stored : controls) {
        auto* control = dynamic_cast<TControl*>(frmMain->FindComponent(stored.name));
        ASSERT_NE(control, nullptr) << stored.name;
        EXPECT_EQ(control->Parent()->Name(), stored.parent) << stored.name;
        EXPECT_EQ(control->Left(), stored.left) << stored.name;
        EXPECT_EQ(control->Top(), stored.top) << stored.name;
        EXPECT_EQ(control->Width(), stored.width) << stored.name;
        EXPECT_EQ(control->Height(), stored.height) << stored.name;
        EXPECT_EQ(control->Caption(), stored.text) << stored.name;
    }
    // lblProgramName sizes itself to its run-time text.
    TLabel* programName = Label("lblProgramName");
    EXPECT_EQ(programName->Caption(), "Tandrel 2.11");
    EXPECT_EQ(programName->Left(), 114);
    EXPECT_EQ(programName->Top(), 62);
    WindowDc screen(nullptr);
    TCanvas canvas(screen.get());
    canvas.Font = programName->Font();
    EXPECT_EQ(programName->Width(), canvas.TextWidth("Tandrel 2.11"));
    EXPECT_EQ(programName->Height(), 16);

    // The window itself, as stored, before it is shown maximised.
    EXPECT_EQ(frmMain->Caption(), "Tandrel Setup");
    EXPECT_EQ(frmMain->Left(), 125);
    EXPECT_EQ(frmMain->Top(), 112);
    EXPECT_EQ(frmMain->Width(), 675);
    EXPECT_EQ(frmMain->Height(), 426);
    EXPECT_EQ(frmMain->BorderIcons(), biSystemMenu);
    EXPECT_EQ(frmMain->WindowState(), TWindowState::wsMaximized);
    EXPECT_EQ(frmMain->Font().Name(), "MS Sans Serif");
    EXPECT_EQ(frmMain->Font().Height(), -13);
    EXPECT_EQ(frmMain->Font().Color(), clWindowText);
    EXPECT_TRUE(frmMain->WelcomePanel->Visible());
    EXPECT_FALSE(frmMain->PathPanel->Visible());
}

TEST_F(MainWindow, FontsShadowsAndPaintingOrder) {
    struct Look {
        const char* name;
        const char* face;
        int height;
        TFontStyles style;
        TColor color;
        bool transparent;
    };
    const TFontStyles boldItalic =
        static_cast<TFontStyles>(TFontStyle::fsBold) | static_cast<TFontStyles>(TFontStyle::fsItalic);
    const Look looks[] = {
        {"lblShadowName", "Times New Roman", -60, boldItalic, clBlack, true},
        {"lblTopName", "Times New Roman", -60, boldItalic, clWhite, true},
        {"Label4", "Times New Roman", -27, boldItalic, clBlack, true},
        {"Label3", "Times New Roman", -27, boldItalic, clWhite, true},
        {"lblProgramName", "MS Sans Serif", -13, 0, clBlack, false},
        {"lblWelcome", "MS Sans Serif", -13, 0, clBlack, false},
        {"lblProgram", "MS Sans Serif", -13, 0, clBlack, false},
        {"Label1", "MS Sans Serif", -13, 0, clBlack, false},
        {"Label2", "MS Sans Serif", -13, 0, clWindowText, false},  // the window's font
        {"lblDestDir", "MS Sans Serif", -13, 0, clBlack, false},
    };
    for (const Look& look : looks) {
        TLabel* label = Label(look.name);
        ASSERT_NE(label, nullptr) << look.name;
        EXPECT_EQ(label->Font().Name(), look.face) << look.name;
        EXPECT_EQ(label->Font().Height(), look.height) << look.name;
        EXPECT_EQ(label->Font().Style(), look.style) << look.name;
        EXPECT_EQ(label->Font().Color(), look.color) << look.name;
        EXPECT_EQ(label->Transparent(), look.transparent) << look.name;
    }
    EXPECT_TRUE(Label("Label2")->WordWrap());
    EXPECT_TRUE(Label("lblProgram")->WordWrap());
    EXPECT_TRUE(Label("Label1")->WordWrap());
    // Shadows: the black label lies 2 right and 4 down (name), 3 and 3 (by-line) of the white one.
    EXPECT_EQ(Label("lblShadowName")->Left() - Label("lblTopName")->Left(), 2);
    EXPECT_EQ(Label("lblShadowName")->Top() - Label("lblTopName")->Top(), 4);
    EXPECT_EQ(Label("Label4")->Left() - Label("Label3")->Left(), 3);
    EXPECT_EQ(Label("Label4")->Top() - Label("Label3")->Top(), 3);

    const auto order = [](TWinControl* parent) {
        std::vector<std::string> names;
        for (int i = 0; i < parent->ControlCount(); ++i) {
            names.push_back(parent->Controls(i)->Name());
        }
        return names;
    };
    // The gradient lies under everything: first in painting order.
    EXPECT_EQ(order(frmMain), (std::vector<std::string>{"Gradient1", "lblShadowName", "lblTopName", "Label4",
                                                        "Label3", "WelcomePanel", "PathPanel"}));
    const std::vector<std::string> welcome = order(frmMain->WelcomePanel);
    const auto position = [&](const char* name) {
        return std::find(welcome.begin(), welcome.end(), name) - welcome.begin();
    };
    EXPECT_LT(position("lblProgramName"), position("lblProgram"));
    EXPECT_LT(position("Label2"), position("lblProgram"));

    // The product picture: 64 x 64, 16 colours, stored with the layout.
    EXPECT_EQ(frmMain->imgIcon->Picture().Width(), 64);
    EXPECT_EQ(frmMain->imgIcon->Picture().Height(), 64);
    BITMAP info{};
    ::GetObjectA(frmMain->imgIcon->Picture().Handle(), sizeof(info), &info);
    EXPECT_EQ(info.bmBitsPixel, 4);

    // Buttons: roles and tab order.
    EXPECT_TRUE(frmMain->btnContinue->Default());
    EXPECT_TRUE(frmMain->btnDirContinue->Default());
    EXPECT_FALSE(frmMain->btnCancel->Default());
    EXPECT_EQ(frmMain->WelcomePanel->TabOrder(), 0);
    EXPECT_EQ(frmMain->PathPanel->TabOrder(), 1);
    EXPECT_EQ(frmMain->btnContinue->TabOrder(), 0);
    EXPECT_EQ(frmMain->btnCancel->TabOrder(), 1);
    EXPECT_EQ(frmMain->txtDestPath->TabOrder(), 0);
    EXPECT_EQ(frmMain->btnDirContinue->TabOrder(), 1);
    EXPECT_EQ(frmMain->btnDestCancel->TabOrder(), 2);
}

TEST_F(MainWindow, PanelsKeepTheirPlacesWhenTheWindowIsMaximised) {
    frmMain->Show();
    Application->ProcessMessages();
    EXPECT_TRUE(::IsZoomed(frmMain->Handle()));
    EXPECT_GT(frmMain->Width(), 675);
    EXPECT_EQ(frmMain->WelcomePanel->Left(), 190);
    EXPECT_EQ(frmMain->WelcomePanel->Top(), 111);
    EXPECT_EQ(frmMain->PathPanel->Left(), 180);
    EXPECT_EQ(frmMain->PathPanel->Top(), 77);
    RECT panel{};
    ::GetWindowRect(frmMain->WelcomePanel->Handle(), &panel);
    POINT corner{panel.left, panel.top};
    ::ScreenToClient(frmMain->Handle(), &corner);
    EXPECT_EQ(corner.x, 190);
    EXPECT_EQ(corner.y, 111);
}

TEST_F(MainWindow, EnterOnTheWelcomePanelContinuesToTheDestinationPanel) {
    frmMain->Show();
    Application->ProcessMessages();
    ASSERT_TRUE(frmMain->btnContinue->Focused());
    gui::PressKey(::GetCurrentThreadId(), VK_RETURN);
    Application->ProcessMessages();
    EXPECT_FALSE(frmMain->WelcomePanel->Visible());
    EXPECT_TRUE(frmMain->PathPanel->Visible());
    EXPECT_EQ(frmMain->txtDestPath->Text(), "C:\\Program Files\\Tandrel");
    EXPECT_TRUE(frmMain->txtDestPath->Focused());

    // Typed text is replaced by the default whenever Continue is pressed on the welcome panel.
    frmMain->txtDestPath->SetText("D:\\elsewhere");
    frmMain->btnContinueClick(frmMain->btnContinue);
    EXPECT_EQ(frmMain->txtDestPath->Text(), "C:\\Program Files\\Tandrel");
}

// Answers the warning question with action and records the question's text.
struct Answer {
    std::string question;
    std::function<void(HWND, DWORD)> action;
};

void AskToClose(Answer& answer, const std::function<void()>& close) {
    const DWORD ui = ::GetCurrentThreadId();
    gui::Driver driver("Warning", [&](HWND dialog) {
        if (auto* form = dynamic_cast<TForm*>(TWinControl::FromHandle(dialog))) {
            if (auto* label = dynamic_cast<TLabel*>(form->FindComponent("Message"))) {
                answer.question = label->Caption();  // read while the UI thread waits in the dialog
            }
        }
        answer.action(dialog, ui);
    });
    close();
    driver.Join();
    EXPECT_TRUE(driver.Found());
}

const char kQuestion[] =
    "Setup is not complete.  If you abort now, the program may not run properly.  Are you sure you want to "
    "cancel installation? ";

TEST_F(MainWindow, EveryWayOfClosingAsksAndNoKeepsEverything) {
    frmMain->Show();
    Application->ProcessMessages();
    const auto closeBox = [] { ::SendMessageA(frmMain->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0); };
    const auto altF4 = [] { ::SendMessageA(frmMain->Handle(), WM_CLOSE, 0, 0); };
    const auto welcomeCancel = [] { ::SendMessageA(frmMain->btnCancel->Handle(), BM_CLICK, 0, 0); };
    const auto destCancel = [] { ::SendMessageA(frmMain->btnDestCancel->Handle(), BM_CLICK, 0, 0); };
    const auto pressNo = [](HWND dialog, DWORD) { gui::PressButton(dialog, "&No"); };
    const auto pressEsc = [](HWND, DWORD ui) { gui::PressKey(ui, VK_ESCAPE); };
    const auto closeDialog = [](HWND dialog, DWORD) { ::PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); };

    for (const std::function<void()>& close :
         std::vector<std::function<void()>>{closeBox, altF4, welcomeCancel}) {
        Answer answer{"", pressNo};
        AskToClose(answer, close);
        EXPECT_EQ(answer.question, kQuestion);
        EXPECT_FALSE(Application->Terminated());
        EXPECT_TRUE(frmMain->Visible());
        EXPECT_TRUE(frmMain->WelcomePanel->Visible());
        EXPECT_FALSE(frmMain->PathPanel->Visible());
    }
    frmMain->btnContinueClick(frmMain->btnContinue);
    frmMain->txtDestPath->SetText("D:\\typed by hand");
    for (const std::function<void(HWND, DWORD)>& answerWith :
         std::vector<std::function<void(HWND, DWORD)>>{pressNo, pressEsc, closeDialog}) {
        Answer answer{"", answerWith};
        AskToClose(answer, destCancel);
        EXPECT_EQ(answer.question, kQuestion);
        EXPECT_FALSE(Application->Terminated());
        EXPECT_TRUE(frmMain->PathPanel->Visible());
        EXPECT_FALSE(frmMain->WelcomePanel->Visible());
        EXPECT_EQ(frmMain->txtDestPath->Text(), "D:\\typed by hand");
    }
}

TEST_F(MainWindow, YesEndsTheApplication) {
    frmMain->Show();
    Application->ProcessMessages();
    Answer answer{"", [](HWND dialog, DWORD) { gui::PressButton(dialog, "&Yes"); }};
    AskToClose(answer, [] { ::SendMessageA(frmMain->btnCancel->Handle(), BM_CLICK, 0, 0); });
    EXPECT_TRUE(Application->Terminated());
    // The loop that would run next ends at once.
    Application->Run();
    EXPECT_TRUE(Application->Terminated());
}

}  // namespace
