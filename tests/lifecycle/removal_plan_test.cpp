// What a removal decides before it touches anything: equal folders, the folders of the system that
// are never removed from, the order of the created folders, and the texts for the user.
#include "lifecycle/removal_plan.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(RemovalPlan, FolderComparison) {
    EXPECT_EQ(WithoutTrailingBackslash("C:\\Tandrel\\\\"), "C:\\Tandrel");
    EXPECT_EQ(WithoutTrailingBackslash("C:\\"), "C:\\");
    EXPECT_TRUE(SameFolder("C:\\Program Files\\TANDREL\\", "c:\\program files\\Tandrel"));
    EXPECT_FALSE(SameFolder("C:\\Tandrel", "C:\\Tandrel2"));
    EXPECT_FALSE(SameFolder("C:\\Tandrel", "D:\\Tandrel"));
}

TEST(RemovalPlan, OnlyTheChainThatTheSetupMadeAboveItsDestination) {
    using Parents = std::vector<std::string>;
    using Above = std::vector<TFolderAbove>;
    const std::string destination = "C:\\Apps\\Sub\\Tandrel";
    EXPECT_EQ(RemovableParents(destination, {"C:\\Apps", "C:\\Apps\\Sub"}, {7, 8}, true),
              (Above{{"C:\\Apps\\Sub", 8}, {"C:\\Apps", 7}}));
    EXPECT_EQ(RemovableParents(destination + "\\", {"c:\\apps\\SUB\\"}, {9}, true),
              (Above{{"c:\\apps\\SUB\\", 9}}));
    EXPECT_EQ(RemovableParents(destination, {}, {}, true), Above{});
    // Not made with the destination, a gap in the chain, out of order, or not above it at all:
    // folders that the setup did not make, none taken.
    const std::vector<Parents> foreign = {
        {"C:\\Apps"},
        {"C:\\Apps\\Sub", "C:\\Apps"},
        {"C:\\Apps\\Sub\\Tandrel"},
        {"C:\\Other", "C:\\Apps\\Sub"},
        {"C:\\Apps\\Sub", "C:\\Apps\\Sub"},
        {"C:", "C:\\Apps", "C:\\Apps\\Sub"},
    };
    for (const Parents& parents : foreign) {
        EXPECT_EQ(RemovableParents(destination, parents, {1, 2, 3}, true), Above{}) << parents.front();
    }
    EXPECT_EQ(RemovableParents(destination, {"C:\\Apps", "C:\\Apps\\Sub"}, {7, 8}, false), Above{});
    // A record without identities (written before they were recorded, or forged) names folders that
    // may not be the ones the setup made: kept, and so is every folder above one without.
    EXPECT_EQ(RemovableParents(destination, {"C:\\Apps", "C:\\Apps\\Sub"}, {}, true), Above{});
    EXPECT_EQ(RemovableParents(destination, {"C:\\Apps", "C:\\Apps\\Sub"}, {7, 0}, true), Above{});
    EXPECT_EQ(RemovableParents(destination, {"C:\\Apps", "C:\\Apps\\Sub"}, {0, 8}, true),
              (Above{{"C:\\Apps\\Sub", 8}}));
}

TEST(RemovalPlan, Roots) {
    for (const char* root :
         {"C:", "C:\\", "z:\\\\", "\\\\server\\share", "\\\\server\\share\\", "\\\\server"}) {
        EXPECT_TRUE(IsRootFolder(root)) << root;
    }
    for (const char* folder : {"C:\\Tandrel", "\\\\server\\share\\Tandrel", "Tandrel", ""}) {
        EXPECT_FALSE(IsRootFolder(folder)) << folder;
    }
}

TEST(RemovalPlan, ProtectedDestinations) {
    TProtectedFolders system;
    system.Exact = {"C:\\Windows", "C:\\Program Files", "", "C:\\Program Files (x86)"};
    system.ProfilesRoot = "C:\\Users";
    for (const char* folder :
         {"", "C:\\", "D:", "c:\\windows\\", "C:\\PROGRAM FILES", "C:\\Program Files (x86)", "C:\\Users",
          "C:\\Users\\me", "c:\\users\\Public\\", "\\\\server\\share"}) {
        EXPECT_TRUE(IsProtectedDestination(folder, system)) << folder;
    }
    for (const char* folder : {"C:\\Program Files\\Tandrel", "C:\\Windows\\Tandrel", "C:\\Users\\me\\Tandrel",
                               "C:\\Users2", "D:\\Tandrel", "\\\\server\\share\\Tandrel"}) {
        EXPECT_FALSE(IsProtectedDestination(folder, system)) << folder;
    }
    // Without a profiles folder known, only the exact folders and roots count.
    EXPECT_FALSE(IsProtectedDestination("C:\\Users\\me", TProtectedFolders{}));
}

TEST(RemovalPlan, DeepestFoldersFirstDestinationLast) {
    EXPECT_EQ(FoldersDeepestFirst({".", "a", "a\\b", "c", "a\\b\\d"}),
              (std::vector<std::string>{"a\\b\\d", "a\\b", "c", "a", "."}));
    EXPECT_EQ(FoldersDeepestFirst({}), std::vector<std::string>{});
    EXPECT_EQ(FoldersDeepestFirst({"x\\y", "."}), (std::vector<std::string>{"x\\y", "."}));
}

TEST(RemovalPlan, Texts) {
    EXPECT_EQ(RemovalQuestion("Tandrel 2.11", "C:\\Program Files\\Tandrel"),
              "Do you want to remove Tandrel 2.11 from C:\\Program Files\\Tandrel?");
    EXPECT_EQ(RemovalSummary("Tandrel 2.11", "C:\\T", {}), "Tandrel 2.11 was removed from C:\\T.");
    EXPECT_EQ(RemovalSummary("Tandrel 2.11", "C:\\T",
                             {{"sites.ini", TKeptReason::Changed}, {"Backup", TKeptReason::Backup}}),
              "Tandrel 2.11 was removed from C:\\T.\n\nThese items were kept:\n"
              "sites.ini (changed since it was installed)\nBackup (the files that installations replaced)");
    // A long list ends in a count.
    std::vector<TKeptItem> many;
    for (size_t i = 0; i < kMaxKeptInSummary + 3; ++i) {
        std::string name = "f";
        many.push_back({name.append(std::to_string(i)), TKeptReason::NotInstalled});
    }
    const std::string summary = RemovalSummary("Tandrel 2.11", "C:\\T", many);
    EXPECT_EQ(std::count(summary.begin(), summary.end(), '\n'), static_cast<long>(kMaxKeptInSummary) + 3);
    EXPECT_EQ(summary.substr(summary.rfind('\n') + 1), "and 3 more");
    for (const TKeptReason reason :
         {TKeptReason::Changed, TKeptReason::KeptByInstall, TKeptReason::NotInstalled, TKeptReason::Backup,
          TKeptReason::ThroughLink, TKeptReason::OtherTarget, TKeptReason::CouldNotRemove}) {
        const std::string text = DescribeKept({"x", reason});
        EXPECT_EQ(text.rfind("x (", 0), 0u) << text;
        EXPECT_EQ(text.back(), ')') << text;
    }
    // No item twice: the first reason given is the one shown.
    EXPECT_EQ(
        RemovalSummary("Tandrel 2.11", "C:\\T",
                       {{"sites.ini", TKeptReason::KeptByInstall}, {"SITES.INI", TKeptReason::NotInstalled}}),
        "Tandrel 2.11 was removed from C:\\T.\n\nThese items were kept:\n"
        "sites.ini (it was there before the installation)");
}

// Backup is what installations replaced when the setup made it or it backs up one of their files;
// a Backup of the user's that only ever held the user's files (or nothing) was there before.
TEST(RemovalPlan, BackupIsNamedByWhatTheRecordNotesOrElseByWhatItHolds) {
    const std::vector<std::string> recorded = {"Tandrel.exe", "readme.txt", "sites.ini"};
    // Noted by the installations: whatever it holds now.
    EXPECT_EQ(BackupReason(true, false, {}, recorded), TKeptReason::Backup);
    EXPECT_EQ(BackupReason(true, false, {"notes.txt"}, recorded), TKeptReason::Backup);
    EXPECT_EQ(BackupReason(false, false, {"readme.txt", "sites.ini"}, recorded), TKeptReason::KeptByInstall);
    EXPECT_EQ(BackupReason(false, true, {"README.TXT"}, recorded), TKeptReason::KeptByInstall);
    // A record written before it was noted.
    EXPECT_EQ(BackupReason(std::nullopt, true, {"notes.txt"}, recorded), TKeptReason::Backup);
    EXPECT_EQ(BackupReason(std::nullopt, false, {"notes.txt", "README.TXT"}, recorded), TKeptReason::Backup);
    EXPECT_EQ(BackupReason(std::nullopt, false, {"notes.txt"}, recorded), TKeptReason::KeptByInstall);
    EXPECT_EQ(BackupReason(std::nullopt, false, {}, recorded), TKeptReason::KeptByInstall);
    EXPECT_EQ(DescribeKept({"Backup", BackupReason(false, false, {}, recorded)}),
              "Backup (it was there before the installation)");
    EXPECT_EQ(DescribeKept({"Backup", BackupReason(true, false, {}, recorded)}),
              "Backup (the files that installations replaced)");
}

}  // namespace
