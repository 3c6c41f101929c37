// What an unattended run of the setup or the uninstaller tells whoever started it: a plain-text log
// and a line on the standard error.
#pragma once

#include <initializer_list>
#include <string>

#include "framework/unique_handle.h"

// A plain-text log, one line at a time, written through to the file at once so that it tells how
// far a run came whatever stops it. An empty path logs nothing. Control characters in a line are
// escaped, so that a path or a message that holds one cannot end the line early and forge the next.
class TRunLog {
  public:
    // Creates the file or empties an existing one; others may read it meanwhile. Raises
    // EFCreateError "Cannot create file <path>".
    explicit TRunLog(const std::string& path);
    // A line that cannot be written any more does not stop the run it describes.
    void Line(const std::string& text);

  private:
    UniqueFileHandle file_;
};

// What an exit code means, as a log's last line names it.
struct TExitMeaning {
    int Code;
    const char* What;
};
// Writes the last line, "Result: <what> (exit code N)", and returns exitCode. meanings names the
// program's own codes; 5 (a file in use), 6 (disk space) and 7 (another run) mean the same for
// every program; any other code is "failed".
int LogExitCode(TRunLog& log, int exitCode, std::initializer_list<TExitMeaning> meanings);

// The local time as a log shows it: "YYYY-MM-DD HH:MM:SS".
std::string LocalTimeText();

// "<program>: <text>" on the standard error, for whoever started the program from a console or a
// script; a program without a standard error handle says nothing.
void WriteStandardError(const std::string& program, const std::string& text);
