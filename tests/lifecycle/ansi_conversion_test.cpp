// The exact conversion of the process's wide command line to the ANSI code page, under Wine.
#include <windows.h>

#include <gtest/gtest.h>
#include <string>

#include "lifecycle/command_line_win32.h"

namespace {

TEST(AnsiConversion, GivesOnlyExactForms) {
    EXPECT_EQ(ToAnsiExact(u""), "");
    EXPECT_EQ(ToAnsiExact(u"/DIR=C:\\Some Folder"), "/DIR=C:\\Some Folder");
    // An unpaired surrogate has no form in any code page.
    EXPECT_EQ(ToAnsiExact(std::u16string(1, char16_t(0xD800))), std::nullopt);
    if (::GetACP() == 1252) {
        EXPECT_EQ(ToAnsiExact(u"C:\\caf\u00E9"), "C:\\caf\xE9");
        // Look-alikes that a best-fit conversion would give: a quotation mark, a backslash, an A.
        for (const char16_t c : {u'\uFF02', u'\uFF3C', u'\u0100', u'\u4E2D'}) {
            EXPECT_EQ(ToAnsiExact(std::u16string(1, c)), std::nullopt) << int(c);
        }
    }
    if (::GetACP() != CP_UTF8) {
        EXPECT_EQ(ToAnsiExact(u"/DIR=C:\\x\uFF02 /NOBACKUP"), std::nullopt);
    }
}

// The process's own command line comes back as the system holds it.
TEST(AnsiConversion, ReadsTheProcessCommandLine) {
    const std::u16string line = ProcessCommandLine();
    EXPECT_EQ(line, std::u16string(reinterpret_cast<const char16_t*>(::GetCommandLineW())));
    EXPECT_FALSE(SplitCommandLine(line).empty());
}

}  // namespace
