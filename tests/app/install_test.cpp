// The destination choice, the extraction loop and the install sequence under Wine, in folders made
// for each test under the temporary folder: the program's own payload is expanded, and every
// question is answered through its real modal loop by a helper thread.
#include <windows.h>

#include <shlobj.h>
#include <tlhelp32.h>
#include <winioctl.h>
#include <winternl.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

#include "../common/folder_tree.h"
#include "../shell/shell_test_support.h"
#include "app/copy_form.h"
#include "app/install_registration.h"
#include "app/install_sequence.h"
#include "app/install_state.h"
#include "app/main_form.h"
#include "app/program_classes.h"
#include "archive/compress.h"
#include "dialog_script.h"
#include "framework/application.h"
#include "framework/string_list.h"
#include "framework/sysutils.h"
#include "framework/unique_handle.h"
#include "lifecycle/install_record.h"
#include "lifecycle/registration.h"
#include "shell/shell_folders.h"
#include "widgets/directory_list_box.h"
#include "widgets/drive_combo_box.h"
#include "widgets/folders.h"
#include "widgets/gauges.h"

using gui::Reply;
using gui::SeenDialog;

namespace {

std::string ProcessDirectory() {
    char buffer[MAX_PATH + 1] = {};
    ::GetCurrentDirectoryA(sizeof buffer, buffer);
    return buffer;
}

bool IsFile(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    HANDLE file =
        ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return std::nullopt;
    }
    std::string content;
    char buffer[65536];
    DWORD done = 0;
    while (::ReadFile(file, buffer, sizeof buffer, &done, nullptr) && done > 0) {
        content.append(buffer, done);
    }
    ::CloseHandle(file);
    return content;
}

void WriteWholeFile(const std::string& path, const std::string& content, DWORD attributes = 0) {
    HANDLE file =
        ::CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
    DWORD done = 0;
    ::WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &done, nullptr);
    ::CloseHandle(file);
    if (attributes != 0) {
        ::SetFileAttributesA(path.c_str(), attributes);
    }
}

// A CD-ROM drive without a disc: listed among the machine's drives with its type, but its root
// cannot be read. Made through Wine's mount manager (its request for a drive letter with a Unix
// mount point, here one that does not exist), and removed again afterwards.
class UnreadableDrive {
  public:
    UnreadableDrive() {
        const DWORD drives = ::GetLogicalDrives();
        for (int bit = 24; bit > 2 && letter_ == 0; --bit) {  // y down to d
            if ((drives & (1u << bit)) == 0) {
                letter_ = static_cast<char>('a' + bit);
            }
        }
        if (letter_ != 0 && !Define(DRIVE_CDROM, "/nonexistent-tandrel-test-drive")) {
            letter_ = 0;
        }
    }
    UnreadableDrive(const UnreadableDrive&) = delete;
    UnreadableDrive& operator=(const UnreadableDrive&) = delete;
    ~UnreadableDrive() {
        if (letter_ != 0) {
            Define(DRIVE_NO_ROOT_DIR, nullptr);
        }
    }
    char letter() const { return letter_; }

  private:
    // The mount manager's drive record, followed by the mount point.
    struct UnixDrive {
        ULONG size;
        UINT32 type;
        UINT32 fsType;
        DWORD serial;
        ULONGLONG unixDevice;
        WCHAR letter;
        USHORT mountPointOffset;
        USHORT deviceOffset;
        USHORT labelOffset;
    };

    bool Define(UINT type, const char* mountPoint) const {
        std::vector<char> request(sizeof(UnixDrive));
        UnixDrive drive{};
        drive.size = sizeof(UnixDrive);
        drive.type = type;
        drive.letter = static_cast<WCHAR>(letter_);
        if (mountPoint != nullptr) {
            drive.mountPointOffset = sizeof(UnixDrive);
            request.insert(request.end(), mountPoint, mountPoint + std::strlen(mountPoint) + 1);
            drive.size = static_cast<ULONG>(request.size());
        }
        std::memcpy(request.data(), &drive, sizeof drive);
        HANDLE manager =
            ::CreateFileA("\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        if (manager == INVALID_HANDLE_VALUE) {
            return false;
        }
        constexpr DWORD kDefineUnixDrive =
            CTL_CODE(0x6D, 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);
        DWORD done = 0;
        const BOOL ok = ::DeviceIoControl(manager, kDefineUnixDrive, request.data(), drive.size, nullptr, 0,
                                          &done, nullptr);
        ::CloseHandle(manager);
        return ok != FALSE;
    }

    char letter_ = 0;
};

// The entries of the program's own archive with their sizes, as the archive lists them.
struct PayloadEntry {
    std::string name;
    int32_t size;
};

std::vector<PayloadEntry> PayloadEntries() {
    TCompress compress(nullptr);
    const std::unique_ptr<TStream> archive = compress.LoadArchiveResource("DATA", "");
    TStringList list;
    compress.ListArchiveFiles(*archive, list);
    std::vector<PayloadEntry> entries;
    for (int i = 0; i < list.Count(); ++i) {
        const auto* info = dynamic_cast<const TCompressedFileInfo*>(list.Objects(i));
        entries.push_back({list[i], info != nullptr ? info->FullSize : -1});
    }
    return entries;
}

// The two shortcut files that the installation may write.
std::vector<std::string> ShortcutFiles() {
    std::vector<std::string> files;
    for (const int folder : {CSIDL_PROGRAMS, CSIDL_SENDTO}) {
        char path[MAX_PATH] = {};
        if (SUCCEEDED(::SHGetFolderPathA(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path))) {
            files.push_back(std::string(path) + "\\Tandrel.lnk");
        }
    }
    return files;
}

const char kBackupQuestion[] = "Do you want to backup replaced files ?";
const char kKeepQuestion[] =
    "There is currently a site database file. Do you want to keep the existing file? ";
const char kShortcutQuestion[] = "Add a shortcut to the Start Menu?";
const char kReadmeQuestion[] = "Do you want to view the README file now?";
const char kCloseQuestion[] =
    "Setup is not complete.  If you abort now, the program may not run properly.  Are you sure you want to "
    "cancel installation? ";

const std::vector<std::string> kYesNo{"&Yes", "&No"};
const std::vector<std::string> kOkOnly{"OK"};

const SeenDialog kBackupAsked{"Confirm", kBackupQuestion, kYesNo};
const SeenDialog kKeepAsked{"Confirm", kKeepQuestion, kYesNo};
const SeenDialog kShortcutAsked{"Confirm", kShortcutQuestion, kYesNo};
const SeenDialog kReadmeAsked{"Information", kReadmeQuestion, kYesNo};
const SeenDialog kCompleteShown{"Setup", "Tandrel Setup Complete.", kOkOnly};
const SeenDialog kCloseAsked{"Warning", kCloseQuestion, kYesNo};

// The general error box: the message followed by ".".
SeenDialog ErrorShown(const std::string& message) {
    return {"Setup", message + ".", kOkOnly};
}

const Reply kYes{"&Yes", {}, {}};
const Reply kNo{"&No", {}, {}};
const Reply kOk{"OK", {}, {}};

// Each test starts in a folder of its own, which is also the process's current directory (so the
// pickers start on drive c: there), with the program's title and a fresh install state.
class Installation : public ::testing::Test {
  protected:
    void SetUp() override {
        savedDirectory_ = ProcessDirectory();
        savedTitle_ = Application->Title();
        ASSERT_TRUE(::SetCurrentDirectoryA(folder_.root().c_str()));
        Application->SetTitle("Setup");
        InstallState = TInstallState{};
        ASSERT_EQ(Application->MainForm(), nullptr);
        RegisterProgramClasses();
        payload_ = PayloadEntries();
        ASSERT_EQ(payload_.size(), 5u);
        for (const std::string& file : ShortcutFiles()) {
            if (!IsFile(file)) {
                absentShortcuts_.push_back(file);
            }
        }
    }
    void TearDown() override {
        // The uninstall entry of an installation made here goes with the test's folder.
        for (const TRegistrationScope scope : {TRegistrationScope::Machine, TRegistrationScope::User}) {
            const std::optional<std::string> location = RegisteredInstallLocation(scope);
            if (location && location->rfind(folder_.root(), 0) == 0) {
                DeleteUninstallEntry(scope);
            }
        }
        for (const std::string& file : absentShortcuts_) {
            ::DeleteFileA(file.c_str());  // written by a test that answered Yes
        }
        DestroyWindows();
        Application->CancelTermination();
        Application->SetTitle(savedTitle_);
        ::SetCurrentDirectoryA(savedDirectory_.c_str());
    }

    // The main window shown, Continue pressed: the destination panel.
    void StartAtDestinationPanel() {
        Application->CreateForm(frmMain);
        frmMain->Show();
        Application->ProcessMessages();
        ::SendMessageA(frmMain->btnContinue->Handle(), BM_CLICK, 0, 0);
        Application->ProcessMessages();
        ASSERT_TRUE(frmMain->PathPanel->Visible());
    }

    // Continue on the destination panel with this text, the questions answered by replies.
    std::vector<SeenDialog> PressContinue(const std::string& destination, std::vector<Reply> replies) {
        frmMain->txtDestPath->SetText(destination);
        gui::DialogScript script(std::move(replies));
        ::SendMessageA(frmMain->btnDirContinue->Handle(), BM_CLICK, 0, 0);
        return script.Finish();
    }

    // The extraction loop alone into destination, in a progress window made and shown as the
    // sequence does; the window stays for the test to look at.
    std::vector<SeenDialog> Extract(const std::string& destination,
                                    bool backups,
                                    std::vector<Reply> replies) {
        InstallState.DestinationFolder = destination;
        InstallState.BackupReplacedFiles = backups;
        Application->CreateForm(frmCopy);
        frmCopy->Show();
        gui::DialogScript script(std::move(replies));
        TInteractiveFrontEnd frontEnd;
        EXPECT_NO_THROW({
            TInstallRun run;
            OpenDestination(run, frontEnd);
            frmCopy->ExtractAllFiles(frontEnd, run);
            if (run.Transaction) {
                run.Transaction->Commit();
            }
        });
        return script.Finish();
    }

    // Whether the file in folder is the archive's entry: there, of the entry's size, and not the
    // older content that the test put there.
    void ExpectWritten(const std::string& folder, const std::string& older = "") const {
        for (const PayloadEntry& entry : payload_) {
            const std::optional<std::string> content = ReadWholeFile(folder + "\\" + entry.name);
            ASSERT_TRUE(content.has_value()) << folder << "\\" << entry.name;
            EXPECT_EQ(static_cast<int64_t>(content->size()), entry.size) << entry.name;
            EXPECT_NE(*content, older + entry.name) << entry.name;
        }
    }
    // A failure found before the first change, at the readme's entry (the third), in a destination
    // that held older copies of the first two (see Older): those still there as they were, nothing
    // else written, the progress window left up, the main window without a panel, the program still
    // running.
    void ExpectStoppedBeforeTheFirstChange(const std::string& destination) const {
        for (const char* name : {"Tandrel.exe", "Tandrel.hlp"}) {
            EXPECT_EQ(ReadWholeFile(destination + "\\" + name), std::string("old ") + name);
        }
        for (const char* name : {"sites.ini", "whatsnew.txt", "Backup\\Tandrel.exe"}) {
            EXPECT_EQ(::GetFileAttributesA((destination + "\\" + name).c_str()), INVALID_FILE_ATTRIBUTES)
                << name;
        }
        ASSERT_NE(frmCopy, nullptr);
        EXPECT_TRUE(::IsWindowVisible(frmCopy->Handle()));
        EXPECT_FALSE(frmMain->PathPanel->Visible());
        EXPECT_FALSE(frmMain->WelcomePanel->Visible());
        EXPECT_FALSE(Application->Terminated());
    }
    // Older copies of the two entries before the readme, which a loop that stops half way replaces.
    static void Older(const std::string& destination) {
        Existing(destination, {"Tandrel.exe", "Tandrel.hlp"});
    }
    static void DestroyWindows() {
        delete frmCopy;
        frmCopy = nullptr;
        delete frmMain;
        frmMain = nullptr;
    }
    void ExpectNoNewShortcuts() const {
        for (const std::string& file : absentShortcuts_) {
            EXPECT_FALSE(IsFile(file)) << file;
        }
    }
    // Writes "old <name>" for each name into folder.
    static void Existing(const std::string& folder,
                         const std::vector<std::string>& names,
                         const std::string& older = "old ") {
        for (const std::string& name : names) {
            WriteWholeFile(folder + "\\" + name, older + name);
        }
    }

    FolderTree folder_{"install"};
    std::vector<PayloadEntry> payload_;

  private:
    std::string savedDirectory_;
    std::string savedTitle_;
    std::vector<std::string> absentShortcuts_;
};

// The record that the installation wrote into folder; an empty one with no destination when there is
// none or it does not read.
TInstallRecord RecordIn(const std::string& folder) {
    const std::optional<std::string> text = ReadWholeFile(folder + "\\" + kRecordName);
    try {
        return text ? ParseInstallRecord(*text) : TInstallRecord{};
    } catch (const EBadRecord& error) {
        ADD_FAILURE() << error.what();
        return {};
    }
}

// ---- Destination choice ----------------------------------------------------------------------

// Sends the drive combo box the notification of a user's selection of letter's row.
void SelectDriveRow(char letter) {
    TDriveComboBox* drive = frmMain->drive;
    int row = -1;
    for (int i = 0; i < drive->Items().Count(); ++i) {
        if (drive->Items()[i][0] == letter) {
            row = i;
        }
    }
    ASSERT_GE(row, 0) << letter;
    const HWND hwnd = drive->Handle();
    ::SendMessageA(hwnd, CB_SETCURSEL, static_cast<WPARAM>(row), 0);
    ::SendMessageA(::GetParent(hwnd), WM_COMMAND, MAKEWPARAM(::GetDlgCtrlID(hwnd), CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(hwnd));
}

// Opens a row of the directory list with Enter, as the user does.
void OpenDirectoryRow(int row) {
    frmMain->dir->SetFocus();
    frmMain->dir->SetItemIndex(row);
    gui::PressKey(::GetCurrentThreadId(), VK_RETURN);
    Application->ProcessMessages();
}

int DirectoryRow(const std::string& text) {
    for (int i = 0; i < frmMain->dir->Items().Count(); ++i) {
        if (SameTextAscii(frmMain->dir->Items()[i], text)) {
            return i;
        }
    }
    return -1;
}

TEST_F(Installation, DestinationPanelProposesFoldersAndRefusesAnUnreadableDrive) {
    const UnreadableDrive unreadable;  // before the drive combo box reads the drives
    ASSERT_NE(unreadable.letter(), 0);
    folder_.Folder("apps");
    StartAtDestinationPanel();

    // The default, whatever the list shows (the process's directory, in lower case).
    EXPECT_TRUE(SameTextAscii(frmMain->dir->CurrentDirectory(), folder_.root()));
    EXPECT_EQ(frmMain->txtDestPath->Text(), "C:\\Program Files\\Tandrel");
    EXPECT_EQ(frmMain->drive->SelectedDrive(), 'c');

    // Opening a row rewrites what was typed: the folder with "\Tandrel".
    frmMain->txtDestPath->SetText("typed by hand");
    ASSERT_GE(DirectoryRow("apps"), 0);
    OpenDirectoryRow(DirectoryRow("apps"));
    std::string text = frmMain->txtDestPath->Text();
    EXPECT_TRUE(SameTextAscii(text, folder_.Path("apps\\Tandrel"))) << text;
    EXPECT_EQ(text.substr(text.size() - 8), "\\Tandrel");
    // The drive's root, row 0: one backslash only.
    OpenDirectoryRow(0);
    EXPECT_TRUE(SameTextAscii(frmMain->txtDestPath->Text(), "c:\\Tandrel")) << frmMain->txtDestPath->Text();
    OpenDirectoryRow(DirectoryRow("users"));
    text = frmMain->txtDestPath->Text();
    const std::string listed = frmMain->dir->CurrentDirectory();

    // The unreadable drive: one error, then the drive selected before, and nothing else moves.
    {
        gui::DialogScript script({kOk});
        SelectDriveRow(unreadable.letter());
        const std::string root = std::string(1, unreadable.letter()) + ":\\";
        EXPECT_EQ(script.Finish(), (std::vector<SeenDialog>{{"Error", "Unable to access " + root, kOkOnly}}));
    }
    EXPECT_EQ(frmMain->drive->SelectedDrive(), 'c');
    ASSERT_GE(frmMain->drive->ItemIndex(), 0);
    EXPECT_EQ(frmMain->drive->Items()[frmMain->drive->ItemIndex()][0], 'c');
    EXPECT_EQ(frmMain->dir->CurrentDirectory(), listed);
    EXPECT_EQ(frmMain->txtDestPath->Text(), text);

    // The drive that is selected already: no question, nothing moves.
    {
        gui::DialogScript script({});
        SelectDriveRow('c');
        EXPECT_TRUE(script.Finish().empty());
    }
    EXPECT_EQ(frmMain->dir->CurrentDirectory(), listed);
    EXPECT_EQ(frmMain->txtDestPath->Text(), text);
}

TEST_F(Installation, AnyAnswerButYesToTheCreationQuestionLeavesThePanel) {
    StartAtDestinationPanel();
    const std::string missing = folder_.Path("new folder");
    const SeenDialog asked{"Confirm", "The directory " + missing + " does not exist. Create it?", kYesNo};
    // No, then the dialog's close box: the question each time, and everything as it was.
    for (const Reply& answer : {kNo, Reply{}}) {
        EXPECT_EQ(PressContinue(missing, {answer}), std::vector<SeenDialog>{asked});
        EXPECT_TRUE(frmMain->PathPanel->Visible());
        EXPECT_FALSE(frmMain->WelcomePanel->Visible());
        EXPECT_EQ(frmMain->txtDestPath->Text(), missing);
        EXPECT_FALSE(FolderExists(missing));
        EXPECT_EQ(frmCopy, nullptr);
        EXPECT_FALSE(Application->Terminated());
    }
}

// The creation question shows the destination whole; a path too long for one line of the dialog is
// broken after backslashes (the text otherwise the same) and the dialog lies inside the screen. A
// short path is shown as it is.
TEST_F(Installation, TheCreationQuestionOfALongFolderStaysInsideTheScreen) {
    StartAtDestinationPanel();
    std::string longest = folder_.Path("long");
    while (longest.size() + 7 <= 220) {
        longest += "\\folder";
    }
    longest.append(220 - longest.size(), 'x');
    for (const std::string& missing : {folder_.Path("short"), longest}) {
        SCOPED_TRACE(missing);
        const std::string question = "The directory " + missing + " does not exist. Create it?";
        RECT shown{};
        Reply no = kNo;
        no.before = [&shown] { ::GetWindowRect(gui::FindDialog(), &shown); };
        const std::vector<SeenDialog> seen = PressContinue(missing, {no});
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].caption, "Confirm");
        EXPECT_EQ(seen[0].buttons, kYesNo);
        std::string joined;
        for (size_t i = 0; i < seen[0].text.size(); ++i) {
            if (seen[0].text[i] == '\n') {
                EXPECT_TRUE(i > 0 && seen[0].text[i - 1] == '\\') << seen[0].text;
            } else {
                joined += seen[0].text[i];
            }
        }
        EXPECT_EQ(joined, question);
        EXPECT_EQ(seen[0].text == question, missing != longest) << seen[0].text;
        EXPECT_GE(shown.left, 0);
        EXPECT_GE(shown.top, 0);
        EXPECT_LE(shown.right, ::GetSystemMetrics(SM_CXSCREEN));
        EXPECT_LE(shown.bottom, ::GetSystemMetrics(SM_CYSCREEN));
        EXPECT_GT(shown.right, shown.left);
        EXPECT_FALSE(FolderExists(missing));
    }
}

// A folder made after the creation question is recorded as made by the setup; the installation is
// registered without a word more to the user, its record naming every file as written.
TEST_F(Installation, AnInstallationIntoAFolderItMadeIsRecordedAndRegisteredSilently) {
    StartAtDestinationPanel();
    const std::string missing = folder_.Path("made here");
    const SeenDialog asked{"Confirm", "The directory " + missing + " does not exist. Create it?", kYesNo};
    const std::vector<SeenDialog> seen = PressContinue(missing, {kYes, kNo, kNo, kNo, kOk});
    EXPECT_EQ(seen,
              (std::vector<SeenDialog>{asked, kBackupAsked, kShortcutAsked, kReadmeAsked, kCompleteShown}));

    const TInstallRecord record = RecordIn(missing);
    EXPECT_EQ(record.Destination, missing);
    EXPECT_EQ(record.Folders, std::vector<std::string>{"."});
    EXPECT_TRUE(record.Kept.empty());
    EXPECT_TRUE(record.Shortcuts.empty());
    ASSERT_EQ(record.Files.size(), payload_.size());
    for (size_t i = 0; i < payload_.size(); ++i) {
        EXPECT_EQ(record.Files[i].Name, payload_[i].name);
        EXPECT_EQ(record.Files[i].Size, payload_[i].size) << payload_[i].name;
        const std::string content = ReadWholeFile(missing + "\\" + payload_[i].name).value_or("");
        EXPECT_EQ(record.Files[i].Digest, Sha256Of(content.data(), content.size())) << payload_[i].name;
    }
    EXPECT_TRUE(IsFile(missing + "\\" + kUninstallerName));
    std::optional<std::string> location = RegisteredInstallLocation(TRegistrationScope::Machine);
    if (!location) {
        location = RegisteredInstallLocation(TRegistrationScope::User);
    }
    EXPECT_EQ(location.value_or(""), missing);
}

TEST_F(Installation, EmptyAndRelativeDestinationsAreTakenFromTheListedDirectory) {
    struct Case {
        const char* typed;
        const char* listed;     // the folder that the user opens in the list first
        const char* installed;  // where the files land, relative to it
    };
    for (const Case& c : {Case{"", "empty", ""}, Case{"rel\\dest", "relative", "\\rel\\dest"}}) {
        SCOPED_TRACE(c.listed);
        const std::string listed = folder_.Folder(c.listed);
        StartAtDestinationPanel();
        OpenDirectoryRow(DirectoryRow(c.listed));
        ASSERT_TRUE(SameTextAscii(ProcessDirectory(), listed));

        // Yes creates one level at most (here nothing); the files are written all the same.
        const std::vector<SeenDialog> seen = PressContinue(c.typed, {kYes, kNo, kNo, kNo, kOk});
        const SeenDialog create{
            "Confirm", std::string("The directory ") + c.typed + " does not exist. Create it?", kYesNo};
        EXPECT_EQ(seen, (std::vector<SeenDialog>{create, kBackupAsked, kShortcutAsked, kReadmeAsked,
                                                 kCompleteShown}));
        ExpectWritten(listed + c.installed);
        EXPECT_TRUE(Application->Terminated());

        delete frmMain;
        frmMain = nullptr;
        Application->CancelTermination();
        ASSERT_TRUE(::SetCurrentDirectoryA(folder_.root().c_str()));
    }
}

// ---- The sequence ----------------------------------------------------------------------------

TEST_F(Installation, NoToEveryQuestionWritesTheFilesAndEnds) {
    const std::string destination = folder_.Folder("dest");
    Existing(destination, {"readme.txt"});
    StartAtDestinationPanel();

    // The folder exists: no creation question; the close confirmation is not asked at the end.
    const std::vector<SeenDialog> seen = PressContinue(destination, {kNo, kNo, kNo, kOk});
    EXPECT_EQ(seen, (std::vector<SeenDialog>{kBackupAsked, kShortcutAsked, kReadmeAsked, kCompleteShown}));
    ExpectWritten(destination, "old ");
    EXPECT_FALSE(FolderExists(destination + "\\Backup"));
    ExpectNoNewShortcuts();
    EXPECT_EQ(frmCopy, nullptr);
    EXPECT_FALSE(frmMain->PathPanel->Visible());
    EXPECT_FALSE(frmMain->WelcomePanel->Visible());
    EXPECT_TRUE(Application->Terminated());
}

TEST_F(Installation, ClosingTheMainWindowDuringExtractionFinishesItAndSkipsTheRest) {
    const std::string destination = folder_.Folder("dest");
    Existing(destination, {"sites.ini"});
    StartAtDestinationPanel();
    const HWND mainWindow = frmMain->Handle();

    // The close box is used while the progress window is up (at the site database's question);
    // the close confirmation comes at the next entry and is accepted.
    const Reply noThenClose{
        "&No", {}, [mainWindow] { ::PostMessageA(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0); }};
    const std::vector<SeenDialog> seen = PressContinue(destination, {kNo, noThenClose, kYes});
    // The later questions and the completion message are dismissed by the terminating
    // application itself, without an answer.
    EXPECT_EQ(seen, (std::vector<SeenDialog>{kBackupAsked, kKeepAsked, kCloseAsked}));
    ExpectWritten(destination, "old ");
    EXPECT_EQ(frmCopy, nullptr);
    ExpectNoNewShortcuts();
    EXPECT_TRUE(Application->Terminated());
}

// A file that the loop could not replace ends the sequence in the general error box, with the
// error that the loop would raise at it, before the first change: the progress window is left up,
// and nothing in the destination has changed.
TEST_F(Installation, FailuresDuringExtractionStopTheInstallation) {
    struct Case {
        const char* name;
        std::function<UniqueFileHandle(const std::string& destination)> prepare;
        std::function<std::string(const std::string& path)> error;
    };
    const Case cases[] = {
        // A folder where the file goes: the output file cannot be created. Not skipped: the setup
        // would end in its completion message with files missing.
        {"not creatable",
         [](const std::string& destination) {
             ::CreateDirectoryA((destination + "\\readme.txt").c_str(), nullptr);
             return UniqueFileHandle();
         },
         [](const std::string& path) { return "Cannot create file " + path + "."; }},
        // Another program has it open without sharing: it can be neither deleted nor renamed.
        {"held open",
         [](const std::string& destination) {
             WriteWholeFile(destination + "\\readme.txt", "old readme.txt");
             return UniqueFileHandle(::CreateFileA((destination + "\\readme.txt").c_str(), GENERIC_READ, 0,
                                                   nullptr, OPEN_EXISTING, 0, nullptr));
         },
         [](const std::string& path) { return "Cannot open file " + path + " ("; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string destination = folder_.Folder(c.name);
        Older(destination);
        UniqueFileHandle held = c.prepare(destination);
        StartAtDestinationPanel();

        const std::vector<SeenDialog> seen = PressContinue(destination, {kNo, kOk});
        ASSERT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen[0], kBackupAsked);
        EXPECT_EQ(seen[1].caption, "Setup");
        const std::string expected = c.error(destination + "\\readme.txt");
        EXPECT_EQ(seen[1].text.substr(0, expected.size()), expected) << seen[1].text;
        EXPECT_EQ(seen[1].text.back(), '.');

        held.reset();
        EXPECT_EQ(ReadWholeFile(destination + "\\readme.txt").value_or("(none)"),
                  IsFile(destination + "\\readme.txt") ? "old readme.txt" : "(none)");
        ExpectStoppedBeforeTheFirstChange(destination);
        DestroyWindows();
    }
}

// ---- The extraction loop ---------------------------------------------------------------------

// An entry is called written only when its file is there, in full, where the loop put it: an
// expansion that wrote nothing for it (here a handler skips the path) stops the loop instead.
TEST_F(Installation, AnEntryIsCalledWrittenOnlyWhenItsFileIsThere) {
    struct Recorder : TInteractiveFrontEnd {
        std::vector<std::string> done;
        void EntryDone(const std::string& name, bool written, TBackupAction) override {
            done.push_back(name + (written ? " written" : " kept"));
        }
    } recorder;
    const std::string destination = folder_.Folder("dest");
    InstallState.DestinationFolder = destination;
    Application->CreateForm(frmCopy);
    frmCopy->Compress1->OnCheckFile = [](std::string& path, TCProcessMode) {
        if (ExtractFileName(path) == "readme.txt") {
            path.clear();
        }
    };
    TInstallRun run;
    try {
        OpenDestination(run, recorder);
        frmCopy->ExtractAllFiles(recorder, run);
        ADD_FAILURE() << "the loop went on";
    } catch (const ENotWritten& error) {
        EXPECT_EQ(error.Message(), "The file " + destination + "\\readme.txt was not written in full");
    }
    EXPECT_EQ(recorder.done, (std::vector<std::string>{"Tandrel.exe written", "Tandrel.hlp written"}));
    EXPECT_FALSE(IsFile(destination + "\\readme.txt"));
}

TEST_F(Installation, ProgressWindowKeepQuestionAndCancel) {
    StartAtDestinationPanel();
    const std::string destination = folder_.Folder("dest");
    // Every entry is there already, in other letter cases: one question, for the site database.
    Existing(destination, {"TANDREL.EXE", "tandrel.HLP", "README.TXT", "SITES.INI", "WhatsNew.txt"});

    struct AtQuestion {
        bool visible = false;
        std::string label;
        int32_t gauge = -1;
    } atQuestion;
    const Reply keep{"&Yes",
                     [&atQuestion] {
                         atQuestion.visible = ::IsWindowVisible(frmCopy->Handle()) != FALSE;
                         atQuestion.label = frmCopy->Label1->Caption();
                         atQuestion.gauge = frmCopy->Gauge1->Progress();
                     },
                     {}};
    EXPECT_EQ(Extract(destination, false, {keep}), std::vector<SeenDialog>{kKeepAsked});
    EXPECT_EQ(ReadWholeFile(destination + "\\sites.ini"), "old SITES.INI");
    for (const char* name : {"Tandrel.exe", "Tandrel.hlp", "readme.txt", "whatsnew.txt"}) {
        EXPECT_NE(ReadWholeFile(destination + "\\" + name).value_or(""), std::string("old ") + name) << name;
    }
    EXPECT_FALSE(FolderExists(destination + "\\Backup"));

    // The window: borderless, on top, centred; at the fourth entry's question three of five done.
    EXPECT_TRUE(atQuestion.visible);
    EXPECT_EQ(atQuestion.label, "Extracting: sites.ini");
    EXPECT_EQ(atQuestion.gauge, 60);
    EXPECT_EQ(frmCopy->Gauge1->Progress(), 100);
    EXPECT_EQ(frmCopy->Label1->Caption(), "Extracting: whatsnew.txt");
    const HWND window = frmCopy->Handle();
    EXPECT_EQ(::GetWindowLongA(window, GWL_STYLE) & (WS_CAPTION | WS_THICKFRAME), 0);
    EXPECT_NE(::GetWindowLongA(window, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    RECT bounds{};
    ::GetWindowRect(window, &bounds);
    EXPECT_EQ(bounds.right - bounds.left, 305);
    EXPECT_EQ(bounds.bottom - bounds.top, 149);
    EXPECT_LE(std::abs((bounds.left + bounds.right) / 2 - ::GetSystemMetrics(SM_CXSCREEN) / 2), 1);
    EXPECT_LE(std::abs((bounds.top + bounds.bottom) / 2 - ::GetSystemMetrics(SM_CYSCREEN) / 2), 1);
    delete frmCopy;
    frmCopy = nullptr;

    // No replaces it; Cancel pressed meanwhile hides the window and the loop goes on to the end.
    const std::string replaced = folder_.Folder("replaced");
    Existing(replaced, {"Sites.Ini"});
    const Reply noThenCancel{
        "&No", {}, [] { ::PostMessageA(frmCopy->btnCopyCancel->Handle(), BM_CLICK, 0, 0); }};
    EXPECT_EQ(Extract(replaced, false, {noThenCancel}), std::vector<SeenDialog>{kKeepAsked});
    ExpectWritten(replaced, "old ");
    EXPECT_FALSE(frmCopy->Visible());
    EXPECT_FALSE(::IsWindowVisible(frmCopy->Handle()));
    EXPECT_TRUE(frmMain->Visible());
    EXPECT_FALSE(Application->Terminated());
}

TEST_F(Installation, ReplacedFilesGoToTheBackupFolder) {
    StartAtDestinationPanel();

    // A Backup folder from an earlier run: files that no record of ours knows (they may be what is
    // left of an interrupted run, or the user's) never replace an older backup of the same name:
    // both are kept, the new one under a name of its own; so is the copy of a kept site database.
    // A read-only file is moved there and its entry written.
    const std::string again = folder_.Folder("again");
    folder_.Folder("again\\Backup");
    Existing(again + "\\Backup", {"readme.txt", "sites.ini", "Tandrel.hlp"}, "older ");
    Existing(again, {"readme.txt", "sites.ini"});
    WriteWholeFile(again + "\\Tandrel.hlp", "old Tandrel.hlp", FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(Extract(again, true, {kYes}), std::vector<SeenDialog>{kKeepAsked});
    EXPECT_EQ(ReadWholeFile(again + "\\sites.ini"), "old sites.ini");
    for (const char* name : {"sites.ini", "readme.txt", "Tandrel.hlp"}) {
        EXPECT_EQ(ReadWholeFile(again + "\\Backup\\" + name), std::string("older ") + name) << name;
    }
    EXPECT_EQ(ReadWholeFile(again + "\\Backup\\sites (2).ini"), "old sites.ini");
    EXPECT_EQ(ReadWholeFile(again + "\\Backup\\readme (2).txt"), "old readme.txt");
    EXPECT_EQ(ReadWholeFile(again + "\\Backup\\Tandrel (2).hlp"), "old Tandrel.hlp");
    for (const char* name : {"Tandrel.exe", "whatsnew.txt"}) {
        EXPECT_FALSE(IsFile(again + "\\Backup\\" + name)) << name;
    }
    for (const char* name : {"Tandrel.exe", "Tandrel.hlp", "readme.txt", "whatsnew.txt"}) {
        EXPECT_NE(ReadWholeFile(again + "\\" + name).value_or(""), std::string("old ") + name) << name;
        EXPECT_TRUE(IsFile(again + "\\" + name)) << name;
    }
}

// ---- Nothing of the user's is lost ------------------------------------------------------------

// A file about to be replaced whose backup would not happen stops the installation with an error
// that names it and the Backup folder, before the first change: the file stays as it was, as do the
// entries before it, and the setup does not claim to be complete.
TEST_F(Installation, AReplacedFileThatCannotBeBackedUpStaysAndStopsTheInstallation) {
    struct Case {
        const char* name;
        std::function<UniqueFileHandle(const std::string& destination)> prepare;
        const char* blocked = "readme.txt";  // the first file whose backup cannot happen
    };
    const Case cases[] = {
        {"folder blocked",
         [](const std::string& destination) {
             WriteWholeFile(destination + "\\Backup", "in the way");  // so the folder cannot be made
             return UniqueFileHandle();
         },
         "Tandrel.exe"},
        {"older backup in the way",
         [this](const std::string& destination) {
             // A folder of the file's name in Backup, with something in it, which a file cannot
             // replace. (A read-only older copy refuses the move on Windows too, but Wine replaces it.)
             folder_.Folder(ExtractFileName(destination) + "\\Backup");
             folder_.Folder(ExtractFileName(destination) + "\\Backup\\readme.txt");
             WriteWholeFile(destination + "\\Backup\\readme.txt\\kept", "kept");
             return UniqueFileHandle();
         }},
        {"held open",
         [](const std::string& destination) {
             // Another program has it open without sharing: it can be neither moved nor deleted.
             return UniqueFileHandle(::CreateFileA((destination + "\\readme.txt").c_str(), GENERIC_READ, 0,
                                                   nullptr, OPEN_EXISTING, 0, nullptr));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string destination = folder_.Folder(c.name);
        Older(destination);
        Existing(destination, {"readme.txt"});
        UniqueFileHandle held = c.prepare(destination);
        StartAtDestinationPanel();

        const std::vector<SeenDialog> seen = PressContinue(destination, {kYes, kOk});
        EXPECT_EQ(seen,
                  (std::vector<SeenDialog>{
                      kBackupAsked, ErrorShown("Cannot move " + destination + "\\" + c.blocked +
                                               " into the backup folder " + destination + "\\Backup")}));
        held.reset();
        EXPECT_EQ(ReadWholeFile(destination + "\\readme.txt"), "old readme.txt");
        EXPECT_FALSE(IsFile(destination + "\\Backup\\readme.txt"));
        ExpectStoppedBeforeTheFirstChange(destination);
        DestroyWindows();
    }
}

// A kept site database loses nothing when its copy cannot go to the Backup folder: it stays where
// it is, and the installation goes on.
TEST_F(Installation, AKeptSiteDatabaseWhoseCopyFailsGoesOn) {
    StartAtDestinationPanel();
    const std::string destination = folder_.Folder("dest");
    folder_.Folder("dest\\Backup");
    WriteWholeFile(destination + "\\Backup\\sites.ini", "older sites.ini", FILE_ATTRIBUTE_READONLY);
    Existing(destination, {"sites.ini", "readme.txt"});

    EXPECT_EQ(Extract(destination, true, {kYes}), std::vector<SeenDialog>{kKeepAsked});
    EXPECT_EQ(ReadWholeFile(destination + "\\sites.ini"), "old sites.ini");
    EXPECT_EQ(ReadWholeFile(destination + "\\Backup\\sites.ini"), "older sites.ini");
    EXPECT_EQ(ReadWholeFile(destination + "\\Backup\\readme.txt"), "old readme.txt");
    EXPECT_NE(ReadWholeFile(destination + "\\readme.txt"), "old readme.txt");
    EXPECT_TRUE(IsFile(destination + "\\whatsnew.txt"));
}

// Only an explicit No replaces the site database: the keep question closed with its close box, or
// dismissed because the user has accepted to end the setup meanwhile, keeps it.
TEST_F(Installation, TheSiteDatabaseIsReplacedOnlyOnAnExplicitNo) {
    const std::string closed = folder_.Folder("closed");
    Existing(closed, {"sites.ini"});
    StartAtDestinationPanel();
    EXPECT_EQ(Extract(closed, false, {Reply{}}), std::vector<SeenDialog>{kKeepAsked});
    EXPECT_EQ(ReadWholeFile(closed + "\\sites.ini"), "old sites.ini");
    delete frmCopy;
    frmCopy = nullptr;

    // The close box of the main window, used while the progress window comes up; the close
    // confirmation is accepted before the site database's entry, whose question is then dismissed.
    const std::string ending = folder_.Folder("ending");
    Existing(ending, {"sites.ini"});
    const HWND mainWindow = frmMain->Handle();
    const Reply noThenClose{
        "&No", {}, [mainWindow] { ::PostMessageA(mainWindow, WM_SYSCOMMAND, SC_CLOSE, 0); }};
    const std::vector<SeenDialog> seen = PressContinue(ending, {noThenClose, kYes});
    EXPECT_EQ(seen, (std::vector<SeenDialog>{kBackupAsked, kCloseAsked}));
    EXPECT_EQ(ReadWholeFile(ending + "\\sites.ini"), "old sites.ini");
    for (const char* name : {"Tandrel.exe", "Tandrel.hlp", "readme.txt", "whatsnew.txt"}) {
        EXPECT_TRUE(IsFile(ending + "\\" + name)) << name;
    }
    EXPECT_TRUE(Application->Terminated());
}

// ---- The readme and the shortcuts -------------------------------------------------------------

// The viewers started during a test: the command lines of the notepad processes that were not
// there before, read from their process parameters as the system holds them. They are ended once
// read.
class StartedViewers {
  public:
    StartedViewers() : before_(ViewerIds()) {}

    // Waits (a safety net of about 20 s, not a measured time) until count new viewers show their
    // command lines; returns what it found by then.
    std::vector<std::string> Take(size_t count) {
        std::vector<std::string> lines;
        for (int attempt = 0; attempt < 400 && lines.size() < count; ++attempt) {
            lines.clear();
            for (const DWORD id : ViewerIds()) {
                if (std::find(before_.begin(), before_.end(), id) == before_.end()) {
                    const std::string line = CommandLineOf(id);
                    if (!line.empty()) {
                        lines.push_back(line);
                    }
                }
            }
            if (lines.size() < count) {
                ::Sleep(50);
            }
        }
        for (const DWORD id : ViewerIds()) {
            if (std::find(before_.begin(), before_.end(), id) == before_.end()) {
                UniqueKernelHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, id));
                if (process) {
                    ::TerminateProcess(process.get(), 0);
                }
            }
        }
        return lines;
    }

  private:
    static std::vector<DWORD> ViewerIds() {
        std::vector<DWORD> ids;
        UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
        PROCESSENTRY32 entry{};
        entry.dwSize = sizeof entry;
        for (BOOL more = ::Process32First(snapshot.get(), &entry); more;
             more = ::Process32Next(snapshot.get(), &entry)) {
            if (_stricmp(entry.szExeFile, "notepad.exe") == 0) {
                ids.push_back(entry.th32ProcessID);
            }
        }
        return ids;
    }

    // The process's command line, or empty while it cannot be read yet.
    static std::string CommandLineOf(DWORD id) {
        using QueryProcess = LONG(WINAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);
        const auto query = reinterpret_cast<QueryProcess>(reinterpret_cast<void*>(
            ::GetProcAddress(::GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
        UniqueKernelHandle process(::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, id));
        PROCESS_BASIC_INFORMATION basic{};
        PEB peb{};
        RTL_USER_PROCESS_PARAMETERS parameters{};
        if (!process || query == nullptr ||
            query(process.get(), ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0 ||
            !::ReadProcessMemory(process.get(), basic.PebBaseAddress, &peb, sizeof peb, nullptr) ||
            peb.ProcessParameters == nullptr ||
            !::ReadProcessMemory(process.get(), peb.ProcessParameters, &parameters, sizeof parameters,
                                 nullptr)) {
            return {};
        }
        std::wstring wide(parameters.CommandLine.Length / sizeof(wchar_t), L'\0');
        if (wide.empty() || !::ReadProcessMemory(process.get(), parameters.CommandLine.Buffer, wide.data(),
                                                 parameters.CommandLine.Length, nullptr)) {
            return {};
        }
        return std::string(wide.begin(), wide.end());  // the tests' paths are ASCII
    }

    std::vector<DWORD> before_;
};

// A notepad.exe that leaves a marker (<its path>.ran) when it runs, placed where a program started
// by its bare name is looked for: the current folder, which the directory list changes as the user
// browses. Removed again with the object.
class PlantedViewer {
  public:
    explicit PlantedViewer(const std::string& folder) : path_(folder + "\\notepad.exe") {
        const HRSRC resource =
            ::FindResourceA(nullptr, "PLANTED_NOTEPAD", MAKEINTRESOURCEA(10));  // RT_RCDATA
        const HGLOBAL data = resource != nullptr ? ::LoadResource(nullptr, resource) : nullptr;
        const void* bytes = data != nullptr ? ::LockResource(data) : nullptr;
        const DWORD size = resource != nullptr ? ::SizeofResource(nullptr, resource) : 0;
        UniqueFileHandle file(::CreateFileA(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        planted_ = bytes != nullptr && file && ::WriteFile(file.get(), bytes, size, &written, nullptr) &&
                   written == size;
    }
    PlantedViewer(const PlantedViewer&) = delete;
    PlantedViewer& operator=(const PlantedViewer&) = delete;
    ~PlantedViewer() {
        ::DeleteFileA(path_.c_str());
        ::DeleteFileA((path_ + ".ran").c_str());
    }
    bool Planted() const { return planted_; }
    bool Ran() const { return IsFile(path_ + ".ran"); }

  private:
    std::string path_;
    bool planted_ = false;
};

// The viewer's command for a file: the Notepad of the system folder by its full, quoted path.
std::string ViewerCommand(const std::string& file) {
    char system[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryA(system, MAX_PATH);
    return "\"" + std::string(system, length) + "\\notepad.exe\" " + file;
}

// Yes to the readme question starts the viewer of the system folder (never a notepad.exe in the
// current folder) on the installed readme: the folder as typed, one backslash before the file
// name, no quotation marks around a path with blanks.
TEST_F(Installation, TheReadmeIsOpenedFromTheFolderAsTyped) {
    const std::string blanks = folder_.Folder("with some blanks");
    const std::string trailing = folder_.Folder("trailing") + "\\";
    const PlantedViewer planted(ProcessDirectory());
    ASSERT_TRUE(planted.Planted());
    for (const std::string& destination : {blanks, trailing}) {
        SCOPED_TRACE(destination);
        StartAtDestinationPanel();
        StartedViewers viewers;
        const std::vector<SeenDialog> seen = PressContinue(destination, {kNo, kNo, kYes, kOk});
        EXPECT_EQ(seen,
                  (std::vector<SeenDialog>{kBackupAsked, kShortcutAsked, kReadmeAsked, kCompleteShown}));
        const std::string file = AddTrailingBackslash(destination) + "readme.txt";
        EXPECT_EQ(file.find("\\\\"), std::string::npos);
        EXPECT_EQ(viewers.Take(1), std::vector<std::string>{ViewerCommand(file)});
        EXPECT_FALSE(planted.Ran());
        EXPECT_TRUE(Application->Terminated());

        delete frmMain;
        frmMain = nullptr;
        Application->CancelTermination();
    }
}

// A one-character folder is a folder like any other: the loop looks at, backs up and keeps the files
// that the component writes, and the shortcuts and the readme name them too.
TEST_F(Installation, AOneCharacterFolderNamesTheSameFilesEverywhere) {
    const std::string folder = folder_.Folder("C");
    Existing(folder, {"readme.txt", "sites.ini"});
    StartAtDestinationPanel();
    StartedViewers viewers;

    const std::vector<SeenDialog> seen = PressContinue("C", {kYes, kYes, kYes, kYes, kOk});
    EXPECT_EQ(seen, (std::vector<SeenDialog>{kBackupAsked, kKeepAsked, kShortcutAsked, kReadmeAsked,
                                             kCompleteShown}));
    EXPECT_EQ(ReadWholeFile(folder + "\\sites.ini"), "old sites.ini");
    EXPECT_EQ(ReadWholeFile(folder + "\\Backup\\sites.ini"), "old sites.ini");
    EXPECT_EQ(ReadWholeFile(folder + "\\Backup\\readme.txt"), "old readme.txt");
    EXPECT_NE(ReadWholeFile(folder + "\\readme.txt").value_or("old readme.txt"), "old readme.txt");
    EXPECT_FALSE(IsFile(folder_.Path("Creadme.txt")));
    EXPECT_FALSE(IsFile(folder_.Path("CTandrel.exe")));
    for (const std::string& shortcut : ShortcutFiles()) {
        const shell_test::LinkFields link = shell_test::ReadLink(shortcut);
        EXPECT_EQ(link.description, "C\\TANDREL.EXE") << shortcut;
    }
    EXPECT_EQ(viewers.Take(1), std::vector<std::string>{ViewerCommand("C\\readme.txt")});
}

// The user's SendTo folder, taken out of the registry while the object lives.
class MissingSendToValue {
  public:
    MissingSendToValue() {
        HKEY key = nullptr;
        if (::RegOpenKeyExA(HKEY_CURRENT_USER, kShellFoldersKey + 1, 0, KEY_QUERY_VALUE | KEY_SET_VALUE,
                            &key) == ERROR_SUCCESS) {
            key_.reset(key);
            char value[MAX_PATH] = {};
            DWORD size = sizeof value;
            if (::RegQueryValueExA(key, "SendTo", nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size) ==
                ERROR_SUCCESS) {
                saved_ = value;
                ::RegDeleteValueA(key, "SendTo");
            }
        }
    }
    MissingSendToValue(const MissingSendToValue&) = delete;
    MissingSendToValue& operator=(const MissingSendToValue&) = delete;
    ~MissingSendToValue() {
        if (key_ && !saved_.empty()) {
            ::RegSetValueExA(key_.get(), "SendTo", 0, REG_SZ, reinterpret_cast<const BYTE*>(saved_.c_str()),
                             static_cast<DWORD>(saved_.size() + 1));
        }
    }
    bool Removed() const { return !saved_.empty(); }

  private:
    UniqueHkey key_;
    std::string saved_;
};

// A shortcut that cannot be made stops the sequence in the error box after the first one: no
// completion message, and the program stays up until the user closes it. The run is rolled back
// before the message: the files, the record and the shortcut made before the failure are gone.
TEST_F(Installation, AShortcutFailureStopsTheSequenceAndTheProgramStaysUp) {
    const std::string destination = folder_.Folder("dest");
    const std::vector<std::string> shortcuts = ShortcutFiles();
    ASSERT_EQ(shortcuts.size(), 2u);
    MissingSendToValue missing;
    ASSERT_TRUE(missing.Removed());
    StartAtDestinationPanel();

    const std::vector<SeenDialog> seen = PressContinue(destination, {kNo, kYes, kOk});
    EXPECT_EQ(seen, (std::vector<SeenDialog>{kBackupAsked, kShortcutAsked,
                                             ErrorShown("\"SendTo\" item not found in registry")}));
    WIN32_FIND_DATAA found{};
    const UniqueFindHandle search(::FindFirstFileA((destination + "\\*.*").c_str(), &found));
    int items = 0;
    for (bool more = static_cast<bool>(search); more; more = ::FindNextFileA(search.get(), &found)) {
        items += std::string(found.cFileName) == "." || std::string(found.cFileName) == ".." ? 0 : 1;
    }
    EXPECT_EQ(items, 0) << "the destination as it was before the run";
    EXPECT_FALSE(IsFile(shortcuts[0]));
    EXPECT_EQ(frmCopy, nullptr);
    EXPECT_FALSE(Application->Terminated());
    EXPECT_TRUE(::IsWindowVisible(frmMain->Handle()));

    // Still up: its close box asks as ever, and Yes ends it.
    gui::DialogScript script({kYes});
    ::SendMessageA(frmMain->Handle(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(script.Finish(), std::vector<SeenDialog>{kCloseAsked});
    EXPECT_TRUE(Application->Terminated());
}

}  // namespace
