#include "uninstall/front_ends.h"

#include <windows.h>

#include "framework/application.h"
#include "framework/exceptions.h"
#include "framework/sysutils.h"
#include "uninstall/remove_form.h"
#include "widgets/message_dialog.h"

// ---- The log ---------------------------------------------------------------------------------

void LogHeading(TRemovalLog& log, const std::string& commandLine, TUninstallMode mode) {
    constexpr const char* kModeNames[] = {"interactive", "silent", "very silent"};
    log.Line("Tandrel Uninstall " TANDREL_VERSION);
    log.Line("Time: " + LocalTimeText());
    log.Line("Command line: " + commandLine);
    log.Line(std::string("Mode: ") + kModeNames[static_cast<int>(mode)]);
}

int LogResult(TRemovalLog& log, int exitCode) {
    return LogExitCode(log, exitCode,
                       {{kExitRemoved, "removed"},
                        {kExitBadRecord, "bad command line or record"},
                        {kExitDeclined, "declined"}});
}

// ---- The progress window ---------------------------------------------------------------------

void TRemovalWindow::Open() {
    if (!visible_ || form_ != nullptr) {
        return;
    }
    Application->CreateForm(form_);
    form_->Show();
    Application->ProcessMessages();
}

void TRemovalWindow::Step(const std::string& name, int percent) {
    if (form_ != nullptr) {
        form_->ShowStep(name, percent);
    }
}

void TRemovalWindow::Close() {
    delete form_;
    form_ = nullptr;
}

// ---- Interactive -----------------------------------------------------------------------------

bool TInteractiveRemoval::Confirm(const std::string& destination) {
    return ShowMessageDialog(RemovalQuestion(kProductName, destination), mkConfirmation, mbYesNo, 0) == mrYes;
}

bool TInteractiveRemoval::RetryBlocked(const std::string& path, const std::string& reason) {
    std::string text = "Cannot remove ";
    text.append(path).append(": ").append(reason).append(
        ". Close Tandrel and every program that uses this file, then choose Retry. Nothing has been "
        "removed yet.");
    return ShowMessageDialog(text, mkWarning, ButtonBit(dbRetry) | ButtonBit(dbCancel), 0) == mrRetry;
}

void TInteractiveRemoval::Finished(const std::string& destination,
                                   const std::vector<TKeptItem>& kept,
                                   bool failed) {
    window_.Close();
    std::string text = RemovalSummary(kProductName, destination, kept);
    if (failed) {
        text = "Tandrel could not be removed completely from " + destination + ".";
        for (const TKeptItem& item : kept) {
            text.append("\n").append(DescribeKept(item));
        }
    }
    ShowMessageDialog(text, failed ? mkError : mkInformation, mbOK, 0);
}

void TInteractiveRemoval::Failed(const std::string& message) {
    window_.Close();
    ShowMessageDialog(message, mkError, mbOK, 0);
}

// ---- Unattended ------------------------------------------------------------------------------

bool TUnattendedRemoval::Confirm(const std::string& destination) {
    log_.Line("Destination: " + destination);
    return true;
}

bool TUnattendedRemoval::RetryBlocked(const std::string& path, const std::string& reason) {
    std::string line = "Cannot remove: ";
    log_.Line(line.append(path).append(": ").append(reason).append(" (nothing removed)"));
    return false;
}

void TUnattendedRemoval::Finished(const std::string&, const std::vector<TKeptItem>& kept, bool failed) {
    window_.Close();
    for (const TKeptItem& item : kept) {
        std::string line = failed && item.Reason == TKeptReason::CouldNotRemove ? "Failed: " : "Kept: ";
        log_.Line(line.append(DescribeKept(item)));
    }
}

void TUnattendedRemoval::Failed(const std::string& message) {
    window_.Close();
    log_.Line("Error: " + message);
}
