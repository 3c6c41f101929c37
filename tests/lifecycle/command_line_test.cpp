// The command line of the programs we ship: splitting the wide text by the platform's rules, the
// switches that count, and the setup's own switches.
#include "lifecycle/command_line.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "lifecycle/setup_command_line.h"

namespace {

using Args = std::vector<std::string>;

// A stand-in for a single-byte code page: characters below U+0100 convert to their byte, anything
// else has no exact form.
std::optional<std::string> Latin1(std::u16string_view text) {
    std::string bytes;
    for (const char16_t c : text) {
        if (c > 0xFF) {
            return std::nullopt;
        }
        bytes += static_cast<char>(c);
    }
    return bytes;
}

std::u16string Wide(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

Args Narrow(const std::vector<std::u16string>& wide) {
    Args args;
    for (const std::u16string& argument : wide) {
        args.push_back(*Latin1(argument));
    }
    return args;
}

TEST(CommandLine, SplitsByThePlatformsRules) {
    const std::pair<const char*, Args> rows[] = {
        {"", {}},
        {"setup.exe", {"setup.exe"}},
        {"\"C:\\Program Files\\setup.exe\" /SILENT", {"C:\\Program Files\\setup.exe", "/SILENT"}},
        // The program ends at the first blank outside quotation marks, backslashes as they stand.
        {"C:\\Tandrel Setup Files\\setup.exe", {"C:\\Tandrel", "Setup", "Files\\setup.exe"}},
        {"C:\\a\\\"b c\" /X", {"C:\\a\\b c", "/X"}},
        {" /X", {"", "/X"}},
        {"p a  b\tc", {"p", "a", "b", "c"}},
        // A quoted part inside an argument, as package managers write /DIR="...".
        {"p /DIR=\"C:\\Some Folder\" /LOG=\"C:\\setup.log\"",
         {"p", "/DIR=C:\\Some Folder", "/LOG=C:\\setup.log"}},
        {"p \"/DIR=C:\\Some Folder\"", {"p", "/DIR=C:\\Some Folder"}},
        {"p \"\"", {"p", ""}},
        // Inside quoting, two quotation marks in a row stand for one.
        {"p \"a\"\"b\" c", {"p", "a\"b", "c"}},
        // Backslashes count only before a quotation mark: 2n stand for n, 2n+1 also escape it.
        {"p C:\\a\\b\\", {"p", "C:\\a\\b\\"}},
        {"p a\\\\\"b c\"", {"p", "a\\b c"}},
        {"p a\\\"b", {"p", "a\"b"}},
        {"p a\\\\\\\"b", {"p", "a\\\"b"}},
        {"p \"unclosed quote", {"p", "unclosed quote"}},
    };
    for (const auto& [line, expected] : rows) {
        EXPECT_EQ(Narrow(SplitCommandLine(Wide(line))), expected) << line;
    }
}

// Only words that start with "/" count; a switch without an exact ANSI form refuses the line, and
// a full-width quotation mark (U+FF02) is an ordinary character, never a quotation mark.
TEST(CommandLine, OnlySwitchesCountAndEachConvertsExactly) {
    const TSwitchList dropped = ReadSwitches(u"setup.exe \"C:\\some\\file.txt\" \"\" word /SILENT", Latin1);
    EXPECT_EQ(dropped.Switches, Args{"/SILENT"});
    EXPECT_EQ(dropped.Error, "");
    // A dropped file with a character outside the code page is ignored as well.
    EXPECT_EQ(ReadSwitches(u"setup.exe C:\\\u4E2D.txt", Latin1).Error, "");

    const TSwitchList fullWidth = ReadSwitches(
        u"setup.exe /VERYSILENT \"/DIR=C:\\x\uFF02 /NOBACKUP /LOG=C:\\victim.log\uFF02\"", Latin1);
    EXPECT_EQ(fullWidth.Switches, Args{"/VERYSILENT"});
    EXPECT_EQ(fullWidth.Error, "Argument 2 holds a full-width quotation mark");
    // The same where the code page has every character (UTF-8): the mark is still refused.
    const auto everything = [](std::u16string_view text) -> std::optional<std::string> {
        std::string bytes;
        for (const char16_t c : text) {
            bytes += c < 0x80 ? static_cast<char>(c) : '?';
        }
        return bytes;
    };
    const TSwitchList utf8 =
        ReadSwitches(u"setup.exe /VERYSILENT /DIR=C:\\Safety\uFF02Dest /LOG=C:\\v.log", everything);
    EXPECT_EQ(utf8.Switches, (Args{"/VERYSILENT", "/LOG=C:\\v.log"}));
    EXPECT_EQ(utf8.Error, "Argument 2 holds a full-width quotation mark");
    EXPECT_EQ(ReadSwitches(u"setup.exe /DIR=C:\\\u0414", everything).Error, "");
    // Unquoted, the full-width marks stay inside the words: still no /NOBACKUP of its own.
    const TSwitchList unquoted = ReadSwitches(u"setup.exe /DIR=C:\\x\uFF02 /NOBACKUP", Latin1);
    EXPECT_EQ(unquoted.Switches, Args{"/NOBACKUP"});
    EXPECT_FALSE(unquoted.Error.empty());
    EXPECT_TRUE(ShowsRefusal(unquoted.Switches));
    EXPECT_FALSE(ShowsRefusal(fullWidth.Switches));
    EXPECT_FALSE(ShowsRefusal({"/FOO", "/verysilent"}));
}

// Beside any switch of an unattended run, a refused command line opens no box: nobody may be there
// to answer it. Without one, the user who started the setup reads why.
TEST(CommandLine, NoRefusalBoxBesideAnySilentSwitch) {
    for (const char* silent : {"/SILENT", "/VERYSILENT", "/s", "/S", "/quiet", "/QUIET", "/qn", "/QN",
                               "/SUPPRESSMSGBOXES", "/suppressmsgboxes"}) {
        EXPECT_FALSE(ShowsRefusal({"/FOO", silent})) << silent;
        EXPECT_FALSE(ShowsRefusal({silent, "/FOO"})) << silent;
    }
    for (const Args& shown : {Args{}, Args{"/FOO"}, Args{"/FOO", "/NORESTART"}, Args{"/SS", "/Q", "/QUIETLY"},
                              Args{"/DIR=/S"}, Args{"/LOG=/QUIET"}}) {
        EXPECT_TRUE(ShowsRefusal(shown)) << ::testing::PrintToString(shown);
    }
}

TEST(CommandLine, SwitchesAndValuesInAnyLetterCase) {
    EXPECT_TRUE(IsSwitch("/silent", "/SILENT"));
    EXPECT_FALSE(IsSwitch("/SILENTX", "/SILENT"));
    EXPECT_EQ(SwitchValue("/log=C:\\a=b", "/LOG"), "C:\\a=b");
    EXPECT_EQ(SwitchValue("/LOG=", "/LOG"), "");
    EXPECT_EQ(SwitchValue("/LOG", "/LOG"), std::nullopt);
    EXPECT_EQ(SwitchValue("/LOGX=a", "/LOG"), std::nullopt);
}

TEST(CommandLine, PathsAndLogText) {
    for (const char* path : {"C:\\", "c:\\x", "\\\\server\\share", "\\\\server\\share\\x"}) {
        EXPECT_TRUE(IsAbsolutePath(path)) << path;
    }
    for (const char* path :
         {"", "C:", "C:x", "x\\y", "\\x", "\\\\", "\\\\server", "\\\\server\\", "\\\\\\share", "1:\\x",
          "..\\x", "\\\\.\\C:\\x", "\\\\?\\C:\\x", "\\\\.\\pipe\\x"}) {
        EXPECT_FALSE(IsAbsolutePath(path)) << path;
    }
    EXPECT_EQ(EscapeControlCharacters("a\r\nResult: installed\x7F\t"),
              "a\\x0D\\x0AResult: installed\\x7F\\x09");
    EXPECT_EQ(EscapeControlCharacters(std::string("\0z", 2)), "\\x00z");
    EXPECT_TRUE(HasControlCharacters("a\x01"));
    EXPECT_FALSE(HasControlCharacters("C:\\Program Files\\\xE9"));
    EXPECT_EQ(CommandLineForLog(u"setup.exe /DIR=\"C:\\\u00E9\uFF02\n\U0001F600\"", Latin1),
              "setup.exe /DIR=\"C:\\\xE9\\u{FF02}\\x0A\\u{1F600}\"");
}

TEST(SetupCommandLine, ReadsTheSwitchesInAnyLetterCase) {
    const TSetupOptions none = ParseSetupArguments({});
    EXPECT_EQ(none.Mode, TSetupMode::Interactive);
    EXPECT_FALSE(none.Unattended());
    EXPECT_EQ(none.Destination, "C:\\Program Files\\Tandrel");
    EXPECT_TRUE(none.Backup);
    EXPECT_TRUE(none.Shortcuts);
    EXPECT_TRUE(none.LogFile.empty());
    EXPECT_TRUE(none.Error.empty());

    const TSetupOptions all = ParseSetupArguments(
        {"/silent", "/Dir=D:\\Apps\\Tandrel", "/nobackup", "/NoIcons", "/LOG=C:\\x y.log"});
    EXPECT_EQ(all.Error, "");
    EXPECT_EQ(all.Mode, TSetupMode::Silent);
    EXPECT_EQ(all.Destination, "D:\\Apps\\Tandrel");
    EXPECT_FALSE(all.Backup);
    EXPECT_FALSE(all.Shortcuts);
    EXPECT_EQ(all.LogFile, "C:\\x y.log");

    // /VERYSILENT wins over /SILENT, in either order.
    EXPECT_EQ(ParseSetupArguments({"/VERYSILENT", "/SILENT"}).Mode, TSetupMode::VerySilent);
    EXPECT_EQ(ParseSetupArguments({"/SILENT", "/verysilent"}).Mode, TSetupMode::VerySilent);
    EXPECT_TRUE(ParseSetupArguments({"/?"}).Help);
    EXPECT_TRUE(ParseSetupArguments({"/help", "/VERYSILENT"}).Help);
    // The value keeps its letters and everything after the first "=".
    EXPECT_EQ(ParseSetupArguments({"/SILENT", "/DIR=C:\\a=b"}).Destination, "C:\\a=b");
    // The words of deployment tools: /S, /QUIET and /QN ask for no window; /NORESTART and
    // /SUPPRESSMSGBOXES are taken and change nothing.
    for (const char* silent : {"/S", "/s", "/quiet", "/QUIET", "/qn", "/QN"}) {
        const TSetupOptions quiet = ParseSetupArguments({silent, "/NOICONS"});
        EXPECT_EQ(quiet.Error, "") << silent;
        EXPECT_EQ(quiet.Mode, TSetupMode::VerySilent) << silent;
        EXPECT_EQ(ParseSetupArguments({"/SILENT", silent}).Mode, TSetupMode::VerySilent) << silent;
        EXPECT_EQ(ParseSetupArguments({silent, "/SILENT"}).Mode, TSetupMode::VerySilent) << silent;
    }
    const TSetupOptions accepted = ParseSetupArguments({"/norestart", "/SUPPRESSMSGBOXES"});
    EXPECT_EQ(accepted.Error, "");
    EXPECT_EQ(accepted.Mode, TSetupMode::Interactive);
    EXPECT_EQ(ParseSetupArguments({"/VERYSILENT", "/NORESTART", "/SuppressMsgBoxes"}).Error, "");
    for (const char* near : {"/SS", "/QUIETLY", "/Q", "/QB", "/NORESTARTS"}) {
        EXPECT_EQ(ParseSetupArguments({"/S", near}).Error, "Unknown switch " + std::string(near));
    }
    // For whom: the switch as given; without one, an administrator's run is for all users and
    // anybody else's for the user alone. /DIR given or not is told apart from the default.
    EXPECT_EQ(ParseSetupArguments({"/S", "/CURRENTUSER", "/CURRENTUSER"}).Scope, TInstallScope::CurrentUser);
    EXPECT_EQ(ParseSetupArguments({"/S", "/allusers"}).Scope, TInstallScope::AllUsers);
    EXPECT_EQ(none.Scope, TInstallScope::Automatic);
    EXPECT_FALSE(none.DestinationGiven);
    EXPECT_TRUE(ParseSetupArguments({"/S", "/DIR=C:\\Program Files\\Tandrel"}).DestinationGiven);
    for (const bool administrator : {false, true}) {
        EXPECT_EQ(EffectiveScope(TInstallScope::CurrentUser, administrator), TInstallScope::CurrentUser);
        EXPECT_EQ(EffectiveScope(TInstallScope::AllUsers, administrator), TInstallScope::AllUsers);
    }
    EXPECT_EQ(EffectiveScope(TInstallScope::Automatic, true), TInstallScope::AllUsers);
    EXPECT_EQ(EffectiveScope(TInstallScope::Automatic, false), TInstallScope::CurrentUser);
    // Words that are not switches are skipped.
    EXPECT_EQ(ParseSetupArguments({"SILENT", "", "C:\\file.txt"}).Error, "");
}

// A bad command line is named in Error (the first error found).
TEST(SetupCommandLine, NamesWhatIsWrong) {
    const std::string deep = [] {
        std::string path = "C:";
        for (int level = 0; level < 5000; ++level) {
            path += "\\a";
        }
        return path;
    }();
    const std::pair<Args, std::string> rows[] = {
        {{"/FOO"}, "Unknown switch /FOO"},
        {{"/SILENT", "/DIR"}, "/DIR needs a value: /DIR=\"...\""},
        {{"/SILENT", "/LOG"}, "/LOG needs a value: /LOG=\"...\""},
        {{"/SILENT", "/DIR="}, "/DIR needs a folder"},
        {{"/SILENT", "/LOG="}, "/LOG needs a file name"},
        {{"/DIR=C:\\x"},
         "/DIR, /NOBACKUP, /NOICONS, /LOG, /CURRENTUSER\nand /ALLUSERS need /SILENT or /VERYSILENT"},
        {{"/NOICONS"},
         "/DIR, /NOBACKUP, /NOICONS, /LOG, /CURRENTUSER\nand /ALLUSERS need /SILENT or /VERYSILENT"},
        {{"/LOG=C:\\l.txt", "/FOO", "/BAR"}, "Unknown switch /FOO"},
        {{"/SILENT", "/DIR=Tandrel"}, "/DIR needs a full path:\nC:\\... or \\\\server\\share"},
        {{"/SILENT", "/DIR=\\Tandrel"}, "/DIR needs a full path:\nC:\\... or \\\\server\\share"},
        {{"/SILENT", "/DIR=C:Tandrel"}, "/DIR needs a full path:\nC:\\... or \\\\server\\share"},
        {{"/SILENT", "/DIR=C:\\a\nResult: installed"}, "/DIR holds a control character"},
        {{"/SILENT", "/LOG=C:\\a\x1B.log"}, "/LOG holds a control character"},
        {{"/SILENT", "/DIR=C:\\a\" /NOBACKUP"}, "/DIR holds a quotation mark"},
        {{"/SILENT", "/DIR=" + deep}, "/DIR is too long: at most 230 characters"},
        {{"/F\nOO"}, "Unknown switch /F\\x0AOO"},
        {{"/CURRENTUSER"},
         "/DIR, /NOBACKUP, /NOICONS, /LOG, /CURRENTUSER\nand /ALLUSERS need /SILENT or /VERYSILENT"},
        {{"/S", "/ALLUSERS", "/currentuser"}, "/CURRENTUSER and /ALLUSERS exclude each other"},
        {{"/S", "/CurrentUser", "/ALLUSERS"}, "/CURRENTUSER and /ALLUSERS exclude each other"},
    };
    for (const auto& [arguments, error] : rows) {
        EXPECT_EQ(ParseSetupArguments(arguments, 6).Error, error) << arguments.back().substr(0, 40);
    }
}

// Only a command line whose sole fault is an unknown switch, in an unattended run with a /LOG, has
// its refusal logged: any other fault may mean the words were not split as their writer meant.
TEST(SetupCommandLine, LogsARefusalOnlyForUnknownSwitches) {
    const std::pair<Args, bool> rows[] = {
        {{"/VERYSILENT", "/LOG=C:\\l.txt", "/FOO"}, true},
        {{"/FOO", "/S", "/LOG=C:\\l.txt", "/BAR"}, true},
        {{"/SILENT", "/FOO", "/LOG=C:\\l.txt"}, true},
        {{"/VERYSILENT", "/FOO"}, false},
        {{"/LOG=C:\\l.txt", "/FOO"}, false},
        {{"/SUPPRESSMSGBOXES", "/LOG=C:\\l.txt", "/FOO"}, false},
        {{"/VERYSILENT", "/LOG=C:\\l.txt"}, false},
        {{"/VERYSILENT", "/LOG=C:\\l.txt", "/FOO", "/DIR=relative"}, false},
        {{"/VERYSILENT", "/LOG=C:\\l.txt", "/DIR"}, false},
        {{"/VERYSILENT", "/LOG=C:\\a\x01.txt", "/FOO"}, false},
        {{"/VERYSILENT", "/LOG=C:\\l.txt", "/FOO", "/LOG="}, false},
    };
    for (const auto& [arguments, logged] : rows) {
        EXPECT_EQ(ParseSetupArguments(arguments).LogsRefusal, logged) << ::testing::PrintToString(arguments);
    }
}

// Every name that a run can make in the destination of the longest length must fit the platform's
// path limit, its terminating zero included; a trailing backslash on /DIR does not count.
TEST(SetupCommandLine, TheDestinationLeavesRoomForEveryNameTheRunMakes) {
    const size_t longestName = 12;
    const size_t limit = LongestDestination(longestName);
    const std::string destination = "C:\\" + std::string(limit - 3, 'd');
    const std::string entry = "whatsnew.txt";
    ASSERT_EQ(entry.size(), longestName);
    // Each kind of name, with the largest number and attempt that the run gives.
    for (const std::string& made : std::vector<std::string>{
             entry, entry + ".~new100", entry + ".~old100", "Backup\\" + entry,
             "Backup\\" + entry + ".~old100", "Backup\\" + entry + ".~new100", "Backup\\whatsnew (9999).txt",
             "Backup\\whatsnew (9999).txt.~new100", "Uninstall.exe.~old100", "Uninstall.dat.~new100",
             "Uninstall.jnl.~new100"}) {
        EXPECT_LE(destination.size() + 1 + made.size() + 1, kPathLimit) << made;
    }
    EXPECT_EQ(destination.size() + 1 + std::string("Backup\\whatsnew (9999).txt.~new100").size() + 1,
              kPathLimit);
    EXPECT_EQ(LongestMadeName(longestName), std::string("Backup\\whatsnew (9999).txt.~new100").size());
    const std::string fits = "C:\\" + std::string(limit - 3, 'a');
    EXPECT_EQ(ParseSetupArguments({"/SILENT", "/DIR=" + fits}, longestName).Error, "");
    EXPECT_EQ(ParseSetupArguments({"/SILENT", "/DIR=" + fits + "\\"}, longestName).Error, "");
    EXPECT_NE(ParseSetupArguments({"/SILENT", "/DIR=" + fits + "b"}, longestName).Error, "");
    EXPECT_EQ(LongestDestination(kPathLimit), 0u);
    // A folder found elsewhere (a registered installation's) is held to the same rules.
    EXPECT_EQ(DestinationProblem(fits, longestName), std::nullopt);
    EXPECT_EQ(DestinationProblem(fits + "b", longestName),
              "is too long: at most " + std::to_string(limit) + " characters");
    EXPECT_EQ(DestinationProblem("Tandrel", longestName), "needs a full path:\nC:\\... or \\\\server\\share");
    EXPECT_EQ(DestinationProblem("C:\\a\"b", longestName), "holds a quotation mark");
    EXPECT_EQ(DestinationProblem("", longestName), "needs a full path:\nC:\\... or \\\\server\\share");
    EXPECT_NE(ParseSetupArguments({"/SILENT", "/DIR=C:\\"}, kPathLimit).Error, "");
}

// The usage names every exit code the setup can end with, each once, in ascending order.
TEST(SetupCommandLine, TheUsageListsEveryExitCode) {
    const std::string usage = SetupUsage();
    const size_t listed = usage.find("Exit codes:");
    ASSERT_NE(listed, std::string::npos);
    size_t at = listed;
    for (const int code : {kExitInstalled, kExitBadCommandLine, kExitFailed, kExitFileInUse, kExitDiskFull,
                           kExitAnotherRun, kExitNotElevated, kExitElevationDeclined}) {
        std::string line = "\n";
        line.append(std::to_string(code)).append(" ");
        const size_t found = usage.find(line, at);
        EXPECT_NE(found, std::string::npos) << code;
        EXPECT_EQ(usage.find(line, found + 1), std::string::npos) << code;
        at = found == std::string::npos ? at : found;
    }
    for (const char* word :
         {"/S,", "/QUIET", "/QN", "/NORESTART", "/SUPPRESSMSGBOXES", "/CURRENTUSER", "/ALLUSERS"}) {
        EXPECT_NE(usage.find(word), std::string::npos) << word;
    }
}

}  // namespace
