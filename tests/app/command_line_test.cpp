// The setup's command line: splitting by the platform's rules and the switches of an unattended run.
#include "lifecycle/setup_command_line.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using Args = std::vector<std::string>;

TEST(SetupCommandLine, SplitsByThePlatformsQuotingRules) {
    const std::pair<const char*, Args> rows[] = {
        {"", {}},
        {"   ", {}},
        {"setup.exe", {"setup.exe"}},
        {"\"C:\\Program Files\\setup.exe\" /SILENT", {"C:\\Program Files\\setup.exe", "/SILENT"}},
        {"a  b\tc", {"a", "b", "c"}},
        // A quoted part inside an argument, as package managers write /DIR="...".
        {"/DIR=\"C:\\Some Folder\" /LOG=\"C:\\setup.log\"", {"/DIR=C:\\Some Folder", "/LOG=C:\\setup.log"}},
        {"\"/DIR=C:\\Some Folder\"", {"/DIR=C:\\Some Folder"}},
        {"\"\"", {""}},
        // Backslashes count only before a quotation mark: 2n stand for n, 2n+1 also escape it.
        {"C:\\a\\b\\", {"C:\\a\\b\\"}},
        {"a\\\\\"b c\"", {"a\\b c"}},
        {"a\\\"b", {"a\"b"}},
        {"a\\\\\\\"b", {"a\\\"b"}},
        {"\"unclosed quote", {"unclosed quote"}},
    };
    for (const auto& [line, expected] : rows) {
        EXPECT_EQ(SplitCommandLine(line), expected) << line;
    }
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
}

// A bad command line is named in Error; what could be read stays, so that the log still knows where
// to go.
TEST(SetupCommandLine, NamesWhatIsWrong) {
    const std::pair<Args, const char*> rows[] = {
        {{"/FOO"}, "Unknown switch /FOO"},
        {{"/SILENT", "SILENT"}, "Unknown switch SILENT"},
        {{"/SILENT", "/DIR"}, "/DIR needs a value: /DIR=\"...\""},
        {{"/SILENT", "/LOG"}, "/LOG needs a value: /LOG=\"...\""},
        {{"/SILENT", "/DIR="}, "/DIR needs a folder"},
        {{"/SILENT", "/LOG="}, "/LOG needs a file name"},
        {{"/DIR=C:\\x"}, "/DIR, /NOBACKUP, /NOICONS and /LOG need /SILENT or /VERYSILENT"},
        {{"/NOICONS"}, "/DIR, /NOBACKUP, /NOICONS and /LOG need /SILENT or /VERYSILENT"},
        {{"/LOG=C:\\l.txt", "/FOO", "/BAR"}, "Unknown switch /FOO"},  // the first error
    };
    for (const auto& [arguments, error] : rows) {
        EXPECT_EQ(ParseSetupArguments(arguments).Error, error) << arguments.front();
    }
    const TSetupOptions bad = ParseSetupArguments({"/VERYSILENT", "/FOO", "/LOG=C:\\setup.log"});
    EXPECT_EQ(bad.Mode, TSetupMode::VerySilent);
    EXPECT_EQ(bad.LogFile, "C:\\setup.log");
}

}  // namespace
