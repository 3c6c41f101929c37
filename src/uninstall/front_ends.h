// The two ways a removal talks to whoever started it: the interactive front end asks with the
// message dialogs and closes with a message; the unattended one asks nothing and writes the log.
// Both show the progress window unless the run is very silent.
#pragma once

#include <string>
#include <vector>

#include "lifecycle/run_log.h"
#include "lifecycle/uninstall_options.h"
#include "uninstall/removal.h"

class TfrmRemove;

// The log of an unattended removal.
using TRemovalLog = TRunLog;

// The progress window, made when the removal starts and freed with the front end.
class TRemovalWindow {
  public:
    explicit TRemovalWindow(bool visible) : visible_(visible) {}
    TRemovalWindow(const TRemovalWindow&) = delete;
    TRemovalWindow& operator=(const TRemovalWindow&) = delete;
    ~TRemovalWindow() { Close(); }
    void Open();
    void Step(const std::string& name, int percent);
    void Close();

  private:
    bool visible_;
    TfrmRemove* form_ = nullptr;
};

class TInteractiveRemoval : public TRemovalFrontEnd {
  public:
    TInteractiveRemoval() : window_(true) {}
    bool Confirm(const std::string& destination) override;
    bool RetryBlocked(const std::string& path, const std::string& reason) override;
    void StartProgress() override { window_.Open(); }
    void Progress(const std::string& name, int percent) override { window_.Step(name, percent); }
    void Removed(const std::string&) override {}
    void Finished(const std::string& destination, const std::vector<TKeptItem>& kept, bool failed) override;
    void Failed(const std::string& message) override;

  private:
    TRemovalWindow window_;
};

class TUnattendedRemoval : public TRemovalFrontEnd {
  public:
    TUnattendedRemoval(TUninstallMode mode, TRemovalLog& log)
        : window_(mode == TUninstallMode::Silent), log_(log) {}
    bool Confirm(const std::string& destination) override;
    bool RetryBlocked(const std::string& path, const std::string& reason) override;
    void StartProgress() override { window_.Open(); }
    void Progress(const std::string& name, int percent) override { window_.Step(name, percent); }
    void Removed(const std::string& what) override { log_.Line("Removed: " + what); }
    void Finished(const std::string& destination, const std::vector<TKeptItem>& kept, bool failed) override;
    void Failed(const std::string& message) override;
    void Recovered(const std::vector<std::string>& lines) override {
        for (const std::string& line : lines) {
            log_.Line("Recovery: " + line);
        }
    }

  private:
    TRemovalWindow window_;
    TRemovalLog& log_;
};

// The first lines of every log: the program, the time, the command line as it stands, the mode.
void LogHeading(TRemovalLog& log, const std::string& commandLine, TUninstallMode mode);
// The last line: "Result: <what> (exit code N)"; returns exitCode.
int LogResult(TRemovalLog& log, int exitCode);
