// The drive combo box and the directory list as controls: rows and pictures of a folder tree made
// by the test, opening rows, the process's current directory, the drives of the machine, and the
// order of the events.
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "../common/folder_tree.h"
#include "dib_canvas.h"
#include "framework/exceptions.h"
#include "framework/sysutils.h"
#include "widget_host.h"
#include "widgets/directory_list_box.h"
#include "widgets/drive_combo_box.h"

namespace {

std::string ProcessDirectory() {
    char buffer[MAX_PATH + 1] = {};
    ::GetCurrentDirectoryA(sizeof buffer, buffer);
    return buffer;
}

// Every test leaves the process's current directory where it found it.
class PickerTest : public ::testing::Test {
  protected:
    void SetUp() override { saved_ = ProcessDirectory(); }
    void TearDown() override { ::SetCurrentDirectoryA(saved_.c_str()); }

    std::vector<std::string> Texts(const TListControl& list) const {
        std::vector<std::string> texts;
        for (int i = 0; i < list.Items().Count(); ++i) {
            texts.push_back(list.Items()[i]);
        }
        return texts;
    }

  private:
    std::string saved_;
};

// The folder tree of most tests:  root\Alpha, root\beta\inner\deep, root\gamma, a hidden and a
// system folder and a file.
struct Tree : FolderTree {
    Tree() {
        Folder("beta");
        Folder("Alpha");
        Folder("gamma");
        Folder("Hidden", FILE_ATTRIBUTE_HIDDEN);
        Folder("System", FILE_ATTRIBUTE_SYSTEM);
        File("afile.txt");
        Folder("beta\\inner");
        Folder("beta\\inner\\deep");
    }
};

int RowOf(const TListControl& list, const std::string& text) {
    for (int i = 0; i < list.Items().Count(); ++i) {
        if (list.Items()[i] == text) {
            return i;
        }
    }
    return -1;
}

}  // namespace

TEST_F(PickerTest, DirectoryListShowsPathRowsAndListedSubdirectories) {
    Tree tree;
    HostForm form;
    auto* list = form.Add<TDirectoryListBox>();
    int changes = 0;
    list->OnChange = [&](TObject* sender) {
        EXPECT_EQ(sender, list);
        ++changes;
    };
    EXPECT_EQ(list->Width(), 145);
    EXPECT_EQ(list->CurrentDirectory(), ProcessDirectory());

    list->SetCurrentDirectory(tree.root());
    EXPECT_EQ(changes, 1);
    EXPECT_TRUE(SameTextAscii(list->CurrentDirectory(), tree.root())) << list->CurrentDirectory();
    EXPECT_EQ(ProcessDirectory(), list->CurrentDirectory());
    EXPECT_EQ(list->DriveLetter(), list->CurrentDirectory()[0]);

    const std::vector<std::string> path = PathRowTexts(list->CurrentDirectory());
    std::vector<std::string> expected = path;
    expected.insert(expected.end(), {"Alpha", "beta", "gamma"});  // no Hidden, no System, no file
    EXPECT_EQ(Texts(*list), expected);
    const int current = static_cast<int>(path.size()) - 1;
    EXPECT_EQ(list->ItemIndex(), current);
    for (int i = 0; i < list->Items().Count(); ++i) {
        const FolderPicture picture = list->Rows()[static_cast<size_t>(i)].picture;
        EXPECT_EQ(picture, i < current    ? FolderPicture::Open
                           : i == current ? FolderPicture::Current
                                          : FolderPicture::Closed)
            << i;
        const auto* bitmap = dynamic_cast<const TBitmap*>(list->Items().Objects(i));
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(bitmap->Width(), 16);
        EXPECT_EQ(bitmap->Height(), 15);
    }

    // The same directory in another letter case is no change on a volume that ignores case.
    const VolumeCaseRules rules = ReadVolumeCaseRules(tree.root());
    list->SetCurrentDirectory(UpperCaseAscii(list->CurrentDirectory()));
    if (!rules.caseSensitive) {
        EXPECT_EQ(changes, 1);
    } else {
        EXPECT_EQ(changes, 2);
    }
}

TEST_F(PickerTest, DirectoryListAtARootHasOnePathRow) {
    HostForm form;
    auto* list = form.Add<TDirectoryListBox>();
    list->SetCurrentDirectory("c:\\");
    ASSERT_GT(list->Items().Count(), 1);
    EXPECT_TRUE(SameTextAscii(list->Items()[0], "c:\\"));
    EXPECT_EQ(list->Rows()[0].picture, FolderPicture::Current);
    EXPECT_EQ(list->Rows()[1].picture, FolderPicture::Closed);
    EXPECT_EQ(list->Rows()[1].indent, 10);
    EXPECT_EQ(list->ItemIndex(), 0);
    // At window creation the row numbered by the path's "\" count is selected: at a root, the
    // first subdirectory.
    list->HandleNeeded();
    EXPECT_EQ(list->ItemIndex(), 1);
}

TEST_F(PickerTest, OpeningRowsByDoubleClickAndEnter) {
    Tree tree;
    HostForm form;
    auto* list = form.Add<TDirectoryListBox>();
    list->SetCurrentDirectory(tree.root());
    const HWND hwnd = list->Handle();
    std::vector<std::string> seen;
    list->OnChange = [&](TObject*) { seen.push_back(list->CurrentDirectory()); };

    // A single click only selects.
    list->SetItemIndex(RowOf(*list, "beta"));
    Notify(hwnd, LBN_SELCHANGE);
    EXPECT_TRUE(seen.empty());

    Notify(hwnd, LBN_DBLCLK);  // opens beta
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(SameTextAscii(seen.back(), tree.Path("beta")));
    EXPECT_EQ(Texts(*list).back(), "inner");
    EXPECT_EQ(list->Rows()[static_cast<size_t>(list->ItemIndex())].picture, FolderPicture::Current);

    list->SetItemIndex(RowOf(*list, "inner"));
    ::SendMessageA(hwnd, WM_CHAR, '\r', 0);  // Enter opens it too
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(SameTextAscii(list->CurrentDirectory(), tree.Path("beta\\inner")));
    EXPECT_TRUE(SameTextAscii(ProcessDirectory(), tree.Path("beta\\inner")));

    // The ancestor row of the tree's root leads back to it.
    const int rootRow = static_cast<int>(PathRowTexts(tree.root()).size()) - 1;
    list->SetItemIndex(rootRow);
    Notify(hwnd, LBN_DBLCLK);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_TRUE(SameTextAscii(list->CurrentDirectory(), tree.root()));

    // Opening the current row changes nothing.
    list->SetItemIndex(rootRow);
    Notify(hwnd, LBN_DBLCLK);
    EXPECT_EQ(seen.size(), 3u);

    // Row 0 is the drive's root.
    list->SetItemIndex(0);
    Notify(hwnd, LBN_DBLCLK);
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(list->CurrentDirectory().size(), 3u);
    EXPECT_EQ(list->CurrentDirectory().substr(1), ":\\");
}

TEST_F(PickerTest, DirectoryListResolvesPathsAndRefusesMissingOnes) {
    Tree tree;
    HostForm form;
    auto* list = form.Add<TDirectoryListBox>();
    list->SetCurrentDirectory(tree.Path("beta"));
    int changes = 0;
    list->OnChange = [&](TObject*) { ++changes; };

    list->SetCurrentDirectory("inner");  // relative to the current directory
    EXPECT_TRUE(SameTextAscii(list->CurrentDirectory(), tree.Path("beta\\inner")));
    list->SetCurrentDirectory(tree.Path("afile.txt"));  // a file: its folder
    EXPECT_TRUE(SameTextAscii(list->CurrentDirectory(), tree.root()));
    EXPECT_EQ(changes, 2);

    const std::vector<std::string> rowsBefore = Texts(*list);
    try {
        list->SetCurrentDirectory(tree.Path("missing"));
        ADD_FAILURE() << "a missing folder was entered";
    } catch (const EInOutError& e) {
        EXPECT_TRUE(e.ErrorCode() == ERROR_FILE_NOT_FOUND || e.ErrorCode() == ERROR_PATH_NOT_FOUND)
            << e.ErrorCode();
    }
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(SameTextAscii(list->CurrentDirectory(), tree.root()));
    EXPECT_EQ(Texts(*list), rowsBefore);
    list->SetCurrentDirectory("");
    EXPECT_EQ(changes, 2);
}

TEST_F(PickerTest, DriveLetterMovesToEachDrivesCurrentDirectory) {
    Tree tree;
    HostForm form;
    auto* list = form.Add<TDirectoryListBox>();
    list->SetCurrentDirectory(tree.Path("beta"));
    list->SetDriveLetter('z');
    EXPECT_EQ(UpperCaseAscii(list->CurrentDirectory().substr(0, 2)), "Z:");
    EXPECT_EQ(UpperCaseAscii(ProcessDirectory().substr(0, 2)), "Z:");
    list->SetDriveLetter('C');  // back to where the list was on drive c
    EXPECT_TRUE(SameTextAscii(list->CurrentDirectory(), tree.Path("beta")));
    int changes = 0;
    list->OnChange = [&](TObject*) { ++changes; };
    list->SetDriveLetter('c');  // the same drive: nothing
    list->DriveChanged('c');
    EXPECT_EQ(changes, 0);
    list->DriveChanged('z');
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(UpperCaseAscii(list->CurrentDirectory().substr(0, 2)), "Z:");
}

TEST_F(PickerTest, DirectoryRowsAreDrawnWithIndentAndTransparentPictures) {
    Tree tree;
    HostForm form;
    form.SetColor(clWhite);
    auto* list = form.Add<TDirectoryListBox>();
    list->SetColor(clWhite);
    list->SetCurrentDirectory(tree.Path("beta"));
    const HWND hwnd = list->Handle();
    const int height = list->ItemHeight();
    EXPECT_GE(height, 16);
    DibCanvas canvas(140, height, RGB(1, 2, 3));
    const int pictureTop = (height - 15) / 2;

    // Row 1: an open folder at 1 x 4 + 2 = 6. Its black outline starts at (6, 4 of the picture);
    // its transparent corner shows the row's background.
    DrawRow(hwnd, ODT_LISTBOX, 1, canvas.dc(), RECT{0, 0, 140, height});
    EXPECT_EQ(canvas.Pixel(6, pictureTop + 4), RGB(0, 0, 0));
    EXPECT_EQ(canvas.Pixel(6, pictureTop + 14), RGB(255, 255, 255));
    EXPECT_EQ(canvas.Pixel(5, pictureTop + 4), RGB(255, 255, 255));

    // The subdirectory row "inner": a closed folder at ("\" count) x 4 + 6.
    const int indent = BackslashCount(list->CurrentDirectory()) * 4 + 6;
    ASSERT_LT(indent + 16, 140);
    DrawRow(hwnd, ODT_LISTBOX, RowOf(*list, "inner"), canvas.dc(), RECT{0, 0, 140, height});
    EXPECT_EQ(canvas.Pixel(indent, pictureTop + 5), RGB(0, 0, 0));
    EXPECT_EQ(canvas.Pixel(indent + 1, pictureTop + 5), RGB(255, 255, 255));
    EXPECT_EQ(canvas.Pixel(indent + 2, pictureTop + 7), RGB(255, 255, 0));
    EXPECT_EQ(canvas.Pixel(indent - 1, pictureTop + 7), RGB(255, 255, 255));
    // Text ink starts 4 pixels after the picture.
    bool ink = false;
    for (int y = 0; y < height; ++y) {
        for (int x = indent + 16 + 4; x < 140; ++x) {
            ink |= canvas.Pixel(x, y) != RGB(255, 255, 255);
        }
        EXPECT_EQ(canvas.Pixel(indent + 16 + 1, y), RGB(255, 255, 255));
    }
    EXPECT_TRUE(ink);
}

TEST_F(PickerTest, DriveComboListsTheMachinesDrivesAndFiresOnChangeAtCreation) {
    HostForm form;
    auto* drive = form.Add<TDriveComboBox>();
    std::vector<std::string> log;
    drive->OnClick = [&](TObject*) { log.push_back(std::string("click ") + drive->SelectedDrive()); };
    drive->OnChange = [&](TObject*) { log.push_back(std::string("change ") + drive->SelectedDrive()); };
    const char start = ProcessDirectory()[0];
    EXPECT_EQ(drive->SelectedDrive(), start);
    EXPECT_TRUE(log.empty());

    drive->HandleNeeded();
    const char lower = LowerCaseAscii(start);
    EXPECT_EQ(log, (std::vector<std::string>{std::string("change ") + lower}));
    EXPECT_EQ(drive->SelectedDrive(), lower);
    ASSERT_GE(drive->ItemIndex(), 0);
    EXPECT_EQ(drive->Items()[drive->ItemIndex()][0], lower);

    const std::vector<DriveRow> rows = ReadDriveRows(tcLowerCase);
    ASSERT_EQ(drive->Items().Count(), static_cast<int>(rows.size()));
    const int cRow = RowOf(*drive, rows[0].text);  // rows are in letter order
    EXPECT_EQ(cRow, 0);
    bool haveC = false, haveZ = false;
    for (int i = 0; i < drive->Items().Count(); ++i) {
        EXPECT_EQ(drive->Items()[i], rows[static_cast<size_t>(i)].text);
        const auto* picture = dynamic_cast<const TBitmap*>(drive->Items().Objects(i));
        ASSERT_NE(picture, nullptr);
        EXPECT_EQ(picture->Width(), 16);
        EXPECT_EQ(picture->Height(), 15);
        haveC |= drive->Items()[i][0] == 'c';
        haveZ |= drive->Items()[i][0] == 'z';
    }
    EXPECT_TRUE(haveC);
    EXPECT_TRUE(haveZ);
    EXPECT_GE(drive->ItemHeight(), 15);
}

TEST_F(PickerTest, DriveComboSelectionOrderOfClickAndChange) {
    HostForm form;
    auto* drive = form.Add<TDriveComboBox>();
    const HWND hwnd = drive->Handle();
    drive->SetSelectedDrive('c');
    std::vector<std::string> log;
    drive->OnClick = [&](TObject*) { log.push_back(std::string("click ") + drive->SelectedDrive()); };
    drive->OnChange = [&](TObject*) { log.push_back(std::string("change ") + drive->SelectedDrive()); };

    // The user picks z: OnClick still sees c, then OnChange sees z.
    const int zRow = RowOf(*drive, ReadDriveRows(tcLowerCase).back().text);
    ASSERT_EQ(drive->Items()[zRow][0], 'z');
    ::SendMessageA(hwnd, CB_SETCURSEL, static_cast<WPARAM>(zRow), 0);
    Notify(hwnd, CBN_SELCHANGE);
    EXPECT_EQ(log, (std::vector<std::string>{"click c", "change z"}));

    // Picking the selected drive again: OnClick only.
    log.clear();
    Notify(hwnd, CBN_SELCHANGE);
    EXPECT_EQ(log, (std::vector<std::string>{"click z"}));

    // Setting SelectedDrive in either case selects its row; the same drive again changes nothing.
    log.clear();
    drive->SetSelectedDrive('C');
    EXPECT_EQ(drive->SelectedDrive(), 'c');
    EXPECT_EQ(drive->Items()[drive->ItemIndex()][0], 'c');
    drive->SetSelectedDrive('c');
    EXPECT_EQ(log, (std::vector<std::string>{"change c"}));

    // A letter without a row leaves no selection; 0 likewise.
    char missing = 0;
    const DWORD mask = ::GetLogicalDrives();
    for (int bit = 25; bit >= 0 && missing == 0; --bit) {
        if ((mask & (1u << bit)) == 0) {
            missing = static_cast<char>('a' + bit);
        }
    }
    ASSERT_NE(missing, 0);
    log.clear();
    drive->SetSelectedDrive(missing);
    EXPECT_EQ(drive->ItemIndex(), -1);
    EXPECT_EQ(drive->SelectedDrive(), missing);
    drive->SetSelectedDrive(0);
    EXPECT_EQ(drive->SelectedDrive(), 0);
    EXPECT_EQ(drive->ItemIndex(), -1);
    EXPECT_EQ(log.size(), 2u);

    // Upper case: the rows and the letter follow, and the selection is made again.
    drive->SetSelectedDrive('c');
    log.clear();
    drive->SetTextCase(tcUpperCase);
    EXPECT_EQ(drive->SelectedDrive(), 'C');
    EXPECT_EQ(drive->Items()[drive->ItemIndex()].substr(0, 2), "C:");
    EXPECT_EQ(log, (std::vector<std::string>{"change C"}));
}

TEST_F(PickerTest, LinkedPickersFollowEachOther) {
    Tree tree;
    HostForm form;
    auto* list = form.Add<TDirectoryListBox>();
    auto* drive = form.Add<TDriveComboBox>();
    list->SetCurrentDirectory(tree.root());
    drive->HandleNeeded();
    drive->SetSelectedDrive('c');
    drive->SetDirList(list);
    int listChanges = 0;
    list->OnChange = [&](TObject*) { ++listChanges; };

    drive->SetSelectedDrive('z');  // the list moves to z's current directory
    EXPECT_EQ(UpperCaseAscii(list->CurrentDirectory().substr(0, 1)), "Z");
    EXPECT_EQ(listChanges, 1);

    list->SetCurrentDirectory(tree.Path("gamma"));  // the combo box follows the list's drive
    EXPECT_EQ(drive->SelectedDrive(), 'c');
    EXPECT_EQ(listChanges, 2);  // one change, not one for the drive and one for the folder
    EXPECT_TRUE(SameTextAscii(list->CurrentDirectory(), tree.Path("gamma")));

    // A list follows one combo box: linking it to another one unlinks the first.
    auto* other = form.Add<TDriveComboBox>();
    other->SetDirList(list);
    EXPECT_EQ(drive->DirList(), nullptr);
    EXPECT_EQ(other->DirList(), list);
    drive->SetSelectedDrive('z');
    EXPECT_EQ(listChanges, 2);
    EXPECT_TRUE(SameTextAscii(list->CurrentDirectory(), tree.Path("gamma")));

    delete list;  // the combo box forgets a list that goes
    EXPECT_EQ(other->DirList(), nullptr);
    other->SetSelectedDrive('z');
}

TEST_F(PickerTest, DriveRowsAreDrawnWithPictureAndText) {
    HostForm form;
    auto* drive = form.Add<TDriveComboBox>();
    drive->SetColor(clWhite);
    const HWND hwnd = drive->Handle();
    const int height = drive->ItemHeight();
    DibCanvas canvas(170, height, RGB(1, 2, 3));
    const int cRow = RowOf(*drive, ReadDriveRows(tcLowerCase)[0].text);
    ASSERT_EQ(drive->Items()[cRow][0], 'c');
    DrawRow(hwnd, ODT_COMBOBOX, cRow, canvas.dc(), RECT{0, 0, 170, height});
    const int top = (height - 15) / 2;
    // Drive c is a fixed drive: the hard disk picture at x = 2, its outline at (1, 7) of the
    // picture, its transparent corner showing the background.
    EXPECT_EQ(canvas.Pixel(2 + 1, top + 7), RGB(0, 0, 0));
    EXPECT_EQ(canvas.Pixel(2 + 0, top + 7), RGB(255, 255, 255));
    EXPECT_EQ(canvas.Pixel(1, top + 7), RGB(255, 255, 255));
    bool ink = false;
    for (int y = 0; y < height; ++y) {
        EXPECT_EQ(canvas.Pixel(16 + 2 + 1, y), RGB(255, 255, 255));  // gap between picture and text
        for (int x = 16 + 6; x < 170; ++x) {
            ink |= canvas.Pixel(x, y) != RGB(255, 255, 255);
        }
    }
    EXPECT_TRUE(ink);
}
