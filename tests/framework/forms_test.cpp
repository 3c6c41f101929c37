// Forms and the application under Wine, driven through their real modal loops: a helper thread
// finds the window by its caption and presses its buttons or keys, as a user would.
#include "framework/forms.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "../common/gui_driver.h"
#include "framework/application.h"
#include "framework/exceptions.h"
#include "framework/std_controls.h"
#include "framework/unit_startup.h"

namespace {

// A small dialog: an edit box first in tab order, a default button (result 6) and a cancel
// button (result 7).
struct TestDialog {
    explicit TestDialog(const std::string& caption) : form(std::make_unique<TForm>(Application)) {
        form->SetCaption(caption);
        form->SetBorderStyle(TFormBorderStyle::bsDialog);
        form->SetPosition(TPosition::poScreenCenter);
        form->SetClientWidth(260);
        form->SetClientHeight(90);
        edit = new TEdit(form.get());
        edit->SetParent(form.get());
        edit->SetBounds(10, 10, 200, 24);
        yes = AddButton("Go", 10, mrYes);
        yes->SetDefault(true);
        no = AddButton("Stop", 100, mrNo);
        no->SetCancel(true);
    }
    TButton* AddButton(const std::string& caption, int left, int result) {
        auto* button = new TButton(form.get());
        button->SetParent(form.get());
        button->SetBounds(left, 50, 80, 28);
        button->SetCaption(caption);
        button->SetModalResult(result);
        return button;
    }
    std::unique_ptr<TForm> form;
    TEdit* edit;
    TButton* yes;
    TButton* no;
};

TEST(ModalLoop, EndsWithTheResultOfTheButtonPressed) {
    TestDialog dialog("Modal press");
    gui::Driver driver("Modal press", [](HWND window) { gui::PressButton(window, "Stop"); });
    EXPECT_EQ(dialog.form->ShowModal(), mrNo);
    driver.Join();
    EXPECT_TRUE(driver.Found());
    EXPECT_FALSE(dialog.form->Visible());
    EXPECT_FALSE(dialog.form->Modal());
    EXPECT_FALSE(Application->Terminated());
}

TEST(ModalLoop, EnterPressesTheDefaultButtonAndEscTheCancelButton) {
    {
        TestDialog dialog("Modal enter");
        gui::Driver driver("Modal enter", [&](HWND) { gui::PressKey(driver.UiThread(), VK_RETURN); });
        EXPECT_EQ(dialog.form->ShowModal(), mrYes);
        driver.Join();
        EXPECT_TRUE(driver.Found());
    }
    {
        TestDialog dialog("Modal escape");
        gui::Driver driver("Modal escape", [&](HWND) { gui::PressKey(driver.UiThread(), VK_ESCAPE); });
        EXPECT_EQ(dialog.form->ShowModal(), mrNo);
        driver.Join();
        EXPECT_TRUE(driver.Found());
    }
    {
        // Enter on a focused button presses that button, not the default one.
        TestDialog dialog("Modal focused");
        dialog.no->SetTabOrder(0);
        gui::Driver driver("Modal focused", [&](HWND) { gui::PressKey(driver.UiThread(), VK_RETURN); });
        EXPECT_EQ(dialog.form->ShowModal(), mrNo);
        driver.Join();
    }
}

TEST(ModalLoop, CloseBoxGivesCancelUnlessCloseQueryRefuses) {
    TestDialog dialog("Modal close");
    int asked = 0;
    dialog.form->OnCloseQuery = [&](TObject*, bool& canClose) { canClose = ++asked > 1; };
    gui::Driver driver("Modal close", [](HWND window) {
        ::PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);  // as the close box does
        ::PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    });
    EXPECT_EQ(dialog.form->ShowModal(), mrCancel);
    driver.Join();
    EXPECT_EQ(asked, 2);
}

TEST(ModalLoop, ApplicationTerminationEndsItWithCancel) {
    TestDialog dialog("Modal quit");
    gui::Driver driver("Modal quit", [&](HWND) { ::PostThreadMessageA(driver.UiThread(), WM_QUIT, 0, 0); });
    EXPECT_EQ(dialog.form->ShowModal(), mrCancel);
    driver.Join();
    EXPECT_TRUE(driver.Found());
    EXPECT_TRUE(Application->Terminated());
    Application->CancelTermination();
}

TEST(ModalLoop, NestedDialogsReactivateTheOuterOne) {
    TestDialog outer("Outer dialog");
    TestDialog inner("Inner dialog");
    HWND activeAfterInner = nullptr;
    int innerResult = -1;
    outer.yes->SetModalResult(mrNone);
    outer.yes->OnClick = [&](TObject*) {
        gui::Driver second("Inner dialog", [](HWND window) { gui::PressButton(window, "Go"); });
        innerResult = inner.form->ShowModal();
        second.Join();
        activeAfterInner = ::GetActiveWindow();
        outer.form->SetModalResult(mrOk);
    };
    gui::Driver first("Outer dialog", [](HWND window) { gui::PressButton(window, "Go"); });
    EXPECT_EQ(outer.form->ShowModal(), mrOk);
    first.Join();
    EXPECT_EQ(innerResult, mrYes);
    EXPECT_EQ(activeAfterInner, outer.form->Handle());
}

TEST(ModalLoop, AVisibleFormCannotBeMadeModal) {
    TestDialog dialog("Visible already");
    dialog.form->Show();
    EXPECT_THROW(dialog.form->ShowModal(), EInvalidOperation);
}

TEST(FormClose, TheMainFormTerminatesTheApplicationAndOthersHide) {
    ASSERT_EQ(Application->MainForm(), nullptr);
    TForm* main = nullptr;
    Application->CreateForm(main);
    ASSERT_EQ(Application->MainForm(), main);
    TForm* other = nullptr;
    Application->CreateForm(other);
    EXPECT_EQ(Application->MainForm(), main);  // only the first form created

    other->Show();
    other->Close();
    EXPECT_FALSE(other->Visible());
    EXPECT_FALSE(Application->Terminated());

    bool refuse = true;
    main->OnCloseQuery = [&](TObject*, bool& canClose) { canClose = !refuse; };
    main->Show();
    main->Close();
    EXPECT_FALSE(Application->Terminated());
    EXPECT_TRUE(main->Visible());
    refuse = false;
    main->Close();
    EXPECT_TRUE(Application->Terminated());

    Application->CancelTermination();
    delete other;
    delete main;
    EXPECT_EQ(Application->MainForm(), nullptr);
}

struct TSelfAware : public TForm {
    explicit TSelfAware(TComponent* owner) : TForm(owner) { seenDuringCreation = reference; }
    static TSelfAware* reference;
    static TSelfAware* seenDuringCreation;
};
TSelfAware* TSelfAware::reference = nullptr;
TSelfAware* TSelfAware::seenDuringCreation = nullptr;

struct TFailing : public TForm {
    explicit TFailing(TComponent* owner) : TForm(owner) { throw EReadError("broken layout"); }
};

TEST(ApplicationObject, CreateFormSetsTheReferenceBeforeTheConstructorRuns) {
    TSelfAware::reference = nullptr;
    Application->CreateForm(TSelfAware::reference);
    EXPECT_NE(TSelfAware::reference, nullptr);
    EXPECT_EQ(TSelfAware::seenDuringCreation, TSelfAware::reference);
    delete TSelfAware::reference;

    TFailing* failing = nullptr;
    const int before = Application->ComponentCount();
    EXPECT_THROW(Application->CreateForm(failing), EReadError);
    EXPECT_EQ(failing, nullptr);
    EXPECT_EQ(Application->ComponentCount(), before);
}

TEST(ApplicationObject, GeneralHandlerShowsTheMessageWithAFullStopAndTheLoopGoesOn) {
    const std::string savedTitle = Application->Title();
    Application->SetTitle("Setup");
    TestDialog dialog("Failing window");
    dialog.yes->SetModalResult(mrNone);
    dialog.yes->OnClick = [](TObject*) { throw EInOutError("Cannot open file C:\\x", 5); };
    int clicks = 0;
    dialog.no->SetModalResult(mrNone);
    dialog.no->OnClick = [&](TObject*) { ++clicks; };
    dialog.form->Show();

    std::string boxText;
    std::string boxClass;
    LONG_PTR boxStyle = 0;
    {
        gui::Driver driver("Setup", [&](HWND box) {
            boxText = gui::StaticTexts(box);
            boxClass = gui::ClassOf(box);
            boxStyle = ::GetWindowLongPtrA(box, GWL_STYLE);
            ::PostMessageA(box, WM_COMMAND, IDOK, 0);
        });
        // A click that reaches the button through its window: the handler throws inside the
        // window procedure, and the general handler takes it there.
        ::SendMessageA(dialog.yes->Handle(), BM_CLICK, 0, 0);
        driver.Join();
        EXPECT_TRUE(driver.Found());
    }
    EXPECT_EQ(boxText, "Cannot open file C:\\x.");
    EXPECT_EQ(boxClass, "#32770");  // the system's message box
    EXPECT_NE(boxStyle & WS_CAPTION, 0);
    // The program goes on: other handlers still run, nothing is terminated.
    ::SendMessageA(dialog.no->Handle(), BM_CLICK, 0, 0);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(Application->Terminated());

    EXPECT_EQ(TApplication::ExceptionText(std::bad_alloc()), "Out of memory.");
    EXPECT_EQ(TApplication::ExceptionText(EConvertError("'x' is not a valid integer value")),
              "'x' is not a valid integer value.");
    Application->SetTitle(savedTitle);
}

TEST(UnitStartup, StopsRunInReverseOrderAndOnlyForStartedUnits) {
    std::vector<std::string> log;
    RegisterUnitStartup([&] { log.push_back("start a"); }, [&] { log.push_back("stop a"); });
    RegisterUnitStartup([&] { log.push_back("start b"); }, nullptr);
    RegisterUnitStartup([&] { log.push_back("start c"); }, [&] { log.push_back("stop c"); });
    RunUnitStartups();
    RunUnitShutdowns();
    RunUnitShutdowns();  // each stop runs once
    EXPECT_EQ(log, (std::vector<std::string>{"start a", "start b", "start c", "stop c", "stop a"}));

    log.clear();
    RegisterUnitStartup([&] { throw std::runtime_error("no"); }, [&] { log.push_back("stop d"); });
    EXPECT_THROW(RunUnitStartups(), std::runtime_error);
    EXPECT_EQ(log, (std::vector<std::string>{"start a", "start b", "start c", "stop c", "stop a"}));
}

}  // namespace

namespace {

// A failure that names a long path is told in a box that stays within the screen; the message,
// without the line breaks put into the path, is the failure's text.
TEST(ErrorBox, ALongPathIsBrokenSoThatTheBoxStaysWithinTheScreen) {
    const std::string title = Application->Title();
    Application->SetTitle("Error box width");
    auto handler = std::exchange(Application->OnException, nullptr);  // the box itself, this once
    const std::string path = gui::LongPath("C:", 250);
    const gui::SeenBox box = gui::ShowAndReadBox(
        "Error box width", [&path] { Application->HandleException(Exception("Cannot create " + path)); });
    const std::string& shown = box.text;
    Application->SetTitle(title);
    Application->OnException = std::move(handler);
    ASSERT_TRUE(box.found);
    EXPECT_LE(box.bounds.right - box.bounds.left, ::GetSystemMetrics(SM_CXSCREEN));
    // The box breaks lines at blanks only (Wine's also cuts a word wider than the screen): the path
    // itself is broken into runs that fit half the screen, in characters of at least 5 pixels.
    const gui::BoxLines lines = gui::ReadBoxLines(shown);
    EXPECT_LE(lines.longestRun, static_cast<size_t>(::GetSystemMetrics(SM_CXSCREEN) / 2 / 5)) << shown;
    EXPECT_NE(lines.joined.find("Cannot create " + path + "."), std::string::npos) << shown;
}

}  // namespace
