// When the setup and the uninstaller restart themselves elevated, and the command line that the
// restarted run is given.
#include "lifecycle/elevation.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "lifecycle/command_line.h"
#include "lifecycle/setup_command_line.h"
#include "lifecycle/uninstall_options.h"

namespace {

std::u16string Wide(std::string_view ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

// Every token, every need, restarted or not: only a limited token that needs the machine, once.
TEST(Elevation, OnlyALimitedTokenThatNeedsTheMachineRestartsAndOnlyOnce) {
    for (const TTokenElevation token :
         {TTokenElevation::Default, TTokenElevation::Full, TTokenElevation::Limited}) {
        for (const bool needsMachine : {false, true}) {
            for (const bool restarted : {false, true}) {
                const bool expected = token == TTokenElevation::Limited && needsMachine && !restarted;
                EXPECT_EQ(RestartsElevated(token, needsMachine, restarted), expected)
                    << static_cast<int>(token) << needsMachine << restarted;
            }
        }
    }
}

// Every scope the setup's switches give: only /CURRENTUSER does without the machine; an
// interactive run, a refused or help line included, may need it.
TEST(Elevation, EverySetupScopeButTheCurrentUserMayNeedTheMachine) {
    const struct {
        std::vector<std::string> arguments;
        bool needsMachine;
    } rows[] = {
        {{}, true},
        {{"/VERYSILENT"}, true},
        {{"/SILENT", "/ALLUSERS"}, true},
        {{"/S", "/CURRENTUSER"}, false},
        {{"/SILENT", "/CURRENTUSER", "/DIR=C:\\t"}, false},
    };
    for (const auto& row : rows) {
        const TSetupOptions options = ParseSetupArguments(row.arguments, 20);
        EXPECT_EQ(options.Error, "");
        EXPECT_EQ(options.NeedsMachine(), row.needsMachine) << ::testing::PrintToString(row.arguments);
    }
}

// The restart switch is accepted by both programs in every mode, in any letter case, and changes
// nothing but the restart.
TEST(Elevation, TheRestartSwitchIsReadByBothProgramsInEveryMode) {
    const struct {
        std::vector<std::string> with;
        std::vector<std::string> without;
    } rows[] = {
        {{"/ELEVATED"}, {}},
        {{"/elevated", "/SILENT"}, {"/SILENT"}},
        {{"/VERYSILENT", "/Elevated"}, {"/VERYSILENT"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.with));
        const TSetupOptions setup = ParseSetupArguments(row.with, 20);
        const TSetupOptions plainSetup = ParseSetupArguments(row.without, 20);
        EXPECT_EQ(setup.Error, "");
        EXPECT_TRUE(setup.Restarted);
        EXPECT_FALSE(plainSetup.Restarted);
        EXPECT_EQ(setup.Mode, plainSetup.Mode);

        const TUninstallOptions removal = ParseUninstallArguments(row.with);
        const TUninstallOptions plainRemoval = ParseUninstallArguments(row.without);
        EXPECT_EQ(removal.Error, "");
        EXPECT_TRUE(removal.Restarted);
        EXPECT_FALSE(plainRemoval.Restarted);
        EXPECT_EQ(removal.Mode, plainRemoval.Mode);
    }
}

// The restarted run reads the very switches of the run that restarted it, and the restart switch
// after them.
TEST(Elevation, TheRestartedRunReadsTheSameSwitchesAndTheRestartSwitch) {
    const std::string lines[] = {
        R"("C:\Program Files\t\setup.exe" /VERYSILENT "/DIR=C:\a b\" /LOG="C:\l.txt")",
        R"(setup.exe /SILENT /DIR="C:\x y\\" "/LOG=C:\a""b" word /NOICONS)",
        "setup.exe",
        R"("C:\a b\Uninstall.exe" /VERYSILENT)",
        "setup.exe \t/S\t",
        R"(setup.exe "/DIR=C:\a\)",            // left open, ending in a backslash
        R"(setup.exe /S "/LOG=a"" /NOICONS)",  // a doubled quotation mark inside quoting
        R"("C:\never closed /S)",
    };
    for (const std::string& line : lines) {
        std::vector<std::u16string> expected = SplitCommandLine(Wide(line));
        expected.erase(expected.begin());
        expected.emplace_back(u"/ELEVATED");
        std::vector<std::u16string> restarted =
            SplitCommandLine(u"\"C:\\elsewhere\\p.exe\" " + RestartArguments(Wide(line)));
        restarted.erase(restarted.begin());
        EXPECT_EQ(restarted, expected) << line;
    }
    EXPECT_EQ(RestartArguments(u"setup.exe"), u"/ELEVATED");
    EXPECT_EQ(RestartArguments(u""), u"/ELEVATED");
    EXPECT_EQ(RestartArguments(u"setup.exe /S"), u"\"/S\" /ELEVATED");
}

}  // namespace
