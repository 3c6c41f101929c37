// The uninstaller's command line: the switches of an unattended run, what is refused, and the
// quoting that hands the same switches to the copy in the temporary folder.
#include "lifecycle/uninstall_options.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(UninstallOptions, Switches) {
    EXPECT_EQ(ParseUninstallArguments({}).Mode, TUninstallMode::Interactive);
    EXPECT_EQ(ParseUninstallArguments({"/silent"}).Mode, TUninstallMode::Silent);
    EXPECT_EQ(ParseUninstallArguments({"/VERYSILENT", "/SILENT"}).Mode, TUninstallMode::VerySilent);
    const TUninstallOptions options = ParseUninstallArguments(
        {"/VerySilent", "/log=C:\\a b\\u.log", "/ORIGINAL=C:\\Program Files\\Tandrel"});
    EXPECT_EQ(options.Error, "");
    EXPECT_EQ(options.LogFile, "C:\\a b\\u.log");
    EXPECT_EQ(options.Original, "C:\\Program Files\\Tandrel");
    // Words that are not switches are ignored.
    EXPECT_EQ(ParseUninstallArguments({"stray", "", "/SILENT"}).Error, "");
}

TEST(UninstallOptions, BadCommandLines) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
        {{"/NOBACKUP"}, "Unknown switch /NOBACKUP"},
        {{"/SILENT", "/LOG"}, "/LOG needs a value: /LOG=\"...\""},
        {{"/SILENT", "/LOG="}, "/LOG needs a file name"},
        {{"/ORIGINAL="}, "/ORIGINAL needs a folder"},
        {{"/LOG=C:\\u.log"}, "/LOG needs /SILENT or /VERYSILENT"},
        {{"/x", "/y"}, "Unknown switch /x"},
        {{"/ORIGINAL=C:\\T", "/LOCK"}, "/LOCK needs a value: /LOCK=\"...\""},
        {{"/ORIGINAL=C:\\T", "/LOCK=0"}, "/LOCK needs a number"},
        {{"/ORIGINAL=C:\\T", "/LOCK=-4"}, "/LOCK needs a number"},
        {{"/ORIGINAL=C:\\T", "/LOCK=0x10"}, "/LOCK needs a number"},
        {{"/ORIGINAL=C:\\T", "/LOCK=4294967296"}, "/LOCK needs a number"},
        {{"/LOCK=12"}, "/LOCK needs /ORIGINAL"},
    };
    for (const auto& [arguments, error] : rows) {
        EXPECT_EQ(ParseUninstallArguments(arguments).Error, error) << arguments.front();
    }
    // What could be read stays, so that the error reaches the log.
    const TUninstallOptions options = ParseUninstallArguments({"/bad", "/VERYSILENT", "/LOG=C:\\u.log"});
    EXPECT_EQ(options.Mode, TUninstallMode::VerySilent);
    EXPECT_EQ(options.LogFile, "C:\\u.log");
}

TEST(UninstallOptions, QuotingKeepsEveryCharacter) {
    const std::vector<std::pair<std::string, std::string>> rows = {
        {"", "\"\""},
        {"C:\\Program Files\\Tandrel", "\"C:\\Program Files\\Tandrel\""},
        {"C:\\", "\"C:\\\\\""},  // a trailing backslash must not escape the closing mark
        {"a\"b", "\"a\\\"b\""},
        {"a\\\"b", "\"a\\\\\\\"b\""},
        {"\\\\server\\share", "\"\\\\server\\share\""},
    };
    for (const auto& [argument, quoted] : rows) {
        EXPECT_EQ(QuoteArgument(argument), quoted) << argument;
    }
}

TEST(UninstallOptions, TheCopyGetsTheSameRun) {
    TUninstallOptions options;
    EXPECT_EQ(CopyArguments(options, "C:\\T"), "\"/ORIGINAL=C:\\T\"");
    options.Mode = TUninstallMode::VerySilent;
    options.LogFile = "C:\\my logs\\u.log";
    const std::string arguments = CopyArguments(options, "C:\\Program Files\\Tandrel");
    EXPECT_EQ(arguments, "/VERYSILENT \"/LOG=C:\\my logs\\u.log\" \"/ORIGINAL=C:\\Program Files\\Tandrel\"");
    options.Mode = TUninstallMode::Silent;
    options.LogFile.clear();
    EXPECT_EQ(CopyArguments(options, "C:\\T"), "/SILENT \"/ORIGINAL=C:\\T\"");
    // The lock handed over goes with the copy's other switches and comes back as it went.
    const std::string locked = CopyArguments(options, "C:\\T", 4294967295u);
    EXPECT_EQ(locked, "/SILENT \"/ORIGINAL=C:\\T\" \"/LOCK=4294967295\"");
    EXPECT_EQ(ParseUninstallArguments({"/SILENT", "/ORIGINAL=C:\\T", "/LOCK=4294967295"}).Lock, 4294967295u);
}

}  // namespace
