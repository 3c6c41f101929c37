// The application object: title, main form, message loop and the general exception handler.
//
//     Application->Initialize();
//     Application->SetTitle("Setup");
//     Application->CreateForm(frmMain);   // the first form created becomes the main form
//     Application->Run();                 // shows the main form, loops until Terminate
//
// An exception that leaves an event handler reaches HandleException: a message box captioned
// with the title, the exception's message followed by ".", a stop icon and OK; the loop goes on.
#pragma once

#include <windows.h>

#include <exception>
#include <functional>
#include <new>
#include <string>

#include "framework/component.h"
#include "framework/forms.h"

class TApplication : public TComponent {
  public:
    TApplication();
    ~TApplication() override;
    const char* ClassName() const override { return "TApplication"; }

    // Prepares the framework: window classes, common controls, the process's DPI awareness.
    void Initialize();

    const std::string& Title() const { return title_; }
    void SetTitle(std::string title) { title_ = std::move(title); }

    TForm* MainForm() const { return mainForm_; }

    // Creates a form owned by the application. reference points at the form's storage before its
    // constructor runs, so that creation code may reach the form through it; it is reset to null
    // if the constructor throws. The first form created becomes the main form.
    template <typename T>
    void CreateForm(T*& reference) {
        void* storage = ::operator new(sizeof(T));
        reference = static_cast<T*>(storage);
        T* form = nullptr;
        try {
            form = new (storage) T(this);
        } catch (...) {
            reference = nullptr;
            ::operator delete(storage);
            throw;
        }
        if (mainForm_ == nullptr) {
            mainForm_ = form;
        }
    }

    // Shows the main form and dispatches messages until the application is terminated.
    void Run();
    // Dispatches every message that is waiting, then returns.
    void ProcessMessages();
    // Waits for one message and dispatches it.
    void HandleMessage();
    // Ends the message loop (and any modal loop) at the next message.
    void Terminate();
    bool Terminated() const { return terminated_; }
    // Takes back a termination that has not ended a loop yet (tests that terminate on purpose).
    void CancelTermination();

    // The general exception handler (see above). Runs its own modal message box, or OnException
    // instead when that is assigned.
    void HandleException(const std::exception& error);
    // Takes the failures of event handlers in place of the message box: a run that nobody watches
    // keeps them for its log.
    std::function<void(const std::exception& error)> OnException;
    // The text it shows for an exception: the message followed by ".".
    static std::string ExceptionText(const std::exception& error);

    // Shows the help topic of a help context. The program ships no help file: this does nothing.
    void HelpContext(int context);

    // Keyboard handling before dispatch (Enter/Esc for default/cancel buttons, Tab, mnemonics).
    // Returns true when the message has been handled.
    bool PreTranslate(MSG& message);

    // Frees every form that the application owns (the program does it before its shutdown steps).
    void DestroyForms() { DestroyComponents(); }

  private:
    friend class TForm;
    void Dispatch(MSG& message);

    std::string title_;
    TForm* mainForm_ = nullptr;
    bool terminated_ = false;
};

extern TApplication* const Application;

// text for a system message box: a run of characters without a blank (a long path) longer than the
// box shows within half the screen is broken at its backslashes (see BreakLongRuns), since the box
// breaks lines at blanks only and would grow wider than the screen.
std::string MessageBoxText(const std::string& text);
