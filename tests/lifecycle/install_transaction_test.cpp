// The journal of a run on real folders: every kind of step undone in reverse, a journal left by a
// killed run rolled back (or, committed, finished) by the next one, and what is never lost.
#include "lifecycle/install_transaction.h"

#include <windows.h>

#include <gtest/gtest.h>
#include <optional>
#include <string>

#include "../common/folder_tree.h"
#include "lifecycle/record_file.h"

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

// An installation of two files and a Backup folder with an older backup, as a run finds it.
class Transaction : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = tree_.Folder("App");
        Write(root_ + "\\a.txt", "old a");
        Write(root_ + "\\b.txt", "old b");
        tree_.Folder("App\\Backup");
        Write(root_ + "\\Backup\\a.txt", "older a");
    }
    // Replaces a.txt (into Backup, the older backup set aside) and b.txt (aside), adds c.txt in a
    // new folder, as the setup does; stops before its commit.
    void Replace(TInstallTransaction& run) {
        run.MakeFolder("sub", nullptr);
        for (const char* name : {"a.txt", "b.txt", "sub\\c.txt"}) {
            const TNewFile file = run.NewFileWithText(name, std::string("new ") + name);
            if (std::string(name) == "a.txt") {
                run.SetAside("Backup\\a.txt");
                run.MoveToBackup("a.txt", "Backup\\a.txt");
            } else if (std::string(name) == "b.txt") {
                run.SetAside("b.txt");
            }
            run.Put(file, name, false);
        }
    }
    void ExpectAsBefore() {
        EXPECT_EQ(Read(root_ + "\\a.txt"), "old a");
        EXPECT_EQ(Read(root_ + "\\b.txt"), "old b");
        EXPECT_EQ(Read(root_ + "\\Backup\\a.txt"), "older a");
        EXPECT_FALSE(Exists(root_ + "\\sub"));
        EXPECT_FALSE(Exists(root_ + "\\" + kJournalName));
        EXPECT_FALSE(Exists(root_ + "\\a.txt.~new"));
        EXPECT_FALSE(Exists(root_ + "\\b.txt.~old"));
        EXPECT_FALSE(Exists(root_ + "\\Backup\\a.txt.~old"));
    }

    FolderTree tree_{"transaction"};
    std::string root_;
};

TEST_F(Transaction, AFailedRunIsUndoneInReverse) {
    TSafeFolder folder(root_);
    TInstallTransaction run(folder, root_, {}, false);
    Replace(run);
    EXPECT_EQ(Read(root_ + "\\a.txt"), "new a.txt");
    EXPECT_EQ(Read(root_ + "\\Backup\\a.txt"), "old a");
    EXPECT_TRUE(Exists(root_ + "\\" + kJournalName));
    const std::vector<std::string> restored = run.RollBack();
    EXPECT_FALSE(restored.empty());
    ExpectAsBefore();
}

TEST_F(Transaction, ACommittedRunKeepsItsFilesAndDropsWhatItSetAside) {
    {
        TSafeFolder folder(root_);
        TInstallTransaction run(folder, root_, {}, false);
        Replace(run);
        run.Commit();
    }
    EXPECT_EQ(Read(root_ + "\\a.txt"), "new a.txt");
    EXPECT_EQ(Read(root_ + "\\b.txt"), "new b.txt");
    EXPECT_EQ(Read(root_ + "\\sub\\c.txt"), "new sub\\c.txt");
    EXPECT_EQ(Read(root_ + "\\Backup\\a.txt"), "old a");  // a complete version replaces the older
    EXPECT_FALSE(Exists(root_ + "\\b.txt.~old"));
    EXPECT_FALSE(Exists(root_ + "\\Backup\\a.txt.~old"));
    EXPECT_FALSE(Exists(root_ + "\\" + kJournalName));
}

// A run that stops without a word (killed) leaves its journal; the next one undoes it, whatever
// step it had reached, and a journal that says the run completed is only finished.
TEST_F(Transaction, TheNextRunRecoversFromAJournalLeftBehind) {
    {
        TSafeFolder folder(root_);
        TInstallTransaction run(folder, root_, {}, false);
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
    TInstallJournal journal;
    journal.Destination = root_;
    journal.Steps = {{TStepAction::Aside, "b.txt", "b.txt.~old"}};
    journal.Done = 1;
    journal.Committed = true;
    ASSERT_EQ(::MoveFileA((root_ + "\\b.txt").c_str(), (root_ + "\\b.txt.~old").c_str()), TRUE);
    Write(root_ + "\\b.txt", "new b");
    Write(root_ + "\\" + kJournalName, FormatInstallJournal(journal));
    TSafeFolder folder(root_);
    EXPECT_EQ(RecoverInterruptedRun(folder).size(), 1u);
    EXPECT_EQ(Read(root_ + "\\b.txt"), "new b");
    EXPECT_FALSE(Exists(root_ + "\\b.txt.~old"));
}

// A step that cannot be undone stops the roll back and keeps what remains in the journal; a
// journal of another folder, or a damaged one, is left as it is.
TEST_F(Transaction, ARollBackThatCannotCompleteSaysWhatIsLeft) {
    TInstallJournal journal;
    journal.Destination = root_;
    journal.Steps = {{TStepAction::Backup, "a.txt", "Backup\\a.txt"}};
    journal.Done = 1;
    Write(root_ + "\\" + kJournalName, FormatInstallJournal(journal));
    // a.txt is there and so is its "backup": moving it back would overwrite what is there.
    TSafeFolder folder(root_);
    try {
        RecoverInterruptedRun(folder);
        ADD_FAILURE() << "recovered";
    } catch (const ERollBackFailed& error) {
        EXPECT_NE(std::string(error.what()).find("Backup\\a.txt"), std::string::npos) << error.what();
    }
    EXPECT_EQ(Read(root_ + "\\a.txt"), "old a");
    EXPECT_EQ(Read(root_ + "\\Backup\\a.txt"), "older a");
    EXPECT_TRUE(Exists(root_ + "\\" + kJournalName));

    journal.Destination = "C:\\Elsewhere";
    Write(root_ + "\\" + kJournalName, FormatInstallJournal(journal));
    EXPECT_THROW(RecoverInterruptedRun(folder), ERollBackFailed);
    Write(root_ + "\\" + kJournalName, "Tandrel install journal 1\r\ndestination C:\\T\r\n");
    EXPECT_THROW(RecoverInterruptedRun(folder), ERollBackFailed);
    EXPECT_EQ(Read(root_ + "\\a.txt"), "old a");
}

// New files are made under names that did not exist; a planted file of that name is never used.
TEST_F(Transaction, NewNamesAreFreshAndFilesArePutInPlaceWhole) {
    Write(root_ + "\\a.txt.~new", "planted");
    TSafeFolder folder(root_);
    TInstallTransaction run(folder, root_, {}, false);
    {
        const TNewFile file = run.NewFileWithText("a.txt", "new a");
        EXPECT_EQ(file.Name, "a.txt.~new2");
        EXPECT_EQ(Read(root_ + "\\a.txt.~new"), "planted");
        // Put never replaces a file it did not set aside first.
        EXPECT_THROW(run.Put(file, "a.txt", false), EInOutError);
        EXPECT_EQ(Read(root_ + "\\a.txt"), "old a");
    }  // closed, as a failure's unwinding closes it before the roll back
    run.RollBack();
    EXPECT_FALSE(Exists(root_ + "\\a.txt.~new2"));
    EXPECT_EQ(Read(root_ + "\\a.txt.~new"), "planted");

    WriteFileWhole(folder, "b.txt", "whole");
    EXPECT_EQ(Read(root_ + "\\b.txt"), "whole");
}

}  // namespace
