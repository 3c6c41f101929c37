#include "shell/shell_link.h"

#include <windows.h>

#include <algorithm>
#include <gtest/gtest.h>
#include <string>

#include "../common/exception_message.h"
#include "framework/exceptions.h"
#include "framework/sysutils.h"
#include "shell/ole.h"
#include "shell_test_support.h"

namespace {

using shell_test::FolderIsEmpty;
using shell_test::ReadLink;
using shell_test::ScopedShellFolderValue;
using shell_test::ScratchFolder;

// ---- File name rule ----

struct PositionCase {
    const char* pattern;
    const char* text;
    int expected;
};

class FindLastPositionTable : public testing::TestWithParam<PositionCase> {};

TEST_P(FindLastPositionTable, Finds) {
    const PositionCase& c = GetParam();
    EXPECT_EQ(c.expected, FindLastPosition(c.pattern, c.text))
        << '"' << c.pattern << "\" in \"" << c.text << '"';
}

INSTANTIATE_TEST_SUITE_P(Cases,
                         FindLastPositionTable,
                         testing::Values(PositionCase{".", "a.b.c", 4},
                                         PositionCase{".", ".profile", 0},  // first character not searched
                                         PositionCase{".", "a.", 2},
                                         PositionCase{".", "Tandrel", 0},
                                         PositionCase{".", ".", 1},  // same length: position 1 counts
                                         PositionCase{"ab", "ab", 1},
                                         PositionCase{"ab", "abab", 3},
                                         PositionCase{"ab", "abx", 0},  // only at the first character
                                         PositionCase{"ab", "xab", 2},
                                         PositionCase{"abc", "ab", 0},  // text shorter than pattern
                                         PositionCase{"", "abc", 0},
                                         PositionCase{".", "", 0}));

struct ExtensionCase {
    const char* name;
    bool keepFolder;
    const char* expected;
};

class ReplaceExtensionTable : public testing::TestWithParam<ExtensionCase> {};

TEST_P(ReplaceExtensionTable, Replaces) {
    const ExtensionCase& c = GetParam();
    EXPECT_EQ(c.expected, ReplaceExtension(c.name, "lnk", c.keepFolder))
        << c.name << " keep " << c.keepFolder;
}

INSTANTIATE_TEST_SUITE_P(Cases,
                         ReplaceExtensionTable,
                         testing::Values(ExtensionCase{"Tandrel", false, "Tandrel.lnk"},
                                         ExtensionCase{"Setup.exe", false, "Setup.lnk"},
                                         ExtensionCase{"C:\\A\\b.c.d", false, "b.c.lnk"},
                                         ExtensionCase{"C:\\A\\b.c.d", true, "C:\\A\\b.c.lnk"},
                                         ExtensionCase{"C:Setup.exe", false, "Setup.lnk"},
                                         ExtensionCase{".profile", false, ".profile.lnk"},
                                         ExtensionCase{"C:\\Home\\.profile", false, ".profile.lnk"},
                                         ExtensionCase{"C:\\A.B\\Tandrel", false, "Tandrel.lnk"},
                                         // With the folder kept, a "." in a folder name counts.
                                         ExtensionCase{"C:\\A.B\\Tandrel", true, "C:\\A.lnk"},
                                         ExtensionCase{"a.", false, "a.lnk"},
                                         ExtensionCase{".", false, ".lnk"},
                                         ExtensionCase{"", false, ".lnk"}));

// ---- Shortcut files ----

constexpr char kOleFailureWithS_FALSE[] = "OLE function call failed. HResult is $1.";

// Each test runs with OLE started, a scratch folder, and the Shell Folders value "TandrelTestFolder"
// naming that folder.
class ShortcutTest : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(ole_.Initialized());
        ASSERT_TRUE(folderValue_.SetString(folder_.Path()));
    }

    // A file that exists, for UpdateShortcut to point at.
    std::string MakeTarget() {
        const std::string program = folder_.Path() + "\\TANDREL.EXE";
        shell_test::WriteFile(program, "MZ");
        return program;
    }

    OleSession ole_;
    ScratchFolder folder_;
    ScopedShellFolderValue folderValue_{"TandrelTestFolder"};
};

TEST_F(ShortcutTest, CreateShortcutWritesTheNamedFileInTheShellFolder) {
    const std::string file = CreateShortcut("Tandrel", "", "TandrelTestFolder");
    EXPECT_EQ(folder_.Path() + "\\Tandrel.lnk", file);
    ASSERT_TRUE(FileExists(file));
    const auto fields = ReadLink(file);
    ASSERT_EQ(S_OK, fields.loadResult);
    EXPECT_EQ("Tandrel", ExtractFileName(fields.path));  // the bare name, as a path
    EXPECT_EQ("", fields.description);

    // A description is written when one is given; the name's extension gives way to "lnk".
    const std::string described = CreateShortcut("C:\\Bin\\Tool.exe", "Runs the tool", "TandrelTestFolder");
    EXPECT_EQ(folder_.Path() + "\\Tool.lnk", described);
    EXPECT_EQ("Runs the tool", ReadLink(described).description);
}

TEST_F(ShortcutTest, SetPathOfTheBareNameAnswersS_FALSEAndTheShortcutIsStillWritten) {
    // The condition the shortcut is created under: no file of that name exists, and the shell
    // answers with a success code other than 0, which the general rule rejects.
    const ComPtr<IShellLinkA> link = CreateShellLinkObject();
    const HRESULT setPath = link->SetPath("Tandrel");
    EXPECT_EQ(S_FALSE, setPath);
    EXPECT_EQ(kOleFailureWithS_FALSE, MessageOf([&] { CheckOleResult(setPath); }).substr(0, 40));

    EXPECT_EQ("(no exception)", MessageOf([] { CreateShortcut("Tandrel", "", "TandrelTestFolder"); }));
    EXPECT_TRUE(FileExists(folder_.Path() + "\\Tandrel.lnk"));
}

TEST_F(ShortcutTest, UpdateShortcutRewritesEveryField) {
    const std::string file = CreateShortcut("Tandrel", "", "TandrelTestFolder");
    TShellLinkInfo info;
    info.Target = MakeTarget();
    info.Arguments = "-site \"Home\"";
    info.Description = info.Target;
    info.WorkingDirectory = "C:\\windows\\";
    info.IconPath = "C:\\windows\\notepad.exe";
    info.IconIndex = 3;
    info.ShowCommand = SW_SHOWMAXIMIZED;
    info.HotKey = MAKEWORD('T', HOTKEYF_CONTROL | HOTKEYF_ALT);
    UpdateShortcut(file, info);

    const auto fields = ReadLink(file);
    ASSERT_EQ(S_OK, fields.loadResult);
    EXPECT_TRUE(SameTextAscii(info.Target, fields.path)) << fields.path;
    EXPECT_EQ(info.Arguments, fields.arguments);
    EXPECT_EQ(info.Description, fields.description);
    EXPECT_EQ(info.WorkingDirectory, fields.workingDirectory);
    EXPECT_EQ(info.IconPath, fields.iconPath);
    EXPECT_EQ(3, fields.iconIndex);
    EXPECT_EQ(SW_SHOWMAXIMIZED, shell_test::StoredShowCommand(file));
    EXPECT_EQ(info.HotKey, fields.hotKey);

    // A second update replaces the fields again, empty texts included.
    TShellLinkInfo plain;
    plain.Target = info.Target;
    UpdateShortcut(file, plain);
    const auto again = ReadLink(file);
    EXPECT_EQ("", again.arguments);
    EXPECT_EQ("", again.description);
    EXPECT_EQ("", again.iconPath);
    EXPECT_EQ(0, again.iconIndex);
    EXPECT_EQ(SW_SHOWNORMAL, shell_test::StoredShowCommand(file));
    EXPECT_EQ(0, again.hotKey);
}

TEST_F(ShortcutTest, UpdateShortcutWithAMissingTargetRaisesAndLeavesTheFileAsCreated) {
    const std::string file = CreateShortcut("Tandrel", "", "TandrelTestFolder");
    TShellLinkInfo info;
    info.Target = folder_.Path() + "\\Missing.exe";
    info.Description = "never written";
    // Outside CreateShortcut, a success code other than 0 is a failure, SetPath included.
    EXPECT_EQ(kOleFailureWithS_FALSE, MessageOf([&] { UpdateShortcut(file, info); }).substr(0, 40));
    const auto fields = ReadLink(file);
    ASSERT_EQ(S_OK, fields.loadResult);
    EXPECT_EQ("Tandrel", ExtractFileName(fields.path));
    EXPECT_EQ("", fields.description);
}

TEST_F(ShortcutTest, UpdateShortcutOfAMissingFileRaisesAndWritesNothing) {
    TShellLinkInfo info;
    info.Target = MakeTarget();
    EXPECT_THROW(UpdateShortcut(folder_.Path() + "\\Nothing.lnk", info), EShellOleError);
    EXPECT_FALSE(FileExists(folder_.Path() + "\\Nothing.lnk"));
}

TEST_F(ShortcutTest, TrailingBackslashOfTheFolderIsKept) {
    ASSERT_TRUE(folderValue_.SetString(folder_.Path() + "\\"));
    const std::string file = CreateShortcut("Tandrel", "", "TandrelTestFolder");
    EXPECT_EQ(folder_.Path() + "\\\\Tandrel.lnk", file);
    EXPECT_TRUE(FileExists(folder_.Path() + "\\Tandrel.lnk"));

    TShellLinkInfo info;
    info.Target = MakeTarget();
    UpdateShortcut(file, info);  // the doubled backslash still names the file
    EXPECT_TRUE(SameTextAscii(info.Target, ReadLink(folder_.Path() + "\\Tandrel.lnk").path));
}

TEST_F(ShortcutTest, MissingFolderValueRaisesBeforeAnythingIsSaved) {
    EXPECT_EQ("\"TandrelTestMissing\" item not found in registry",
              MessageOf([] { CreateShortcut("Tandrel", "Unused", "TandrelTestMissing"); }));
    EXPECT_TRUE(FolderIsEmpty(folder_.Path()));
}

TEST_F(ShortcutTest, PathOf259CharactersIsWrittenAndLongerIsNot) {
    // Nested folders bring the folder path to a length where the name decides the full length.
    std::string folder = folder_.Path();
    while (folder.size() < 200) {
        folder += "\\" + std::string(std::min<size_t>(40, 200 - folder.size()), 'f');
        ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr)) << folder;
    }
    ASSERT_TRUE(folderValue_.SetString(folder));
    const size_t fits = 259 - folder.size() - 1 - 4;  // "\" and ".lnk"
    const std::string name(fits, 'n');

    const std::string longest = CreateShortcut(name, "", "TandrelTestFolder");
    EXPECT_EQ(259u, longest.size());
    EXPECT_TRUE(FileExists(longest));

    // One character more does not fit the conversion buffer: the name becomes empty and nothing is
    // written, neither under a truncated name nor anywhere else in the folder.
    const std::string tooLong = CreateShortcut(name + "m", "", "TandrelTestFolder");
    EXPECT_EQ(260u, tooLong.size());
    WIN32_FIND_DATAA entry;
    int files = 0;
    UniqueFindHandle find(::FindFirstFileA((folder + "\\*").c_str(), &entry));
    for (bool more = static_cast<bool>(find); more; more = ::FindNextFileA(find.get(), &entry)) {
        files += (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }
    EXPECT_EQ(1, files);
}

}  // namespace
