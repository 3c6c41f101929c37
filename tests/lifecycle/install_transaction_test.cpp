// The journal of a run on real folders: every kind of step undone in reverse, a journal left by a
// killed run rolled back (or, committed, finished) by the next one, and what is never lost.
#include "lifecycle/install_transaction.h"

#include <windows.h>

#include <objbase.h>
#include <shobjidl.h>

#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "../common/folder_tree.h"
#include "framework/sysutils.h"
#include "lifecycle/fault_point.h"
#include "lifecycle/installed_shortcut.h"
#include "shell/ole.h"
#include "shell/shell_folders.h"
#include "shell/shell_link.h"

namespace {

void Write(const std::string& path, const std::string& text) {
    const UniqueFileHandle file(::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                              FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file) << path;
    DWORD written = 0;
    ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

std::optional<std::string> Read(const std::string& path) {
    const UniqueFileHandle file(
        ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file) {
        return std::nullopt;
    }
    std::string text(4096, '\0');
    DWORD read = 0;
    ::ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
    text.resize(read);
    return text;
}

bool Exists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Stops the run at the point named what, as a killed process would: nothing after it happens.
struct TStop {};
const char* stopAt = nullptr;
void StopAt(const char* what) {
    if (stopAt != nullptr && std::string(what) == stopAt) {
        throw TStop();
    }
}

// An installation of two files and a Backup folder with an older backup, as a run finds it.
class Transaction : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = tree_.Folder("App");
        Write(root_ + "\\a.txt", "old a");
        Write(root_ + "\\b.txt", "old b");
        tree_.Folder("App\\Backup");
        Write(root_ + "\\Backup\\a.txt", "older a");
        FaultHook = StopAt;
    }
    void TearDown() override {
        FaultHook = nullptr;
        stopAt = nullptr;
    }
    // Replaces a.txt (into Backup, beside the older backup) and b.txt (aside), adds c.txt in a new
    // folder, as the setup does; stops before its commit.
    void Replace(TInstallTransaction& run) {
        run.MakeFolder("sub");
        run.InstallText("a.txt", "new a", TReplaceRule::Backup);
        run.InstallText("b.txt", "new b", TReplaceRule::Aside);
        run.InstallText("sub\\c.txt", "new c", TReplaceRule::Backup);
    }
    void ExpectAsBefore() {
        EXPECT_EQ(Read(root_ + "\\a.txt"), "old a");
        EXPECT_EQ(Read(root_ + "\\b.txt"), "old b");
        EXPECT_EQ(Read(root_ + "\\Backup\\a.txt"), "older a");
        EXPECT_FALSE(Exists(root_ + "\\Backup\\a (2).txt"));
        EXPECT_FALSE(Exists(root_ + "\\sub"));
        EXPECT_FALSE(Exists(root_ + "\\" + kJournalName));
        EXPECT_FALSE(Exists(root_ + "\\a.txt.~new"));
        EXPECT_FALSE(Exists(root_ + "\\b.txt.~old"));
    }
    void WriteJournal(const std::vector<std::string>& texts) {
        std::string journal;
        std::string check = kFirstJournalCheck;
        for (const std::string& text : texts) {
            journal += FormatJournalRecord(check, text, check);
        }
        Write(root_ + "\\" + kJournalName, journal);
    }

    FolderTree tree_{"transaction"};
    std::string root_;
};

TEST_F(Transaction, AFailedRunIsUndoneInReverse) {
    TSafeFolder folder(root_);
    TInstallTransaction run(folder, root_, {}, false, nullptr);
    Replace(run);
    EXPECT_EQ(Read(root_ + "\\a.txt"), "new a");
    EXPECT_EQ(Read(root_ + "\\Backup\\a (2).txt"), "old a");
    EXPECT_TRUE(Exists(root_ + "\\" + kJournalName));
    const std::vector<std::string> restored = run.RollBack();
    EXPECT_FALSE(restored.empty());
    ExpectAsBefore();
}

TEST_F(Transaction, ACommittedRunKeepsEveryBackupAndDropsWhatItSetAside) {
    {
        TSafeFolder folder(root_);
        TInstallTransaction run(folder, root_, {}, false, nullptr);
        Replace(run);
        run.Commit();
    }
    EXPECT_EQ(Read(root_ + "\\a.txt"), "new a");
    EXPECT_EQ(Read(root_ + "\\b.txt"), "new b");
    EXPECT_EQ(Read(root_ + "\\sub\\c.txt"), "new c");
    EXPECT_EQ(Read(root_ + "\\Backup\\a.txt"), "older a");
    EXPECT_EQ(Read(root_ + "\\Backup\\a (2).txt"), "old a");
    EXPECT_FALSE(Exists(root_ + "\\b.txt.~old"));
    EXPECT_FALSE(Exists(root_ + "\\" + kJournalName));
    // The same run again touches nothing.
    TSafeFolder folder(root_);
    TInstallTransaction again(folder, root_, {}, false, nullptr);
    EXPECT_EQ(again.InstallText("a.txt", "new a", TReplaceRule::Backup), TFileOutcome::Unchanged);
    again.Commit();
    EXPECT_FALSE(Exists(root_ + "\\Backup\\a (3).txt"));
}

// A run that stops without a word (killed) leaves its journal; the next one undoes it, whatever
// step it had reached, and a journal that says the run completed is only finished.
TEST_F(Transaction, TheNextRunRecoversFromAJournalLeftBehind) {
    {
        TSafeFolder folder(root_);
        TInstallTransaction run(folder, root_, {}, false, nullptr);
        Replace(run);
    }  // neither committed nor rolled back
    {
        TSafeFolder folder(root_);
        const std::vector<std::string> lines = RecoverInterruptedRun(folder);
        ASSERT_FALSE(lines.empty());
        EXPECT_NE(lines[0].find("Rolled back"), std::string::npos) << lines[0];
        EXPECT_TRUE(RecoverInterruptedRun(folder).empty()) << "nothing left to recover";
    }
    ExpectAsBefore();

    // Killed between its commit and its cleaning up: completed, so only finished.
    {
        TSafeFolder folder(root_);
        TInstallTransaction run(folder, root_, {}, false, nullptr);
        Replace(run);
        stopAt = "after the commit";
        EXPECT_THROW(run.Commit(), TStop);
    }
    EXPECT_TRUE(Exists(root_ + "\\b.txt.~old"));
    TSafeFolder folder(root_);
    EXPECT_EQ(RecoverInterruptedRun(folder).size(), 1u);
    EXPECT_EQ(Read(root_ + "\\b.txt"), "new b");
    EXPECT_FALSE(Exists(root_ + "\\b.txt.~old"));
    EXPECT_FALSE(Exists(root_ + "\\" + kJournalName));
}

// A step that cannot be undone stops the roll back and keeps what remains in the journal; a
// journal of another folder is left as it is, and one without a whole record goes.
TEST_F(Transaction, ARollBackThatCannotCompleteSaysWhatIsLeft) {
    {
        TSafeFolder folder(root_);
        TInstallTransaction run(folder, root_, {}, false, nullptr);
        stopAt = "put";  // a.txt is in Backup, the new one not yet in its place
        EXPECT_THROW(run.InstallText("a.txt", "new a", TReplaceRule::Backup), TStop);
    }
    stopAt = nullptr;
    Write(root_ + "\\a.txt", "the user's a");  // moving the old one back would overwrite it
    TSafeFolder folder(root_);
    try {
        RecoverInterruptedRun(folder);
        ADD_FAILURE() << "recovered";
    } catch (const ERollBackFailed& error) {
        EXPECT_NE(std::string(error.what()).find("Backup\\a (2).txt"), std::string::npos) << error.what();
    }
    EXPECT_EQ(Read(root_ + "\\a.txt"), "the user's a");
    EXPECT_EQ(Read(root_ + "\\Backup\\a (2).txt"), "old a");
    EXPECT_TRUE(Exists(root_ + "\\" + kJournalName));

    WriteJournal({kJournalLogHeading, "destination C:\\Elsewhere", "new a.txt.~new"});
    EXPECT_THROW(RecoverInterruptedRun(folder), ERollBackFailed);
    EXPECT_TRUE(Exists(root_ + "\\" + kJournalName));
    // One of the earlier, whole-file format is refused, and stays with everything it names.
    Write(root_ + "\\" + kJournalName, "Tandrel install journal 1\r\ndestination C:\\T\r\n");
    EXPECT_THROW(RecoverInterruptedRun(folder), ERollBackFailed);
    EXPECT_TRUE(Exists(root_ + "\\" + kJournalName));
    EXPECT_EQ(Read(root_ + "\\a.txt"), "the user's a");
}

// New files are made under names that did not exist; a planted file of that name is never used,
// and never removed by a roll back.
TEST_F(Transaction, NewNamesAreFreshAndFilesArePutInPlaceWhole) {
    Write(root_ + "\\a.txt.~new", "planted");
    TSafeFolder folder(root_);
    TInstallTransaction run(folder, root_, {}, false, nullptr);
    TNewFile file = run.NewFile("a.txt");
    EXPECT_EQ(file.Name, "a.txt.~new2");
    DWORD written = 0;
    ASSERT_TRUE(::WriteFile(file.Handle(), "new a", 5, &written, nullptr));
    EXPECT_EQ(run.Place(file, "a.txt", TReplaceRule::Aside), TFileOutcome::SetAside);
    EXPECT_EQ(Read(root_ + "\\a.txt"), "new a");
    EXPECT_EQ(Read(root_ + "\\a.txt.~old"), "old a");
    run.RollBack();
    EXPECT_EQ(Read(root_ + "\\a.txt"), "old a");
    EXPECT_FALSE(Exists(root_ + "\\a.txt.~new2"));
    EXPECT_FALSE(Exists(root_ + "\\a.txt.~old"));
    EXPECT_EQ(Read(root_ + "\\a.txt.~new"), "planted");
}

// A shortcut at path (a full path) that starts target.
void WriteShortcut(const std::string& path, const std::string& target) {
    const ComPtr<IShellLinkA> link = CreateShellLinkObject();
    ComPtr<IPersistFile> file;
    ASSERT_TRUE(SUCCEEDED(link->QueryInterface(IID_PPV_ARGS(file.put()))));
    ASSERT_TRUE(SUCCEEDED(link->SetPath(target.c_str())));
    const std::wstring wide(path.begin(), path.end());  // the test's paths are ASCII
    ASSERT_EQ(file->Save(wide.c_str(), TRUE), S_OK) << path;
}

// A journal's shortcut step names the file that its roll back removes, and the journal may have
// been planted: only a Tandrel.lnk right inside this account's Programs folder that starts the
// installation's program goes. Anything else there stays as it was. (A step that names the
// shortcut through a link is tried by the protection test: no Windows program makes a link here.)
TEST_F(Transaction, ARollBackRemovesOnlyTheShortcutThatStartsTheInstallation) {
    const OleSession ole;
    const std::string programs = WithoutTrailingBackslash(GetShellFolder("Programs"));
    ASSERT_NE(::GetFileAttributesA(programs.c_str()), INVALID_FILE_ATTRIBUTES) << programs;
    const std::string shortcut = programs + "\\Tandrel.lnk";
    const std::string program = root_ + "\\Tandrel.exe";
    // A shortcut that another test left there is put back afterwards.
    const struct TPutBack {
        std::string Path;
        std::optional<std::string> Contents;
        ~TPutBack() {
            if (Contents) {
                Write(Path, *Contents);
            }
        }
    } putBack{shortcut, Read(shortcut)};

    struct Case {
        const char* what;
        std::string target;  // empty: a file that is no shortcut
        bool removed;
    };
    const Case cases[] = {
        {"a shortcut that starts another program", "C:\\Elsewhere\\Tandrel.exe", false},
        {"a file that is no shortcut", "", false},
        {"the installation's shortcut", program, true},
        {"a shortcut the run had only begun: it starts the bare name", kBareShortcutTarget, true},
    };
    for (const Case& planted : cases) {
        SCOPED_TRACE(planted.what);
        if (planted.target.empty()) {
            Write(shortcut, "not a shortcut");
        } else if (planted.target == kBareShortcutTarget) {
            ASSERT_EQ(CreateShortcut(kBareShortcutTarget, "", "Programs"), shortcut);
        } else {
            WriteShortcut(shortcut, planted.target);
        }
        const std::optional<std::string> before = Read(shortcut);
        ASSERT_TRUE(before);
        WriteJournal({kJournalLogHeading, "destination " + root_, "shortcut " + shortcut});
        TSafeFolder folder(root_);
        const std::vector<std::string> lines = RecoverInterruptedRun(folder);
        EXPECT_FALSE(Exists(root_ + "\\" + kJournalName));
        if (planted.removed) {
            EXPECT_FALSE(Exists(shortcut));
            ASSERT_EQ(lines.size(), 2u);
            EXPECT_EQ(lines[1], "Removed " + shortcut);
        } else {
            EXPECT_EQ(Read(shortcut), before);
            EXPECT_EQ(lines.size(), 1u) << lines.back();
        }
        ::DeleteFileA(shortcut.c_str());
    }
    // A shortcut only begun is the roll back's to take, never a removal's: a removal takes only one
    // that starts the installation.
    ASSERT_EQ(CreateShortcut(kBareShortcutTarget, "", "Programs"), shortcut);
    {
        TRecordedShortcut held;
        EXPECT_EQ(OpenRecordedShortcut(shortcut, root_, held), TShortcutState::OtherTarget);
    }
    TRecordedShortcut begun;
    EXPECT_EQ(OpenRecordedShortcut(shortcut, root_, begun, true), TShortcutState::Ours);
    begun = TRecordedShortcut();
    ::DeleteFileA(shortcut.c_str());
}

}  // namespace

namespace {

// The identity of the folder at path, as the removal compares it.
uint64_t FolderIdentity(const std::string& path) {
    const UniqueFileHandle folder(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                                nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return IdentityOf(folder.get());
}

// A new destination and the folders above it appear at once, with the journal that names each with
// its identity; a failed run takes them away again only while they hold nothing else; a folder
// above is removed only while it is the very folder that was made.
TEST_F(Transaction, ANewDestinationIsMadeAndTakenAwayWhole) {
    const std::string first = root_ + "\\New";
    const std::string destination = first + "\\Deeper\\App";
    const TMadeFolders made = MakeNewDestination(first, destination, nullptr);
    EXPECT_FALSE(Exists(first + ".~new"));
    ASSERT_EQ(made.Above, (std::vector<std::string>{first, first + "\\Deeper"}));
    EXPECT_EQ(made.AboveIds,
              (std::vector<uint64_t>{FolderIdentity(first), FolderIdentity(first + "\\Deeper")}));
    EXPECT_TRUE(made.Destination);
    EXPECT_EQ(made.DestinationId, FolderIdentity(destination));
    const std::optional<std::string> journal = Read(destination + "\\" + kJournalName);
    ASSERT_TRUE(journal);
    EXPECT_EQ(ParseJournalLog(*journal).Steps.size(), 3u);

    Write(destination + "\\mine.txt", "the user's");
    EXPECT_FALSE(WithdrawNewDestination(first, destination));
    EXPECT_EQ(Read(destination + "\\mine.txt"), "the user's");
    ::DeleteFileA((destination + "\\mine.txt").c_str());
    EXPECT_TRUE(WithdrawNewDestination(first, destination));
    EXPECT_FALSE(Exists(first));
    EXPECT_FALSE(Exists(first + ".~new"));

    ASSERT_TRUE(::CreateDirectoryA(first.c_str(), nullptr));
    const uint64_t id = FolderIdentity(first);
    EXPECT_FALSE(RemoveEmptyFolderAbove(first, id + 1));
    EXPECT_FALSE(RemoveEmptyFolderAbove(first, 0));
    EXPECT_TRUE(Exists(first));
    EXPECT_TRUE(RemoveEmptyFolderAbove(first, id));
    EXPECT_FALSE(Exists(first));
}

}  // namespace
