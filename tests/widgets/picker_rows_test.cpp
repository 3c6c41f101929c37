// Rows of the drive and directory pickers, worked out from paths and from a folder tree made by
// the test; the folder operations FolderExists and CreateFolder.
#include <algorithm>
#include <gtest/gtest.h>

#include "../common/folder_tree.h"
#include "widgets/directory_rows.h"
#include "widgets/drive_rows.h"
#include "widgets/folders.h"

TEST(DriveRows, TextsByDriveType) {
    struct Case {
        char letter;
        UINT type;
        const char* label;
        std::optional<std::string> network;
        TTextCase textCase;
        const char* expected;
    };
    const Case cases[] = {
        {'a', DRIVE_REMOVABLE, "DISK", std::nullopt, tcLowerCase, "a:"},
        {'a', DRIVE_REMOVABLE, "DISK", std::nullopt, tcUpperCase, "A:"},
        {'d', DRIVE_FIXED, "SYSTEM", std::nullopt, tcLowerCase, "d: [system]"},
        {'d', DRIVE_FIXED, "System", std::nullopt, tcUpperCase, "D: [SYSTEM]"},
        {'c', DRIVE_FIXED, "", std::nullopt, tcLowerCase, "c: []"},
        {'e', DRIVE_CDROM, "Disc_1", std::nullopt, tcLowerCase, "e: [disc_1]"},
        {'r', DRIVE_RAMDISK, "Ram", std::nullopt, tcLowerCase, "r: [ram]"},
        {'n', DRIVE_REMOTE, "Share", std::string("\\\\Server\\Share"), tcLowerCase, "n: \\\\server\\share"},
        {'n', DRIVE_REMOTE, "Share", std::string("\\\\Server\\Share"), tcUpperCase, "N: \\\\SERVER\\SHARE"},
        {'n', DRIVE_REMOTE, "Share", std::nullopt, tcLowerCase, "n: [share]"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DriveRowText(c.letter, c.type, c.label, c.network, c.textCase), c.expected);
    }
}

TEST(DriveRows, PicturesByDriveType) {
    EXPECT_STREQ(DrivePictureResource(DrivePictureOf(DRIVE_REMOVABLE)), "FLOPPY");
    EXPECT_STREQ(DrivePictureResource(DrivePictureOf(DRIVE_FIXED)), "HARD");
    EXPECT_STREQ(DrivePictureResource(DrivePictureOf(DRIVE_REMOTE)), "NETWORK");
    EXPECT_STREQ(DrivePictureResource(DrivePictureOf(DRIVE_CDROM)), "CDROM");
    EXPECT_STREQ(DrivePictureResource(DrivePictureOf(DRIVE_RAMDISK)), "RAM");
    EXPECT_EQ(DrivePictureOf(DRIVE_UNKNOWN), DrivePicture::None);
    EXPECT_EQ(DrivePictureOf(DRIVE_NO_ROOT_DIR), DrivePicture::None);
    EXPECT_EQ(DrivePictureResource(DrivePicture::None), nullptr);
}

TEST(DriveRows, TheMachinesDrivesInLetterOrder) {
    const std::vector<DriveRow> rows = ReadDriveRows(tcLowerCase);
    ASSERT_GE(rows.size(), 2u);
    bool haveC = false, haveZ = false;
    for (size_t i = 0; i < rows.size(); ++i) {
        const DriveRow& row = rows[i];
        ASSERT_GE(row.text.size(), 2u);
        EXPECT_TRUE(row.text[0] >= 'a' && row.text[0] <= 'z') << row.text;
        EXPECT_EQ(row.text[1], ':') << row.text;
        EXPECT_NE(row.picture, DrivePicture::None);
        if (i > 0) {
            EXPECT_LT(rows[i - 1].text[0], row.text[0]);
        }
        // Every row is of one of the table's shapes.
        if (row.picture == DrivePicture::Floppy) {
            EXPECT_EQ(row.text.size(), 2u) << row.text;
        } else if (row.picture != DrivePicture::Network) {
            EXPECT_EQ(row.text.substr(2, 2), " [") << row.text;
            EXPECT_EQ(row.text.back(), ']') << row.text;
        }
        EXPECT_EQ(row.text, ApplyTextCase(row.text, tcLowerCase));
        haveC |= row.text[0] == 'c';
        haveZ |= row.text[0] == 'z';
    }
    EXPECT_TRUE(haveC);
    EXPECT_TRUE(haveZ);

    const std::vector<DriveRow> upper = ReadDriveRows(tcUpperCase);
    ASSERT_EQ(upper.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(upper[i].text, ApplyTextCase(rows[i].text, tcUpperCase));
    }
}

TEST(DirectoryRows, PathRowsOfRootsDeepAndNetworkPaths) {
    using Rows = std::vector<std::string>;
    EXPECT_EQ(PathRowTexts("c:\\"), (Rows{"c:\\"}));
    EXPECT_EQ(PathRowTexts("c:\\a\\b"), (Rows{"c:\\", "a", "b"}));
    EXPECT_EQ(PathRowTexts("C:\\Program Files\\Tandrel"), (Rows{"C:\\", "Program Files", "Tandrel"}));
    EXPECT_EQ(PathRowTexts("\\\\server\\share\\a"), (Rows{"\\\\server\\share\\", "a"}));
    EXPECT_EQ(PathRowTexts("\\\\server\\share\\"), (Rows{"\\\\server\\share\\"}));
    EXPECT_EQ(PathRowTexts("\\\\server\\share"), (Rows{"\\\\server\\share\\"}));
    EXPECT_EQ(PathDrive("z:\\tmp"), "z:");
    EXPECT_EQ(PathDrive("\\\\s\\t\\u"), "\\\\s\\t");
    EXPECT_EQ(BackslashCount("c:\\a\\b"), 2);
}

TEST(DirectoryRows, PicturesAndIndents) {
    const std::vector<DirectoryRow> deep = BuildDirectoryRows("c:\\a\\b", {"x", "y"});
    ASSERT_EQ(deep.size(), 5u);
    const FolderPicture expectedPictures[] = {FolderPicture::Open, FolderPicture::Open,
                                              FolderPicture::Current, FolderPicture::Closed,
                                              FolderPicture::Closed};
    const int expectedIndents[] = {2, 6, 10, 14, 14};  // row x 4 + 2; then 2 "\" x 4 + 6
    for (size_t i = 0; i < deep.size(); ++i) {
        EXPECT_EQ(deep[i].picture, expectedPictures[i]) << i;
        EXPECT_EQ(deep[i].indent, expectedIndents[i]) << i;
    }
    EXPECT_EQ(deep[3].text, "x");

    const std::vector<DirectoryRow> root = BuildDirectoryRows("c:\\", {"sub"});
    ASSERT_EQ(root.size(), 2u);
    EXPECT_EQ(root[0].text, "c:\\");
    EXPECT_EQ(root[0].picture, FolderPicture::Current);
    EXPECT_EQ(root[1].picture, FolderPicture::Closed);
    EXPECT_EQ(root[1].indent, 10);
    EXPECT_STREQ(FolderPictureResource(FolderPicture::Open), "OPENFOLDER");
    EXPECT_STREQ(FolderPictureResource(FolderPicture::Closed), "CLOSEDFOLDER");
    EXPECT_STREQ(FolderPictureResource(FolderPicture::Current), "CURRENTFOLDER");
}

TEST(DirectoryRows, OpenedRowPaths) {
    const std::string dir = "c:\\a\\b\\c";
    EXPECT_EQ(OpenedRowPath(dir, 0, "c:\\"), "c:\\");
    EXPECT_EQ(OpenedRowPath(dir, 1, "a"), "c:\\a");
    EXPECT_EQ(OpenedRowPath(dir, 2, "b"), "c:\\a\\b");
    EXPECT_EQ(OpenedRowPath(dir, 3, "c"), dir);
    EXPECT_EQ(OpenedRowPath(dir, 4, "Sub Dir"), "c:\\a\\b\\c\\Sub Dir");
    EXPECT_EQ(OpenedRowPath("c:\\", 0, "c:\\"), "c:\\");
    EXPECT_EQ(OpenedRowPath("c:\\", 1, "sub"), "c:\\sub");
    EXPECT_EQ(OpenedRowPath("\\\\s\\t\\a\\b", 0, ""), "\\\\s\\t\\");
    EXPECT_EQ(OpenedRowPath("\\\\s\\t\\a\\b", 1, "a"), "\\\\s\\t\\a");
}

TEST(DirectoryRows, SubdirectoryFilterAndOrder) {
    EXPECT_TRUE(IsListedSubdirectory("a", FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_TRUE(IsListedSubdirectory("a", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(IsListedSubdirectory("a", FILE_ATTRIBUTE_ARCHIVE));
    EXPECT_FALSE(IsListedSubdirectory("a", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_FALSE(IsListedSubdirectory("a", FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM));
    EXPECT_FALSE(IsListedSubdirectory("a", FILE_ATTRIBUTE_DIRECTORY | 0x8));
    EXPECT_FALSE(IsListedSubdirectory(".", FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_FALSE(IsListedSubdirectory("..", FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_TRUE(IsListedSubdirectory("...", FILE_ATTRIBUTE_DIRECTORY));

    std::vector<std::string> names{"beta", "Alpha", "alpha2", "ALPHA1", "_x", "Zed", "b"};
    std::sort(names.begin(), names.end(), [](auto& a, auto& b) { return LessIgnoringCase(a, b); });
    EXPECT_EQ(names, (std::vector<std::string>{"_x", "Alpha", "ALPHA1", "alpha2", "b", "beta", "Zed"}));
}

TEST(DirectoryRows, ReadsTheListedSubdirectoriesOfARealFolder) {
    FolderTree tree;
    tree.Folder("beta");
    tree.Folder("Alpha");
    tree.Folder("gamma");
    tree.Folder("Hidden", FILE_ATTRIBUTE_HIDDEN);
    tree.Folder("System", FILE_ATTRIBUTE_SYSTEM);
    tree.File("afile.txt");
    tree.Folder("beta\\inner");
    ASSERT_NE(::GetFileAttributesA(tree.Path("Hidden").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u)
        << "the file system keeps no hidden attribute";
    EXPECT_EQ(ReadSubdirectories(tree.root()), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    EXPECT_EQ(ReadSubdirectories(tree.root() + "\\"), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    EXPECT_EQ(ReadSubdirectories(tree.Path("beta")), (std::vector<std::string>{"inner"}));
    EXPECT_TRUE(ReadSubdirectories(tree.Path("missing")).empty());
}

TEST(Folders, FolderExistsOnlyForDirectories) {
    FolderTree tree;
    const std::string file = tree.File("plain.txt");
    EXPECT_TRUE(FolderExists(tree.root()));
    EXPECT_TRUE(FolderExists(tree.root() + "\\"));
    EXPECT_TRUE(FolderExists("c:\\"));
    EXPECT_FALSE(FolderExists(file));
    EXPECT_FALSE(FolderExists(tree.Path("missing")));
    EXPECT_FALSE(FolderExists(tree.Path("missing\\deeper")));
    EXPECT_FALSE(FolderExists(""));
}

TEST(Folders, CreateFolderMakesOneLevelOnly) {
    FolderTree tree;
    EXPECT_FALSE(CreateFolder(tree.Path("new\\sub")));
    EXPECT_FALSE(FolderExists(tree.Path("new")));
    EXPECT_FALSE(FolderExists(tree.Path("new\\sub")));

    EXPECT_TRUE(CreateFolder(tree.Path("new")));
    EXPECT_TRUE(FolderExists(tree.Path("new")));
    EXPECT_FALSE(CreateFolder(tree.Path("new")));  // already there
    EXPECT_TRUE(CreateFolder(tree.Path("new\\sub")));
    EXPECT_TRUE(FolderExists(tree.Path("new\\sub")));

    tree.File("taken");
    EXPECT_FALSE(CreateFolder(tree.Path("taken")));
    EXPECT_FALSE(CreateFolder(""));
}
