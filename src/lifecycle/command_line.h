// The command line of a program that may run elevated, read as the system holds it: the wide text,
// split by the platform's argument rules, each switch converted exactly to the ANSI code page. Only
// words that start with "/" count; anything else (a file dropped on the program's icon, the rest of
// a program path that a launcher passed unquoted, an empty argument) is ignored. Portable: the
// conversion is passed in, so that the splitting and the reading of switches build and are tested
// (and fuzzed) everywhere.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The platform's limit on a full path, its terminating zero included.
inline constexpr size_t kPathLimit = 260;

// Splits a wide command line into arguments by the platform's rules. The first argument, the
// program, ends at the first blank or tab outside quotation marks; its quotation marks are dropped
// and its backslashes kept as they stand. In the arguments after it, blanks and tabs separate
// arguments outside quotation marks; a quotation mark toggles quoting and is dropped, and inside
// quoting two of them in a row stand for one literal mark; 2n backslashes before a quotation mark
// stand for n, 2n+1 for n and a literal quotation mark; other backslashes are kept. Any input is
// accepted; nothing is read outside it.
std::vector<std::u16string> SplitCommandLine(std::u16string_view commandLine);

// One argument quoted for a command line, so that SplitCommandLine gives it back as it stands: in
// quotation marks, with the backslashes before a quotation mark (and at the end) doubled and a
// quotation mark escaped. For narrow and wide text alike.
template <typename Char>
std::basic_string<Char> QuotedArgument(std::basic_string_view<Char> argument) {
    std::basic_string<Char> quoted(1, Char('"'));
    size_t backslashes = 0;
    for (const Char c : argument) {
        if (c == Char('\\')) {
            ++backslashes;
            continue;
        }
        quoted.append(c == Char('"') ? backslashes * 2 + 1 : backslashes, Char('\\'));
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, Char('\\'));
    quoted += Char('"');
    return quoted;
}

// Converts a wide text to the ANSI code page exactly, or gives nothing when a character has no
// exact form there (no look-alike is ever substituted).
using TAnsiConversion = std::function<std::optional<std::string>(std::u16string_view)>;

// The switches of a command line, in their order, each converted exactly.
struct TSwitchList {
    std::vector<std::string> Switches;
    // A switch that has no exact ANSI form (empty when there is none): the command line is refused.
    // The switches that could be converted are kept, so that /VERYSILENT still decides whether the
    // refusal is shown.
    std::string Error;
};

// Splits commandLine, drops the program and every word that does not start with "/", and converts
// the rest with toAnsi. A switch with a full-width quotation mark (U+FF02) is refused, as one
// without an exact form is, whatever the code page.
TSwitchList ReadSwitches(std::u16string_view commandLine, const TAnsiConversion& toAnsi);

// Whether argument is the switch name ("/SILENT"), in any letter case.
bool IsSwitch(std::string_view argument, std::string_view name);

// The value of argument when it is "name=value" (name such as "/LOG", any letter case; the value
// may be empty), else nothing.
std::optional<std::string> SwitchValue(std::string_view argument, std::string_view name);

// Whether argument asks for no window at all: /VERYSILENT, or /S, /QUIET or /QN, the words that
// deployment tools pass to installers of other kinds for the same run.
bool IsVerySilentSwitch(std::string_view argument);

// A refused command line is shown to the user in a message box, with the reason and the usage,
// unless a switch of an unattended run (/SILENT, a very silent one, /SUPPRESSMSGBOXES) is among the
// switches: nobody may be there to answer a box, and whoever started the run reads the exit code.
bool ShowsRefusal(const std::vector<std::string>& switches);

// Whether text holds a control character (0x01 to 0x1F, or 0x7F).
bool HasControlCharacters(std::string_view text);

// text with each control character (and NUL) written as \xNN, so that a log line stays one line.
std::string EscapeControlCharacters(std::string_view text);

// Why a switch's value cannot name a file or folder (it holds a control character or a quotation
// mark), or nothing.
std::optional<std::string> BadPathCharacters(std::string_view value);

// Why the value of /LOG cannot name the log file (it is empty, or BadPathCharacters), as the message
// of a refused command line, or nothing.
std::optional<std::string> LogFileProblem(std::string_view value);

// Whether path is a full path: a drive letter, ":" and "\", or a UNC path "\\server\share" (not
// the device or long-path forms "\\.\" and "\\?\").
bool IsAbsolutePath(std::string_view path);

// The command line as a log shows it: each character in its exact ANSI form where it has one,
// otherwise \u{XXXX} (its code point); control characters escaped as by EscapeControlCharacters.
std::string CommandLineForLog(std::u16string_view commandLine, const TAnsiConversion& toAnsi);
