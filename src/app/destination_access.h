// Whether the running account can write the destination, asked before the first question of an
// interactive run, so that an account without the rights hears so at once instead of after its
// answers.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>

#include "framework/exceptions.h"

TANDREL_DECLARE_EXCEPTION(EDestinationNotWritable, Exception);
TANDREL_DECLARE_EXCEPTION(EDestinationTooLong, Exception);
TANDREL_DECLARE_EXCEPTION(EDestinationNotRepresentable, Exception);

// The message that refuses a destination too long for the names the run makes there; %u: the
// longest that fits.
inline constexpr const char kDestinationTooLong[] =
    "The folder name is too long: at most %u characters, so that every file and its backup fit "
    "the system's limit of 260";

// The message that refuses a typed folder whose name the code page cannot hold (Windows before
// 10 1903, which has no UTF-8 code page for the program).
inline constexpr const char kDestinationNotRepresentable[] =
    "The folder name has a character that this system's code page cannot represent. Choose a folder "
    "whose name has none";

// The text of window (an edit box) converted exactly to the code page, or nothing when a character
// has no exact form there: the narrow text would hold a look-alike or "?" instead.
std::optional<std::string> ExactWindowText(HWND window);

// The length of folder as a full path, without a trailing "\" (a drive root keeps its own).
size_t FullFolderLength(const std::string& folder);

// The message that refuses a destination this account cannot write; %s: the folder, then the
// system's reason. Like every exception's message, without the closing period that the box adds.
inline constexpr const char kDestinationNotWritable[] =
    "You cannot install into %s with this account (%s). Choose a folder of your own, or start the "
    "setup as an administrator";

// Why this account cannot write folder, as kDestinationNotWritable, or nothing. An existing folder
// must take a new file; a missing one, a new folder in the nearest folder above it that exists. Each
// is tried (a hidden, temporary name, gone again at once), not guessed from the folder's security,
// so that every way a write is refused counts. An empty folder is the current one.
std::optional<std::string> DestinationWriteProblem(const std::string& folder);
