// The parts of the registration for removal that do not need a whole installation: the folders an
// expansion may make, the destination as recorded, the entry's values, and which folders count as
// made by the setup.
#include "app/install_registration.h"

#include <windows.h>

#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "../common/folder_tree.h"
#include "framework/exceptions.h"
#include "framework/unique_handle.h"

namespace {

struct RunIn : TInstallRun {
    RunIn(const std::string& destination, bool made) {
        Destination = destination;
        MadeDestination = made;
    }
};

TEST(InstallRegistration, FoldersOfEntriesListsParentsFirstOnceEachThenBackup) {
    struct Case {
        std::vector<std::string> names;
        std::vector<std::string> folders;
    };
    const Case cases[] = {
        {{}, {"Backup"}},
        {{"Tandrel.exe", "readme.txt"}, {"Backup"}},
        {{"sub\\deeper\\a.txt", "SUB\\b.txt", "other\\c.txt"},
         {"sub", "sub\\deeper", "other", "Backup", "Backup\\sub", "Backup\\sub\\deeper", "Backup\\other"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FoldersOfEntries(c.names), c.folders);
    }
}

TEST(InstallRegistration, RecordedDestinationIsFullWithoutATrailingBackslash) {
    EXPECT_EQ(RecordedDestination("C:\\Program Files\\Tandrel\\"), "C:\\Program Files\\Tandrel");
    EXPECT_EQ(RecordedDestination("C:\\Program Files\\.\\Tandrel"), "C:\\Program Files\\Tandrel");
    EXPECT_EQ(RecordedDestination("C:\\"), "C:\\");
    char current[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, current);
    EXPECT_EQ(RecordedDestination("relative"), std::string(current) + (current[3] ? "\\" : "") + "relative");
}

TEST(InstallRegistration, TheEntryNamesTheProductTheUninstallerAndTheProgram) {
    const TUninstallEntry entry = MakeUninstallEntry("C:\\Some Folder", 1025, "20261209");
    EXPECT_EQ(entry.DisplayName, "Tandrel 2.11");
    EXPECT_EQ(entry.DisplayVersion, "2.11");
    EXPECT_EQ(entry.Publisher, "Ornavik, Inc.");
    EXPECT_EQ(entry.InstallLocation, "C:\\Some Folder");
    EXPECT_EQ(entry.DisplayIcon, "C:\\Some Folder\\Tandrel.exe,0");
    EXPECT_EQ(entry.UninstallString, "\"C:\\Some Folder\\Uninstall.exe\"");
    EXPECT_EQ(entry.QuietUninstallString, "\"C:\\Some Folder\\Uninstall.exe\" /VERYSILENT");
    EXPECT_EQ(entry.EstimatedSize, 2u);  // KiB, rounded up
    EXPECT_EQ(entry.InstallDate, "20261209");
    // A drive root has its backslash already.
    EXPECT_EQ(MakeUninstallEntry("D:\\", 0, "20261209").UninstallString, "\"D:\\Uninstall.exe\"");
    EXPECT_EQ(MakeUninstallEntry("D:\\", 0, "20261209").EstimatedSize, 0u);
}

// Only folders missing before the loop and there after it are recorded: the destination itself
// when the run made it (or found it missing), parents before children.
TEST(InstallRegistration, FoldersMadeDuringTheLoopAreRecorded) {
    FolderTree tree("registration");
    const std::vector<std::string> entries{"a.txt", "sub\\deep\\b.txt", "new\\c.txt"};

    const std::string there = tree.Folder("there");
    tree.Folder("there\\sub");
    TInstallRegistration existing;
    existing.BeforeExtraction(RunIn(there, false), entries);
    for (const char* made : {"\\sub\\deep", "\\Backup", "\\Backup\\sub"}) {
        ::CreateDirectoryA((there + made).c_str(), nullptr);
    }
    existing.AfterExtraction();
    EXPECT_EQ(existing.Record().Folders, (std::vector<std::string>{"sub\\deep", "Backup", "Backup\\sub"}));

    const std::string missing = tree.Path("missing");
    TInstallRegistration fresh;
    fresh.BeforeExtraction(RunIn(missing, false), entries);
    for (const char* made : {"", "\\sub", "\\sub\\deep", "\\new"}) {
        ::CreateDirectoryA((missing + made).c_str(), nullptr);
    }
    fresh.AfterExtraction();
    EXPECT_EQ(fresh.Record().Folders, (std::vector<std::string>{".", "sub", "sub\\deep", "new"}));

    // Made by the interactive run before the sequence: there already, yet the setup's.
    const std::string madeBefore = tree.Folder("made before");
    TInstallRegistration interactive;
    interactive.BeforeExtraction(RunIn(madeBefore, true), {"a.txt"});
    interactive.AfterExtraction();
    EXPECT_EQ(interactive.Record().Folders, std::vector<std::string>{"."});
}

// A written file is recorded with the size and digest measured while it was written: the file is
// not read back (here it is not even there, or holds other bytes). A kept one is named only. A
// written entry that was not measured just before, or one too large for the record, fails the
// registration rather than leave the file out of the record.
TEST(InstallRegistration, WrittenFilesAreRecordedAsMeasuredAndAnUnmeasuredOneFailsTheRegistration) {
    FolderTree tree("registration");
    const std::string folder = tree.Folder("dest");
    const std::string content = "written by the setup";
    const Sha256Digest digest = Sha256Of(content.data(), content.size());
    {
        const UniqueFileHandle file(::CreateFileA((folder + "\\b.txt").c_str(), GENERIC_WRITE, 0, nullptr,
                                                  CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(::WriteFile(file.get(), "other", 5, &written, nullptr));
    }
    struct Case {
        const char* name;
        std::function<void(TInstallRegistration&)> done;
        bool registers;
    };
    const Case cases[] = {
        {"measured",
         [&](TInstallRegistration& registration) {
             registration.FileWritten("a.txt", static_cast<int64_t>(content.size()), digest);
             registration.EntryDone("a.txt", true);
             registration.FileWritten("b.txt", static_cast<int64_t>(content.size()), digest);
             registration.EntryDone("b.txt", true);
             registration.EntryDone("sites.ini", false);
         },
         true},
        {"not measured", [&](TInstallRegistration& registration) { registration.EntryDone("a.txt", true); },
         false},
        {"measured for another entry",
         [&](TInstallRegistration& registration) {
             registration.FileWritten("b.txt", 1, digest);
             registration.EntryDone("a.txt", true);
         },
         false},
        {"measured once, done twice",
         [&](TInstallRegistration& registration) {
             registration.FileWritten("a.txt", 1, digest);
             registration.EntryDone("a.txt", true);
             registration.EntryDone("b.txt", true);
         },
         false},
        {"too large",
         [&](TInstallRegistration& registration) {
             registration.FileWritten("a.txt", int64_t{INT32_MAX} + 1, digest);
             registration.EntryDone("a.txt", true);
         },
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TInstallRegistration registration;
        RunIn run(folder, false);
        run.Folder.emplace(folder);
        registration.BeforeExtraction(run, {"a.txt", "b.txt", "sites.ini"});
        c.done(registration);
        if (c.registers) {
            ASSERT_EQ(registration.Record().Files.size(), 2u);
            for (const TRecordedFile& file : registration.Record().Files) {
                EXPECT_EQ(file.Size, static_cast<int32_t>(content.size()));
                EXPECT_EQ(file.Digest, digest);
            }
            EXPECT_EQ(registration.Record().Files[0].Name, "a.txt");
            EXPECT_EQ(registration.Record().Files[1].Name, "b.txt");
            EXPECT_EQ(registration.Record().Kept, std::vector<std::string>{"sites.ini"});
            continue;
        }
        run.Begin();
        EXPECT_THROW(registration.Register(run), Exception);
        EXPECT_EQ(::GetFileAttributesA((folder + "\\Uninstall.exe").c_str()), INVALID_FILE_ATTRIBUTES);
        run.Transaction->RollBack();
    }
}

}  // namespace
